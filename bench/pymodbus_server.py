"""Benchmark baseline: pymodbus's asyncio servers with unit 1 holding 100
registers (register a = a), for the load generator.

Usage: /usr/bin/python3 bench/pymodbus_server.py <port> tcp|rtutcp|udp|tls [PKI_DIR]
(rtutcp: the TCP server with the RTU framer; tls: the TLS server with the
socket framer, so that the MBAP header goes inside TLS as Modbus/TCP
Security has it, requiring client certificates of the PKI's CA). Prints
READY once bound and serves until SIGTERM.
"""
import asyncio
import logging
import signal
import ssl
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartAsyncTcpServer, StartAsyncTlsServer, StartAsyncUdpServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer


def tls_context(pki):
    """Server certificate, TLS 1.2 at least, client certificates of the CA required."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(f"{pki}/server.pem", f"{pki}/server.key")
    context.load_verify_locations(f"{pki}/ca.pem")
    context.verify_mode = ssl.CERT_REQUIRED
    return context


async def serve(port, kind, pki=None):
    # pymodbus adds 1 to the wire address unless zero_mode is set.
    block = ModbusSequentialDataBlock(0, list(range(100)))
    store = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={1: store}, single=False)
    address = ("127.0.0.1", port)
    if kind == "tls":
        server = await StartAsyncTlsServer(context=context, address=address, defer_start=True,
                                           framer=ModbusSocketFramer, sslctx=tls_context(pki),
                                           allow_reuse_address=True)
    elif kind == "udp":
        server = await StartAsyncUdpServer(context=context, address=address, defer_start=True,
                                           framer=ModbusSocketFramer)
    else:
        framer = ModbusRtuFramer if kind == "rtutcp" else ModbusSocketFramer
        server = await StartAsyncTcpServer(context=context, address=address, defer_start=True,
                                           framer=framer, allow_reuse_address=True)
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    print("READY", flush=True)
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    await stop.wait()
    task.cancel()


def main():
    logging.basicConfig(level=logging.CRITICAL)
    # pymodbus logs every cancelled connection handler at shutdown.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL + 1)
    tls = len(sys.argv) == 4 and sys.argv[2] == "tls"
    if not tls and (len(sys.argv) != 3 or sys.argv[2] not in ("tcp", "rtutcp", "udp")):
        sys.exit(__doc__)
    asyncio.run(serve(int(sys.argv[1]), sys.argv[2], sys.argv[3] if tls else None))


if __name__ == "__main__":
    main()
