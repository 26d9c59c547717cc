"""Output of a connection held back by --reply-delay and --latency."""

from pyftpdlib.ioloop import timer


class DelayedOutput:
    """Mixin for a pyftpdlib connection: runs output actions now, or after
    the reply delay. Queued actions keep their order, so a close never
    overtakes a reply that was due before it."""

    # Actions due this close to the one that woke the loop run with it. The
    # latency is a fraction of a millisecond, so this must stay well below.
    _SLACK = 0.00005

    def _reply_delay(self):
        raise NotImplementedError

    def _later(self, action, delay=None):
        """Runs action after `delay` seconds (default: the reply delay),
        never before an action queued earlier."""
        deferred = self.__dict__.setdefault("_deferred", [])
        if delay is None:
            delay = self._reply_delay()
        if delay <= 0 and not deferred:
            action()
            return
        now = timer()
        due = max(now + delay, getattr(self, "_last_due", 0.0))
        self._last_due = due
        deferred.append((due, action))
        self._schedule(now)

    def _schedule(self, now):
        # One timer per connection, for the earliest action: a second one
        # due at the same moment would be cancelled by a close that the
        # first one ran, after the loop had taken both to run.
        deferred = self.__dict__["_deferred"]
        if deferred and getattr(self, "_due_timer", None) is None and not self._closed:
            self._due_timer = self.call_later(max(0.0, deferred[0][0] - now), self._run_due)

    def _run_due(self):
        self._due_timer = None
        deferred = self.__dict__.setdefault("_deferred", [])
        now = timer()
        try:
            while deferred and deferred[0][0] <= now + self._SLACK and not self._closed:
                _due, action = deferred.pop(0)
                action()
        finally:
            if self._closed:
                deferred.clear()
            self._schedule(timer())
