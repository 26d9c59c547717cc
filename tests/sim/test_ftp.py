"""The FTP server: log-in, byte-for-byte uploads, data connections, capacity."""

import os
import select
import unittest

from simharness import Simulator


def read(path):
    with open(path, "rb") as f:
        return f.read()


class FtpTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("--capacity", "1000")

    @classmethod
    def tearDownClass(cls):
        cls.sim.close()

    def test_login_is_checked_and_the_password_never_logged(self):
        with self.sim.ftp_client(login=False) as f:
            self.assertTrue(f.greeting.startswith("220 "))
            self.assertTrue(f.command("USER kirosu").startswith("331"))
            self.assertTrue(f.command("PASS wrong").startswith("530"))
            self.assertTrue(f.command("TYPE I").startswith("530"))
            f.login()
            self.assertTrue(f.quit().startswith("221"))
        sent = [r["text"] for r in self.sim.transcript("ftp", "in")]
        self.assertIn("PASS ****", sent)
        with open(self.sim.log_path, encoding="utf-8") as log:
            text = log.read()
        self.assertNotIn("tovel4417", text)
        self.assertNotIn("wrong", text)

    def test_uploads_are_stored_byte_for_byte_in_both_types(self):
        data = b"KRN3\r\nbare lf\nbare cr\r\x00\xff"
        with self.sim.ftp_client() as f:
            for kind, passive in (("A", False), ("I", False), ("A", True)):
                with self.subTest(type=kind, passive=passive):
                    self.assertTrue(f.command("TYPE " + kind).startswith("200"))
                    name = "/F0:/SYSTEM/%s%d" % (kind, passive)
                    stor, done = f.store(name, data, passive=passive)
                    # Passive: 125 when our connection was already accepted.
                    self.assertIn(stor[:3], ("125", "150"))
                    self.assertEqual(done[:3], "226")
                    self.assertEqual(read(self.sim.path("SYSTEM", kind + str(int(passive)))), data)
            # A zero-byte file is a file, too; "//" after the drive is one slash.
            self.assertEqual(f.store("/F0://SYSTEM/EMPTY", b"")[1][:3], "226")
        self.assertEqual(read(self.sim.path("SYSTEM", "EMPTY")), b"")

    def test_active_data_connection_opens_only_after_stor(self):
        with self.sim.ftp_client() as f:
            listener, argument = f.listen()
            with listener:
                self.assertTrue(f.command("PORT " + argument).startswith("200"))
                # A server that connects on PORT has done so before its reply.
                self.assertEqual(select.select([listener], [], [], 0)[0], [])
                self.assertTrue(f.command("STOR /F0:/SYSTEM/LATE").startswith("150"))
                data_sock, _ = listener.accept()
                data_sock.close()
                self.assertTrue(f.reply().startswith("226"))
            # Nobody listens any more: the transfer fails, the session goes on.
            self.assertTrue(f.command("PORT " + argument).startswith("200"))
            self.assertTrue(f.command("STOR /F0:/SYSTEM/NEVER").startswith("150"))
            self.assertTrue(f.reply().startswith("425"))
            self.assertTrue(f.command("NOOP").startswith("200"))
        self.assertFalse(os.path.exists(self.sim.path("SYSTEM", "NEVER")))
        self.assertEqual(os.listdir(os.path.join(self.sim.drive, ".vx900sim-incoming")), [])

    def test_refused_targets(self):
        table = [  # remote path, reply code
            ("/F0:/NOPE/FILE", "550"),      # folder missing
            ("/F0:/SYSTEM", "550"),         # a folder
            ("/OUTSIDE", "553"),            # beside the drive
            ("/F0:/../../etc/x", "553"),    # normalised to beside the drive
            ("/.vx900sim-incoming/x", "553"),
        ]
        with self.sim.ftp_client() as f:
            for remote, code in table:
                with self.subTest(remote=remote):
                    stor, done = f.store(remote, b"data")
                    self.assertEqual((stor[:3], done), (code, None))
            self.assertTrue(f.command("MKD /F0:/NEWDIR").startswith("257"))
            self.assertTrue(f.command("MKD /ELSEWHERE").startswith("553"))
            self.assertTrue(f.command("DELE /F0:/SYSTEM/A0").startswith("550"))
        self.assertTrue(os.path.isdir(self.sim.path("NEWDIR")))
        self.assertFalse(os.path.exists(os.path.join(self.sim.drive, "OUTSIDE")))

    def test_stor_over_capacity_fails_with_552_and_keeps_the_old_file(self):
        with self.sim.ftp_client() as f, self.sim.command_client() as c:
            used = int(c.query('MMEM:CAT? "/F0:/"').split(",")[0])
            room = 1000 - used
            self.assertEqual(f.store("/F0:/BIG", b"1" * (room - 10))[1][:3], "226")
            # Replacing a file counts its old size as free.
            self.assertEqual(f.store("/F0:/BIG", b"2" * room)[1][:3], "226")
            self.assertEqual(f.store("/F0:/BIG", b"3" * (room + 1))[1][:3], "552")
            self.assertEqual(f.store("/F0:/OTHER", b"4")[1][:3], "552")
            self.assertEqual(c.query('MMEM:CAT? "/F0:/"').split(",")[:2], ["1000", "0"])
        self.assertEqual(read(self.sim.path("BIG")), b"2" * room)
        self.assertFalse(os.path.exists(self.sim.path("OTHER")))
        os.unlink(self.sim.path("BIG"))


class UnlimitedCapacityTest(unittest.TestCase):
    def test_every_store_is_taken_and_the_free_space_is_the_32_bit_most(self):
        with Simulator("--capacity", "unlimited") as sim:
            with sim.ftp_client() as f, sim.command_client() as c:
                self.assertEqual(f.store("/F0:/A", b"a" * 7000)[1][:3], "226")
                self.assertEqual(f.store("/F0:/A", b"b" * 5)[1][:3], "226")
                head = c.query('MMEM:CAT? "/F0:/"').split(",")[:2]
                self.assertEqual(head, ["5", "2147483647"])
            self.assertEqual(read(sim.path("A")), b"b" * 5)


if __name__ == "__main__":
    unittest.main()
