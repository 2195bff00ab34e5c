// Small pieces shared by the desktop services on the session bus: an owning slot
// (a match, an exported object or a pending call, cancelled when dropped) and the
// watch on a well-known name's owner.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <string>

class BusSlot {
public:
    BusSlot() = default;
    ~BusSlot() { Reset(); }
    BusSlot(const BusSlot&) = delete;
    BusSlot& operator=(const BusSlot&) = delete;

    sd_bus_slot** Out() {
        Reset();
        return &slot_;
    }
    void Reset() { slot_ = sd_bus_slot_unref(slot_); }
    explicit operator bool() const { return slot_ != nullptr; }

private:
    sd_bus_slot* slot_ = nullptr;
};

// Time a peer gets to answer before the services count it as absent: a running tray
// answers at once; a notification server may first have to be started by the bus.
inline constexpr uint64_t kRunningPeerTimeoutUsec = 2'000'000;
inline constexpr uint64_t kActivatedPeerTimeoutUsec = 5'000'000;

// Sends a method call whose reply (or error, or time-out after `timeoutUsec`) goes to
// `handler`; dropping `slot` cancels it. The call message stays the caller's.
int CallAsync(sd_bus* bus, sd_bus_message* call, BusSlot& slot, sd_bus_message_handler_t handler, void* userdata,
              uint64_t timeoutUsec);

// Calls `handler` with each NameOwnerChanged signal for `name` (its arguments: name,
// old owner, new owner). The match is added without waiting for the bus daemon.
int WatchNameOwner(sd_bus* bus, BusSlot& slot, const char* name, sd_bus_message_handler_t handler, void* userdata);

// Calls `handler` when the connection to the bus is lost (sd-bus's local signal).
int WatchDisconnect(sd_bus* bus, BusSlot& slot, sd_bus_message_handler_t handler, void* userdata);

// The new owner carried by a NameOwnerChanged signal ("" when the name was released);
// nothing when the message is not one.
bool ReadNewOwner(sd_bus_message* message, std::string& newOwner);

// Whether the bus daemon currently knows an owner of `name` (asked with a short time-out;
// the daemon itself always answers at once).
bool NameHasOwner(sd_bus* bus, const char* name);

// Whether the bus daemon would start a service for `name` when it is called.
bool NameIsActivatable(sd_bus* bus, const char* name);

// Errors that mean nobody serves a name (as opposed to one refused call): unknown or
// unowned name, no answer in time, a service that could not be started, a lost bus.
bool ErrorMeansAbsent(const sd_bus_error* error);
