// Injected socket failures: lets a test make one socket operation of one
// protocol object fail with a chosen system error, the way the system would
// report it. The error number is the platform's own (errno values on POSIX,
// WSA error codes on Windows) and passes through the same mapping as a real
// failure. Unused, it costs one pointer check per operation.
#pragma once

namespace mbslave::platform {

// The socket operations whose failure a server must handle.
enum class SocketCall { startLibrary, open, setNonBlocking, bind, listen, accept, wait, receive, send };

class SocketFaults {
public:
    // The error the call fails with, or 0 to let the system carry it out.
    virtual int injectedError(SocketCall call) noexcept = 0;

protected:
    ~SocketFaults() = default;
};

// The injected error for `call`, 0 without faults.
inline int injectedError(SocketFaults* faults, SocketCall call) noexcept {
    return faults == nullptr ? 0 : faults->injectedError(call);
}

}  // namespace mbslave::platform
