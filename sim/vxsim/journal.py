"""The transcript file: one JSON object a line, so tests can assert it."""

import json
import threading
import time


class Journal:
    """Writes transcript records; a journal without a file records nothing.

    Each record holds "t" (seconds since the epoch, float), "chan" ("cmd",
    "ftp" or "sim"), "conn" (connection number per channel, 0 for "sim"),
    "dir" ("in" for what the client sent, "out" for what we replied, "event"
    for what happened besides) and "text". Events may carry more keys.
    Records are flushed one by one so a test can read the file while the
    simulator runs.
    """

    def __init__(self, path=None, stream=None):
        self._lock = threading.Lock()
        self._own = False
        self._out = stream
        if path is not None:
            self._out = open(path, "a", encoding="utf-8")
            self._own = True

    def record(self, chan, conn, direction, text, **extra):
        if self._out is None:
            return
        entry = {"t": round(time.time(), 6), "chan": chan, "conn": conn,
                 "dir": direction, "text": text}
        entry.update(extra)
        line = json.dumps(entry)
        with self._lock:
            if self._out is None:
                return
            self._out.write(line + "\n")
            self._out.flush()

    def close(self):
        with self._lock:
            if self._own and self._out is not None:
                self._out.close()
            self._out = None


def mask_password(line):
    """Hides the argument of a PASS command, whatever its letter case."""
    if line[:5].upper() == "PASS " or line.upper() == "PASS":
        return line[:4] + " ****"
    return line
