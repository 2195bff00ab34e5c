#include "platform/dbus/bus_slots.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint64_t kDaemonReplyTimeoutUsec = 500'000;  // the bus daemon answers from memory

// Calls a method of the bus daemon with an optional string argument; the reply or nothing.
sd_bus_message* CallDaemon(sd_bus* bus, const char* member, const char* argument) {
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", member) >= 0 &&
        (!argument || sd_bus_message_append(call, "s", argument) >= 0))
        if (sd_bus_call(bus, call, kDaemonReplyTimeoutUsec, nullptr, &reply) < 0) reply = nullptr;
    sd_bus_message_unref(call);
    return reply;
}

}  // namespace

int CallAsync(sd_bus* bus, sd_bus_message* call, BusSlot& slot, sd_bus_message_handler_t handler, void* userdata,
              uint64_t timeoutUsec) {
    return sd_bus_call_async(bus, slot.Out(), call, handler, userdata, timeoutUsec);
}

int WatchNameOwner(sd_bus* bus, BusSlot& slot, const char* name, sd_bus_message_handler_t handler, void* userdata) {
    std::string rule =
        "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
        "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='";
    rule += name;
    rule += "'";
    return sd_bus_add_match_async(bus, slot.Out(), rule.c_str(), handler, nullptr, userdata);
}

int WatchDisconnect(sd_bus* bus, BusSlot& slot, sd_bus_message_handler_t handler, void* userdata) {
    return sd_bus_match_signal(bus, slot.Out(), nullptr, "/org/freedesktop/DBus/Local", "org.freedesktop.DBus.Local",
                               "Disconnected", handler, userdata);
}

bool ReadNewOwner(sd_bus_message* message, std::string& newOwner) {
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* owner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &owner) < 0) return false;
    newOwner = owner;
    return true;
}


bool NameHasOwner(sd_bus* bus, const char* name) {
    sd_bus_message* reply = CallDaemon(bus, "NameHasOwner", name);
    int has = 0;
    if (reply && sd_bus_message_read(reply, "b", &has) < 0) has = 0;
    sd_bus_message_unref(reply);
    return has != 0;
}

bool NameIsActivatable(sd_bus* bus, const char* name) {
    sd_bus_message* reply = CallDaemon(bus, "ListActivatableNames", nullptr);
    char** names = nullptr;
    bool found = false;
    if (reply && sd_bus_message_read_strv(reply, &names) >= 0)
        for (char** each = names; each && *each; ++each) found = found || std::strcmp(*each, name) == 0;
    for (char** each = names; each && *each; ++each) std::free(*each);
    std::free(names);
    sd_bus_message_unref(reply);
    return found;
}

bool ErrorMeansAbsent(const sd_bus_error* error) {
    for (const char* name : {SD_BUS_ERROR_SERVICE_UNKNOWN, SD_BUS_ERROR_NAME_HAS_NO_OWNER, SD_BUS_ERROR_NO_REPLY,
                             SD_BUS_ERROR_TIMEOUT, "org.freedesktop.DBus.Error.TimedOut", SD_BUS_ERROR_DISCONNECTED,
                             "org.freedesktop.DBus.Error.Spawn.ChildExited", "org.freedesktop.DBus.Error.Spawn.Failed",
                             "org.freedesktop.DBus.Error.Spawn.ExecFailed"})
        if (sd_bus_error_has_name(error, name)) return true;
    return false;
}
