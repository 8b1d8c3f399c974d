"""pymodbus as master against tcp_interop_server.

Every function code the pymodbus client offers is sent and its reply checked
against the server's data model (see tcp_interop_server.c); refused ranges
must come back as Modbus exceptions. Usage: pymodbus_client.py <port> [kind]
with kind tcp (Modbus/TCP, the default), rtutcp (pymodbus's RTU framer on a
TCP connection) or udp (its UDP client).
Prints "N passed, M failed"; exits non-zero on any failure.
"""
import logging
import sys

from pymodbus.client import ModbusTcpClient, ModbusUdpClient
from pymodbus.file_message import FileRecord, ReadFileRecordRequest, WriteFileRecordRequest
from pymodbus.mei_message import ReadDeviceInformationRequest
from pymodbus.other_message import ReportSlaveIdRequest
from pymodbus.transaction import ModbusRtuFramer

UNIT = 1
ILLEGAL_FUNCTION = 1
ILLEGAL_DATA_ADDRESS = 2


class Suite:
    def __init__(self, client, kind="tcp"):
        self.client = client
        self.kind = kind
        self.passed = 0
        self.failed = 0

    def check(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAILED: {what}")

    def check_reply(self, reply, what):
        """A normal reply (not an exception, not a transport error)."""
        ok = reply is not None and not reply.isError()
        self.check(ok, f"{what}: {reply}")
        return ok

    def check_exception(self, reply, code, what):
        self.check(reply is not None and reply.isError() and
                   getattr(reply, "exception_code", None) == code, f"{what}: {reply}")

    def registers(self):
        c = self.client
        reply = c.read_holding_registers(0, 125, slave=UNIT)
        if self.check_reply(reply, "FC3 125 registers"):
            self.check(reply.registers == list(range(125)), "FC3 values")
        values = [(0x5000 + 11 * i) & 0xFFFF for i in range(123)]
        self.check_reply(c.write_registers(2000, values, slave=UNIT), "FC16 123 registers")
        reply = c.read_holding_registers(2000, 123, slave=UNIT)
        if self.check_reply(reply, "FC3 after FC16"):
            self.check(reply.registers == values, "FC16 round trip")
        self.check_reply(c.write_register(7, 0x1234, slave=UNIT), "FC6 write")
        self.check_reply(c.mask_write_register(7, 0x00F0, 0x0A05, unit=UNIT), "FC22 mask write")
        reply = c.read_holding_registers(7, 1, slave=UNIT)
        if self.check_reply(reply, "FC3 after FC22"):
            expected = (0x1234 & 0x00F0) | (0x0A05 & ~0x00F0 & 0xFFFF)
            self.check(reply.registers == [expected], f"FC22 round trip {reply.registers}")
        reply = c.readwrite_registers(read_address=300, read_count=4, write_address=301,
                                      write_registers=[9, 8], unit=UNIT)
        if self.check_reply(reply, "FC23"):
            self.check(reply.registers == [300, 9, 8, 303], f"FC23 values {reply.registers}")
        reply = c.read_input_registers(9875, 125, slave=UNIT)
        if self.check_reply(reply, "FC4 125 registers"):
            self.check(reply.registers == [(3 * a) & 0xFFFF for a in range(9875, 10000)],
                       "FC4 values")
        self.check_exception(c.read_holding_registers(9990, 11, slave=UNIT),
                             ILLEGAL_DATA_ADDRESS, "FC3 past the end")
        self.check_exception(c.write_registers(9999, [1, 2], slave=UNIT),
                             ILLEGAL_DATA_ADDRESS, "FC16 past the end")
        self.check_exception(c.read_input_registers(10000, 1, slave=UNIT),
                             ILLEGAL_DATA_ADDRESS, "FC4 past the end")

    def bits(self):
        c = self.client
        reply = c.read_coils(0, 2000, slave=UNIT)
        if self.check_reply(reply, "FC1 2000 coils"):
            self.check(reply.bits[:2000] == [a % 3 == 0 for a in range(2000)], "FC1 values")
        self.check_reply(c.write_coil(4000, True, slave=UNIT), "FC5 ON")
        self.check_reply(c.write_coil(4002, False, slave=UNIT), "FC5 OFF")
        pattern = [(a * 5) % 7 < 3 for a in range(1968)]
        self.check_reply(c.write_coils(5000, pattern, slave=UNIT), "FC15 1968 coils")
        reply = c.read_coils(5000, 1968, slave=UNIT)
        if self.check_reply(reply, "FC1 after FC15"):
            self.check(reply.bits[:1968] == pattern, "FC15 round trip")
        reply = c.read_coils(3999, 4, slave=UNIT)
        if self.check_reply(reply, "FC1 after FC5"):
            self.check(reply.bits[:4] == [True, True, False, False], f"FC5 round trip {reply.bits}")
        reply = c.read_discrete_inputs(1, 2000, slave=UNIT)
        if self.check_reply(reply, "FC2 2000 inputs"):
            self.check(reply.bits[:2000] == [a % 2 == 1 for a in range(1, 2001)], "FC2 values")
        self.check_exception(c.read_coils(10000, 1, slave=UNIT), ILLEGAL_DATA_ADDRESS,
                             "FC1 past the end")
        self.check_exception(c.write_coil(10000, True, slave=UNIT), ILLEGAL_DATA_ADDRESS,
                             "FC5 past the end")
        self.check_exception(c.read_discrete_inputs(9999, 2, slave=UNIT), ILLEGAL_DATA_ADDRESS,
                             "FC2 past the end")

    def others(self):
        c = self.client
        # Over RTU framing FC7 and FC17 are 4-byte frames.
        reply = c.read_exception_status(slave=UNIT)
        if self.check_reply(reply, "FC7"):
            self.check(reply.status == 0x5A, f"FC7 status {reply.status}")
        # pymodbus 3.0's RTU framer takes every FC8 reply for 8 bytes, so over
        # RTU framing the echo carries one word.
        echo = [0x1234] if self.kind == "rtutcp" else [0x1234, 0x5678]
        reply = c.diag_query_data(echo, slave=UNIT)
        if self.check_reply(reply, "FC8 query data"):
            self.check(list(reply.message) == echo, f"FC8 echo {reply.message}")
        reply = c.execute(ReportSlaveIdRequest(unit=UNIT))
        if self.check_reply(reply, "FC17"):
            # The byte count covers the id and the run indicator; pymodbus
            # 3.0 keeps both in `identifier`.
            self.check(reply.identifier == b"mbslave\xff" and reply.status,
                       f"FC17 id {reply.identifier} {reply.status}")
        reply = c.execute(ReadDeviceInformationRequest(read_code=1, object_id=0, unit=UNIT))
        if self.check_reply(reply, "FC43 basic"):
            self.check(reply.information == {0: b"mbslave", 1: b"interop-server", 2: b"2.11.0.0"},
                       f"FC43 objects {reply.information}")
        reply = c.execute(ReadDeviceInformationRequest(read_code=4, object_id=1, unit=UNIT))
        if self.check_reply(reply, "FC43 individual"):
            self.check(reply.information == {1: b"interop-server"}, f"FC43 one {reply.information}")
        self.check_exception(c.execute(ReadDeviceInformationRequest(read_code=4, object_id=9,
                                                                    unit=UNIT)),
                             ILLEGAL_DATA_ADDRESS, "FC43 missing object")
        data = bytes([0x12, 0x34, 0xAB, 0xCD, 0x00, 0x01])
        record = FileRecord(file_number=2, record_number=10, record_data=data)
        self.check_reply(c.execute(WriteFileRecordRequest(records=[record], unit=UNIT)), "FC21")
        reply = c.execute(ReadFileRecordRequest(
            records=[FileRecord(file_number=2, record_number=10, record_length=3),
                     FileRecord(file_number=2, record_number=11, record_length=1)], unit=UNIT))
        if self.check_reply(reply, "FC20"):
            self.check([r.record_data for r in reply.records] == [data, data[2:4]],
                       f"FC21/FC20 round trip {[r.record_data for r in reply.records]}")
        self.check_exception(c.execute(ReadFileRecordRequest(
            records=[FileRecord(file_number=9, record_number=0, record_length=1)], unit=UNIT)),
            ILLEGAL_DATA_ADDRESS, "FC20 unknown file")


def make_client(port, kind):
    if kind == "udp":
        return ModbusUdpClient("127.0.0.1", port=port, timeout=3, retries=0)
    if kind == "rtutcp":
        return ModbusTcpClient("127.0.0.1", port=port, framer=ModbusRtuFramer, timeout=3,
                               retries=0)
    return ModbusTcpClient("127.0.0.1", port=port, timeout=3, retries=0)


def main():
    logging.basicConfig(level=logging.CRITICAL)
    kind = sys.argv[2] if len(sys.argv) > 2 else "tcp"
    client = make_client(int(sys.argv[1]), kind)
    if not client.connect():
        print("FAILED: connect")
        return 1
    suite = Suite(client, kind)
    suite.registers()
    suite.bits()
    suite.others()
    reads = [client.read_holding_registers(42, 1, slave=UNIT) for _ in range(100)]
    suite.check(all(not r.isError() and r.registers == [42] for r in reads),
                "100 reads on one connection")
    client.close()
    print(f"pymodbus {kind}: {suite.passed} passed, {suite.failed} failed")
    return 0 if suite.failed == 0 and suite.passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
