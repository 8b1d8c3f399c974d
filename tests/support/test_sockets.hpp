// The few socket calls of the loopback test clients on POSIX and Windows:
// headers, closing, a bounded wait for readability and a non-blocking read.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <cstddef>
#include <cstdint>

namespace mbslave::test {

#ifdef _WIN32
using TestSocket = SOCKET;
constexpr TestSocket kNoTestSocket = INVALID_SOCKET;

// Winsock counts its users: the test clients hold it for the whole process.
inline void startSocketLibrary() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    static_cast<void>(started);
}

inline TestSocket openTestSocket(int type) {
    startSocketLibrary();
    return ::socket(AF_INET, type, 0);
}
inline void closeTestSocket(TestSocket socket) { ::closesocket(socket); }
inline bool wasReset() { return WSAGetLastError() == WSAECONNRESET; }

inline long sendBytes(TestSocket socket, const void* data, std::size_t length) {
    return ::send(socket, static_cast<const char*>(data), static_cast<int>(length), 0);
}
inline long receiveBytes(TestSocket socket, void* buffer, std::size_t capacity) {
    return ::recv(socket, static_cast<char*>(buffer), static_cast<int>(capacity), 0);
}
// Reads what is there without waiting: 0 bytes queued reads as nothing.
inline long receiveQueued(TestSocket socket, void* buffer, std::size_t capacity) {
    u_long queued = 0;
    if (::ioctlsocket(socket, FIONREAD, &queued) != 0 || queued == 0) return -1;
    return receiveBytes(socket, buffer, capacity);
}
inline bool setTestSocketNonBlocking(TestSocket socket) {
    u_long enabled = 1;
    return ::ioctlsocket(socket, FIONBIO, &enabled) == 0;
}
// Wine's Winsock runs on Linux sockets, with a few differences the tests
// name where they meet them.
inline bool runsUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}
inline bool waitReadable(TestSocket socket, int timeoutMs) {
    WSAPOLLFD entry{socket, POLLRDNORM, 0};
    return ::WSAPoll(&entry, 1, timeoutMs) > 0;
}
#else
using TestSocket = int;
constexpr TestSocket kNoTestSocket = -1;

inline TestSocket openTestSocket(int type) { return ::socket(AF_INET, type | SOCK_CLOEXEC, 0); }
inline void closeTestSocket(TestSocket socket) { ::close(socket); }
inline bool wasReset() { return errno == ECONNRESET; }

inline long sendBytes(TestSocket socket, const void* data, std::size_t length) {
    return ::send(socket, data, length, MSG_NOSIGNAL);
}
inline long receiveBytes(TestSocket socket, void* buffer, std::size_t capacity) {
    return ::recv(socket, buffer, capacity, 0);
}
inline long receiveQueued(TestSocket socket, void* buffer, std::size_t capacity) {
    return ::recv(socket, buffer, capacity, MSG_DONTWAIT);
}
inline bool setTestSocketNonBlocking(TestSocket socket) {
    const int flags = ::fcntl(socket, F_GETFL);
    return flags >= 0 && ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}
inline bool runsUnderWine() { return false; }
inline bool waitReadable(TestSocket socket, int timeoutMs) {
    pollfd entry{socket, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) > 0;
}
#endif

// Sets an integer socket option.
inline bool setIntOption(TestSocket socket, int level, int name, int value) {
    return ::setsockopt(socket, level, name, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

}  // namespace mbslave::test
