"""A whole upgrade played against the simulator, by a scripted client that
sends what vxUpgrade sends, and with curl doing the uploads."""

import os
import subprocess
import tempfile
import unittest
import urllib.parse

from simharness import IO_TIMEOUT, Simulator

MODULES = [(3, "KRN3", False), (5, "LPS3", True)]  # id, name, hasSignal

LOCAL_TREE = {  # path below the local folder -> content
    "target/KRN3/a.bin": bytes(range(256)) * 300,      # more than 64 KiB
    "target/KRN3/SIGNAL/skipped.dat": b"not copied",
    "target/KRN3/sub/deep/x.txt": b"line\r\nline\r\n",
    "target/KRN3/.hidden": b"not copied",
    "target/LPS3/SIGNAL/s.dat": b"\x00\x01signal",
    "target/LPS3/empty.bin": b"",
    "MainFrame/sys.bin": b"\xff" * 1000,
    "MainFrame/cfg/c.ini": b"[a]\r\nb=1\r\n",
}

EXPECTED_DRIVE = {  # path below "F0:" -> content
    "KRN3/a.bin": LOCAL_TREE["target/KRN3/a.bin"],
    "KRN3/sub/deep/x.txt": LOCAL_TREE["target/KRN3/sub/deep/x.txt"],
    "LPS3/SIGNAL/s.dat": LOCAL_TREE["target/LPS3/SIGNAL/s.dat"],
    "LPS3/empty.bin": b"",
    "SYSTEM/sys.bin": LOCAL_TREE["MainFrame/sys.bin"],
    "SYSTEM/cfg/c.ini": LOCAL_TREE["MainFrame/cfg/c.ini"],
    "SYSTEM/MID3/NAME": b"KRN3\r\n",
    "SYSTEM/MID5/NAME": b"LPS3\r\n",
}


def drive_contents(root):
    found = {}
    for folder, _dirs, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


class Upgrade:
    """The upgrade's conversation: command channel by hand, uploads through
    `upload(local path, remote path, ascii)`."""

    def __init__(self, sim, local, upload, set_type=None):
        self.sim, self.local, self.upload = sim, local, upload
        self.set_type = set_type or (lambda kind: None)
        self.c = sim.command_client()

    def change_directory(self, path):
        return self.c.ok(':MMEM:CDIR "%s"' % path)

    def ensure_folder(self, parent, name):
        if self.change_directory(parent + "/" + name):
            return True
        return self.change_directory(parent) and self.c.ok('MMEM:MDIR "%s"' % name)

    def has_entry(self, parent, name):
        return '"%s"' % name in self.c.query('MMEM:CAT? "%s"' % parent)

    def copy_tree(self, local, remote, skip_signal=False):
        for name in sorted(os.listdir(local)):
            path = os.path.join(local, name)
            if name.startswith(".") or (skip_signal and name == "SIGNAL"):
                continue
            if os.path.isdir(path):
                assert self.ensure_folder(remote, name)
                self.copy_tree(path, remote + "/" + name)
            else:
                self.upload(path, remote + "/" + name, False)

    def run(self):
        assert "ALVO/BRECKMOOR,VX900" in self.c.query("*IDN?")
        assert self.change_directory("/F0:/")
        free = int(self.c.query('MMEM:CAT? "/F0:/"').split(",")[1])
        assert free >= 4718592
        self.set_type("A")
        with tempfile.TemporaryDirectory() as temp:
            for module_id, name, _signal in MODULES:
                folder = "MID%d" % module_id
                assert self.ensure_folder("/F0:/SYSTEM", folder)
                parent = "/F0:/SYSTEM/" + folder
                if not self.has_entry(parent, "NAME"):
                    # Written in text mode on the instrument's side of life:
                    # the NAME file holds CR LF.
                    name_file = os.path.join(temp, "NAME")
                    with open(name_file, "wb") as f:
                        f.write(name.encode() + b"\r\n")
                    self.upload(name_file, parent + "/NAME", True)
        self.set_type("I")
        for _id, name, signal in MODULES:
            assert self.ensure_folder("/F0:/", name)
            self.copy_tree(os.path.join(self.local, "target", name), "/F0:/" + name,
                           skip_signal=not signal)
        self.copy_tree(os.path.join(self.local, "MainFrame"), "/F0:/SYSTEM")
        self.c.close()


class UpgradeTest(unittest.TestCase):
    def setUp(self):
        self._local = tempfile.TemporaryDirectory()
        self.local = self._local.name
        for path, content in LOCAL_TREE.items():
            full = os.path.join(self.local, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(content)
        self.sim = Simulator()

    def tearDown(self):
        self.sim.close()
        self._local.cleanup()

    def test_scripted_client(self):
        f = self.sim.ftp_client()

        def upload(local, remote, _ascii):
            with open(local, "rb") as data:
                stor, done = f.store(remote, data.read())
            self.assertEqual((stor[:3], done[:3]), ("150", "226"))

        def set_type(kind):
            self.assertTrue(f.command("TYPE " + kind).startswith("200"))

        Upgrade(self.sim, self.local, upload, set_type).run()
        self.assertTrue(f.quit().startswith("221"))
        self.assertEqual(drive_contents(self.sim.root), EXPECTED_DRIVE)

        sent = [r["text"] for r in self.sim.transcript("ftp", "in")]
        self.assertEqual(sent[:4], ["USER kirosu", "PASS ****", "TYPE A", sent[3]])
        self.assertRegex(sent[3], r"^PORT 127,0,0,1,\d+,\d+$")
        self.assertEqual(sent[4], "STOR /F0:/SYSTEM/MID3/NAME")
        self.assertEqual(sent[-1], "QUIT")
        commands = [r["text"] for r in self.sim.transcript("cmd", "in")]
        self.assertEqual(commands[:3], ["*IDN?", ':MMEM:CDIR "/F0:/"', ":SYSTEM:ERR?"])
        self.assertIn(':MMEM:CDIR "/F0://KRN3"', commands)  # the doubled slash

        # A second run finds every folder and NAME file: nothing is made again.
        before = len(commands)
        f = self.sim.ftp_client()
        Upgrade(self.sim, self.local, upload, set_type).run()
        f.quit()
        again = [r["text"] for r in self.sim.transcript("cmd", "in")][before:]
        self.assertFalse([c for c in again if "MDIR" in c])
        self.assertNotIn("STOR /F0:/SYSTEM/MID3/NAME",
                         [r["text"] for r in self.sim.transcript("ftp", "in")][len(sent):])
        self.assertEqual(drive_contents(self.sim.root), EXPECTED_DRIVE)

    def test_curl_uploads_in_active_mode(self):
        def upload(local, remote, ascii_type):
            # "%2F" makes the path absolute; with "nocwd" curl sends it whole.
            url = "ftp://127.0.0.1:%d/%%2F%s" % (
                self.sim.ftp_port, urllib.parse.quote(remote[1:], safe=":/"))
            options = ["-B"] if ascii_type else []
            if ascii_type:
                # curl turns LF into CR LF itself in ASCII mode; give it LF.
                with open(local, "rb") as f:
                    content = f.read().replace(b"\r\n", b"\n")
                with open(local, "wb") as f:
                    f.write(content)
            result = subprocess.run(
                ["curl", "-sS", "--ftp-port", "127.0.0.1", "--disable-eprt",
                 "--ftp-method", "nocwd", "-u", "kirosu:tovel4417", *options,
                 "-T", local, url],
                capture_output=True, text=True, timeout=IO_TIMEOUT)
            self.assertEqual(result.returncode, 0, result.stderr)

        Upgrade(self.sim, self.local, upload).run()
        self.assertEqual(drive_contents(self.sim.root), EXPECTED_DRIVE)
        sent = [r["text"] for r in self.sim.transcript("ftp", "in")]
        stors = [s for s in sent if s.startswith("STOR ")]
        self.assertEqual(len(stors), len(EXPECTED_DRIVE))
        self.assertIn("STOR /F0:/KRN3/sub/deep/x.txt", stors)
        self.assertTrue([s for s in sent if s.startswith("PORT 127,0,0,1,")])
        self.assertFalse([s for s in sent if s.startswith(("PASV", "EPSV", "EPRT"))])


if __name__ == "__main__":
    unittest.main()
