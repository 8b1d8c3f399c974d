#!/usr/bin/python3
"""mbslave-sim's web port flooded while a Modbus master and the page's own
edits go on, with the simulator held to 512 descriptors (soft and hard, so
that only its own bounds protect it):

  streams  200 event streams opened at once; the page's edits are timed
           while they stay open, and every one must be answered
  idle     1100 idle connections to the web port on top; a master's reads,
           each on a new connection as mbpoll makes them, are counted and
           every one must be answered

Everything is on loopback and bounded: 1300 sockets, a few seconds each.
Prints the figures. Exits with 77 (skipped) for a build without the web page.
Usage: sim_web_flood.py MBSLAVE_SIM
"""
import http.client
import json
import os
import resource
import select
import socket
import statistics
import struct
import sys
import time

from simproc import Sim, free_port

STREAMS = 200
IDLE = 1100
EDITS = 20
READS = 20
SIM_DESCRIPTORS = 512


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def edit(web_port, address, value):
    """Seconds the page's edit took, or None if it was not answered with 200."""
    started = time.monotonic()
    connection = http.client.HTTPConnection("127.0.0.1", web_port, timeout=5)
    try:
        # The value in the query too: the baseline (main) read it only there.
        connection.request("POST", f"/api/units/1/holding/{address}?value={value}", body=json.dumps({"value": value}),
                           headers={"Content-Type": "application/json", "X-Mbslave-Sim": "edit"})
        ok = connection.getresponse().status == 200
    except OSError:
        ok = False
    finally:
        connection.close()
    return time.monotonic() - started if ok else None


def open_streams(web_port, count):
    """Sockets that ask for the event stream as a browser does (keep-alive)."""
    request = (f"GET /api/units/1/events?start=0&count=50 HTTP/1.1\r\nHost: 127.0.0.1:{web_port}\r\n"
               "Accept: text/event-stream\r\n\r\n").encode()
    sockets = []
    for _ in range(count):
        stream = socket.socket()
        stream.setblocking(False)
        stream.connect_ex(("127.0.0.1", web_port))
        sockets.append([stream, request, b""])
    return sockets


def pump(streams, seconds):
    """Sends the requests and collects the replies' starts for a while; the
    status codes seen so far (0: none yet)."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        writers = [s for s, pending, _ in streams if pending]
        readers = [s for s, _, _ in streams]
        readable, writable, _ = select.select(readers, writers, [], 0.05)
        for entry in streams:
            stream = entry[0]
            if stream in writable:
                try:
                    entry[1] = entry[1][stream.send(entry[1]):]
                except OSError:
                    pass
            if stream in readable:
                try:
                    data = stream.recv(4096)
                except OSError:
                    data = b""
                if len(entry[2]) < 64:
                    entry[2] += data
    return [int(reply.split(b" ")[1]) if reply.startswith(b"HTTP/1.1 ") else 0 for _, _, reply in streams]


def is_connected(connection):
    try:
        connection.getpeername()
        return True
    except OSError:
        return False


def open_idle(web_port, count, batch=50, wait=0.25):
    """Connections that send nothing, opened in batches as fast as the web
    port accepts them (each batch waits up to `wait` s for its handshakes)."""
    connections = []
    while len(connections) < count:
        poller = select.poll()
        for _ in range(min(batch, count - len(connections))):
            connection = socket.socket()
            connection.setblocking(False)
            connection.connect_ex(("127.0.0.1", web_port))
            connections.append(connection)
            poller.register(connection, select.POLLOUT)
        pending = min(batch, count)
        deadline = time.monotonic() + wait
        while pending > 0 and time.monotonic() < deadline:
            pending -= len(poller.poll(max(1, int((deadline - time.monotonic()) * 1000))))
    return connections


def read_as_mbpoll(port, address):
    """One read of a holding register on a new connection; True if it was
    answered. Raw Modbus/TCP: this process holds descriptors above 1024,
    which select(), as Python Modbus clients use it, cannot wait for."""
    request = struct.pack(">HHHBBHH", address, 0, 6, 1, 3, address, 1)
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=3) as master:
            master.sendall(request)
            reply = b""
            while len(reply) < 11:
                data = master.recv(11 - len(reply))
                if not data:
                    return False
                reply += data
        return reply[:2] == request[:2] and reply[7] == 3
    except OSError:
        return False


def main():
    binary = sys.argv[1]
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = STREAMS + IDLE + 200
    check(hard == resource.RLIM_INFINITY or hard >= wanted, f"this test needs {wanted} descriptors, hard limit {hard}")
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, wanted), hard))

    port, web_port = free_port(), free_port()
    limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (SIM_DESCRIPTORS, SIM_DESCRIPTORS))
    sim = Sim(binary, ["tcp", "--port", str(port), "--web", str(web_port), "--quiet"], preexec_fn=limit)
    idle = []
    streams = []
    try:
        try:
            sim.wait_for(r"web page on")
        except AssertionError as error:
            if "has no web page" in str(error):
                print("this build has no web page: skipped")
                sys.exit(77)
            raise
        quiet = [edit(web_port, 5, n) for n in range(EDITS)]
        check(None not in quiet, f"edits without a flood: {quiet}")

        streams = open_streams(web_port, STREAMS)
        statuses = pump(streams, 3.0)
        answered_streams = statuses.count(200)
        edits = []
        for n in range(EDITS):
            edits.append(edit(web_port, 6, n))
            pump(streams, 0.05)
        statuses = pump(streams, 0.5)
        print(f"{STREAMS} event streams asked for: {statuses.count(200)} open, {statuses.count(503)} refused (503), "
              f"{statuses.count(0)} without an answer yet")
        done = [t for t in edits if t is not None]
        print(f"page edits: without streams median {statistics.median(quiet) * 1000:.1f} ms, max "
              f"{max(quiet) * 1000:.1f} ms; with the streams open {len(done)} of {EDITS} answered, "
              + (f"median {statistics.median(done) * 1000:.1f} ms, max {max(done) * 1000:.1f} ms" if done else ""))

        idle = open_idle(web_port, IDLE)
        connected = sum(connection.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) == 0 and is_connected(connection)
                        for connection in idle)
        print(f"{IDLE} idle web connections asked for: {connected} connected")
        answered = sum(read_as_mbpoll(port, n % 10) for n in range(READS))
        descriptors = len(os.listdir(f"/proc/{sim.process.pid}/fd"))
        print(f"Modbus reads on new connections with {IDLE} idle web connections and the streams open: "
              f"{answered} of {READS} answered; the simulator holds {descriptors} descriptors")
        check(answered_streams > 0, "no event stream was opened")
        check(len(done) == EDITS, f"{EDITS - len(done)} of {EDITS} edits not answered with {STREAMS} streams open")
        check(answered == READS, f"{READS - answered} of {READS} Modbus reads failed during the web flood")
        for connection in idle + [s for s, _, _ in streams]:
            connection.close()
        idle, streams = [], []
        check(sim.stop(timeout=15) == 0, "the simulator stops cleanly after the flood")
    finally:
        for connection in idle + [s for s, _, _ in streams]:
            connection.close()
        sim.kill()
    print("sim web flood: ok")


if __name__ == "__main__":
    main()
