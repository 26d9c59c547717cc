"""The command channel: a TCP server speaking one SCPI line per command.

Commands end in a line feed (a carriage return before it is tolerated);
replies end in a line feed. Bytes are taken as UTF-8 with undecodable bytes
kept as they are, so a name reaches the file system byte for byte, as it
does through FTP.
"""

import socket
import socketserver
import threading

MAX_LINE = 4096


def _decode(raw):
    return raw.decode("utf-8", "surrogateescape")


def _encode(text):
    return text.encode("utf-8", "surrogateescape")


class _Connection(socketserver.BaseRequestHandler):
    def setup(self):
        server = self.server
        with server.conn_lock:
            server.conn_count += 1
            self.number = server.conn_count
            server.open_sockets.add(self.request)
        self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        server.journal.record("cmd", self.number, "event", "connect",
                              peer="%s:%d" % self.client_address[:2])

    def finish(self):
        with self.server.conn_lock:
            self.server.open_sockets.discard(self.request)
        self.server.journal.record("cmd", self.number, "event", "disconnect")

    def handle(self):
        buffer, overlong = b"", False
        while True:
            try:
                chunk = self.request.recv(4096)
            except OSError:
                return
            if not chunk:
                return
            self._ack_quickly()
            buffer += chunk
            while True:
                end = buffer.find(b"\n")
                if end == -1:
                    break
                raw, buffer = buffer[:end], buffer[end + 1:]
                if overlong:
                    overlong = False  # the rest of a line already refused
                    continue
                if len(raw) > MAX_LINE:
                    self._refuse_long_line()
                    continue
                if not self._serve_line(raw):
                    return
            if len(buffer) > MAX_LINE:
                # A line that never ends must not grow without bound.
                self._refuse_long_line()
                buffer, overlong = b"", True

    def _refuse_long_line(self):
        self.server.instrument.push_error(-223, "Too much data")
        self.server.journal.record("cmd", self.number, "event",
                                   "line too long, dropped")

    def _ack_quickly(self):
        # Commands without a reply would otherwise be acknowledged only by
        # the delayed ACK (40 ms), and a client that writes its next small
        # command with Nagle on waits for that ACK: every command/error-query
        # pair would cost 40 ms. Linux turns quick ACKs off again by itself,
        # so it is set after every read.
        if hasattr(socket, "TCP_QUICKACK"):
            try:
                self.request.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
            except OSError:
                pass

    def _serve_line(self, raw):
        server = self.server
        line = _decode(raw)
        server.journal.record("cmd", self.number, "in", line)
        try:
            reply = server.instrument.execute(line)
        except Exception as err:  # a bug here must not end the session
            server.instrument.push_error(-300, "Device-specific error")
            server.journal.record("cmd", self.number, "event",
                                  "internal error: %r" % err)
            reply = None
        if reply is None:
            return True
        delay = server.instrument.faults.reply_delay
        if delay > 0 and server.stopping.wait(delay):
            return False
        server.journal.record("cmd", self.number, "out", reply)
        try:
            self.request.sendall(_encode(reply) + b"\n")
        except OSError:
            return False
        return True


class CommandServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, host, port, instrument, journal):
        self.instrument = instrument
        self.journal = journal
        self.conn_lock = threading.Lock()
        self.conn_count = 0
        self.open_sockets = set()
        self.stopping = threading.Event()
        super().__init__((host, port), _Connection)
        self._thread = None

    @property
    def port(self):
        return self.server_address[1]

    def start(self):
        self._thread = threading.Thread(target=self.serve_forever,
                                        kwargs={"poll_interval": 0.1},
                                        name="command-channel", daemon=True)
        self._thread.start()

    def stop(self):
        self.stopping.set()
        if self._thread is not None:
            self.shutdown()
            self._thread.join()
        with self.conn_lock:
            sockets = list(self.open_sockets)
        for sock in sockets:
            try:
                sock.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        self.server_close()
