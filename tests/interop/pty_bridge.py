#!/usr/bin/python3
"""Two pseudo-terminals joined like the two ends of a serial cable.

Prints "PTYS <server end> <master end>" once both exist, then copies every
byte written to one end to the other until SIGTERM or SIGINT (at most 300 s).
Both terminal ends stay open here in raw mode, so that the programs on them
may open and close their end as often as they like.
"""
import os
import select
import signal
import sys
import time
import tty

LIFETIME_S = 300


def main():
    pairs = [os.openpty(), os.openpty()]
    for _, terminal in pairs:
        tty.setraw(terminal)
    names = [os.ttyname(terminal) for _, terminal in pairs]
    print("PTYS %s %s" % (names[0], names[1]), flush=True)

    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(True))
    signal.signal(signal.SIGINT, lambda *_: stop.append(True))
    masters = [master for master, _ in pairs]
    other = {masters[0]: masters[1], masters[1]: masters[0]}
    deadline = time.monotonic() + LIFETIME_S
    while not stop and time.monotonic() < deadline:
        try:
            readable, _, _ = select.select(masters, [], [], 0.1)
        except InterruptedError:
            continue
        for master in readable:
            try:
                data = os.read(master, 4096)
            except OSError:  # nobody has the terminal end open right now
                continue
            # A master's frame may reach us in pieces when the machine is
            # busy; gather what follows within a millisecond so the slave
            # sees the frame in one piece, as a real line would deliver it.
            while data and select.select([master], [], [], 0.001)[0]:
                try:
                    more = os.read(master, 4096)
                except OSError:
                    break
                if not more:
                    break
                data += more
            if data:
                os.write(other[master], data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
