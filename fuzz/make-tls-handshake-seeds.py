#!/usr/bin/python3
"""Writes the seed corpus of the TLS handshake fuzz target: the ClientHello
of Python's OpenSSL client (TLS 1.3, and TLS 1.2 at most), whole and cut
into chunks, a hello followed by noise, a reset in the middle of one, and a
plain Modbus/TCP request. Layout: fuzz/stream_server.hpp (flags, then
chunks of a length byte and that many bytes). A ClientHello carries random
values, so each run writes different (equally valid) seeds."""
import os
import ssl


def client_hello(maximum):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    context.maximum_version = maximum
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    connection = context.wrap_bio(incoming, outgoing, server_hostname="localhost")
    try:
        connection.do_handshake()
    except ssl.SSLWantReadError:
        pass
    return list(outgoing.read())


def chunks(data, size=255, flags=0):
    out = [flags]
    for at in range(0, len(data), size):
        part = data[at:at + size]
        out += [len(part)] + part
    return out


def seeds():
    hello13 = client_hello(ssl.TLSVersion.TLSv1_3)
    hello12 = client_hello(ssl.TLSVersion.TLSv1_2)
    return {
        "client_hello_tls13": chunks(hello13),
        "client_hello_tls12": chunks(hello12),
        "client_hello_in_small_chunks": chunks(hello13, 7),
        "client_hello_then_noise": chunks(hello12) + [16] + [0x17, 0x03, 0x03, 0x00, 0x0B] + [0x55] * 11,
        "reset_mid_hello": chunks(hello13[:40]) + [0] + chunks(hello12)[1:],
        "plain_modbus_tcp": chunks([0, 1, 0, 0, 0, 6, 1, 3, 0, 0, 0, 10]),
    }


def main():
    directory = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "tls_handshake")
    os.makedirs(directory, exist_ok=True)
    for name, data in seeds().items():
        with open(os.path.join(directory, name), "wb") as seed:
            seed.write(bytes(data))


if __name__ == "__main__":
    main()
