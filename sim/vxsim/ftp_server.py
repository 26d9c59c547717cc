"""The instrument's FTP server: pyftpdlib with the instrument's habits.

What differs from a stock pyftpdlib server, and why:
- Uploads are stored byte for byte also in TYPE A: the instrument keeps its
  text files with CR LF line ends, so converting them would corrupt them.
- In active mode the data connection is opened after the transfer command
  (STOR, RETR, LIST...) has been answered with 150, as most servers do, not
  already when PORT arrives.
- Writes (STOR, MKD, DELE, RMD) are allowed only below "/F0:", the one drive.
- An upload is written to a staging file and moved into place when it is
  complete; a failed upload (capacity, broken data connection, injected
  fault) leaves the drive as it was.
- The faults of the command line are played here: refused or failed STORs,
  files stored short under a 226, refused or short RETRs, refused DELEs,
  no SIZE, a dropped control connection (between files, or in the middle
  of one), a data connection that never comes, a limit on the FTP
  connections open at once, and delayed replies.
- With --hash the server offers HASH (SHA-256 only, computed from the
  stored file), as newer instrument firmware does; its faults lie about
  the digest, garble it, or refuse every HASH.
- With --latency every reply, and the opening of an active data connection,
  is held back as a lab network would hold it.
"""

import hashlib
import logging
import os
import socket
import tempfile

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import (ActiveDTP, BufferedIteratorProducer, DTPHandler, FileProducer,
                                FTPHandler, proto_cmds)
from pyftpdlib.ioloop import AsyncChat, Select
from pyftpdlib.servers import FTPServer

from .delayed_output import DelayedOutput
from .drive import bad_name_char
from .journal import mask_password

USER = "kirosu"
PASSWORD = "tovel4417"

# No resuming or appending: the staging of uploads covers whole files only.
_COMMANDS = {k: v for k, v in proto_cmds.items()
             if k not in ("APPE", "STOU", "REST")}


class StagedUpload:
    """The file object an upload writes to: a staging file that becomes the
    target only by commit(); closing it otherwise throws it away."""

    def __init__(self, drive, parts, number, budget):
        self.drive = drive
        self.parts = parts
        self.number = number
        self.budget = budget
        self.written = 0
        self.overflow = False
        self.committed = False
        self.target = drive.host_path(parts)
        fd, self.staging = tempfile.mkstemp(dir=drive.staging)
        self._file = os.fdopen(fd, "wb")

    @property
    def name(self):
        return self.target

    @property
    def closed(self):
        return self._file.closed

    @property
    def instrument_path(self):
        return self.drive.instrument_path(self.parts)

    def write(self, data):
        if self.written + len(data) > self.budget:
            self.overflow = True
            raise OSError(28, "No space left on device")
        self._file.write(data)
        self.written += len(data)

    def drop_tail(self, count):
        """Loses the last `count` bytes received, as a faulty store would."""
        self._file.flush()
        self.written = max(0, self.written - count)
        self._file.truncate(self.written)

    def commit(self):
        self._file.close()
        os.replace(self.staging, self.target)
        self.committed = True

    def close(self):
        if not self._file.closed:
            self._file.close()
        if not self.committed:
            try:
                os.unlink(self.staging)
            except FileNotFoundError:
                pass


class SimDTPHandler(DTPHandler):
    def enable_receiving(self, type, cmd):
        # Byte for byte whatever the transfer type (see the module notes).
        super().enable_receiving("i", cmd)

    def handle_read(self):
        super().handle_read()
        upload = self.file_obj
        nth = self.cmd_channel.instrument.faults.drop_mid_file
        # The first bytes are in, the end of the file is not: a session
        # lost half-way through a file, both of its connections with it.
        if (isinstance(upload, StagedUpload) and nth == upload.number and upload.written
                and not self.transfer_finished and not self._closed):
            self.cmd_channel.journal_event("drop mid-file", path=upload.instrument_path)
            self.cmd_channel.close()

    # pyftpdlib reads through this alias of handle_read, not through it.
    handle_read_event = handle_read

    def close(self):
        if not self._closed and isinstance(self.file_obj, StagedUpload):
            self._resp = self.cmd_channel.finish_store(
                self.file_obj, self.transfer_finished, self._resp)
        super().close()
        self.cmd_channel.drop_if_due()


class LateActiveDTP(ActiveDTP):
    """Active-mode connection opened after the 150 reply: it answers
    nothing when it connects, and a failure is a 425 for the transfer."""

    def handle_connect(self):
        self.del_channel()
        # The socket is the data handler's from here on. Closing this
        # connector later (the next PORT does) must not take its number
        # off the I/O loop again: by then the number may belong to another
        # client's connection, which would never be read again.
        self._fileno = None
        if self.cmd_channel._dtp_connector is self:
            self.cmd_channel._dtp_connector = None
        if self._idler is not None and not self._idler.cancelled:
            self._idler.cancel()
        if not self.cmd_channel.connected:
            return self.close()
        err = self.socket.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR)
        if err != 0:
            raise socket.error(err)
        self.cmd_channel.journal_event("data connection open")
        handler = self.cmd_channel.dtp_handler(self.socket, self.cmd_channel)
        self.cmd_channel.data_channel = handler
        self.cmd_channel._on_dtp_connection()

    def _fail(self):
        if not self._closed:
            self.close()
            if self.cmd_channel.connected:
                self.cmd_channel.abandon_queued_transfer()
                self.cmd_channel.respond("425 Can't open data connection.")

    def handle_close(self):
        self._fail()

    def handle_timeout(self):
        self._fail()


class SimFTPHandler(DelayedOutput, FTPHandler):
    # Set per server by make_ftp_server().
    instrument = None
    journal = None
    counter = None
    hash_feats = []

    proto_cmds = _COMMANDS
    dtp_handler = SimDTPHandler
    banner = "VX900 FTP server ready."
    auth_failed_timeout = 0
    unicode_errors = "surrogateescape"

    def __init__(self, conn, server, ioloop=None):
        self._pending_port = None
        self._drop_due = False
        self.counter[0] += 1
        self.number = self.counter[0]
        super().__init__(conn, server, ioloop)
        self._extra_feats = list(self.hash_feats)

    # --- transcript and delayed replies ----------------------------------

    def journal_event(self, text, **extra):
        self.journal.record("ftp", self.number, "event", text, **extra)

    def on_connect(self):
        self.journal_event("connect", peer="%s:%s" % (self.remote_ip, self.remote_port))

    def handle(self):
        # --max-sessions: as a server configured with a per-client limit,
        # the connection past the limit hears 421 instead of the greeting.
        limit = self.instrument.faults.max_sessions
        if limit is not None and self.instrument.ftp_sessions_open >= limit:
            self.on_connect()
            self.journal_event("refused: too many connections")
            self.respond("421 Too many connections. Service temporarily unavailable.")
            self.close_when_done()
            return
        self.instrument.ftp_sessions_open += 1
        self._counted = True
        super().handle()

    def close(self):
        if getattr(self, "_counted", False):
            self._counted = False
            self.instrument.ftp_sessions_open -= 1
        super().close()

    def on_disconnect(self):
        self.journal_event("disconnect")

    def pre_process_command(self, line, cmd, arg):
        self.journal.record("ftp", self.number, "in", mask_password(line))
        super().pre_process_command(line, cmd, arg)

    def _send_now(self, data):
        for line in data.decode("utf-8", "surrogateescape").split("\r\n")[:-1]:
            self.journal.record("ftp", self.number, "out", line)
        AsyncChat.push(self, data)

    def push(self, s):
        data = s.encode("utf-8", "surrogateescape")
        self._later(lambda: self._send_now(data))

    def close_when_done(self):
        self._later(lambda: AsyncChat.close_when_done(self))

    def _reply_delay(self):
        faults = self.instrument.faults
        return faults.reply_delay + faults.latency

    # --- log-in and dropping ---------------------------------------------

    def handle_auth_success(self, home, password, msg_login):
        super().handle_auth_success(home, password, msg_login)
        limit = self.instrument.faults.drop_after_files
        if limit is not None and self.instrument.files_stored >= limit:
            self._drop_due = True
            self.drop_if_due()

    def drop_if_due(self):
        if self._drop_due and not self._closed:
            self._drop_due = False
            self.journal_event("drop")
            self.close_when_done()

    # --- data connections ------------------------------------------------

    def _make_eport(self, ip, port):
        remote_ip = self.remote_ip
        if remote_ip.startswith("::ffff:"):
            remote_ip = remote_ip[7:]
        # Same guards as any careful server: no bouncing to third hosts,
        # no privileged ports.
        if ip != remote_ip:
            self.respond("501 Rejected data connection to foreign address %s:%s."
                         % (ip, port))
            return
        if port < 1024:
            self.respond('501 PORT against the privileged port "%s" refused.' % port)
            return
        self._shutdown_connecting_dtp()
        if self.data_channel is not None:
            self.data_channel.close()
            self.data_channel = None
        self._pending_port = (ip, port)
        self.respond("200 PORT command successful.")

    def _make_epasv(self, extmode=False):
        self._pending_port = None
        super()._make_epasv(extmode)

    def flush_account(self):
        self._pending_port = None
        super().flush_account()

    def _has_data_route(self):
        return (self.data_channel is not None or self._dtp_acceptor is not None
                or self._pending_port is not None)

    def _connect_late_port(self):
        if self._pending_port is None:
            return
        ip, port = self._pending_port
        self._pending_port = None
        if self.instrument.faults.no_data_connection:
            self.journal_event("data connection withheld")
            return
        latency = self.instrument.faults.latency
        if latency > 0:
            self._later(lambda: self._open_late_port(ip, port), latency)
        else:
            self._open_late_port(ip, port)

    def _open_late_port(self, ip, port):
        # Under latency the transfer may have been given up meanwhile.
        if self._in_dtp_queue is None and self._out_dtp_queue is None:
            return
        self._dtp_connector = LateActiveDTP(ip, port, self)

    def abandon_queued_transfer(self):
        if self._in_dtp_queue is not None:
            self._in_dtp_queue[0].close()
            self._in_dtp_queue = None
        if self._out_dtp_queue is not None:
            queued_file = self._out_dtp_queue[2]
            if queued_file is not None:
                queued_file.close()
            self._out_dtp_queue = None

    def _after_transfer_command(self):
        if self._in_dtp_queue is not None or self._out_dtp_queue is not None:
            self._connect_late_port()

    def _quit_in_time(self, line):
        delay = self.instrument.faults.quit_delay
        if delay <= 0:
            return super().ftp_QUIT(line)
        # A slow instrument: the goodbye, and the close after it, come late;
        # the connection stays open and keeps reading meanwhile.
        quit_now = super().ftp_QUIT
        self.journal_event("quit held back")
        self.call_later(delay, lambda: None if self._closed else quit_now(line))

    def ftp_RETR(self, file):
        instrument = self.instrument
        instrument.retr_count += 1
        refusal = _applies(instrument.faults.retr_refuse, instrument.retr_count)
        if refusal is not None:
            self.respond("%d Requested action not taken." % refusal)
            return None
        short = _applies(instrument.faults.retr_short, instrument.retr_count)
        # Files go out as stored, whatever the transfer type.
        saved, self._current_type = self._current_type, "i"
        try:
            if short is not None and os.path.isfile(file):
                self._retr_short(file, short)
            else:
                super().ftp_RETR(file)
        finally:
            self._current_type = saved
        self._after_transfer_command()
        return file

    def _retr_short(self, file, count):
        """Sends the file `count` bytes short and still answers 226, as a
        faulty server would."""
        with open(file, "rb") as stored:
            data = stored.read()
        copy = tempfile.TemporaryFile()
        copy.write(data[:max(0, len(data) - count)])
        copy.seek(0)
        self.journal_event("sent short on purpose", path=self.fs.fs2ftp(file))
        self.push_dtp_data(FileProducer(copy, "i"), isproducer=True, file=copy, cmd="RETR")

    def ftp_DELE(self, path):
        instrument = self.instrument
        instrument.dele_count += 1
        if self._drive_parts(path) is None or not os.path.isfile(path):
            self.respond("550 No such file.")
            return None
        refusal = _applies(instrument.faults.dele_refuse, instrument.dele_count)
        if refusal is not None:
            self.respond("%d Requested action not taken." % refusal)
            return None
        result = super().ftp_DELE(path)
        if result is not None:
            self.journal_event("removed", path=self.fs.fs2ftp(path))
        return result

    def ftp_RMD(self, path):
        # A folder made below the drive may go again (pyftpdlib answers 550
        # for one that is not empty); the drive and its SYSTEM folder are
        # the instrument's own and never go.
        parts = self._drive_parts(path)
        if parts is None or parts == ["SYSTEM"] or not os.path.isdir(path):
            self.respond("550 Requested action not taken.")
            return None
        result = super().ftp_RMD(path)
        if result is not None:
            self.journal_event("removed folder", path=self.fs.fs2ftp(path))
        return result

    def ftp_LIST(self, path):
        super().ftp_LIST(path)
        self._after_transfer_command()

    def ftp_NLST(self, path):
        super().ftp_NLST(path)
        self._after_transfer_command()

    def ftp_SIZE(self, path):
        faults = self.instrument.faults
        if faults.no_size:
            self.respond("502 Command not implemented.")
            return
        if faults.size_reply is not None:
            self.respond("%d SIZE not available." % faults.size_reply)
            return
        super().ftp_SIZE(path)

    def ftp_MLSD(self, path):
        fault = self.instrument.faults.mlsd_fault
        if fault is None or not self.fs.isdir(path):
            return self._mlsd_then_connect(path)
        try:
            listing = self.run_as_current_user(self.fs.listdir, path)
        except OSError as err:
            self.respond("550 %s." % err.strerror)
            return None
        perms = self.authorizer.get_perms(self.username)
        lines = self.fs.format_mlsx(path, listing, perms, self._current_facts)
        producer = BufferedIteratorProducer(_faulty_listing(lines, *fault))
        self.push_dtp_data(producer, isproducer=True, cmd="MLSD")
        self._after_transfer_command()
        return path

    def _mlsd_then_connect(self, path):
        result = super().ftp_MLSD(path)
        self._after_transfer_command()
        return result

    def ftp_OPTS(self, line):
        cmd, _, arg = line.partition(" ")
        if cmd.upper() != "HASH" or "HASH" not in self.proto_cmds:
            return super().ftp_OPTS(line)
        # SHA-256 is the only algorithm, and always the selected one.
        if arg.strip().upper() in ("", "SHA-256"):
            self.respond("200 SHA-256")
        else:
            self.respond("501 Unknown algorithm, current selection not changed.")
        return None

    def ftp_HASH(self, path):
        kind = self.instrument.faults.hash
        line = self.fs.fs2ftp(path)
        if kind == "refuse":
            self.respond("550 HASH not available for %s." % line)
            return None
        if not self.fs.isfile(self.fs.realpath(path)):
            self.respond("550 %s is not retrievable." % line)
            return None
        digest = hashlib.sha256()
        try:
            with open(path, "rb") as stored:
                for block in iter(lambda: stored.read(1 << 20), b""):
                    digest.update(block)
                size = stored.tell()
        except OSError as err:
            self.respond("550 %s." % err.strerror)
            return None
        if kind == "lie":
            digest.update(b"\0")
        hex_digest = digest.hexdigest()
        if kind == "garbled":
            hex_digest = hex_digest[:-1] + "g"
        self.respond("213 SHA-256 0-%d %s %s" % (max(size - 1, 0), hex_digest, line))
        return None

    def ftp_QUIT(self, line):
        if self.instrument.restart is not None:
            self.instrument.restart.quit_seen()
        code = self.instrument.faults.quit_reply
        if code is None:
            return self._quit_in_time(line)
        self.respond("%d Not logged out cleanly." % code)
        self.close_when_done()
        return None

    # --- writing ---------------------------------------------------------

    def _drive_parts(self, host_path):
        """Names below "F0:" of a host path that may be written, or None."""
        parts = self.instrument.drive.parts_of_host_path(host_path)
        if not parts or bad_name_char(parts[-1]):
            return None
        return parts

    def ftp_MKD(self, path):
        if self._drive_parts(path) is None:
            self.respond("553 Requested action not taken. File name not allowed.")
            return None
        return super().ftp_MKD(path)

    def ftp_STOR(self, file, mode="w"):
        instrument = self.instrument
        instrument.stor_count += 1
        number = instrument.stor_count
        parts = self._drive_parts(file)
        if parts is None:
            self.respond("553 Requested action not taken. File name not allowed.")
            return None
        if not os.path.isdir(os.path.dirname(file)):
            self.respond("550 No such file or directory.")
            return None
        if os.path.isdir(file):
            self.respond("550 Is a directory.")
            return None
        refusal = _applies(instrument.faults.stor_refuse, number)
        if refusal is not None:
            self.respond("%d Requested action not taken." % refusal)
            return None
        if not self._has_data_route():
            self.respond("425 Use PORT or PASV first.")
            return None
        drive = instrument.drive
        if drive.capacity is None:
            # Measuring the drive walks all of it: with no capacity to keep,
            # a benchmark's thousands of STORs need not pay for that.
            budget = float("inf")
        else:
            existing = os.path.getsize(file) if os.path.isfile(file) else 0
            budget = drive.capacity - (drive.used_bytes() - existing)
        upload = StagedUpload(drive, parts, number, budget)
        if self.data_channel is not None:
            self.respond("125 Data connection already open. Transfer starting.")
            self.data_channel.file_obj = upload
            self.data_channel.enable_receiving(self._current_type, "STOR")
        else:
            self.respond("150 File status okay. About to open data connection.")
            self._in_dtp_queue = (upload, "STOR")
            self._connect_late_port()
        return file

    def finish_store(self, upload, finished, resp):
        """Decides the end of an upload: returns the reply to send."""
        instrument = self.instrument
        if upload.overflow:
            upload.close()
            self.journal_event("store refused: capacity", path=upload.instrument_path)
            return ("552 Requested file action aborted. Exceeded storage allocation.",
                    logging.info)
        if not finished:
            upload.close()
            self.journal_event("store incomplete", path=upload.instrument_path)
            return resp
        failure = _applies(instrument.faults.stor_fail, upload.number)
        if failure is not None:
            upload.close()
            self.journal_event("store failed on purpose", path=upload.instrument_path)
            return ("%d Requested file action not taken." % failure, logging.info)
        short = _applies(instrument.faults.stor_short, upload.number)
        if short is not None and upload.written:
            upload.drop_tail(short)
            self.journal_event("stored short on purpose", path=upload.instrument_path)
        keep = instrument.faults.stor_keep
        if keep is not None and upload.written > keep:
            upload.drop_tail(upload.written - keep)
            self.journal_event("stored short on purpose", path=upload.instrument_path)
        try:
            upload.commit()
        except OSError as err:
            upload.close()
            return ("550 %s." % err.strerror, logging.info)
        self.journal_event("stored", path=upload.instrument_path, size=upload.written)
        instrument.files_stored += 1
        limit = instrument.faults.drop_after_files
        if limit is not None and instrument.files_stored >= limit:
            self._drop_due = True
        return ("226 Transfer complete.", logging.debug)


def _faulty_listing(lines, kind, name):
    """An MLSD listing as a faulty or hostile server sends it: a file left
    out or given another size, a size no file has, a name with control
    characters, or a line that never ends (cut off after 64 MiB)."""
    if kind == "endless":
        yield b"type=file;size=1; "
        for _ in range(1024):
            yield b"x" * 65536
        return
    if kind == "control":
        yield b"type=file;size=3; evil\x1b]0;owned\x07name\r\n"
    for line in lines:
        facts, _, entry = line.rstrip(b"\r\n").partition(b" ")
        chosen = b"type=file;" in facts and (name is None or entry == name.encode("utf-8"))
        if chosen and kind == "omit":
            continue
        if chosen and kind in ("resize", "huge"):
            fields = []
            for fact in facts.split(b";"):
                if fact.startswith(b"size="):
                    size = int(fact[5:]) + 1 if kind == "resize" else 10 ** 30
                    fact = b"size=%d" % size
                fields.append(fact)
            line = b";".join(fields) + b" " + entry + b"\r\n"
        yield line


def _applies(fault, number):
    """The code of a fault given as (code, nth or None) for this STOR."""
    if fault is None:
        return None
    code, nth = fault
    if nth is None or nth == number:
        return code
    return None


def make_ftp_server(host, port, instrument, journal, precise_timers=False):
    authorizer = DummyAuthorizer()
    # e: CWD, l: listings, r: RETR, m: MKD, w: STOR, d: DELE and RMD (below
    # "/F0:" only, never SYSTEM); no renaming.
    # --refuse-login: the tool's fixed password is not this one, so PASS gets 530.
    password = PASSWORD + "-refused" if instrument.faults.refuse_login else PASSWORD
    authorizer.add_user(USER, password, instrument.drive.base, perm="elrmwd")
    commands = _COMMANDS
    if instrument.faults.no_mlsd:
        # An older server: no machine listings, and FEAT says so.
        commands = {k: v for k, v in _COMMANDS.items() if k not in ("MLSD", "MLST")}
    extra_feats = []
    if instrument.faults.hash is not None:
        commands = dict(commands, HASH=dict(
            perm="r", auth=True, arg=True,
            help="Syntax: HASH <SP> file-name (get the file's SHA-256)."))
        extra_feats = ["HASH SHA-256*"]
    handler = type("VX900FTPHandler", (SimFTPHandler,), {
        "proto_cmds": commands,
        "hash_feats": extra_feats,
        "authorizer": authorizer,
        # The refusal comes at once: tests must not wait for it.
        "auth_failed_timeout": 0,
        "instrument": instrument,
        "journal": journal,
        "counter": [0],
    })
    # epoll and poll wait in whole milliseconds, so a latency of 0.5 ms
    # would hold every reply a full millisecond; select waits to the
    # microsecond. The instrument serves a handful of sockets at a time.
    ioloop = Select() if precise_timers else None
    server = FTPServer((host, port), handler, ioloop=ioloop)
    return server
