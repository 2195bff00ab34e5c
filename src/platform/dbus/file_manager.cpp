#include "platform/dbus/file_manager.h"

#include "convert/core/paths.h"
#include "platform/dbus/bus_slots.h"
#include "platform/dbus/session_bus.h"
#include "platform/spawn_detached.h"

namespace {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kPath = "/org/freedesktop/FileManager1";

void OpenFolder(const std::string& path) { SpawnDetached({"xdg-open", FolderOf(path)}); }

// A file manager started by D-Bus activation (the usual case) takes seconds to answer.
constexpr uint64_t kShowItemsTimeoutUsec = 8'000'000;

// The reply's user data is the path, freed with the call's slot (also when the bus closes).
int OnShowItemsReply(sd_bus_message* reply, void* path, sd_bus_error*) {
    if (sd_bus_message_is_method_error(reply, nullptr)) OpenFolder(*static_cast<std::string*>(path));
    return 0;
}

void FreePath(void* path) { delete static_cast<std::string*>(path); }

}  // namespace

std::string FileUri(std::string_view path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (char c : path) {
        auto byte = static_cast<unsigned char>(c);
        bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                     byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
        if (plain) {
            uri.push_back(c);
        } else {
            uri.push_back('%');
            uri.push_back(kHex[byte >> 4]);
            uri.push_back(kHex[byte & 15]);
        }
    }
    return uri;
}

void ShowInFolder(SessionBus* bus, const std::string& path) {
    if (!bus || !bus->Connected()) {
        OpenFolder(path);
        return;
    }
    sd_bus* handle = bus->Handle();
    std::string uri = FileUri(path);
    sd_bus_message* call = nullptr;
    sd_bus_slot* slot = nullptr;
    int r = sd_bus_message_new_method_call(handle, &call, kService, kPath, kService, "ShowItems");
    if (r >= 0) r = sd_bus_message_append(call, "ass", 1, uri.c_str(), "");
    auto* pending = new std::string(path);
    if (r >= 0) r = sd_bus_call_async(handle, &slot, call, OnShowItemsReply, pending, kShowItemsTimeoutUsec);
    sd_bus_message_unref(call);
    if (r < 0) {
        delete pending;
        OpenFolder(path);
        return;
    }
    // The bus keeps the call alive after we return; the path goes with it.
    sd_bus_slot_set_destroy_callback(slot, FreePath);
    sd_bus_slot_set_floating(slot, 1);
    sd_bus_slot_unref(slot);
}
