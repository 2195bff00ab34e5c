#include "platform/dbus/session_bus.h"

#include <poll.h>
#include <systemd/sd-bus.h>

namespace {

// Messages handled per Process() call: a peer that floods the bus cannot hold the
// user-interface thread; the rest stays queued and TimeoutUsec() asks to come back at once.
constexpr int kMaxDispatchPerProcess = 256;

}  // namespace

std::unique_ptr<SessionBus> SessionBus::Open() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_user_with_description(&bus, "quillaven") < 0) return nullptr;
    // A closed connection must end nothing but the desktop services.
    sd_bus_set_exit_on_disconnect(bus, 0);
    return std::unique_ptr<SessionBus>(new SessionBus(bus));
}

SessionBus::~SessionBus() { sd_bus_flush_close_unref(bus_); }

int SessionBus::Descriptor() const {
    int fd = sd_bus_get_fd(bus_);
    return fd < 0 ? -1 : fd;
}

short SessionBus::Events() const {
    int events = sd_bus_get_events(bus_);
    return events < 0 ? short(0) : static_cast<short>(events);
}

uint64_t SessionBus::TimeoutUsec() const {
    uint64_t usec = UINT64_MAX;
    if (sd_bus_get_timeout(bus_, &usec) < 0) return UINT64_MAX;
    return usec;
}

void SessionBus::Process() {
    for (int round = 0; round < kMaxDispatchPerProcess; ++round)
        if (sd_bus_process(bus_, nullptr) <= 0) break;
}

bool SessionBus::Connected() const { return sd_bus_is_open(bus_) > 0; }
