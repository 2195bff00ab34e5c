// org.freedesktop.Notifications client. Limits: titles 63 and texts 255 characters
// (the tray balloon's fields); one call in flight at a time, so that each balloon
// carries the id of the one before it.
#include "platform/dbus/notifications.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "convert/core/text.h"
#include "platform/dbus/bus_slots.h"
#include "platform/dbus/session_bus.h"

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kAppName = "Quillaven";
constexpr const char* kAppIcon = "quillaven";       // the icon name setup installs
constexpr const char* kDesktopEntry = "quillaven";  // lets the server find the app's icon and name
constexpr size_t kMaxTitleCharacters = 63;
constexpr size_t kMaxTextCharacters = 255;

// Text for a server that reads the body as markup.
std::string EscapeMarkup(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else
            escaped.push_back(c);
    }
    return escaped;
}

}  // namespace

class Notifier::Impl {
public:
    Impl(Notifier& owner, sd_bus* bus);
    void Show(std::string title, std::string text, int expireMs);
    bool Available() const { return available_; }

private:
    struct Balloon {
        std::string title;
        std::string text;
        int expireMs;
    };
    static int OnCapabilities(sd_bus_message* reply, void* self, sd_bus_error* error);
    static int OnNotifyReply(sd_bus_message* reply, void* self, sd_bus_error* error);
    static int OnAction(sd_bus_message* message, void* self, sd_bus_error* error);
    static int OnOwner(sd_bus_message* message, void* self, sd_bus_error* error);
    static int OnDisconnect(sd_bus_message* message, void* self, sd_bus_error* error);

    void SendNext();
    void AskCapabilities();
    void SendNotify(const Balloon& balloon);

    Notifier& owner_;
    sd_bus* bus_;
    uint32_t currentId_ = 0;
    bool available_ = false;
    bool capabilitiesKnown_ = false;
    bool bodyMarkup_ = false;
    std::optional<Balloon> waiting_;
    BusSlot inFlight_;  // the capabilities question or a Notify call
    BusSlot actionMatch_;
    BusSlot ownerMatch_;
    BusSlot disconnectMatch_;
};

Notifier::Impl::Impl(Notifier& owner, sd_bus* bus) : owner_(owner), bus_(bus) {
    sd_bus_match_signal_async(bus_, actionMatch_.Out(), kService, kPath, kService, "ActionInvoked", OnAction, nullptr,
                              this);
    WatchNameOwner(bus_, ownerMatch_, kService, OnOwner, this);
    WatchDisconnect(bus_, disconnectMatch_, OnDisconnect, this);
    available_ = NameHasOwner(bus_, kService) || NameIsActivatable(bus_, kService);
}

void Notifier::Impl::Show(std::string title, std::string text, int expireMs) {
    if (!available_) return;  // balloons are skipped until a server appears
    waiting_ = Balloon{Shorten(title, kMaxTitleCharacters), Shorten(text, kMaxTextCharacters), expireMs};
    if (!inFlight_) SendNext();
}

void Notifier::Impl::SendNext() {
    if (!waiting_) return;
    if (!capabilitiesKnown_) {
        AskCapabilities();
        return;
    }
    Balloon balloon = std::move(*waiting_);
    waiting_.reset();
    SendNotify(balloon);
}

void Notifier::Impl::AskCapabilities() {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus_, &call, kService, kPath, kService, "GetCapabilities") >= 0 &&
        CallAsync(bus_, call, inFlight_, OnCapabilities, this, kActivatedPeerTimeoutUsec) >= 0) {
        sd_bus_message_unref(call);
        return;
    }
    sd_bus_message_unref(call);
    inFlight_.Reset();
    waiting_.reset();  // the connection is broken: nothing can be shown
}

void Notifier::Impl::SendNotify(const Balloon& balloon) {
    std::string body = bodyMarkup_ ? EscapeMarkup(balloon.text) : balloon.text;
    sd_bus_message* call = nullptr;
    int r = sd_bus_message_new_method_call(bus_, &call, kService, kPath, kService, "Notify");
    if (r >= 0)
        r = sd_bus_message_append(call, "susssasa{sv}i", kAppName, currentId_, kAppIcon, balloon.title.c_str(),
                                  body.c_str(), 2, "default", "Open", 1, "desktop-entry", "s", kDesktopEntry,
                                  static_cast<int32_t>(balloon.expireMs));
    if (r >= 0) r = CallAsync(bus_, call, inFlight_, OnNotifyReply, this, kActivatedPeerTimeoutUsec);
    if (r < 0) inFlight_.Reset();
    sd_bus_message_unref(call);
}

int Notifier::Impl::OnCapabilities(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    impl->inFlight_.Reset();
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    if (error && ErrorMeansAbsent(error)) {
        impl->available_ = false;
        impl->waiting_.reset();
        return 0;
    }
    impl->available_ = true;
    impl->capabilitiesKnown_ = true;
    impl->bodyMarkup_ = false;
    char** capabilities = nullptr;
    if (!error && sd_bus_message_read_strv(reply, &capabilities) >= 0) {
        for (char** each = capabilities; each && *each; ++each) {
            impl->bodyMarkup_ = impl->bodyMarkup_ || std::strcmp(*each, "body-markup") == 0;
            std::free(*each);
        }
        std::free(capabilities);
    }
    impl->SendNext();
    return 0;
}

int Notifier::Impl::OnNotifyReply(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    impl->inFlight_.Reset();
    const sd_bus_error* error = sd_bus_message_get_error(reply);
    uint32_t id = 0;
    if (!error && sd_bus_message_read(reply, "u", &id) >= 0) {
        impl->available_ = true;
        impl->currentId_ = id;
    } else if (error && ErrorMeansAbsent(error)) {
        impl->available_ = false;
        impl->waiting_.reset();
        return 0;
    }
    impl->SendNext();
    return 0;
}

int Notifier::Impl::OnAction(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    uint32_t id = 0;
    const char* key = nullptr;
    if (sd_bus_message_read(message, "us", &id, &key) < 0) return 0;
    // Only the balloon on show counts; a closed one (NotificationClosed) never does.
    if (id != 0 && id == impl->currentId_ && std::strcmp(key, "default") == 0 && impl->owner_.onClicked)
        impl->owner_.onClicked();
    return 0;
}

int Notifier::Impl::OnOwner(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    std::string owner;
    if (!ReadNewOwner(message, owner)) return 0;
    // Another server numbers its balloons afresh and may read markup differently.
    impl->currentId_ = 0;
    impl->capabilitiesKnown_ = false;
    if (!owner.empty()) impl->available_ = true;
    return 0;
}

int Notifier::Impl::OnDisconnect(sd_bus_message*, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    impl->available_ = false;
    impl->waiting_.reset();
    return 0;
}

Notifier::Notifier(SessionBus* bus) {
    if (bus) impl_ = std::make_unique<Impl>(*this, bus->Handle());
}

Notifier::~Notifier() = default;

void Notifier::Show(std::string title, std::string text, int expireMs) {
    if (impl_) impl_->Show(std::move(title), std::move(text), expireMs);
}

bool Notifier::Available() const { return impl_ && impl_->Available(); }

std::string Notifier::Shorten(std::string_view text, size_t maxCharacters) {
    std::string valid = WideToUtf8(Utf8ToWide(text));
    size_t characters = 0;
    for (size_t i = 0; i < valid.size(); ++i) {
        if ((static_cast<unsigned char>(valid[i]) & 0xC0) == 0x80) continue;  // inside a character
        if (characters++ == maxCharacters) return valid.substr(0, i);
    }
    return valid;
}
