// Modbus/TCP Security fed through one connection (the harness of
// stream_server.hpp):
// - the stream path after decryption: the TLS server with its receive step
//   replaced by one that hands over what arrived on the socket as decrypted
//   bytes, in pieces that leave the rest held as OpenSSL would, so that the
//   MBAP framing, held input, role and authorization run as in service;
// - the handshake: raw bytes against the real TLS server with a certificate
//   made at first use. No master can get through without a certificate of
//   the CA, so nothing may be served and nothing may touch the data; what
//   the server sends must be TLS records.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_entries.hpp"
#include "stream_server.hpp"
#include "tls/tls_protocol.hpp"

namespace mbslave::fuzz {

namespace {

constexpr std::size_t kMaxRecordPlaintext = 16384;

// Refuses every request (flags bit 1).
int refuseAll(const char*, int, const std::uint8_t[], int, const RequestInfo*) { return 0; }

// The TLS server whose connections are already established: the socket's
// bytes are the decrypted stream.
class DecryptedTlsServer : public TlsProtocol {
public:
    explicit DecryptedTlsServer(std::size_t piece) : piece_(piece) {}

protected:
    // No certificate is needed without handshakes.
    int openServerSocket(const char* hostName) override { return TcpProtocol::openServerSocket(hostName); }
    bool admitConnection(int slot) override {
        held_[slot] = 0;
        return true;
    }
    long receiveFromConnection(int slot, std::uint8_t* into, std::size_t capacity) override {
        StreamBuffer& stream = streams[slot];
        const bool retried = stream.inputHeld;
        stream.inputHeld = false;
        if (capacity == 0) return kConnectionEnded;
        if (held_[slot] == 0) {
            const long got = connectionSockets[slot].receive(record_[slot], sizeof record_[slot]);
            if (got == 0) return kConnectionEnded;
            if (got < 0) return retried ? kNothingReceived : kConnectionEnded;
            held_[slot] = static_cast<std::size_t>(got);
            front_[slot] = 0;
        }
        std::size_t count = held_[slot] < capacity ? held_[slot] : capacity;
        if (count > piece_) count = piece_;
        std::memcpy(into, record_[slot] + front_[slot], count);
        front_[slot] += count;
        held_[slot] -= count;
        stream.inputHeld = held_[slot] > 0;
        return static_cast<long>(count);
    }
    bool sendOnConnection(int slot, const std::uint8_t* data, std::size_t length) override {
        return TcpProtocol::sendOnConnection(slot, data, length);
    }

private:
    std::size_t piece_;
    std::uint8_t record_[kMaxConnections][kMaxRecordPlaintext] = {};
    std::size_t front_[kMaxConnections] = {};
    std::size_t held_[kMaxConnections] = {};
};

// With every request refused, each reply is exception 1 of its function.
const char* checkRefusals(const std::uint8_t* bytes, long length) {
    if (const char* problem = checkMbapReplies(bytes, length)) return problem;
    for (long at = 0; at < length; at += 6 + ((bytes[at + 4] << 8) | bytes[at + 5])) {
        if (((bytes[at + 4] << 8) | bytes[at + 5]) != 3 || (bytes[at + 7] & 0x80) == 0 || bytes[at + 8] != 1) {
            return "a refused request got a reply other than exception 1";
        }
    }
    return nullptr;
}

// What a TLS server sends before a handshake completes: whole records of
// TLS's four types (TLS 1.3 sends its encrypted handshake as application
// data records); an unfinished record may not be left, as the server writes
// each flight whole.
const char* checkTlsRecords(const std::uint8_t* bytes, long length) {
    while (length > 0) {
        if (length < 5) return "partial TLS record header";
        if (bytes[0] < 20 || bytes[0] > 23) return "record of an unknown type";
        if (bytes[1] != 3) return "record with a version other than 3.x";
        const long recordLength = (bytes[3] << 8) | bytes[4];
        if (recordLength > 16384 + 2048) return "record longer than TLS allows";
        if (recordLength + 5 > length) return "TLS record cut short";
        bytes += recordLength + 5;
        length -= recordLength + 5;
    }
    return nullptr;
}

// The server's certificate (self-signed, its own CA) and key, written once
// per process to a temporary folder that goes at exit.
struct Identity {
    std::string folder;
    std::string certificate;
    std::string key;
    bool made = false;
};

bool writeIdentity(Identity& identity) {
    char folder[] = "/tmp/mbslave-fuzz-tls-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return false;
    identity.folder = folder;
    identity.certificate = identity.folder + "/server.pem";
    identity.key = identity.folder + "/server.key";
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* certificate = X509_new();
    bool written = key != nullptr && certificate != nullptr;
    if (written) {
        X509_set_version(certificate, X509_VERSION_3);
        ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
        X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
        X509_gmtime_adj(X509_getm_notAfter(certificate), 86400L * 365);
        X509_NAME* name = X509_get_subject_name(certificate);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"),
                                   -1, -1, 0);
        X509_set_issuer_name(certificate, name);
        X509_set_pubkey(certificate, key);
        written = X509_sign(certificate, key, EVP_sha256()) > 0;
    }
    std::FILE* certificateFile = written ? std::fopen(identity.certificate.c_str(), "w") : nullptr;
    std::FILE* keyFile = written ? std::fopen(identity.key.c_str(), "w") : nullptr;
    written = certificateFile != nullptr && keyFile != nullptr && PEM_write_X509(certificateFile, certificate) == 1 &&
              PEM_write_PrivateKey(keyFile, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (certificateFile != nullptr) std::fclose(certificateFile);
    if (keyFile != nullptr) std::fclose(keyFile);
    X509_free(certificate);
    EVP_PKEY_free(key);
    return written;
}

Identity identity;

void removeIdentity() {
    std::remove(identity.certificate.c_str());
    std::remove(identity.key.c_str());
    std::remove(identity.folder.c_str());
}

const Identity* serverIdentity() {
    static const bool made = [] {
        const bool written = writeIdentity(identity);
        std::atexit(removeIdentity);
        return written;
    }();
    return made ? &identity : nullptr;
}

}  // namespace

const char* tlsStreamEntry(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return nullptr;
    const std::size_t pieceCode = (data[0] >> 2) & 7u;
    const std::size_t piece = pieceCode == 0 ? kMaxRecordPlaintext : 4 * pieceCode;
    auto server = std::make_unique<PairedServer<DecryptedTlsServer>>(piece);
    const bool refusing = (data[0] & 2) != 0;
    if (refusing) server->setAuthorizationCallback(refuseAll);
    test::PermissiveTable table;
    const char* problem = runStream(*server, data, size, refusing ? &checkRefusals : &checkMbapReplies, table, 1);
    if (problem == nullptr && refusing && (table.reads != 0 || table.writes != 0)) {
        problem = "a refused request reached the data";
    }
    return problem;
}

const char* tlsHandshakeEntry(const std::uint8_t* data, std::size_t size) {
    const Identity* files = serverIdentity();
    if (files == nullptr) return "no server certificate could be made";
    auto server = std::make_unique<PairedServer<TlsProtocol>>();
    if (server->setCertificate(files->certificate.c_str(), files->key.c_str()) != MB_OK ||
        server->setCaFile(files->certificate.c_str()) != MB_OK) {
        return "the server refused the certificate made for it";
    }
    test::PermissiveTable table;
    const char* problem = runStream(*server, data, size, &checkTlsRecords, table);
    if (problem == nullptr && (server->getSuccessCounter() != 0 || table.reads != 0 || table.writes != 0)) {
        problem = "a master without certificate was served";
    }
    return problem;
}

}  // namespace mbslave::fuzz
