"""pymodbus's TLS client as master against examples/tls_slave.

Usage: pymodbus_tls_client.py PKI_DIR PORT. With the "operator" certificate
it writes and reads back holding registers; with "monitor" it reads, and its
write comes back as exception 1 (illegal function). pymodbus 3.0's default TLS framer
sends the bare PDU, so the socket framer is passed: the MBAP header goes
inside TLS. Prints "N passed, M failed"; exits non-zero on any failure.
"""
import asyncio
import logging
import ssl
import sys

from pymodbus.client import AsyncModbusTlsClient
from pymodbus.transaction import ModbusSocketFramer

UNIT = 1
ILLEGAL_FUNCTION = 1


def context(pki, name):
    ctx = ssl.create_default_context(ssl.Purpose.SERVER_AUTH, cafile=f"{pki}/ca.pem")
    ctx.minimum_version = ssl.TLSVersion.TLSv1_2
    if name:
        ctx.load_cert_chain(f"{pki}/{name}.pem", f"{pki}/{name}.key")
    return ctx


async def session(pki, port, name):
    """The client's replies (write, read), None without connection, or the error."""
    client = AsyncModbusTlsClient("127.0.0.1", port=port, framer=ModbusSocketFramer,
                                  sslctx=context(pki, name), server_hostname="localhost",
                                  timeout=3, retries=0, reconnect_delay=0)
    try:
        await asyncio.wait_for(client.connect(), 5)
        if not client.connected:
            return None
        write = await client.write_registers(10, [0x1234, 0x5678], slave=UNIT)
        read = await client.read_holding_registers(10, 2, slave=UNIT)
        return write, read
    except Exception as exc:  # a refused handshake ends the connection
        return exc
    finally:
        await client.close()


def main():
    logging.basicConfig(level=logging.CRITICAL)
    pki, port = sys.argv[1], int(sys.argv[2])
    passed = failed = 0

    def check(ok, what):
        nonlocal passed, failed
        if ok:
            passed += 1
        else:
            failed += 1
            print(f"FAILED: {what}")

    result = asyncio.run(session(pki, port, "operator"))
    check(isinstance(result, tuple) and not result[0].isError(), f"operator writes: {result}")
    check(isinstance(result, tuple) and getattr(result[1], "registers", None) == [0x1234, 0x5678],
          f"operator reads back: {result}")

    result = asyncio.run(session(pki, port, "monitor"))
    check(isinstance(result, tuple) and result[0].isError() and
          getattr(result[0], "exception_code", None) == ILLEGAL_FUNCTION, f"monitor may not write: {result}")
    check(isinstance(result, tuple) and getattr(result[1], "registers", None) == [0x1234, 0x5678],
          f"monitor reads: {result}")

    print(f"{passed} passed, {failed} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
