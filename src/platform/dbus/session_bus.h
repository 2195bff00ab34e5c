// The user's session bus, one connection shared by the shell's desktop services
// (tray item, notifications, file manager, appearance). Used only from the host's
// user-interface thread, whose poll loop waits on Descriptor() for Events() until
// TimeoutUsec() and then calls Process().
#pragma once

#include <cstdint>
#include <memory>

typedef struct sd_bus sd_bus;

class SessionBus {
public:
    // Connects to the session bus of $DBUS_SESSION_BUS_ADDRESS (else the user's runtime
    // folder); nothing when there is none.
    static std::unique_ptr<SessionBus> Open();
    ~SessionBus();
    SessionBus(const SessionBus&) = delete;
    SessionBus& operator=(const SessionBus&) = delete;

    int Descriptor() const;   // -1 once the connection is gone
    short Events() const;     // poll() events to wait for
    uint64_t TimeoutUsec() const;  // absolute CLOCK_MONOTONIC time of the next time-out, or UINT64_MAX
    void Process();           // dispatches everything pending, without waiting
    bool Connected() const;

    sd_bus* Handle() const { return bus_; }

private:
    explicit SessionBus(sd_bus* bus) : bus_(bus) {}
    sd_bus* bus_;
};
