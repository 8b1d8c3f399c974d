"""Benchmark baseline: pymodbus's asyncio servers with unit 1 holding 100
registers (register a = a), for the load generator.

Usage: /usr/bin/python3 bench/pymodbus_server.py <port> tcp|rtutcp|udp
(rtutcp: the TCP server with the RTU framer). Prints READY once bound and
serves until SIGTERM.
"""
import asyncio
import logging
import signal
import sys

from pymodbus.datastore import (ModbusSequentialDataBlock, ModbusServerContext,
                                ModbusSlaveContext)
from pymodbus.server import StartAsyncTcpServer, StartAsyncUdpServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer


async def serve(port, kind):
    # pymodbus adds 1 to the wire address unless zero_mode is set.
    block = ModbusSequentialDataBlock(0, list(range(100)))
    store = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={1: store}, single=False)
    address = ("127.0.0.1", port)
    if kind == "udp":
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
    if len(sys.argv) != 3 or sys.argv[2] not in ("tcp", "rtutcp", "udp"):
        sys.exit(__doc__)
    asyncio.run(serve(int(sys.argv[1]), sys.argv[2]))


if __name__ == "__main__":
    main()
