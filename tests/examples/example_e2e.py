#!/usr/bin/python3
"""Runs an example program and talks to it with pymodbus.

Usage: example_e2e.py tcp|rtu PROGRAM
"""
import logging
import os
import re
import signal
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sim", "e2e"))
from simproc import PtyBridge, Sim, free_port  # noqa: E402

logging.disable(logging.CRITICAL)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def exercise(client):
    """Writes and reads back holding registers; a read past register 99 is refused."""
    check(not client.write_registers(10, [1, 2, 3], slave=1).isError(), "write registers")
    regs = client.read_holding_registers(9, 5, slave=1).registers
    check(regs == [0, 1, 2, 3, 0], f"read back {regs}")
    refused = client.read_holding_registers(99, 2, slave=1)
    check(refused.isError() and refused.exception_code == 2, f"past the last register: {refused}")


def run_tcp(program):
    from pymodbus.client import ModbusTcpClient
    port = free_port()
    example = Sim(program, [str(port)])
    try:
        example.wait_for(r"Modbus/TCP slave on 127\.0\.0\.1:%d" % port)
        client = ModbusTcpClient("127.0.0.1", port=port, timeout=1)
        check(client.connect(), "connect")
        exercise(client)
        client.close()
        example.wait_for(r"127\.0\.0\.1 wrote 3 register\(s\) from address 10")
        check(example.stop(signal.SIGINT) == 0, "exit code after SIGINT")
        example.wait_for(r"^served 3 requests$")
    finally:
        example.kill()


def run_rtu(program):
    from pymodbus.client import ModbusSerialClient
    from pymodbus.framer.rtu_framer import ModbusRtuFramer
    bridge = PtyBridge()
    example_end, master_end = bridge.devices
    # Pseudo-terminals here refuse parity bits: 8N1 on both ends.
    example = Sim(program, [example_end, "38400", "N"])
    try:
        example.wait_for(r"Modbus RTU slave on " + example_end)
        client = ModbusSerialClient(master_end, framer=ModbusRtuFramer, baudrate=38400, parity="N", timeout=1)
        check(client.connect(), "open the master's end")
        exercise(client)
        counter = client.read_input_registers(0, 1, slave=1).registers
        check(counter == [3], f"input register 0 counts the requests served before: {counter}")
        client.close()
        example.wait_for(r": unit 1 wrote 3 register\(s\) from address 10")
        check(example.stop(signal.SIGINT) == 0, "exit code after SIGINT")
        example.wait_for(r"^served 4 requests$")
    finally:
        example.kill()
        bridge.close()


def main():
    kind, program = sys.argv[1], sys.argv[2]
    {"tcp": run_tcp, "rtu": run_rtu}[kind](program)
    print(f"example {kind}: ok")


if __name__ == "__main__":
    main()
