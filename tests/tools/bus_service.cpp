// Stand-ins for the desktop's services on a test session bus, one per run:
//   bus_service watcher [--refuse]        org.kde.StatusNotifierWatcher
//   bus_service file-manager [--fail]     org.freedesktop.FileManager1
//   bus_service notifications [--markup]  org.freedesktop.Notifications
//   bus_service portal SCHEME R G B|none [--single-variant]   the settings portal
//   bus_service silent NAME               owns NAME and never answers a call
//   bus_service emit-action ID KEY        sends ActionInvoked without owning the name
// Each prints "ready" once its name is owned, then one line per call it receives, and
// reads commands from standard input (see Command below). It ends when input closes.
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

sd_bus* bus = nullptr;
std::string role;
std::vector<std::string> options;
bool Has(const char* option) {
    for (const std::string& each : options)
        if (each == option) return true;
    return false;
}

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// The message's remaining values as text: strings bare, byte arrays in hex, arrays in
// [], structures and variants in (), values separated by one space.
std::string Format(sd_bus_message* m) {
    std::string out;
    for (;;) {
        char type = 0;
        const char* contents = nullptr;
        if (sd_bus_message_peek_type(m, &type, &contents) <= 0) return out;
        if (!out.empty()) out += ' ';
        if (type == SD_BUS_TYPE_ARRAY && std::strcmp(contents, "y") == 0) {
            const void* data = nullptr;
            size_t size = 0;
            sd_bus_message_read_array(m, 'y', &data, &size);
            char hex[3];
            for (size_t i = 0; i < size; ++i) {
                std::snprintf(hex, sizeof hex, "%02x", static_cast<const unsigned char*>(data)[i]);
                out += hex;
            }
        } else if (type == SD_BUS_TYPE_ARRAY || type == SD_BUS_TYPE_STRUCT || type == SD_BUS_TYPE_VARIANT ||
                   type == SD_BUS_TYPE_DICT_ENTRY) {
            sd_bus_message_enter_container(m, type, contents);
            out += type == SD_BUS_TYPE_ARRAY ? "[" : "(";
            out += Format(m);
            out += type == SD_BUS_TYPE_ARRAY ? "]" : ")";
            sd_bus_message_exit_container(m);
        } else {
            union {
                const char* text;
                int32_t i32;
                uint32_t u32;
                int64_t i64;
                uint64_t u64;
                double d;
                uint8_t y;
                int b;
                int16_t n;
                uint16_t q;
            } v;
            if (sd_bus_message_read_basic(m, type, &v) < 0) return out + "?";
            switch (type) {
                case 's': case 'o': case 'g': out += v.text; break;
                case 'i': out += std::to_string(v.i32); break;
                case 'u': out += std::to_string(v.u32); break;
                case 'x': out += std::to_string(v.i64); break;
                case 't': out += std::to_string(v.u64); break;
                case 'n': out += std::to_string(v.n); break;
                case 'q': out += std::to_string(v.q); break;
                case 'y': out += std::to_string(v.y); break;
                case 'b': out += v.b ? "true" : "false"; break;
                case 'd': {
                    char number[32];
                    std::snprintf(number, sizeof number, "%g", v.d);
                    out += number;
                    break;
                }
                default: out += "?";
            }
        }
    }
}

// ---- StatusNotifierWatcher

std::vector<std::string> items;           // as registered
std::map<std::string, std::string> senders;  // registered item -> its connection

int WatcherRegister(sd_bus_message* m, void*, sd_bus_error* error) {
    const char* service = nullptr;
    if (sd_bus_message_read(m, "s", &service) < 0) return -EINVAL;
    if (Has("--refuse")) return sd_bus_error_set(error, "org.kde.StatusNotifierWatcher.Error", "refused");
    items.push_back(service);
    senders[service] = sd_bus_message_get_sender(m);
    Say(std::string("registered ") + service);
    sd_bus_emit_signal(bus, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher", "StatusNotifierItemRegistered",
                       "s", service);
    return sd_bus_reply_method_return(m, "");
}

int WatcherProperty(sd_bus*, const char*, const char*, const char* property, sd_bus_message* reply, void*,
                    sd_bus_error*) {
    if (std::strcmp(property, "IsStatusNotifierHostRegistered") == 0) return sd_bus_message_append(reply, "b", 1);
    if (std::strcmp(property, "ProtocolVersion") == 0) return sd_bus_message_append(reply, "i", 0);
    int r = sd_bus_message_open_container(reply, 'a', "s");
    for (const std::string& item : items)
        if (r >= 0) r = sd_bus_message_append(reply, "s", item.c_str());
    return r < 0 ? r : sd_bus_message_close_container(reply);
}

const sd_bus_vtable kWatcher[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("RegisterStatusNotifierItem", "s", "", WatcherRegister, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("RegisteredStatusNotifierItems", "as", WatcherProperty, 0, 0),
    SD_BUS_PROPERTY("IsStatusNotifierHostRegistered", "b", WatcherProperty, 0, 0),
    SD_BUS_PROPERTY("ProtocolVersion", "i", WatcherProperty, 0, 0),
    SD_BUS_SIGNAL("StatusNotifierItemRegistered", "s", 0),
    SD_BUS_SIGNAL("StatusNotifierItemUnregistered", "s", 0),
    SD_BUS_SIGNAL("StatusNotifierHostRegistered", "", 0),
    SD_BUS_VTABLE_END,
};

// The bus name and object path of the last registered item.
bool LastItem(std::string& name, std::string& path) {
    if (items.empty()) return false;
    const std::string& item = items.back();
    bool isPath = item[0] == '/';
    name = isPath ? senders[item] : item;
    path = isPath ? item : "/StatusNotifierItem";
    return true;
}

// ---- FileManager1

int FileManagerCall(sd_bus_message* m, void*, sd_bus_error* error) {
    char** uris = nullptr;
    const char* startup = nullptr;
    if (sd_bus_message_read_strv(m, &uris) < 0 || sd_bus_message_read(m, "s", &startup) < 0) return -EINVAL;
    std::string line = sd_bus_message_get_member(m);
    for (char** each = uris; each && *each; ++each) {
        line += std::string(" ") + *each;
        std::free(*each);
    }
    std::free(uris);
    Say(line + " startup=" + startup);
    if (Has("--fail")) return sd_bus_error_set(error, "org.freedesktop.DBus.Error.Failed", "cannot show");
    return sd_bus_reply_method_return(m, "");
}

const sd_bus_vtable kFileManager[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("ShowItems", "ass", "", FileManagerCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ShowFolders", "ass", "", FileManagerCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ShowItemProperties", "ass", "", FileManagerCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

// ---- Notifications

uint32_t lastId = 0;

int NotifyCall(sd_bus_message* m, void*, sd_bus_error*) {
    const char* app = nullptr;
    uint32_t replaces = 0;
    const char* icon = nullptr;
    const char* summary = nullptr;
    const char* body = nullptr;
    if (sd_bus_message_read(m, "susss", &app, &replaces, &icon, &summary, &body) < 0) return -EINVAL;
    std::string rest = Format(m);  // actions, hints, expiry
    uint32_t id = replaces != 0 ? replaces : ++lastId;
    Say(std::string("Notify id=") + std::to_string(id) + " app=" + app + " replaces=" + std::to_string(replaces) +
        " icon=" + icon + " summary=" + summary + " body=" + body + " rest=" + rest);
    return sd_bus_reply_method_return(m, "u", id);
}

int CapabilitiesCall(sd_bus_message* m, void*, sd_bus_error*) {
    if (Has("--markup")) return sd_bus_reply_method_return(m, "as", 3, "actions", "body", "body-markup");
    return sd_bus_reply_method_return(m, "as", 2, "actions", "body");
}

int ServerInformationCall(sd_bus_message* m, void*, sd_bus_error*) {
    return sd_bus_reply_method_return(m, "ssss", "bus_service", "quillaven-tests", "1", "1.2");
}

int CloseCall(sd_bus_message* m, void*, sd_bus_error*) {
    uint32_t id = 0;
    sd_bus_message_read(m, "u", &id);
    Say("CloseNotification " + std::to_string(id));
    return sd_bus_reply_method_return(m, "");
}

const sd_bus_vtable kNotifications[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", NotifyCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetCapabilities", "", "as", CapabilitiesCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("GetServerInformation", "", "ssss", ServerInformationCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("CloseNotification", "u", "", CloseCall, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("ActionInvoked", "us", 0),
    SD_BUS_SIGNAL("NotificationClosed", "uu", 0),
    SD_BUS_VTABLE_END,
};

// ---- Settings portal

constexpr const char* kAppearance = "org.freedesktop.appearance";
uint32_t scheme = 0;
bool haveAccent = false;
double accent[3] = {0, 0, 0};

// Appends the value of one key wrapped as Read (two variants) or ReadOne (one) answers it.
int AppendSetting(sd_bus_message* reply, const char* key, int variants) {
    int r = 0;
    for (int i = 1; i < variants && r >= 0; ++i)
        r = sd_bus_message_open_container(reply, 'v', "v");
    if (r < 0) return r;
    if (std::strcmp(key, "color-scheme") == 0)
        r = sd_bus_message_append(reply, "v", "u", scheme);
    else
        r = sd_bus_message_append(reply, "v", "(ddd)", accent[0], accent[1], accent[2]);
    for (int i = 1; i < variants && r >= 0; ++i) r = sd_bus_message_close_container(reply);
    return r;
}

int PortalRead(sd_bus_message* m, void*, sd_bus_error* error) {
    const char* space = nullptr;
    const char* key = nullptr;
    if (sd_bus_message_read(m, "ss", &space, &key) < 0) return -EINVAL;
    Say(std::string(sd_bus_message_get_member(m)) + " " + space + " " + key);
    bool known = std::strcmp(space, kAppearance) == 0 &&
                 (std::strcmp(key, "color-scheme") == 0 || (std::strcmp(key, "accent-color") == 0 && haveAccent));
    if (!known) return sd_bus_error_set(error, "org.freedesktop.portal.Error.NotFound", "Requested setting not found");
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(m, &reply);
    bool readOne = std::strcmp(sd_bus_message_get_member(m), "ReadOne") == 0;
    if (r >= 0) r = AppendSetting(reply, key, readOne || Has("--single-variant") ? 1 : 2);
    if (r >= 0) r = sd_bus_send(bus, reply, nullptr);
    sd_bus_message_unref(reply);
    return r;
}

const sd_bus_vtable kPortal[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Read", "ss", "v", PortalRead, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("ReadOne", "ss", "v", PortalRead, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("SettingChanged", "ssv", 0),
    SD_BUS_VTABLE_END,
};

void EmitSetting(const char* space, const char* key) {
    sd_bus_message* signal = nullptr;
    int r = sd_bus_message_new_signal(bus, &signal, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
                                      "SettingChanged");
    if (r >= 0) r = sd_bus_message_append(signal, "ss", space, key);
    if (r >= 0) r = AppendSetting(signal, key, 1);
    if (r >= 0) sd_bus_send(bus, signal, nullptr);
    sd_bus_message_unref(signal);
}

// ---- silent: every call to us is swallowed

int Swallow(sd_bus_message* m, void*, sd_bus_error*) {
    uint8_t type = 0;
    if (sd_bus_message_get_type(m, &type) < 0 || type != SD_BUS_MESSAGE_METHOD_CALL) return 0;
    Say(std::string("swallowed ") + sd_bus_message_get_member(m));
    return 1;  // handled: no reply ever
}

// ---- commands from standard input

void Command(const std::string& line) {
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "activate" || verb == "menu") {  // activate X Y: calls the last item
        int32_t x = 0;
        int32_t y = 0;
        words >> x >> y;
        std::string name;
        std::string path;
        if (!LastItem(name, path)) return Say("no item");
        sd_bus_error error{};  // all fields empty, as SD_BUS_ERROR_NULL (a C compound literal)
        int r = sd_bus_call_method(bus, name.c_str(), path.c_str(), "org.kde.StatusNotifierItem",
                                   verb == "activate" ? "Activate" : "ContextMenu", &error, nullptr, "ii", x, y);
        Say(verb + (r >= 0 ? " answered" : std::string(" failed ") + (error.name ? error.name : "")));
        sd_bus_error_free(&error);
    } else if (verb == "get") {  // get PROPERTY: of the last item
        std::string property;
        words >> property;
        std::string name;
        std::string path;
        if (!LastItem(name, path)) return Say("no item");
        sd_bus_message* reply = nullptr;
        sd_bus_error error{};  // all fields empty, as SD_BUS_ERROR_NULL (a C compound literal)
        int r = sd_bus_call_method(bus, name.c_str(), path.c_str(), "org.freedesktop.DBus.Properties", "Get", &error,
                                   &reply, "ss", "org.kde.StatusNotifierItem", property.c_str());
        char type = 0;
        const char* contents = nullptr;
        if (r >= 0) r = sd_bus_message_peek_type(reply, &type, &contents);
        if (r >= 0) r = sd_bus_message_enter_container(reply, 'v', contents);
        Say("property " + property + " " + (r >= 0 ? Format(reply) : "failed " + std::string(error.name ? error.name : "")));
        sd_bus_error_free(&error);
        sd_bus_message_unref(reply);
    } else if (verb == "invoke" || verb == "close") {  // invoke ID KEY, close ID REASON
        uint32_t id = 0;
        std::string argument;
        words >> id >> argument;
        if (verb == "invoke")
            sd_bus_emit_signal(bus, "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked",
                               "us", id, argument.c_str());
        else
            sd_bus_emit_signal(bus, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                               "NotificationClosed", "uu", id, uint32_t(std::strtoul(argument.c_str(), nullptr, 10)));
        Say(verb + " sent");
    } else if (verb == "scheme") {  // scheme N
        words >> scheme;
        EmitSetting(kAppearance, "color-scheme");
        Say("scheme sent");
    } else if (verb == "accent") {  // accent R G B
        words >> accent[0] >> accent[1] >> accent[2];
        haveAccent = true;
        EmitSetting(kAppearance, "accent-color");
        Say("accent sent");
    } else if (verb == "foreign") {  // a change in another namespace
        EmitSetting("org.gnome.desktop.interface", "color-scheme");
        Say("foreign sent");
    }
}

bool Own(const char* name) {
    if (sd_bus_request_name(bus, name, 0) < 0) {
        Say(std::string("cannot own ") + name);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    role = argv[1];
    for (int i = 2; i < argc; ++i) options.push_back(argv[i]);
    if (sd_bus_open_user(&bus) < 0) {
        Say("no bus");
        return 1;
    }
    sd_bus_slot* slot = nullptr;
    if (role == "watcher") {
        sd_bus_add_object_vtable(bus, &slot, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher", kWatcher, nullptr);
        if (!Own("org.kde.StatusNotifierWatcher")) return 1;
    } else if (role == "file-manager") {
        sd_bus_add_object_vtable(bus, &slot, "/org/freedesktop/FileManager1", "org.freedesktop.FileManager1",
                                 kFileManager, nullptr);
        if (!Own("org.freedesktop.FileManager1")) return 1;
    } else if (role == "notifications") {
        sd_bus_add_object_vtable(bus, &slot, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                 kNotifications, nullptr);
        if (!Own("org.freedesktop.Notifications")) return 1;
    } else if (role == "portal") {
        if (options.size() < 2) return 2;
        scheme = uint32_t(std::strtoul(options[0].c_str(), nullptr, 10));
        haveAccent = options[1] != "none";
        if (haveAccent && options.size() >= 4)
            for (int i = 0; i < 3; ++i) accent[i] = std::strtod(options[size_t(i) + 1].c_str(), nullptr);
        sd_bus_add_object_vtable(bus, &slot, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings",
                                 kPortal, nullptr);
        if (!Own("org.freedesktop.portal.Desktop")) return 1;
    } else if (role == "silent") {
        if (options.empty()) return 2;
        sd_bus_add_filter(bus, &slot, Swallow, nullptr);
        if (!Own(options[0].c_str())) return 1;
    } else if (role == "emit-action") {
        if (options.size() < 2) return 2;
        sd_bus_emit_signal(bus, "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "ActionInvoked", "us",
                           uint32_t(std::strtoul(options[0].c_str(), nullptr, 10)), options[1].c_str());
        sd_bus_flush(bus);
        Say("ready");
        Say("sent");
        return 0;
    } else {
        return 2;
    }
    Say("ready");

    std::string pending;
    for (;;) {
        int processed;
        while ((processed = sd_bus_process(bus, nullptr)) > 0) {
        }
        if (processed < 0) break;  // the bus is gone
        pollfd fds[2] = {{sd_bus_get_fd(bus), short(sd_bus_get_events(bus)), 0}, {0, POLLIN, 0}};
        if (::poll(fds, 2, 100) < 0) continue;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char chunk[512];
            ssize_t got = ::read(0, chunk, sizeof chunk);
            if (got <= 0) break;
            pending.append(chunk, size_t(got));
            for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
                Command(pending.substr(0, end));
        }
    }
    sd_bus_slot_unref(slot);
    sd_bus_flush_close_unref(bus);
    return 0;
}
