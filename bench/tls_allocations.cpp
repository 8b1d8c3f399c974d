// Heap allocations of an established Modbus/TCP Security connection: one
// master in request/reply ping-pong on loopback, each request served by one
// counted server pass, for TLS 1.3 and TLS 1.2. Prints the allocations per
// request and where OpenSSL made them (its allocation functions pass their
// source file and line), and how many of OpenSSL's frees the same passes
// made, so that what is left can be named. With OpenSSL 3.0 the sites are
// its WPACKET record builder: crypto/packet.c's initialisation (in
// do_ssl3_write, and for the additional data of each TLS 1.3 record in
// tls13_enc, on both read and write) and its sub-packet start (the record
// length in do_ssl3_write); each is a small block freed before the call
// returns.
//
// Usage: tls_allocations PKI_DIR [requests]   (PKI from tools/make-test-pki.sh)
#include <openssl/crypto.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "api/protocol_handle.hpp"
#include "ip/tcp_protocol.hpp"
#include "mbslave_tls.h"
#include "support/handle_ptr.hpp"
#include "support/mbap.hpp"
#include "support/permissive_table.hpp"
#include "tls/tls_master.hpp"
#include "zero_allocation/counting_allocator.hpp"

namespace {

// Allocation sites seen while counting, without allocating.
struct Site {
    const char* file;
    int line;
    long count;
};
Site sites[64];
int siteCount = 0;
bool recording = false;
long freesRecorded = 0;

void noteSite(const char* file, int line) {
    if (!recording) return;
    for (int i = 0; i < siteCount; ++i) {
        if (sites[i].line == line && std::strcmp(sites[i].file, file) == 0) {
            ++sites[i].count;
            return;
        }
    }
    if (siteCount < static_cast<int>(std::size(sites))) sites[siteCount++] = {file, line, 1};
}

void* siteMalloc(std::size_t size, const char* file, int line) {
    noteSite(file, line);
    return std::malloc(size);
}
void* siteRealloc(void* pointer, std::size_t size, const char* file, int line) {
    noteSite(file, line);
    return std::realloc(pointer, size);
}
void siteFree(void* pointer, const char*, int) {
    if (recording && pointer != nullptr) ++freesRecorded;
    std::free(pointer);
}

int measure(const std::string& pki, int version, int requests) {
    using namespace mbslave;
    test::HandlePtr handle(mbusSlave_createTlsProtocol());
    test::PermissiveTable table;
    if (!handle || mbusSlave_setTlsCertificate(handle.get(), (pki + "/server.pem").c_str(),
                                               (pki + "/server.key").c_str()) != MB_OK ||
        mbusSlave_setTlsCaFile(handle.get(), (pki + "/ca.pem").c_str()) != MB_OK) {
        std::fprintf(stderr, "TLS set-up failed (PKI in %s?)\n", pki.c_str());
        return 1;
    }
    protocolOf(handle.get())->setDataTable(-1, &table);
    mbusSlave_setTimeout(handle.get(), 50);
    mbusSlave_setPort(handle.get(), 0);
    if (mbusSlave_startupIpServer(handle.get(), "127.0.0.1") != MB_OK) return 1;
    const std::uint16_t port = protocolAs<TcpProtocol>(handle.get())->boundPort();
    const auto pass = [&] { mbusSlave_serverLoop(handle.get()); };

    test::TlsMaster master(pki, "operator", version);
    if (!master.connect(port) || !master.handshake(pass)) {
        std::fprintf(stderr, "handshake failed\n");
        return 1;
    }
    const std::vector<std::uint8_t> frame = test::mbapFrame(1, 1, {0x03, 0x00, 0x00, 0x00, 0x0A});
    constexpr std::size_t kReplyLength = 9 + 20;
    // Warm-up: session tickets and the first records are behind us.
    for (int i = 0; i < 20; ++i) {
        if (!master.write(frame) || master.read(kReplyLength, pass).size() != kReplyLength) return 1;
    }
    siteCount = 0;
    freesRecorded = 0;
    long allocations = 0;
    int answered = 0;
    for (int i = 0; i < requests; ++i) {
        if (!master.write(frame)) return 1;
        const long before = test::allocationsCounted();
        recording = true;
        {
            test::CountingScope scope;
            pass();
        }
        recording = false;
        allocations += test::allocationsCounted() - before;
        answered += master.read(kReplyLength, pass).size() == kReplyLength;
    }
    std::printf("%s: %d requests answered %d, allocations in the serving passes %ld (%.2f per request), "
                "OpenSSL frees in them %ld\n",
                version == TLS1_3_VERSION ? "TLS 1.3" : "TLS 1.2", requests, answered, allocations,
                static_cast<double>(allocations) / requests, freesRecorded);
    for (int i = 0; i < siteCount; ++i) {
        std::printf("  %6.2f per request  %s:%d\n", static_cast<double>(sites[i].count) / requests, sites[i].file,
                    sites[i].line);
    }
    return answered == requests ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Before OpenSSL's first allocation, or it keeps its own functions.
    if (CRYPTO_set_mem_functions(siteMalloc, siteRealloc, siteFree) != 1) {
        std::fprintf(stderr, "OpenSSL's allocation functions could not be replaced\n");
        return 1;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PKI_DIR [requests]\n", argv[0]);
        return 2;
    }
    const int requests = argc > 2 ? std::atoi(argv[2]) : 2000;
    int status = 0;
    for (const int version : {TLS1_3_VERSION, TLS1_2_VERSION}) status |= measure(argv[1], version, requests);
    return status;
}
