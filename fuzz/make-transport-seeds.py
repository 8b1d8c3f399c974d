#!/usr/bin/python3
"""Writes the seed corpora of the transport fuzz targets: one valid request
per served function code in each framing (Modbus/TCP, RTU over TCP, RTU and
ASCII on a serial line, UDP datagrams, Modbus/TCP Security after decryption),
plus a few inputs that split, join and cut frames.
Input layouts: fuzz/stream_server.hpp, fuzz/serial_line_entry.cpp,
fuzz/udp_datagram_entry.cpp and fuzz/tls_entries.cpp."""
import os

UNIT = 1
ESCAPE = 0xFE
SILENCE = [ESCAPE, 0x00]

REQUESTS = {
    "fc01": [1, 0x00, 0x10, 0x00, 0x0A],
    "fc02": [2, 0x00, 0x10, 0x00, 0x0A],
    "fc03": [3, 0x00, 0x00, 0x00, 0x0A],
    "fc04": [4, 0x00, 0x00, 0x00, 0x0A],
    "fc05": [5, 0x00, 0x01, 0xFF, 0x00],
    "fc06": [6, 0x00, 0x01, 0x12, 0x34],
    "fc07": [7],
    "fc08": [8, 0x00, 0x00, 0x12, 0x34],
    "fc15": [15, 0x00, 0x00, 0x00, 0x0A, 0x02, 0xFF, 0x03],
    "fc16": [16, 0x00, 0x00, 0x00, 0x02, 0x04, 0x00, 0x01, 0x00, 0x02],
    "fc17": [17],
    "fc20": [20, 0x07, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x02],
    "fc21": [21, 0x0B, 0x06, 0x00, 0x01, 0x00, 0x02, 0x00, 0x02, 0x00, 0x01, 0x00, 0x02],
    "fc22": [22, 0x00, 0x01, 0x00, 0xF2, 0x00, 0x25],
    "fc23": [23, 0x00, 0x00, 0x00, 0x02, 0x00, 0x10, 0x00, 0x01, 0x02, 0x12, 0x34],
    "fc43": [43, 0x0E, 0x01, 0x00],
}


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return [crc & 0xFF, crc >> 8]


def mbap(transaction, message):
    return [transaction >> 8, transaction & 0xFF, 0, 0, len(message) >> 8, len(message) & 0xFF] + message


def rtu(message):
    return message + crc16(message)


def ascii_text(message):
    check = (-sum(message)) & 0xFF
    return list((":" + "".join("%02X" % byte for byte in message + [check]) + "\r\n").encode())


def escaped(line):
    return [part for byte in line for part in ([ESCAPE, ESCAPE] if byte == ESCAPE else [byte])]


def chunks(*parts, flags=0):
    """Stream input: flags, then each part as one chunk (an empty part
    resets the connection)."""
    data = [flags]
    for part in parts:
        data += [len(part)] + part
    return data


def seeds():
    corpora = {"tcp_stream": {}, "rtu_over_tcp_stream": {}, "rtu_line": {}, "ascii_line": {},
               "udp_datagram": {}, "tls_stream": {}}
    for name, pdu in REQUESTS.items():
        message = [UNIT] + pdu
        corpora["tcp_stream"][name] = chunks(mbap(0x1234, message))
        corpora["rtu_over_tcp_stream"][name] = chunks(rtu(message))
        corpora["rtu_line"][name] = [0] + escaped(rtu(message)) + SILENCE
        corpora["ascii_line"][name] = [0] + ascii_text(message)
        corpora["udp_datagram"][name] = chunks(mbap(0x1234, message))
    read = [UNIT] + REQUESTS["fc03"]
    write = [UNIT] + REQUESTS["fc16"]
    corpora["tcp_stream"]["two_in_one_chunk"] = chunks(mbap(1, read) + mbap(2, write), mbap(3, read))
    corpora["tcp_stream"]["split_header"] = chunks(mbap(1, read)[:3], mbap(1, read)[3:], mbap(2, read))
    corpora["tcp_stream"]["reset_between"] = chunks(mbap(1, read), [], mbap(2, write))
    # Modbus/TCP Security after decryption: the Modbus/TCP inputs, also in
    # pieces of 4 and 28 bytes and with every request refused.
    for name, data in corpora["tcp_stream"].items():
        corpora["tls_stream"][name] = data
    corpora["tls_stream"]["pieces_of_4"] = chunks(mbap(1, read) + mbap(2, write), mbap(3, read), flags=1 << 2)
    corpora["tls_stream"]["pieces_of_28"] = chunks(mbap(1, write) + mbap(2, read) * 3, flags=7 << 2)
    corpora["tls_stream"]["all_refused"] = chunks(mbap(1, read) + mbap(2, write), [], mbap(3, read), flags=2)
    corpora["rtu_over_tcp_stream"]["reset_between"] = chunks(rtu(read), [], rtu(write))
    corpora["udp_datagram"]["oversized_then_valid"] = [0, 255, 10] + [0] * 265 + chunks(mbap(2, read))[1:]
    corpora["rtu_line"]["broadcast_write"] = [0] + escaped(rtu([0] + REQUESTS["fc06"])) + SILENCE + escaped(rtu(read))
    corpora["rtu_line"]["failure_mid_frame"] = [0] + escaped(rtu(read)[:4]) + [ESCAPE, 0x01] + escaped(rtu(read))
    corpora["ascii_line"]["broadcast_write"] = [0] + ascii_text([0] + REQUESTS["fc06"]) + ascii_text(read)
    corpora["ascii_line"]["restart_by_colon"] = [0] + ascii_text(read)[:7] + ascii_text(write)
    return corpora


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    for corpus, inputs in seeds().items():
        directory = os.path.join(root, corpus)
        os.makedirs(directory, exist_ok=True)
        for name, data in inputs.items():
            with open(os.path.join(directory, name), "wb") as seed:
                seed.write(bytes(data))


if __name__ == "__main__":
    main()
