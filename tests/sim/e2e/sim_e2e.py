#!/usr/bin/python3
"""mbslave-sim driven end to end by real masters (pymodbus and mbpoll).

Usage: sim_e2e.py MBSLAVE_SIM TRANSPORT   (TRANSPORT: tcp, rtutcp, udp, rtu, ascii)

Starts the simulator on a free loopback port (or one end of a pty pair),
reads and writes every kind of data with pymodbus, polls with mbpoll where it
speaks the transport, checks the log line of one request, waits for a master
time-out notice, then stops the simulator with SIGINT and checks its summary
and exit code.
"""
import logging
import re
import select
import shutil
import subprocess
import sys
import time

from pymodbus.client import ModbusSerialClient, ModbusTcpClient, ModbusUdpClient
from pymodbus.file_message import FileRecord, ReadFileRecordRequest, WriteFileRecordRequest
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer
from pymodbus.mei_message import ReadDeviceInformationRequest
from pymodbus.other_message import ReadExceptionStatusRequest, ReportSlaveIdRequest
from pymodbus.diag_message import ReturnQueryDataRequest

from simproc import PtyBridge, Sim, free_port

logging.disable(logging.CRITICAL)  # pymodbus logs expected exception replies

SERIAL = {"rtu": ModbusRtuFramer, "ascii": ModbusAsciiFramer}


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def ok(response, what):
    check(response is not None and not response.isError(), f"{what}: {response}")
    return response


class Setup:
    """Simulator arguments, a pymodbus client and the peer text of the log."""

    def __init__(self, binary, transport):
        self.transport = transport
        self.bridge = None
        common = ["--units", "1,2", "--timeout", "400"]
        if transport in SERIAL:
            self.bridge = PtyBridge()
            sim_device, self.master_device = self.bridge.devices
            # Pseudo-terminals here refuse parity and 7 data bits: 8N1 on both ends.
            self.arguments = [transport, "--device", sim_device, "--baud", "38400", "--databits", "8",
                              "--parity", "none"] + common
            # The Windows build under wine names the COM port it was given.
            self.peer = "(?:%s|COM\\d+)" % re.escape(sim_device)
            self.client = ModbusSerialClient(self.master_device, framer=SERIAL[transport], baudrate=38400,
                                             bytesize=8, parity="N", stopbits=1, timeout=3)
        else:
            kind = __import__("socket").SOCK_DGRAM if transport == "udp" else __import__("socket").SOCK_STREAM
            self.port = free_port(kind)
            self.arguments = [transport, "--port", str(self.port)] + common
            self.peer = r"127\.0\.0\.1"
            if transport == "udp":
                self.client = ModbusUdpClient("127.0.0.1", port=self.port, timeout=3)
            elif transport == "rtutcp":
                self.client = ModbusTcpClient("127.0.0.1", port=self.port, framer=ModbusRtuFramer, timeout=3)
            else:
                self.client = ModbusTcpClient("127.0.0.1", port=self.port, timeout=3)
        self.sim = Sim(binary, self.arguments)

    def close(self):
        self.client.close()
        self.sim.kill()
        if self.bridge:
            self.bridge.close()


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return bytes([crc & 0xFF, crc >> 8])


def raw_rtu_exchange(client, frame, timeout=2.0):
    """Sends one RTU frame on the client's own link and returns the checked reply."""
    link = client.socket
    link.sendall(frame + crc16(frame)) if hasattr(link, "sendall") else link.write(frame + crc16(frame))
    reply = b""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if hasattr(link, "recv"):
            if select.select([link], [], [], 0.1)[0]:
                reply += link.recv(300)
        else:
            reply += link.read(link.in_waiting or 1)
        if len(reply) >= 4 and crc16(reply[:-2]) == reply[-2:]:
            return reply
    raise AssertionError(f"no complete RTU reply to {frame!r}: {reply!r}")


def parse_identification(data, count):
    objects = {}
    for _ in range(count):
        object_id, length = data[0], data[1]
        objects[object_id] = data[2:2 + length]
        data = data[2 + length:]
    return objects


def exercise_with_pymodbus(client, rtu_framing):
    """Every kind of request the demo device serves; returns the number sent."""
    sent = 0

    def request(result):
        nonlocal sent
        sent += 1
        return result

    live = ok(request(client.read_input_registers(0, 4, slave=1)), "read input registers").registers
    check(live[1] == 0 and live[0] < 60, f"uptime {live[:2]}")
    check(0 <= live[2] <= 999 and 200 <= live[3] <= 300, f"ramp and temperature {live[2:]}")

    regs = ok(request(client.read_holding_registers(0, 10, slave=1)), "read holding").registers
    check(regs == [10, 20, 30, 40, 50, 60, 70, 80, 90, 100], f"demo holding registers {regs}")
    ok(request(client.write_register(5, 4242, slave=1)), "write register")
    ok(request(client.write_registers(100, [1, 2, 65535], slave=1)), "write registers")
    regs = ok(request(client.read_holding_registers(4, 3, slave=1)), "read back").registers
    check(regs == [50, 4242, 70], f"register write kept: {regs}")
    regs = ok(request(client.read_holding_registers(100, 3, slave=1)), "read back block").registers
    check(regs == [1, 2, 65535], f"block write kept: {regs}")
    regs = ok(request(client.read_holding_registers(5, 1, slave=2)), "unit 2").registers
    check(regs == [60], f"unit 2 is separate: {regs}")

    bits = ok(request(client.read_coils(0, 8, slave=1)), "read coils").bits[:8]
    check(bits == [True, False] * 4, f"demo coils {bits}")
    ok(request(client.write_coil(1, True, slave=1)), "write coil")
    ok(request(client.write_coils(20, [True, True, False, True], slave=1)), "write coils")
    bits = ok(request(client.read_coils(0, 2, slave=1)), "read coils back").bits[:2]
    check(bits == [True, True], f"coil write kept: {bits}")
    bits = ok(request(client.read_coils(20, 4, slave=1)), "read coil block back").bits[:4]
    check(bits == [True, True, False, True], f"coil block kept: {bits}")
    bits = ok(request(client.read_discrete_inputs(1, 1, slave=1)), "read discrete inputs").bits[:1]
    check(bits == [True], f"discrete input 1: {bits}")

    record = FileRecord(file_number=1, record_number=3, record_length=2)
    records = ok(request(client.execute(ReadFileRecordRequest([record], unit=1))), "read file record").records
    check(records[0].record_data == b"\x03\xeb\x03\xec", f"file 1 records 3-4: {records[0].record_data!r}")
    written = FileRecord(file_number=1, record_number=500, record_data=b"\x12\x34")
    ok(request(client.execute(WriteFileRecordRequest([written], unit=1))), "write file record")
    record = FileRecord(file_number=1, record_number=500, record_length=1)
    records = ok(request(client.execute(ReadFileRecordRequest([record], unit=1))), "read written record").records
    check(records[0].record_data == b"\x12\x34", f"file record write kept: {records[0].record_data!r}")

    if rtu_framing:
        # pymodbus 3.0's RTU framer cannot find the end of the Read Device
        # Identification and Report Slave ID replies (their length is not
        # implied by the function code), so these two requests go over the
        # same link as raw bytes.
        reply = request(raw_rtu_exchange(client, bytes([1, 0x2B, 0x0E, 1, 0])))
        objects = parse_identification(reply[8:-2], reply[7])
        check(reply[:2] == bytes([1, 0x2B]), f"identification reply {reply!r}")
    else:
        objects = ok(request(client.execute(ReadDeviceInformationRequest(read_code=1, object_id=0, unit=1))),
                     "read device identification").information
    check(objects.get(0) == b"mbslave" and objects.get(1) == b"mbslave-sim" and objects.get(2) == b"2.11.0.0",
          f"identification {objects}")
    if rtu_framing:
        reply = request(raw_rtu_exchange(client, bytes([1, 0x11])))
        identifier = reply[3:-2]
    else:
        identifier = ok(request(client.execute(ReportSlaveIdRequest(unit=1))), "report slave id").identifier
    # The run indicator byte (0xFF: ON) follows the text; pymodbus keeps it too.
    check(identifier == b"mbslave-sim demo device\xff", f"slave id {identifier!r}")
    status = ok(request(client.execute(ReadExceptionStatusRequest(unit=1))), "read exception status")
    check(status.status == 0, f"exception status {status.status}")
    echo = ok(request(client.execute(ReturnQueryDataRequest(0xABCD, unit=1))), "diagnostics echo")
    check(list(echo.message) == [0xABCD], f"diagnostics echo {echo.message!r}")

    refused = request(client.read_holding_registers(65535, 2, slave=1))
    check(refused.isError() and getattr(refused, "exception_code", None) == 2,
          f"reading past 65535 must give exception 2: {refused}")
    return sent


def poll_with_mbpoll(setup):
    """mbpoll reads holding registers 1..10 (wire 0..9) of unit 2."""
    if setup.transport == "tcp":
        target = ["-m", "tcp", "-p", str(setup.port), "127.0.0.1"]
    else:
        target = ["-m", "rtu", "-b", "38400", "-P", "none", setup.master_device]
    command = ["mbpoll", "-a", "2", "-t", "4", "-r", "1", "-c", "10", "-1", "-o", "2"] + target
    done = subprocess.run(command, capture_output=True, text=True, timeout=20)
    values = re.findall(r"^\[(\d+)\]:\s+(-?\d+)", done.stdout, re.M)
    check(done.returncode == 0 and [int(v) for _, v in values] == [10, 20, 30, 40, 50, 60, 70, 80, 90, 100],
          f"mbpoll exit {done.returncode}:\n{done.stdout}\n{done.stderr}")


def main():
    binary, transport = sys.argv[1], sys.argv[2]
    setup = Setup(binary, transport)
    try:
        setup.sim.wait_for(r"server on .*units 1-2, demo device")
        if transport not in SERIAL:
            check(setup.client.connect(), "pymodbus could not connect")
        served = exercise_with_pymodbus(setup.client, transport in ("rtu", "rtutcp"))
        stamp = r"^\d\d:\d\d:\d\d\.\d{3} "
        setup.sim.wait_for(stamp + setup.peer + r" unit 1: read holding registers 0-9: ok$")
        setup.sim.wait_for(stamp + setup.peer + r" unit 1: read holding registers 65535-65536: refused, exception 2$")
        setup.sim.wait_for(stamp + setup.peer + r" unit 1: read file 1 records 3-4: ok$")
        setup.client.close()
        if transport in ("tcp", "rtu") and shutil.which("mbpoll"):
            poll_with_mbpoll(setup)
            served += 1
            setup.sim.wait_for(r" unit 2: read holding registers 0-9: ok$")
        setup.sim.wait_for(stamp + r"unit 1: master time-out, no request for 400 ms$")

        code = setup.sim.stop()
        check(code == 0, f"exit code {code} after SIGINT; stderr: {setup.sim.stderr}")
        setup.sim.wait_for(r"stopped by (SIGINT|Ctrl-C) after \d+\.\d s$")
        summary = setup.sim.wait_for(r"summary: ")
        match = re.search(r"summary: (\d+) requests received, (\d+) served \(unit 1: (\d+), unit 2: (\d+)\)", summary)
        check(match is not None, f"summary line: {summary}")
        received, total_served, unit1, unit2 = (int(g) for g in match.groups())
        # RTU over TCP counts the master's close of its connection as received.
        closes_counted = 1 if transport == "rtutcp" else 0
        check(total_served == served and received == served + closes_counted and unit1 + unit2 == served - 1,
              f"{served} requests sent (one without data access), summary: {summary}")
        print(f"{transport}: {served} requests served; last lines:\n  " + "\n  ".join(setup.sim.lines[-3:]))
    except BaseException:
        print("mbslave-sim output:\n  " + "\n  ".join(setup.sim.drain()), file=sys.stderr)
        raise
    finally:
        setup.close()


if __name__ == "__main__":
    main()
