"""The instrument's restart, as an operator's reboot after an upgrade looks
from the network: every connection on both channels closes, both ports
refuse connections for a while, then the instrument serves the same drive
again, with a fresh error queue and current folder (and, as a fault,
another identity). It happens once, a set time after the first FTP QUIT,
which is how an upgrade run ends."""

import time


class Restart:
    def __init__(self, after_quit, down, idn=None):
        self.after_quit = after_quit
        self.down = down  # seconds, or None: never back
        self.idn = idn
        self._down_at = None
        self._up_at = None
        self.done = False

    def quit_seen(self):
        if self._down_at is None and not self.done:
            self._down_at = time.monotonic() + self.after_quit

    def due(self):
        """"down" or "up" when that step is due now, else None."""
        now = time.monotonic()
        if self._down_at is not None and now >= self._down_at:
            self._down_at = None
            self.done = True
            if self.down is not None:
                self._up_at = now + self.down
            return "down"
        if self._up_at is not None and now >= self._up_at:
            self._up_at = None
            return "up"
        return None
