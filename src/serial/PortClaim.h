#pragma once

#include <QString>
#include <cstdint>
#include <vector>

// One owner's claims on serial devices, held across the closes and reopens of an operation
// (an update reopens its port at every change of speed and after each restart of the
// device), so that no other program, and no other owner in this one, takes the device in a
// gap. A claim is non-blocking and names the device, not the port: every name of one
// device is one claim. It ends on Release, with its owner, and with the process however it
// ends.
//
// Unix: an advisory lock on a file named after the device's number, in /run/lock (seen by
// every user), else in /tmp. Windows: a named mutex in the Global namespace named after the
// port; the owner must claim and release on one thread, which a mutex belongs to.
class PortClaim {
public:
    enum class Status {
        Claimed, // held now; undo with one Release of the device
        InUse,   // another owner holds the device
        Unheld,  // no claim can be had (no such device, no lock folder): the open decides
    };
    struct Result {
        Status status = Status::Unheld;
        // The device's identity, for Release.
        QString device;
        // The system's error number when another owner holds the device, of the kind that
        // TCustomComPort::InUseError recognises.
        uint32_t osError = 0;
    };

    PortClaim() = default;
    ~PortClaim();
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

    // Claims the device portName stands for (a name as TCustomComPort takes it). A device
    // this owner holds already is claimed once more: nested scopes of one owner never
    // refuse each other.
    Result Claim(const QString& portName);
    // Undoes one Claim of the device; the last one frees it.
    void Release(const QString& device);
    bool Holds(const QString& device) const;

    // The identity of the device portName stands for; empty when there is none.
    static QString DeviceOf(const QString& portName);

private:
    using Handle = intptr_t;
    struct Held {
        QString device;
        int depth = 0;
        Handle handle = 0;
    };

    // Takes the device's claim for this owner (the platform's part); osError is set for InUse.
    static Status Take(const QString& device, Handle& handle, uint32_t& osError);
    static void Free(const QString& device, Handle handle);

    std::vector<Held> held_;
};
