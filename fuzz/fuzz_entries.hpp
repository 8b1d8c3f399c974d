// Entry functions of the fuzz targets. Each runs one input and returns a
// description of the first broken invariant, or null. The libFuzzer targets
// abort on a problem; the test suite runs the saved corpus through the same
// functions.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mbslave::fuzz {

// Input: flags (bit 0: exception replies disabled), request length, the
// request (slave address 1 is used whatever its first byte), then the answers
// of the data table.
const char* processRequestEntry(const std::uint8_t* data, std::size_t size);

// Modbus/TCP and RTU over TCP: chunks arriving on one connection, one server
// pass per chunk (layout in stream_server_entry.cpp).
const char* tcpStreamEntry(const std::uint8_t* data, std::size_t size);
const char* rtuOverTcpStreamEntry(const std::uint8_t* data, std::size_t size);

// Modbus/TCP Security (tls_entries.cpp, built with libmbslave-tls): the
// stream path after decryption, with the layout of the Modbus/TCP entry
// (flags bit 1: the authorization callback refuses every request; bits 2-4:
// the most decrypted bytes one read hands over, 4 * value, 0: a whole
// record); and raw
// bytes into the handshake of a server with a real certificate.
const char* tlsStreamEntry(const std::uint8_t* data, std::size_t size);
const char* tlsHandshakeEntry(const std::uint8_t* data, std::size_t size);

// UDP: datagrams from a loopback socket, one server pass per datagram
// (layout in udp_datagram_entry.cpp).
const char* udpDatagramEntry(const std::uint8_t* data, std::size_t size);

// RTU and ASCII: the serial line with silences and read failures (layout in
// serial_line_entry.cpp).
const char* rtuLineEntry(const std::uint8_t* data, std::size_t size);
const char* asciiLineEntry(const std::uint8_t* data, std::size_t size);

}  // namespace mbslave::fuzz
