"""The command channel: a TCP server speaking one SCPI line per command.

Commands end in a line feed (a carriage return before it is tolerated);
replies end in a line feed. Bytes are taken as UTF-8 with undecodable bytes
kept as they are, so a name reaches the file system byte for byte, as it
does through FTP.

It runs on the FTP server's I/O loop, in the one thread that serves both
channels: events are handled in the order they arrive, so the transcript
shows a client's steps in the order it took them (a closed connection
before the commands of the next one, a command before the upload after it).
"""

from pyftpdlib.ioloop import Acceptor, AsyncChat

from .delayed_output import DelayedOutput

MAX_LINE = 4096


def _decode(raw):
    return raw.decode("utf-8", "surrogateescape")


def _encode(text):
    return text.encode("utf-8", "surrogateescape")


class _Connection(DelayedOutput, AsyncChat):
    def __init__(self, sock, server, number):
        super().__init__(sock, ioloop=server.ioloop)
        self.server = server
        self.number = number
        self.set_terminator(b"\n")
        self._line = []
        self._length = 0
        self._overlong = False

    def _record(self, direction, text, **extra):
        self.server.journal.record("cmd", self.number, direction, text, **extra)

    # --- input -----------------------------------------------------------

    def collect_incoming_data(self, data):
        if self._overlong:
            return
        self._length += len(data)
        if self._length > MAX_LINE:
            # A line that never ends must not grow without bound.
            self._refuse_long_line()
            self._overlong = True
            return
        self._line.append(data)

    def found_terminator(self):
        raw = b"".join(self._line)
        overlong = self._overlong
        self._line, self._length, self._overlong = [], 0, False
        if not overlong:
            self._serve_line(raw)

    def _refuse_long_line(self):
        self._line, self._length = [], 0
        self.server.instrument.push_error(-223, "Too much data")
        self._record("event", "line too long, dropped")

    def _serve_line(self, raw):
        instrument = self.server.instrument
        line = _decode(raw)
        self._record("in", line)
        try:
            reply = instrument.execute(line)
        except Exception as err:  # a bug here must not end the session
            instrument.push_error(-300, "Device-specific error")
            self._record("event", "internal error: %r" % err)
            reply = None
        if reply is not None:
            self._later(lambda: self._send(reply))

    # --- output ----------------------------------------------------------

    def _send(self, reply):
        self._record("out", reply)
        self.push(_encode(reply) + b"\n")

    def _reply_delay(self):
        faults = self.server.instrument.faults
        return faults.reply_delay + faults.latency

    # --- end -------------------------------------------------------------

    def handle_close(self):
        self.close()

    def handle_error(self):
        self._record("event", "socket error")
        self.close()

    def close(self):
        if not self._closed:
            self._record("event", "disconnect")
        super().close()


class CommandServer(Acceptor):
    def __init__(self, host, port, instrument, journal, ioloop):
        super().__init__(ioloop=ioloop)
        self.instrument = instrument
        self.journal = journal
        self.count = 0
        self.bind_af_unspecified((host, port))
        self.listen(16)

    @property
    def port(self):
        return self.socket.getsockname()[1]

    def handle_accepted(self, sock, addr):
        self.count += 1
        self.journal.record("cmd", self.count, "event", "connect",
                            peer="%s:%d" % addr[:2])
        _Connection(sock, self, self.count)
