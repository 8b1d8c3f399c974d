// Serves one Read Holding Registers request on the transport named by the
// argument and keeps the coverage counters of that pass alone: they are
// reset just before the pass and written just after it, then the program
// ends without running anything else. request-path.sh builds the library
// with coverage and lists the files whose code the pass ran.
#include <fcntl.h>
#include <netinet/in.h>
#include <pty.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "api/protocol_handle.hpp"
#include "ip/ip_protocol.hpp"
#include "mbslave.h"

extern "C" void __gcov_reset(void);
extern "C" void __gcov_dump(void);

namespace {

int readHolding(int, std::uint16_t values[], int count, const RequestInfo*) {
    for (int i = 0; i < count; ++i) values[i] = static_cast<std::uint16_t>(i);
    return 1;
}

// FC 3, two registers from 0, for unit 1.
const std::uint8_t kPdu[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02};
const std::uint8_t kRtuFrame[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x02, 0xC4, 0x0B};
const char kAsciiFrame[] = ":010300000002FA\r\n";

int fail(const char* what) {
    std::fprintf(stderr, "request_path_probe: %s\n", what);
    return 1;
}

// The one pass whose code is counted; the program ends right after it.
[[noreturn]] void countedPass(MbusSlaveHandle* handle) {
    __gcov_reset();
    const int result = mbusSlave_serverLoop(handle);
    __gcov_dump();
    std::fprintf(stderr, "pass: %d\n", result);
    _exit(result == MB_OK ? 0 : 1);
}

int connectTo(std::uint16_t port, int type) {
    const int fd = socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return -1;
    return fd;
}

int probeIp(MbusSlaveHandle* handle, int type, const std::uint8_t* request, std::size_t size) {
    mbusSlave_setPort(handle, 0);
    if (mbusSlave_startupIpServer(handle, "127.0.0.1") != MB_OK) return fail("start-up");
    const auto* ip = static_cast<mbslave::IpProtocol*>(mbslave::protocolOf(handle));
    const int fd = connectTo(ip->boundPort(), type);
    if (fd < 0) return fail("connect");
    if (type == SOCK_STREAM) mbusSlave_serverLoop(handle);  // accepts
    if (send(fd, request, size, 0) != static_cast<ssize_t>(size)) return fail("send");
    usleep(20000);
    countedPass(handle);
}

int probeSerial(MbusSlaveHandle* handle, const void* request, std::size_t size) {
    int master = -1, slave = -1;
    char name[64] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return fail("openpty");
    MbWideChar wide[64] = {};
    for (std::size_t i = 0; name[i] != '\0'; ++i) wide[i] = static_cast<MbWideChar>(name[i]);
    if (mbusSlave_startupSerialServer(handle, wide, 19200, 8, 1, PARITY_NONE) != MB_OK) return fail("start-up");
    if (write(master, request, size) != static_cast<ssize_t>(size)) return fail("write");
    usleep(20000);
    countedPass(handle);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string kind = argc > 1 ? argv[1] : "";
    MbusSlaveHandle* handle = kind == "tcp"            ? mbusSlave_createTcpProtocol()
                              : kind == "rtu-over-tcp" ? mbusSlave_createRtuOverTcpProtocol()
                              : kind == "udp"          ? mbusSlave_createUdpProtocol()
                              : kind == "rtu"          ? mbusSlave_createRtuProtocol()
                              : kind == "ascii"        ? mbusSlave_createAsciiProtocol()
                                                       : nullptr;
    if (handle == nullptr) return fail("usage: request_path_probe tcp|rtu-over-tcp|udp|rtu|ascii");
    mbusSlave_configureCallbacks(handle, 1, readHolding, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr);
    std::uint8_t mbap[6 + sizeof kPdu] = {0x00, 0x01, 0x00, 0x00, 0x00, sizeof kPdu};
    std::memcpy(mbap + 6, kPdu, sizeof kPdu);
    if (kind == "tcp") return probeIp(handle, SOCK_STREAM, mbap, sizeof mbap);
    if (kind == "udp") return probeIp(handle, SOCK_DGRAM, mbap, sizeof mbap);
    if (kind == "rtu-over-tcp") return probeIp(handle, SOCK_STREAM, kRtuFrame, sizeof kRtuFrame);
    if (kind == "rtu") return probeSerial(handle, kRtuFrame, sizeof kRtuFrame);
    return probeSerial(handle, kAsciiFrame, sizeof kAsciiFrame - 1);
}
