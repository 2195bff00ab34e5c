// StatusNotifierItem (the KDE naming that desktop trays share): the item owns the
// name org.kde.StatusNotifierItem-<pid>-<n>, exports /StatusNotifierItem and hands
// that name to org.kde.StatusNotifierWatcher. Limits: pixmaps of 1 to 256 pixels a
// side (a tray draws 16 to 64), at most 8 of them.
#include "platform/dbus/tray_item.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/dbus/bus_slots.h"
#include "platform/dbus/session_bus.h"

namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kItemId = "quillaven";
constexpr const char* kItemTitle = "Quillaven";
constexpr int32_t kMaxPixmapSide = 256;  // trays draw 16 to 64 pixels; more is a caller's mistake
constexpr size_t kMaxPixmaps = 8;        // a handful of sizes covers every tray scale

std::atomic<int> itemCounter{0};  // tells apart the items of one process (tests make several)

}  // namespace

class TrayItem::Impl {
public:
    Impl(TrayItem& owner, sd_bus* bus) : owner_(owner), bus_(bus) {}

    bool Register(const TrayIconImage& icon, std::string tooltip);
    bool Registered() const { return registered_; }
    ~Impl();

private:
    static int OnMethod(sd_bus_message* message, void* self, sd_bus_error* error);
    static int OnProperty(sd_bus* bus, const char* path, const char* interface, const char* property,
                          sd_bus_message* reply, void* self, sd_bus_error* error);
    static int OnWatcherOwner(sd_bus_message* message, void* self, sd_bus_error* error);
    static int OnRegisterReply(sd_bus_message* reply, void* self, sd_bus_error* error);
    static int OnDisconnect(sd_bus_message* message, void* self, sd_bus_error* error);
    static const sd_bus_vtable kVtable[];

    bool Publish();
    void SendRegistration();
    void SetRegistered(bool registered, bool report);
    int AppendPixmaps(sd_bus_message* reply) const;
    void Emit(const char* signal);

    TrayItem& owner_;
    sd_bus* bus_;
    std::string serviceName_;
    std::string iconName_;
    std::vector<PixmapBytes> pixmaps_;
    std::string tooltip_;
    bool published_ = false;
    bool registered_ = false;
    BusSlot object_;
    BusSlot nameRequest_;
    BusSlot watcherMatch_;
    BusSlot disconnectMatch_;
    BusSlot pendingRegistration_;
};

const sd_bus_vtable TrayItem::Impl::kVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("Category", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Id", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Title", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Status", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("WindowId", "i", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ItemIsMenu", "b", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("IconName", "s", OnProperty, 0, 0),
    SD_BUS_PROPERTY("IconPixmap", "a(iiay)", OnProperty, 0, 0),
    SD_BUS_PROPERTY("OverlayIconName", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("OverlayIconPixmap", "a(iiay)", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconName", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionIconPixmap", "a(iiay)", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("AttentionMovieName", "s", OnProperty, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("ToolTip", "(sa(iiay)ss)", OnProperty, 0, 0),
    SD_BUS_METHOD("Activate", "ii", "", OnMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ContextMenu", "ii", "", OnMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SecondaryActivate", "ii", "", OnMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Scroll", "is", "", OnMethod, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("NewTitle", "", 0),
    SD_BUS_SIGNAL("NewIcon", "", 0),
    SD_BUS_SIGNAL("NewAttentionIcon", "", 0),
    SD_BUS_SIGNAL("NewOverlayIcon", "", 0),
    SD_BUS_SIGNAL("NewToolTip", "", 0),
    SD_BUS_SIGNAL("NewStatus", "s", 0),
    SD_BUS_VTABLE_END,
};

TrayItem::Impl::~Impl() {
    if (!published_) return;
    // Dropping the name is what makes the watcher remove the icon at once.
    sd_bus_release_name_async(bus_, nullptr, serviceName_.c_str(), nullptr, nullptr);
}

bool TrayItem::Impl::Register(const TrayIconImage& icon, std::string tooltip) {
    iconName_ = icon.name;
    pixmaps_ = SerializePixmaps(icon.pixmaps);
    tooltip_ = std::move(tooltip);
    if (published_) {
        Emit("NewIcon");
        Emit("NewToolTip");
        if (registered_ || pendingRegistration_) return true;
    } else if (!Publish()) {
        return false;
    }
    if (!NameHasOwner(bus_, kWatcherName)) return false;
    SendRegistration();
    registered_ = true;  // until the watcher refuses or does not answer
    return true;
}

bool TrayItem::Impl::Publish() {
    serviceName_ = "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" +
                   std::to_string(itemCounter.fetch_add(1) + 1);
    if (sd_bus_add_object_vtable(bus_, object_.Out(), kItemPath, kItemInterface, kVtable, this) < 0) return false;
    if (sd_bus_request_name_async(bus_, nameRequest_.Out(), serviceName_.c_str(), 0, nullptr, nullptr) < 0 ||
        WatchNameOwner(bus_, watcherMatch_, kWatcherName, OnWatcherOwner, this) < 0 ||
        WatchDisconnect(bus_, disconnectMatch_, OnDisconnect, this) < 0) {
        object_.Reset();
        return false;
    }
    published_ = true;
    return true;
}

void TrayItem::Impl::SendRegistration() {
    sd_bus_message* call = nullptr;
    if (sd_bus_message_new_method_call(bus_, &call, kWatcherName, kWatcherPath, kWatcherName,
                                       "RegisterStatusNotifierItem") >= 0 &&
        sd_bus_message_append(call, "s", serviceName_.c_str()) >= 0)
        CallAsync(bus_, call, pendingRegistration_, OnRegisterReply, this, kRunningPeerTimeoutUsec);
    sd_bus_message_unref(call);
}

void TrayItem::Impl::SetRegistered(bool registered, bool report) {
    if (registered == registered_) return;
    registered_ = registered;
    if (report && owner_.onWatcherChanged) owner_.onWatcherChanged(registered);
}

void TrayItem::Impl::Emit(const char* signal) {
    sd_bus_emit_signal(bus_, kItemPath, kItemInterface, signal, nullptr);
}

int TrayItem::Impl::OnRegisterReply(sd_bus_message* reply, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    impl->pendingRegistration_.Reset();
    // A watcher that refuses or does not answer in time lists nothing.
    impl->SetRegistered(!sd_bus_message_is_method_error(reply, nullptr), true);
    return 0;
}

int TrayItem::Impl::OnWatcherOwner(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    std::string owner;
    if (!ReadNewOwner(message, owner)) return 0;
    impl->pendingRegistration_.Reset();
    if (owner.empty())
        impl->SetRegistered(false, true);
    else
        impl->SendRegistration();  // a new watcher knows nothing of us, even when we were listed
    return 0;
}

int TrayItem::Impl::OnDisconnect(sd_bus_message*, void* self, sd_bus_error*) {
    static_cast<Impl*>(self)->SetRegistered(false, true);  // the session bus is gone, and the tray with it
    return 0;
}

int TrayItem::Impl::OnMethod(sd_bus_message* message, void* self, sd_bus_error*) {
    auto* impl = static_cast<Impl*>(self);
    const char* member = sd_bus_message_get_member(message);
    int32_t x = 0;
    int32_t y = 0;
    bool activate = std::strcmp(member, "Activate") == 0;
    bool menu = std::strcmp(member, "ContextMenu") == 0;
    if (activate || menu) {
        int read = sd_bus_message_read(message, "ii", &x, &y);
        if (read < 0) return read;
    }
    // Answer first: the callbacks open menus and windows, and the tray waits for us.
    int replied = sd_bus_reply_method_return(message, "");
    if (activate && impl->owner_.onActivate) impl->owner_.onActivate(x, y);
    if (menu && impl->owner_.onContextMenu) impl->owner_.onContextMenu(x, y);
    return replied;
}

int TrayItem::Impl::AppendPixmaps(sd_bus_message* reply) const {
    int r = sd_bus_message_open_container(reply, 'a', "(iiay)");
    for (const PixmapBytes& pixmap : pixmaps_) {
        if (r >= 0) r = sd_bus_message_open_container(reply, 'r', "iiay");
        if (r >= 0) r = sd_bus_message_append(reply, "ii", pixmap.width, pixmap.height);
        if (r >= 0) r = sd_bus_message_append_array(reply, 'y', pixmap.bytes.data(), pixmap.bytes.size());
        if (r >= 0) r = sd_bus_message_close_container(reply);
    }
    if (r >= 0) r = sd_bus_message_close_container(reply);
    return r;
}

int TrayItem::Impl::OnProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply,
                               void* self, sd_bus_error*) {
    auto* impl = static_cast<const Impl*>(self);
    auto is = [property](const char* name) { return std::strcmp(property, name) == 0; };
    if (is("Category")) return sd_bus_message_append(reply, "s", "ApplicationStatus");
    if (is("Id")) return sd_bus_message_append(reply, "s", kItemId);
    if (is("Title")) return sd_bus_message_append(reply, "s", kItemTitle);
    if (is("Status")) return sd_bus_message_append(reply, "s", "Active");
    if (is("WindowId")) return sd_bus_message_append(reply, "i", int32_t{0});
    if (is("ItemIsMenu")) return sd_bus_message_append(reply, "b", 0);
    if (is("IconName")) return sd_bus_message_append(reply, "s", impl->iconName_.c_str());
    if (is("IconPixmap")) return impl->AppendPixmaps(reply);
    if (is("ToolTip")) {
        int r = sd_bus_message_open_container(reply, 'r', "sa(iiay)ss");
        if (r >= 0) r = sd_bus_message_append(reply, "s", impl->iconName_.c_str());
        if (r >= 0) r = impl->AppendPixmaps(reply);
        if (r >= 0) r = sd_bus_message_append(reply, "ss", impl->tooltip_.c_str(), "");
        if (r >= 0) r = sd_bus_message_close_container(reply);
        return r;
    }
    if (is("OverlayIconPixmap") || is("AttentionIconPixmap")) return sd_bus_message_append(reply, "a(iiay)", 0);
    return sd_bus_message_append(reply, "s", "");  // the overlay, attention and movie names
}

TrayItem::TrayItem(SessionBus* bus) {
    if (bus) impl_ = std::make_unique<Impl>(*this, bus->Handle());
}

TrayItem::~TrayItem() = default;

bool TrayItem::Register(const TrayIconImage& icon, std::string tooltip) {
    return impl_ && impl_->Register(icon, std::move(tooltip));
}

bool TrayItem::Registered() const { return impl_ && impl_->Registered(); }

std::vector<TrayItem::PixmapBytes> TrayItem::SerializePixmaps(const std::vector<TrayPixmap>& pixmaps) {
    std::vector<PixmapBytes> serialized;
    for (const TrayPixmap& pixmap : pixmaps) {
        if (serialized.size() == kMaxPixmaps) break;
        if (pixmap.width < 1 || pixmap.height < 1 || pixmap.width > kMaxPixmapSide || pixmap.height > kMaxPixmapSide)
            continue;
        if (pixmap.argb.size() != uint64_t(pixmap.width) * uint64_t(pixmap.height)) continue;
        PixmapBytes bytes{pixmap.width, pixmap.height, {}};
        bytes.bytes.reserve(pixmap.argb.size() * 4);
        for (uint32_t pixel : pixmap.argb)
            for (int shift = 24; shift >= 0; shift -= 8) bytes.bytes.push_back(static_cast<uint8_t>(pixel >> shift));
        serialized.push_back(std::move(bytes));
    }
    return serialized;
}
