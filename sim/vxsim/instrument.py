"""The instrument's state and its SCPI command set.

One state for the whole instrument, shared by every command-channel
connection, as a real instrument has one current folder and one error queue:
the queue outlives a reconnection, so an error left behind by one session is
what the next session's first error query reads. Both channels run on one
thread (see command_server), so the state needs no lock.
"""

import collections
import dataclasses
import os
from typing import Optional, Tuple

from .drive import PathError

DEFAULT_IDN = "ALVO/BRECKMOOR,VX900,SIM0001,1.00"
ERROR_QUEUE_SIZE = 32


@dataclasses.dataclass
class Faults:
    idn: str = DEFAULT_IDN
    refuse_root: bool = False
    mdir_fail_after: Optional[int] = None
    stor_fail: Optional[Tuple[int, Optional[int]]] = None
    stor_refuse: Optional[Tuple[int, Optional[int]]] = None
    stor_short: Optional[Tuple[int, Optional[int]]] = None  # (bytes short, nth)
    no_size: bool = False
    refuse_login: bool = False
    drop_after_files: Optional[int] = None
    no_data_connection: bool = False
    reply_delay: float = 0.0
    quit_delay: float = 0.0
    size_reply: Optional[int] = None      # SIZE answered with this code
    no_mlsd: bool = False                 # no MLST/MLSD (nor in FEAT)
    stor_keep: Optional[int] = None       # every STOR keeps this many bytes, 226
    mlsd_fault: Optional[Tuple[str, Optional[str]]] = None  # (kind, name)
    quit_reply: Optional[int] = None      # QUIT answered with this code
    catalogue_form: str = "plain"         # plain, scpi or names
    hash: Optional[str] = None            # HASH offered: "honest", "lie", "garbled" or "refuse"
    retr_refuse: Optional[Tuple[int, Optional[int]]] = None  # (code, nth RETR)
    retr_short: Optional[Tuple[int, Optional[int]]] = None   # (bytes short, nth RETR)
    dele_refuse: Optional[Tuple[int, Optional[int]]] = None  # (code, nth DELE)
    max_sessions: Optional[int] = None    # FTP connections beyond this many get 421
    drop_mid_file: Optional[int] = None   # the Nth STOR's session closes during its data
    # Not a fault: the network between tool and instrument (--latency), in
    # seconds. Every reply, and the opening of an active data connection,
    # is held back this long.
    latency: float = 0.0


def scpi_string(text):
    """Quotes a text as an SCPI string: embedded quotes are doubled."""
    return '"' + text.replace('"', '""') + '"'


def parse_string_parameter(text):
    """Reads one quoted SCPI string ("..." or '...', the quote doubled
    inside). Returns the string, or None when there is no parameter.
    Raises PathError (used here for any queue entry) when malformed."""
    text = text.strip(" \t")
    if not text:
        return None
    quote = text[0]
    if quote not in "\"'":
        raise PathError(-104, "Data type error")
    value, i = [], 1
    while i < len(text):
        c = text[i]
        if c == quote:
            if i + 1 < len(text) and text[i + 1] == quote:
                value.append(quote)
                i += 2
                continue
            if text[i + 1:].strip(" \t"):
                raise PathError(-102, "Syntax error")
            return "".join(value)
        value.append(c)
        i += 1
    raise PathError(-151, "Invalid string data")


def _mnemonic_matches(token, long_form):
    short = "".join(c for c in long_form if not c.islower())
    return token.upper() in (short.upper(), long_form.upper())


# Header -> (action, allowed as command, allowed as query)
_HEADERS = [
    (("*IDN",), "idn", False, True),
    (("*CLS",), "cls", True, False),
    (("MMEMory", "CDIRectory"), "cdir", True, True),
    (("MMEMory", "MDIRectory"), "mdir", True, False),
    (("MMEMory", "CATalog"), "cat", False, True),
    (("SYSTem", "ERRor"), "err", False, True),
    (("SYSTem", "ERRor", "NEXT"), "err", False, True),
]


def _lookup(header):
    query = header.endswith("?")
    if query:
        header = header[:-1]
    tokens = header.lstrip(":").split(":")
    for forms, action, as_command, as_query in _HEADERS:
        if len(forms) == len(tokens) and all(
                _mnemonic_matches(t, f) for t, f in zip(tokens, forms)):
            if (query and as_query) or (not query and as_command):
                return action, query
            return None, query
    return None, query


class Instrument:
    def __init__(self, drive, faults, journal):
        self.drive = drive
        self.faults = faults
        self.journal = journal
        self.errors = collections.deque()
        self.current = []
        self.folders_made = 0
        self.stor_count = 0
        self.retr_count = 0
        self.dele_count = 0
        self.files_stored = 0
        self.ftp_sessions_open = 0
        self.restart = None  # a Restart, when one is asked for

    def restarted(self, idn=None):
        """State after a restart: the drive stays, the session state goes."""
        self.errors.clear()
        self.current = []
        if idn is not None:
            self.faults.idn = idn

    # --- error queue -----------------------------------------------------

    def push_error(self, code, message):
        if len(self.errors) >= ERROR_QUEUE_SIZE:
            # The newest entry gives way to the overflow notice, so the
            # oldest errors (the first cause) are kept.
            self.errors[-1] = (-350, "Queue overflow")
            return
        self.errors.append((code, message))

    def pop_error(self):
        if not self.errors:
            return '0,"No error"'
        code, message = self.errors.popleft()
        return "%d,%s" % (code, scpi_string(message))

    # --- commands --------------------------------------------------------

    def execute(self, line):
        """Runs one command line; returns the reply line (without its line
        feed) or None when the command has no reply."""
        text = line.rstrip("\r").strip(" \t")
        if not text:
            return None
        cut = len(text)
        for sep in (" ", "\t", '"', "'"):
            pos = text.find(sep)
            if pos != -1:
                cut = min(cut, pos)
        header, rest = text[:cut], text[cut:]
        action, query = _lookup(header)
        if action is None:
            self.push_error(-113, "Undefined header")
            return None
        try:
            argument = parse_string_parameter(rest)
            return getattr(self, "_do_" + action)(query, argument)
        except PathError as err:
            self.push_error(err.code, err.message)
            if action == "cat":
                return self._catalogue_head(self.drive.used_bytes())
            return None

    def _do_idn(self, _query, _argument):
        return self.faults.idn

    def _do_cls(self, _query, _argument):
        self.errors.clear()
        return None

    def _do_err(self, _query, _argument):
        return self.pop_error()

    def _do_cdir(self, query, argument):
        if query:
            return scpi_string(self.drive.instrument_path(self.current))
        if argument is None:
            raise PathError(-109, "Missing parameter")
        parts = self.drive.resolve(self.current, argument)
        if not parts and self.faults.refuse_root:
            raise PathError(-250, "Mass storage error;drive not ready")
        self.drive.check_no_links(parts)
        if not os.path.isdir(self.drive.host_path(parts)):
            raise PathError(-256, "File name not found")
        self.current = parts
        return None

    def _do_mdir(self, _query, argument):
        if argument is None:
            raise PathError(-109, "Missing parameter")
        parts = self.drive.resolve(self.current, argument)
        if not parts:
            raise PathError(-257, "File name error;folder exists")
        self.drive.check_no_links(parts)
        target = self.drive.host_path(parts)
        if os.path.lexists(target):
            raise PathError(-257, "File name error;folder exists")
        if not os.path.isdir(os.path.dirname(target)):
            raise PathError(-256, "File name not found")
        limit = self.faults.mdir_fail_after
        if limit is not None and self.folders_made >= limit:
            raise PathError(-250, "Mass storage error")
        try:
            os.mkdir(target)
        except OSError as err:
            raise PathError(-250, "Mass storage error;" + err.strerror)
        self.folders_made += 1
        return None

    def _catalogue_head(self, used):
        # The comma after the free space is always there, also for an empty
        # folder: clients take the free space as the text between the first
        # and the second comma.
        return "%d,%d," % (used, self.drive.reported_free(used))

    def _do_cat(self, _query, argument):
        parts = self.current
        if argument is not None:
            parts = self.drive.resolve(self.current, argument)
        self.drive.check_no_links(parts)
        used = self.drive.used_bytes()
        if not os.path.isdir(self.drive.host_path(parts)):
            raise PathError(-256, "File name not found")
        try:
            entries = self.drive.listing(parts)
        except OSError as err:
            raise PathError(-250, "Mass storage error;" + err.strerror)
        return self._catalogue_head(used) + ",".join(
            self._catalogue_entry(name, kind, size) for name, kind, size in entries)

    def _catalogue_entry(self, name, kind, size):
        form = self.faults.catalogue_form
        if form == "scpi":
            # The SCPI standard's form: one string per entry.
            return scpi_string("%s,%s,%d" % (name, "DIR" if kind == "DIR" else "BIN", size))
        if form == "names":
            # An older firmware: the names alone.
            return scpi_string(name)
        return "%s,%s,%d" % (scpi_string(name), kind, size)
