"""Each fault option does what it says, and nothing else breaks with it."""

import hashlib
import os
import select
import socket
import time
import unittest

from simharness import Simulator, SimulatorError


class CommandChannelFaultsTest(unittest.TestCase):
    def test_idn(self):
        with Simulator("--idn", "ACME,VX9000,1,2") as sim, sim.command_client() as c:
            self.assertEqual(c.query("*IDN?"), "ACME,VX9000,1,2")

    def test_refuse_root(self):
        with Simulator("--refuse-root") as sim, sim.command_client() as c:
            for path in ("/F0:/", "/F0:", "/F0://"):
                with self.subTest(path=path):
                    self.assertFalse(c.ok(':MMEM:CDIR "%s"' % path))
            self.assertTrue(c.ok(':MMEM:CDIR "/F0:/SYSTEM"'))
            # Free space can still be read.
            self.assertTrue(c.query('MMEM:CAT? "/F0:/"').startswith("0,"))

    def test_no_system(self):
        with Simulator("--no-system") as sim, sim.command_client() as c:
            self.assertEqual(c.query('MMEM:CAT? "/F0:/"'), "0,67108864,")
            self.assertFalse(c.ok(':MMEM:CDIR "/F0:/SYSTEM"'))
            self.assertFalse(c.ok('MMEM:MDIR "/F0:/SYSTEM/MID3"'))

    def test_mdir_fail_after(self):
        with Simulator("--mdir-fail-after", "2") as sim, sim.command_client() as c:
            c.send(':MMEM:CDIR "/F0:/SYSTEM"')
            # A refused MDIR (exists) does not count as a folder made.
            outcomes = [c.ok('MMEM:MDIR "%s"' % n) for n in ("MID1", "MID1", "MID2", "MID3")]
            self.assertEqual(outcomes, [True, False, True, False])
            self.assertFalse(os.path.exists(sim.path("SYSTEM", "MID3")))
            self.assertTrue(c.ok(':MMEM:CDIR "/F0:/SYSTEM/MID2"'))

    def test_free_is_reported_whatever_the_drive_holds(self):
        for free in ("4718591", "2147483648", "4294967296"):
            with self.subTest(free=free), Simulator("--free", free) as sim:
                with open(sim.path("SYSTEM", "F"), "wb") as f:
                    f.write(b"12345")
                with sim.command_client() as c:
                    self.assertEqual(c.query('MMEM:CAT? "/F0:/"'),
                                     '5,%s,"SYSTEM",DIR,0' % free)

    def test_reply_delay_holds_every_reply_in_order(self):
        delay = 0.3
        with Simulator("--reply-delay", str(delay)) as sim:
            with sim.command_client() as c:
                start = time.monotonic()
                self.assertTrue(c.query("*IDN?").startswith("ALVO"))
                self.assertGreaterEqual(time.monotonic() - start, delay)
            start = time.monotonic()
            with sim.ftp_client() as f:  # greeting, USER, PASS: three replies
                self.assertGreaterEqual(time.monotonic() - start, 3 * delay)
                self.assertEqual(f.store("/F0:/SYSTEM/X", b"abc")[1][:3], "226")
                # The goodbye comes before the close, however late.
                self.assertTrue(f.quit().startswith("221"))
            with open(sim.path("SYSTEM", "X"), "rb") as stored:
                self.assertEqual(stored.read(), b"abc")

    def test_latency_holds_replies_and_the_active_data_connection(self):
        latency = 0.2
        with Simulator("--latency", str(latency * 1000)) as sim:
            with sim.command_client() as c:
                start = time.monotonic()
                self.assertTrue(c.ok(':MMEM:CDIR "/F0:/SYSTEM"'))
                self.assertGreaterEqual(time.monotonic() - start, latency)
            with sim.ftp_client() as f:
                listener, argument = f.listen()
                with listener:
                    self.assertEqual(f.command("PORT " + argument)[:3], "200")
                    start = time.monotonic()
                    f.sock.sendall(b"STOR /F0:/SYSTEM/X\r\n")
                    listener.settimeout(10)
                    data, _ = listener.accept()
                    self.assertGreaterEqual(time.monotonic() - start, latency)
                    self.assertEqual(f.reply()[:3], "150")
                    with data:
                        data.sendall(b"abc")
                    self.assertEqual(f.reply()[:3], "226")
            with open(sim.path("SYSTEM", "X"), "rb") as stored:
                self.assertEqual(stored.read(), b"abc")


    def test_quit_delay_holds_only_the_goodbye(self):
        delay = 0.3
        with Simulator("--quit-delay", str(delay)) as sim:
            with sim.ftp_client() as f:
                self.assertEqual(f.command("PWD")[:3], "257")
                start = time.monotonic()
                self.assertTrue(f.quit().startswith("221"))
                self.assertGreaterEqual(time.monotonic() - start, delay)

    def test_scpi_catalogue_quotes_name_type_and_size_together(self):
        with Simulator("--catalogue-form", "scpi") as sim, sim.command_client() as c:
            self.assertEqual(c.query('MMEM:CAT? "/F0:/"'), '0,67108864,"SYSTEM,DIR,0"')


class RestartTest(unittest.TestCase):
    @staticmethod
    def _connects(port):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=2).close()
            return True
        except OSError:
            return False

    @staticmethod
    def _until(condition, seconds=10):
        deadline = time.monotonic() + seconds
        while not condition():
            if time.monotonic() > deadline:
                return False
            time.sleep(0.02)
        return True

    def test_restart_after_quit_drops_both_ports_then_serves_the_drive_again(self):
        with Simulator("--restart-after-quit", "0.2", "--restart-down", "0.5",
                       "--restart-idn", "ALVO/BRECKMOOR,VX900,SIM0002,2.00") as sim:
            held = sim.command_client()
            held.send('MMEM:MDIR "/F0:/KEEP"')
            held.send("BOGUS")  # an error left in the queue
            with sim.ftp_client() as f:
                self.assertTrue(f.quit().startswith("221"))
            # The held connection is closed by the restart, not before.
            held.sock.settimeout(5)
            self.assertEqual(held.sock.recv(100), b"")
            held.close()
            self.assertFalse(self._connects(sim.cmd_port))
            self.assertFalse(self._connects(sim.ftp_port))
            self.assertTrue(self._until(lambda: self._connects(sim.cmd_port)))
            with sim.command_client() as c:
                self.assertEqual(c.query("*IDN?"), "ALVO/BRECKMOOR,VX900,SIM0002,2.00")
                self.assertEqual(c.query(":SYSTEM:ERR?"), '0,"No error"')
                self.assertTrue(c.ok(':MMEM:CDIR "/F0:/KEEP"'))
            with sim.ftp_client() as f:
                self.assertTrue(f.quit().startswith("221"))
            # Once only: a later QUIT restarts nothing.
            with sim.command_client() as c:
                self.assertTrue(c.query("*IDN?").startswith("ALVO"))
            events = [e["text"] for e in sim.transcript("sim", "event")]
            self.assertEqual([e for e in events if e.startswith("restart")],
                             ["restart: down", "restart: up"])

    def test_restart_down_never_stays_down(self):
        with Simulator("--restart-after-quit", "0.1", "--restart-down", "never") as sim:
            with sim.ftp_client() as f:
                self.assertTrue(f.quit().startswith("221"))
            self.assertTrue(self._until(lambda: not self._connects(sim.cmd_port)))
            self.assertFalse(self._connects(sim.ftp_port))


class FtpFaultsTest(unittest.TestCase):
    def store_all(self, sim, count):
        """(STOR reply, final reply) of `count` uploads, F1 to F<count>."""
        with sim.ftp_client() as f:
            return [tuple(r and r[:3] for r in f.store("/F0:/SYSTEM/F%d" % n, b"x" * n))
                    for n in range(1, count + 1)]

    def stored(self, sim):
        return sorted(os.listdir(sim.path("SYSTEM")))

    def test_stor_fail_and_refuse(self):
        table = [  # options, replies of three uploads, files kept
            (["--stor-fail", "451@2"],
             [("150", "226"), ("150", "451"), ("150", "226")], ["F1", "F3"]),
            (["--stor-fail", "552"],
             [("150", "552")] * 3, []),
            (["--stor-refuse", "553@3"],
             [("150", "226"), ("150", "226"), ("553", None)], ["F1", "F2"]),
            (["--stor-refuse", "502"],
             [("502", None)] * 3, []),
        ]
        for options, replies, kept in table:
            with self.subTest(options=options), Simulator(*options) as sim:
                self.assertEqual(self.store_all(sim, 3), replies)
                self.assertEqual(self.stored(sim), kept)

    def sizes(self, sim, count):
        """SIZE replies of F1 to F<count> in TYPE I."""
        with sim.ftp_client() as f:
            f.command("TYPE I")
            return [f.command("SIZE /F0:/SYSTEM/F%d" % n) for n in range(1, count + 1)]

    def test_stor_short_stores_one_byte_less_under_226(self):
        table = [  # option, SIZE replies of F1 (1 byte) to F3 (3 bytes)
            ("2", ["213 1", "213 1", "213 3"]),
            ("all", ["213 0", "213 1", "213 2"]),
        ]
        for which, sizes in table:
            with self.subTest(which=which), Simulator("--stor-short", which) as sim:
                self.assertEqual(self.store_all(sim, 3), [("150", "226")] * 3)
                self.assertEqual(self.sizes(sim, 3), sizes)
        with Simulator("--stor-short", "all") as sim, sim.ftp_client() as f:
            self.assertEqual(f.store("/F0:/SYSTEM/E", b"")[1][:3], "226")  # nothing to lose
            self.assertEqual(os.path.getsize(sim.path("SYSTEM", "E")), 0)

    def test_retr_and_dele_with_and_without_their_faults(self):
        # (options, RETR outcome, DELE reply): each fault hits its command only.
        cases = [((), b"0123456789", "250"),
                 (("--retr-refuse", "550"), None, "250"),
                 (("--retr-short", "all"), b"012345678", "250"),
                 (("--dele-refuse", "550"), b"0123456789", "550")]
        for options, fetched, dele in cases:
            with self.subTest(options=options), Simulator(*options) as sim, sim.ftp_client() as f:
                self.assertTrue(f.store("/F0:/SYSTEM/a.bin", b"0123456789")[1].startswith("226"))
                reply, data, verdict = f.fetch("/F0:/SYSTEM/a.bin")
                self.assertEqual(data, fetched, reply)
                if fetched is not None:
                    self.assertTrue(verdict.startswith("226"))
                self.assertTrue(f.command("DELE /F0:/SYSTEM/a.bin").startswith(dele))
                self.assertEqual(os.path.exists(sim.path("SYSTEM", "a.bin")), dele != "250")
                # Nothing outside the drive, and no folder by DELE; RMD only
                # of an empty folder made below the drive, never SYSTEM.
                self.assertTrue(f.command("DELE /F0:/SYSTEM").startswith("550"))
                self.assertTrue(f.command("RMD /F0:/SYSTEM").startswith("550"))
                self.assertTrue(os.path.isdir(sim.path("SYSTEM")))
                self.assertTrue(f.command("MKD /F0:/NEW").startswith("257"))
                self.assertTrue(f.store("/F0:/NEW/b.bin", b"1")[1].startswith("226"))
                self.assertTrue(f.command("RMD /F0:/NEW").startswith("550"))
                self.assertTrue(f.command("DELE /F0:/NEW/b.bin").startswith(dele))
                self.assertTrue(f.command("RMD /F0:/NEW").startswith("250" if dele == "250" else "550"))
                self.assertEqual(os.path.isdir(sim.path("NEW")), dele != "250")

    def test_size_with_and_without_no_size(self):
        with Simulator() as sim:
            self.store_all(sim, 1)
            self.assertEqual(self.sizes(sim, 2)[0], "213 1")
            self.assertTrue(self.sizes(sim, 2)[1].startswith("550"))
        with Simulator("--no-size") as sim:
            self.store_all(sim, 1)
            self.assertEqual([r[:3] for r in self.sizes(sim, 2)], ["502", "502"])

    def test_hash_offered_honest_lying_garbled_or_refused(self):
        data = b"kit bytes"
        honest = hashlib.sha256(data).hexdigest()
        expected = {
            None: "500",
            "honest": "213 SHA-256 0-8 %s /F0:/SYSTEM/H" % honest,
            "lie": "213 SHA-256 0-8 %s /F0:/SYSTEM/H" % hashlib.sha256(data + b"\0").hexdigest(),
            "garbled": "213 SHA-256 0-8 %sg /F0:/SYSTEM/H" % honest[:-1],
            "refuse": "550",
        }
        for kind, reply in expected.items():
            options = [] if kind is None else ["--hash"] if kind == "honest" else ["--hash", kind]
            with self.subTest(kind=kind), Simulator(*options) as sim, sim.ftp_client() as f:
                f.command("TYPE I")
                self.assertEqual(f.store("/F0:/SYSTEM/H", data)[1][:3], "226")
                self.assertEqual(f.command("OPTS HASH SHA-256")[:3], "501" if kind is None else "200")
                self.assertTrue(f.command("HASH /F0:/SYSTEM/H").startswith(reply))
                if kind is not None:
                    self.assertTrue(f.command("HASH /F0:/SYSTEM/none").startswith("550"))

    def test_drop_after_files(self):
        with Simulator("--drop-after-files", "2") as sim:
            with sim.ftp_client() as f:
                for n in (1, 2):
                    self.assertEqual(f.store("/F0:/SYSTEM/F%d" % n, b"x")[1][:3], "226")
                with self.assertRaises((SimulatorError, OSError)):
                    f.command("TYPE I")
            # Later sessions are dropped at once: the files are already there.
            with sim.ftp_client() as f, self.assertRaises((SimulatorError, OSError)):
                f.command("TYPE I")
            self.assertEqual(self.stored(sim), ["F1", "F2"])
            self.assertEqual(len([r for r in sim.transcript("ftp", "event")
                                  if r["text"] == "drop"]), 2)
        with Simulator("--drop-after-files", "0") as sim:
            with sim.ftp_client(login=False) as f:
                self.assertTrue(f.login().startswith("230"))
                with self.assertRaises((SimulatorError, OSError)):
                    f.command("TYPE I")

    def test_no_data_connection(self):
        with Simulator("--no-data-connection") as sim, sim.ftp_client() as f:
            listener, argument = f.listen()
            with listener:
                self.assertTrue(f.command("PORT " + argument).startswith("200"))
                self.assertTrue(f.command("STOR /F0:/SYSTEM/X").startswith("150"))
                # The server is still there, and it has decided not to connect.
                self.assertTrue(f.command("NOOP").startswith("200"))
                self.assertIn("data connection withheld",
                              [r["text"] for r in sim.transcript("ftp", "event")])
                self.assertEqual(select.select([listener], [], [], 0)[0], [])
            self.assertEqual(self.stored(sim), [])


if __name__ == "__main__":
    unittest.main()
