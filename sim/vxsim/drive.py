"""The instrument's drive: a host folder holding a folder named "F0:".

Both channels reach the same files: the instrument path "/F0:/A/B" is the
host path <base>/F0:/A/B, and the FTP server's root is <base>, so FTP path
"/F0:/A/B" is that same file. Uploads land first in a staging folder beside
"F0:" (outside everything a client can reach) and are moved into place only
when complete, so a failed upload never leaves a partial file or clobbers
the file it was meant to replace.
"""

import os
import shutil
import tempfile

DRIVE_NAME = "F0:"
ROOT_PATH = "/F0:/"
STAGING_NAME = ".vx900sim-incoming"


class PathError(Exception):
    """A path the instrument refuses; carries the error-queue entry."""

    def __init__(self, code, message):
        super().__init__(message)
        self.code = code
        self.message = message


def bad_name_char(name):
    """True when a name holds a character no instrument file name may hold.

    Control characters would break the one-line catalogue reply and the
    line-based protocols; NUL cannot reach the host file system at all.
    """
    return any(ord(c) < 0x20 or c == "\x7f" for c in name)


# What an unlimited drive (capacity None) reports free: the most a signed
# 32-bit figure holds.
UNLIMITED_FREE = 2**31 - 1


class Drive:
    def __init__(self, base=None, capacity=64 * 1024 * 1024, make_system=True,
                 free_override=None):
        self.created_base = base is None
        if base is None:
            base = tempfile.mkdtemp(prefix="vx900sim-")
        os.makedirs(base, exist_ok=True)
        self.base = os.path.realpath(base)
        self.root = os.path.join(self.base, DRIVE_NAME)
        self.staging = os.path.join(self.base, STAGING_NAME)
        self.capacity = capacity
        self.free_override = free_override
        if os.path.islink(self.root):
            raise ValueError("%s is a link; the drive must be a real folder" % self.root)
        os.makedirs(self.root, exist_ok=True)
        os.makedirs(self.staging, exist_ok=True)
        system = os.path.join(self.root, "SYSTEM")
        if make_system:
            os.makedirs(system, exist_ok=True)
        elif os.path.lexists(system):
            # Deleting the caller's folder would lose data; refuse instead.
            raise ValueError("--no-system asked for, but %s exists" % system)

    def close(self):
        if self.created_base:
            shutil.rmtree(self.base, ignore_errors=True)
        else:
            shutil.rmtree(self.staging, ignore_errors=True)

    # --- paths -----------------------------------------------------------

    def resolve(self, current, text):
        """Turns an instrument path into a list of folder/file names.

        `current` is the list of the current folder (for relative paths).
        "/F0:" or "F0:" starts an absolute path; repeated slashes count as
        one; "." is ignored. ".." and any other drive are refused, so no
        path leaves the drive.
        """
        if text.startswith("/" + DRIVE_NAME):
            rest, parts = text[len(DRIVE_NAME) + 1:], []
        elif text.startswith(DRIVE_NAME):
            rest, parts = text[len(DRIVE_NAME):], []
        elif text.startswith("/"):
            raise PathError(-257, "File name error;no such drive")
        else:
            rest, parts = "/" + text, list(current)
        if rest and not rest.startswith("/"):
            # "/F0:X" is neither the root nor a path below it.
            raise PathError(-257, "File name error;no such drive")
        for name in rest.split("/"):
            if name in ("", "."):
                continue
            if name == "..":
                raise PathError(-257, "File name error;.. not allowed")
            if bad_name_char(name):
                raise PathError(-257, "File name error;bad character")
            parts.append(name)
        return parts

    def host_path(self, parts):
        return os.path.join(self.root, *parts)

    def check_no_links(self, parts):
        """Refuses a path that passes through a symbolic link."""
        path = self.root
        for name in parts:
            path = os.path.join(path, name)
            if os.path.islink(path):
                raise PathError(-257, "File name error;links not allowed")

    @staticmethod
    def instrument_path(parts):
        return ROOT_PATH + "/".join(parts)

    def parts_of_host_path(self, host_path):
        """Names below the drive root of a host path, or None when the
        path is not inside the drive (or is a link, or the staging area)."""
        real = os.path.normpath(host_path)
        if real != self.root and not real.startswith(self.root + os.sep):
            return None
        rel = os.path.relpath(real, self.root)
        parts = [] if rel == "." else rel.split(os.sep)
        try:
            self.check_no_links(parts)
        except PathError:
            return None
        return parts

    # --- space -----------------------------------------------------------

    def used_bytes(self):
        total = 0
        for folder, _dirs, files in os.walk(self.root):
            for name in files:
                try:
                    total += os.lstat(os.path.join(folder, name)).st_size
                except OSError:
                    pass  # gone while we counted
        return total

    def free_bytes(self, used=None):
        """Room left before the capacity; never negative."""
        if self.capacity is None:
            return UNLIMITED_FREE
        if used is None:
            used = self.used_bytes()
        return max(0, self.capacity - used)

    def reported_free(self, used):
        """Free space as the catalogue reports it (may be overridden)."""
        if self.free_override is not None:
            return self.free_override
        return self.free_bytes(used)

    def listing(self, parts):
        """Entries of a folder as (name, kind, size), sorted by name."""
        folder = self.host_path(parts)
        entries = []
        with os.scandir(folder) as it:
            for entry in it:
                if bad_name_char(entry.name):
                    continue  # cannot be shown on one reply line
                if entry.is_symlink():
                    continue
                if entry.is_dir(follow_symlinks=False):
                    entries.append((entry.name, "DIR", 0))
                else:
                    entries.append((entry.name, "FILE",
                                    entry.stat(follow_symlinks=False).st_size))
        entries.sort(key=lambda e: os.fsencode(e[0]))
        return entries
