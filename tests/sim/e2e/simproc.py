"""Runs mbslave-sim as a child process and follows its output lines."""
import os
import queue
import re
import signal
import socket
import subprocess
import threading
import time


def free_port(kind=socket.SOCK_STREAM):
    """A loopback port that nobody uses right now."""
    with socket.socket(socket.AF_INET, kind) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Sim:
    """mbslave-sim with its stdout collected line by line."""

    def __init__(self, binary, arguments, preexec_fn=None):
        self.arguments = [binary] + arguments
        self.process = subprocess.Popen(
            self.arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, preexec_fn=preexec_fn)
        self.lines = []
        self._queue = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.stderr = ""

    def _read(self):
        for line in self.process.stdout:
            self._queue.put(line.rstrip("\n"))
        self._queue.put(None)

    def wait_for(self, pattern, timeout=10.0):
        """The first line (seen before or arriving) that matches pattern."""
        regex = re.compile(pattern)
        for line in self.lines:
            if regex.search(line):
                return line
        deadline = time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise AssertionError(f"no line matching {pattern!r}; output so far:\n"
                                     + "\n".join(self.lines))
            try:
                line = self._queue.get(timeout=remaining)
            except queue.Empty:
                continue
            if line is None:
                self.process.wait(timeout=5)
                raise AssertionError(f"mbslave-sim ended (exit {self.process.returncode}) without a line "
                                     f"matching {pattern!r}; output:\n" + "\n".join(self.lines)
                                     + "\nstderr:\n" + self.process.stderr.read())
            self.lines.append(line)
            if regex.search(line):
                return line

    def drain(self, seconds=0.5):
        """Collects the lines that arrive within the given time."""
        deadline = time.monotonic() + seconds
        while (remaining := deadline - time.monotonic()) > 0:
            try:
                line = self._queue.get(timeout=remaining)
            except queue.Empty:
                break
            if line is None:
                break
            self.lines.append(line)
        return self.lines

    def stop(self, sig=signal.SIGINT, timeout=10.0):
        """Sends the signal; returns the exit code once the output has ended."""
        self.process.send_signal(sig)
        return self.finish(timeout)

    def finish(self, timeout=10.0):
        self.process.wait(timeout=timeout)
        while True:
            line = self._queue.get(timeout=timeout)
            if line is None:
                break
            self.lines.append(line)
        self.stderr = self.process.stderr.read()
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


def run(binary, arguments, timeout=10.0):
    """Runs mbslave-sim to its end: (exit code, stdout, stderr)."""
    done = subprocess.run([binary] + arguments, capture_output=True, text=True, timeout=timeout)
    return done.returncode, done.stdout, done.stderr


class PtyBridge:
    """Two pseudo-terminals joined like a null-modem cable (the interop
    suites' tests/interop/pty_bridge.py, run as a child process): bytes
    written to one device arrive at the other."""

    SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "interop", "pty_bridge.py")

    def __init__(self):
        self._process = subprocess.Popen(["/usr/bin/python3", self.SCRIPT], stdout=subprocess.PIPE, text=True)
        words = self._process.stdout.readline().split()
        if len(words) != 3 or words[0] != "PTYS":
            self.close()
            raise AssertionError(f"pty bridge did not start: {words}")
        self.devices = words[1:]

    def close(self):
        if self._process.poll() is None:
            self._process.terminate()
            self._process.wait(timeout=5)
        self._process.stdout.close()
