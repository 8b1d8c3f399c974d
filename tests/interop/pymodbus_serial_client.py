#!/usr/bin/python3
"""pymodbus's serial master (RTU or ASCII framer) against
tests/interop/serial_interop_server.c: reads and writes holding registers
and coils, reads input registers and discrete inputs, provokes an exception
response and checks that slave 2 (no data table) stays silent.

Usage: pymodbus_serial_client.py rtu|ascii <device> <baud rate>
Prints "ok <check>" or "FAILED <check>: <reason>" per check; exit 0 if
every check passed.
"""
import logging
import sys

from pymodbus.client import ModbusSerialClient
from pymodbus.framer.ascii_framer import ModbusAsciiFramer
from pymodbus.framer.rtu_framer import ModbusRtuFramer

failures = []


def check(passed, name, reason=""):
    if passed:
        print("ok", name)
    else:
        print("FAILED %s: %s" % (name, reason))
        failures.append(name)


def registers_of(response):
    return None if response.isError() else list(response.registers)


def bits_of(response, count):
    return None if response.isError() else [bool(bit) for bit in response.bits[:count]]


def main():
    kind, device, baud = sys.argv[1], sys.argv[2], int(sys.argv[3])
    logging.disable(logging.CRITICAL)  # pymodbus logs expected time-outs as errors
    framer = ModbusRtuFramer if kind == "rtu" else ModbusAsciiFramer
    client = ModbusSerialClient(device, framer=framer, baudrate=baud, bytesize=8, parity="N",
                                stopbits=1, timeout=1)
    check(client.connect(), "connect")

    got = registers_of(client.read_holding_registers(0, 10, slave=1))
    check(got == [0x1000 + a for a in range(1, 11)], "read 10 holding registers", got)
    got = registers_of(client.read_holding_registers(500, 125, slave=1))
    check(got == [0x1000 + a for a in range(501, 626)], "read 125 holding registers", got)

    values = [(0x3000 + 11 * i) & 0xFFFF for i in range(60)]
    response = client.write_registers(700, values, slave=1)
    check(not response.isError(), "write 60 registers", response)
    got = registers_of(client.read_holding_registers(700, 60, slave=1))
    check(got == values, "read back written registers", got)
    response = client.write_register(3, 0x4321, slave=1)
    got = registers_of(client.read_holding_registers(3, 1, slave=1))
    check(not response.isError() and got == [0x4321], "write single register", got)

    got = registers_of(client.read_input_registers(19, 4, slave=1))
    check(got == [40, 42, 44, 46], "read input registers", got)

    got = bits_of(client.read_coils(0, 21, slave=1), 21)
    check(got == [a % 2 == 1 for a in range(1, 22)], "read 21 coils", got)
    pattern = [i % 5 == 0 for i in range(99)]
    response = client.write_coils(100, pattern, slave=1)
    check(not response.isError(), "write 99 coils", response)
    got = bits_of(client.read_coils(100, 99, slave=1), 99)
    check(got == pattern, "read back written coils", got)
    response = client.write_coil(0, False, slave=1)
    got = bits_of(client.read_coils(0, 1, slave=1), 1)
    check(not response.isError() and got == [False], "write single coil", got)
    got = bits_of(client.read_discrete_inputs(0, 9, slave=1), 9)
    check(got == [a % 3 == 0 for a in range(1, 10)], "read discrete inputs", got)

    response = client.read_holding_registers(990, 20, slave=1)
    check(response.isError() and getattr(response, "exception_code", None) == 2,
          "exception 2 for a refused read", response)
    response = client.read_holding_registers(0, 1, slave=2)
    check(response.isError() and not hasattr(response, "exception_code"), "no reply from slave 2",
          response)
    got = registers_of(client.read_holding_registers(0, 1, slave=1))
    check(got == [0x1001], "slave 1 answers again", got)

    client.close()
    print("all passed" if not failures else "some checks FAILED")
    return 0 if not failures else 1


if __name__ == "__main__":
    sys.exit(main())
