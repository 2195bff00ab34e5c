#include "platform/dbus/appearance.h"

#include <cmath>
#include <cstring>
#include <string>
#include <tuple>

#include "platform/dbus/bus_slots.h"
#include "platform/dbus/session_bus.h"

namespace {

constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.Settings";
constexpr const char* kNamespace = "org.freedesktop.appearance";
constexpr const char* kColorScheme = "color-scheme";
constexpr const char* kAccentColor = "accent-color";
// The host waits this long at start for the theme; a slower portal is read when it answers.
constexpr uint64_t kStartReadTimeoutUsec = 250'000;
constexpr int kVariantDepth = 2;  // Read wraps the value in one more variant than ReadOne

// Enters the variant(s) around a value: Read answers v holding v holding the value.
bool EnterValue(sd_bus_message* message, const char* wanted) {
    for (int depth = 0; depth < kVariantDepth; ++depth) {
        char type = 0;
        const char* contents = nullptr;
        if (sd_bus_message_peek_type(message, &type, &contents) <= 0 || type != SD_BUS_TYPE_VARIANT) return false;
        if (sd_bus_message_enter_container(message, SD_BUS_TYPE_VARIANT, contents) < 0) return false;
        if (std::strcmp(contents, wanted) == 0) return true;
        if (std::strcmp(contents, "v") != 0) return false;
    }
    return false;
}

std::optional<bool> ReadColorScheme(sd_bus_message* message) {
    uint32_t scheme = 0;
    if (!EnterValue(message, "u") || sd_bus_message_read(message, "u", &scheme) < 0) return std::nullopt;
    if (scheme == 1) return true;
    if (scheme == 2) return false;
    return std::nullopt;
}

std::optional<uint32_t> ReadAccent(sd_bus_message* message) {
    double rgb[3];
    if (!EnterValue(message, "(ddd)") || sd_bus_message_read(message, "(ddd)", &rgb[0], &rgb[1], &rgb[2]) < 0)
        return std::nullopt;
    uint32_t packed = 0;
    for (double channel : rgb) {
        if (!(channel >= 0.0 && channel <= 1.0)) return std::nullopt;  // also NaN
        packed = (packed << 8) | static_cast<uint32_t>(std::lround(channel * 255.0));
    }
    return packed;
}

}  // namespace

class Appearance::Impl {
public:
    Impl(Appearance& owner, sd_bus* bus);
    std::optional<bool> Dark() const { return dark_; }
    std::optional<uint32_t> AccentRgb() const { return accent_; }

private:
    static int OnSettingChanged(sd_bus_message* message, void* self, sd_bus_error* error);
    static int OnOwner(sd_bus_message* message, void* self, sd_bus_error* error);
    static int OnSchemeReply(sd_bus_message* reply, void* self, sd_bus_error* error);
    static int OnAccentReply(sd_bus_message* reply, void* self, sd_bus_error* error);

    sd_bus_message* NewRead(const char* key);
    void Set(std::optional<bool> dark, std::optional<uint32_t> accent);

    Appearance& owner_;
    sd_bus* bus_;
    std::optional<bool> dark_;
    std::optional<uint32_t> accent_;
    BusSlot changeMatch_;
    BusSlot ownerMatch_;
    BusSlot schemeRead_;
    BusSlot accentRead_;
};

Appearance::Impl::Impl(Appearance& owner, sd_bus* bus) : owner_(owner), bus_(bus) {
    std::string rule = std::string("type='signal',sender='") + kService + "',path='" + kPath + "',interface='" +
                       kInterface + "',member='SettingChanged',arg0='" + kNamespace + "'";
    sd_bus_add_match_async(bus_, changeMatch_.Out(), rule.c_str(), OnSettingChanged, nullptr, this);
    WatchNameOwner(bus_, ownerMatch_, kService, OnOwner, this);

    // Read at once so the first frame has the right colours; sd_bus_call leaves every
    // other message queued for the host's loop.
    sd_bus_message* call = NewRead(kColorScheme);
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};  // all fields empty, as SD_BUS_ERROR_NULL (a C compound literal)
    if (call && sd_bus_call(bus_, call, kStartReadTimeoutUsec, &error, &reply) >= 0) dark_ = ReadColorScheme(reply);
    bool answered = reply || (sd_bus_error_is_set(&error) && !ErrorMeansAbsent(&error));
    sd_bus_error_free(&error);
    sd_bus_message_unref(call);
    sd_bus_message_unref(reply);
    reply = nullptr;
    if (!answered) return;  // absent or silent: no second wait
    call = NewRead(kAccentColor);
    if (call && sd_bus_call(bus_, call, kStartReadTimeoutUsec, nullptr, &reply) >= 0) accent_ = ReadAccent(reply);
    sd_bus_message_unref(call);
    sd_bus_message_unref(reply);
}

sd_bus_message* Appearance::Impl::NewRead(const char* key) {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus_, &call, kService, kPath, kInterface, "Read") < 0) return nullptr;
    if (sd_bus_message_append(call, "ss", kNamespace, key) < 0) return sd_bus_message_unref(call);
    return call;
}

void Appearance::Impl::Set(std::optional<bool> dark, std::optional<uint32_t> accent) {
    if (dark == dark_ && accent == accent_) return;
    dark_ = dark;
    accent_ = accent;
    if (owner_.onChanged) owner_.onChanged();
}

int Appearance::Impl::OnSettingChanged(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    const char* space = nullptr;
    const char* key = nullptr;
    if (sd_bus_message_read(message, "ss", &space, &key) < 0 || std::strcmp(space, kNamespace) != 0) return 0;
    if (std::strcmp(key, kColorScheme) == 0) impl->Set(ReadColorScheme(message), impl->accent_);
    if (std::strcmp(key, kAccentColor) == 0) impl->Set(impl->dark_, ReadAccent(message));
    return 0;
}

int Appearance::Impl::OnOwner(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    std::string owner;
    if (!ReadNewOwner(message, owner) || owner.empty()) return 0;  // a portal that leaves keeps its last word
    // A portal that started late (or again): read both values without waiting.
    for (auto [key, slot, handler] : {std::tuple{kColorScheme, &impl->schemeRead_, &OnSchemeReply},
                                      std::tuple{kAccentColor, &impl->accentRead_, &OnAccentReply}}) {
        sd_bus_message* call = impl->NewRead(key);
        if (call) CallAsync(impl->bus_, call, *slot, handler, impl, kActivatedPeerTimeoutUsec);
        sd_bus_message_unref(call);
    }
    return 0;
}

int Appearance::Impl::OnSchemeReply(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    impl->schemeRead_.Reset();
    if (!sd_bus_message_is_method_error(reply, nullptr)) impl->Set(ReadColorScheme(reply), impl->accent_);
    return 0;
}

int Appearance::Impl::OnAccentReply(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    impl->accentRead_.Reset();
    if (!sd_bus_message_is_method_error(reply, nullptr)) impl->Set(impl->dark_, ReadAccent(reply));
    return 0;
}

Appearance::Appearance(SessionBus* bus) {
    if (bus) impl_ = std::make_unique<Impl>(*this, bus->Handle());
}

Appearance::~Appearance() = default;

std::optional<bool> Appearance::Dark() const { return impl_ ? impl_->Dark() : std::nullopt; }

std::optional<uint32_t> Appearance::AccentRgb() const { return impl_ ? impl_->AccentRgb() : std::nullopt; }
