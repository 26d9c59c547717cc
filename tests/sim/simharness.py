"""Starts the simulator for a test and talks to it the way vxUpgrade does.

Every wait here is bounded: reads time out after IO_TIMEOUT seconds, the
simulator's own life after its --max-seconds.
"""

import json
import os
import select
import signal
import socket
import subprocess
import tempfile
import time

PYTHON = "/usr/bin/python3"
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIM = os.path.join(REPO, "sim", "vx900sim")
IO_TIMEOUT = 10.0


class SimulatorError(Exception):
    pass


def parse_ready_line(line):
    """{"cmd": port, "ftp": port, "drive": folder} of a ready line."""
    if not line.startswith("ready "):
        raise SimulatorError("not a ready line: %r" % line)
    head, sep, drive = line.rstrip("\n").partition(" drive=")
    fields = dict(f.split("=", 1) for f in head.split(" ")[1:])
    if not sep or set(fields) != {"cmd", "ftp"}:
        raise SimulatorError("malformed ready line: %r" % line)
    return {"cmd": int(fields["cmd"]), "ftp": int(fields["ftp"]), "drive": drive}


class Simulator:
    """One simulator process on free loopback ports, with a transcript."""

    def __init__(self, *options, max_seconds=60, drive=None):
        self._tmp = tempfile.TemporaryDirectory(prefix="vx900sim-test-")
        self.log_path = os.path.join(self._tmp.name, "log.jsonl")
        command = [PYTHON, SIM, "--host", "127.0.0.1", "--cmd-port", "0",
                   "--ftp-port", "0", "--max-seconds", str(max_seconds),
                   "--log", self.log_path]
        if drive is not None:
            command += ["--drive", drive]
        command += list(options)
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, text=True)
        try:
            ready = parse_ready_line(self._read_stdout_line())
        except Exception:
            self.stop()
            raise
        self.cmd_port, self.ftp_port = ready["cmd"], ready["ftp"]
        self.drive = ready["drive"]
        self.root = os.path.join(self.drive, "F0:")

    def _read_stdout_line(self):
        ready, _, _ = select.select([self.process.stdout], [], [], IO_TIMEOUT)
        if not ready:
            raise SimulatorError("no ready line within %s s" % IO_TIMEOUT)
        line = self.process.stdout.readline()
        if not line:
            self.process.wait(IO_TIMEOUT)
            raise SimulatorError("simulator ended without a ready line: %s"
                                 % self.process.stderr.read())
        return line

    def stop(self, sig=signal.SIGTERM):
        """Stops the process; returns its exit status."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            status = self.process.wait(IO_TIMEOUT)
        except subprocess.TimeoutExpired:
            self.process.kill()
            status = self.process.wait(IO_TIMEOUT)
        self.process.stdout.close()
        self.process.stderr.close()
        return status

    def close(self):
        self.stop()
        self._tmp.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def transcript(self, chan=None, direction=None):
        with open(self.log_path, encoding="utf-8") as f:
            records = [json.loads(line) for line in f]
        return [r for r in records
                if (chan is None or r["chan"] == chan)
                and (direction is None or r["dir"] == direction)]

    def path(self, *names):
        return os.path.join(self.root, *names)

    def command_client(self):
        return CommandClient(self.cmd_port)

    def ftp_client(self, login=True):
        client = FtpClient(self.ftp_port)
        if login:
            client.login()
        return client


class CommandClient:
    """The command channel as vxUpgrade uses it: LF-terminated lines, one
    reply line per query, read up to and including the line feed."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=IO_TIMEOUT)
        self._buffer = b""

    def send(self, line):
        data = line if isinstance(line, bytes) else line.encode("latin-1")
        if not data.endswith(b"\n"):
            data += b"\n"
        self.sock.sendall(data)

    def read_reply(self):
        while b"\n" not in self._buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise SimulatorError("command channel closed; had %r" % self._buffer)
            self._buffer += chunk
        line, _, self._buffer = self._buffer.partition(b"\n")
        return line.decode("latin-1")

    def query(self, line):
        self.send(line)
        return self.read_reply()

    def ok(self, line):
        """Sends a command, then the error query; True when no error."""
        self.send(line)
        return self.query(":SYSTEM:ERR?").startswith("0")

    def close(self):
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


class FtpClient:
    """A small FTP client speaking exactly what vxUpgrade sends."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=IO_TIMEOUT)
        self._file = self.sock.makefile("rb")
        self.greeting = self.reply()

    def reply(self):
        """The first line of the next reply, after reading all of it."""
        first = self._line()
        line = first
        while line[3:4] == "-" or line.startswith(" "):
            line = self._line()
        return first

    def _line(self):
        raw = self._file.readline()
        if not raw:
            raise SimulatorError("FTP control connection closed")
        return raw.decode("utf-8", "surrogateescape").rstrip("\r\n")

    def command(self, line):
        self.sock.sendall(line.encode("utf-8", "surrogateescape") + b"\r\n")
        return self.reply()

    def login(self, user="kirosu", password="tovel4417"):
        reply = self.command("USER " + user)
        if reply.startswith("331"):
            reply = self.command("PASS " + password)
        if not reply.startswith("230"):
            raise SimulatorError("log-in refused: " + reply)
        return reply

    def listen(self):
        """A data listener and the PORT argument that announces it."""
        listener = socket.socket()
        listener.bind(("127.0.0.1", 0))
        listener.listen(1)
        port = listener.getsockname()[1]
        return listener, "127,0,0,1,%d,%d" % (port // 256, port % 256)

    def store(self, remote, data, passive=False):
        """Uploads bytes; returns (STOR reply, transfer-complete reply or
        None when the STOR was refused)."""
        if passive:
            reply = self.command("PASV")
            numbers = reply[reply.index("(") + 1:reply.index(")")].split(",")
            port = int(numbers[4]) * 256 + int(numbers[5])
            data_sock = socket.create_connection(("127.0.0.1", port), timeout=IO_TIMEOUT)
            listener = None
        else:
            listener, argument = self.listen()
            reply = self.command("PORT " + argument)
            if not reply.startswith("200"):
                listener.close()
                return reply, None
        try:
            reply = self.command("STOR " + remote)
            if not reply.startswith(("125", "150")):
                return reply, None
            if listener is not None:
                listener.settimeout(IO_TIMEOUT)
                data_sock, _ = listener.accept()
            data_sock.sendall(data)
            data_sock.close()
            return reply, self.reply()
        finally:
            if listener is not None:
                listener.close()

    def fetch(self, remote):
        """Downloads a file in active mode; returns (RETR reply, bytes,
        transfer-complete reply), the last two None when RETR was refused."""
        listener, argument = self.listen()
        try:
            self.command("PORT " + argument)
            reply = self.command("RETR " + remote)
            if not reply.startswith(("125", "150")):
                return reply, None, None
            listener.settimeout(IO_TIMEOUT)
            data_sock, _ = listener.accept()
            with data_sock:
                data_sock.settimeout(IO_TIMEOUT)
                data = b"".join(iter(lambda: data_sock.recv(65536), b""))
            return reply, data, self.reply()
        finally:
            listener.close()

    def quit(self):
        reply = self.command("QUIT")
        self.close()
        return reply

    def close(self):
        self._file.close()
        self.sock.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def wait_for(predicate, timeout=IO_TIMEOUT):
    """Polls a condition that another process makes true; bounded."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.01)
    return predicate()
