"""The command channel: identity, folders, catalogue, error queue."""

import os
import unittest

from simharness import Simulator

NO_ERROR = '0,"No error"'


class CommandChannelTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.sim = Simulator("--capacity", "100000")

    @classmethod
    def tearDownClass(cls):
        cls.sim.close()

    def setUp(self):
        self.c = self.sim.command_client()
        self.c.send("*CLS")
        self.c.send(':MMEM:CDIR "/F0:/"')

    def tearDown(self):
        self.c.close()

    def errors(self):
        """Drains the error queue (bounded by its size)."""
        found = []
        for _ in range(40):
            reply = self.c.query(":SYSTEM:ERR?")
            if reply == NO_ERROR:
                return found
            found.append(reply)
        self.fail("error queue never empties")

    def test_identity_and_line_ends(self):
        self.assertEqual(self.c.query("*IDN?"), "ALVO/BRECKMOOR,VX900,SIM0001,1.00")
        # CR LF tolerated, and headers in any case and long or short form.
        for line in ("*idn?\r", ":SYSTem:ERRor?", "syst:err:next?", "SYSTEM:ERR?"):
            with self.subTest(line=line):
                reply = self.c.query(line)
                self.assertTrue(reply.startswith(("ALVO", "0,")), reply)
        self.assertEqual(self.errors(), [])
        # The transcript keeps each line as it came, a carriage return too.
        self.assertIn("*idn?\r", [r["text"] for r in self.sim.transcript("cmd", "in")])

    def test_error_queue_is_first_in_first_out_and_survives_reconnection(self):
        self.c.send("BOGUS")
        self.c.send(':MMEM:CDIR "/F0:/MISSING"')
        self.c.query("*IDN?")  # both commands have been carried out
        self.c.close()
        self.c = self.sim.command_client()
        self.assertEqual(self.errors(), ['-113,"Undefined header"',
                                         '-256,"File name not found"'])

    def test_error_queue_overflow_keeps_the_oldest(self):
        for _ in range(40):
            self.c.send(':MMEM:CDIR "/F0:/MISSING"')
        found = self.errors()
        self.assertEqual(len(found), 32)
        self.assertEqual(found[0], '-256,"File name not found"')
        self.assertEqual(found[-1], '-350,"Queue overflow"')

    def test_bad_commands_push_errors_without_reply(self):
        table = [
            ("BOGUS?", "-113"),                      # unknown query: no reply
            (":MMEM:CDIR", "-109"),                  # missing parameter
            (":MMEM:CDIR /F0:/", "-104"),            # unquoted
            (':MMEM:CDIR "/F0:/', "-151"),           # unterminated string
            (':MMEM:CDIR "/F0:/"x', "-102"),         # junk after the string
            (':MMEM:CDIR "/F0:/SYSTEM/.."', "-257"), # never above the drive
            (':MMEM:CDIR "/F1:/"', "-257"),          # no other drive
            (':MMEM:CDIR "/F0:X"', "-257"),
            ('MMEM:MDIR "a\x01b"', "-257"),          # control character
            ("*IDN", "-113"),                        # query only
            ("X" * 5000, "-223"),                    # a line without end
        ]
        for line, code in table:
            with self.subTest(line=line[:40]):
                self.c.send(line)
                found = self.errors()
                self.assertEqual(len(found), 1, found)
                self.assertTrue(found[0].startswith(code + ',"'), found)
        self.assertEqual(self.c.query(":MMEM:CDIR?"), '"/F0:/"')

    def test_cdir_paths(self):
        table = [  # path, succeeds, current folder afterwards
            ("/F0:/SYSTEM", True, "/F0:/SYSTEM"),
            ("/F0:/", True, "/F0:/"),
            ("/F0://SYSTEM", True, "/F0:/SYSTEM"),   # doubled slash = one
            ("F0:/SYSTEM/", True, "/F0:/SYSTEM"),
            ("/F0:", True, "/F0:/"),
            ("SYSTEM", True, "/F0:/SYSTEM"),         # relative to current
            ("/F0:/system", False, "/F0:/"),         # names keep their case
            ("", True, "/F0:/"),                     # empty: stays put
        ]
        for path, succeeds, after in table:
            with self.subTest(path=path):
                self.c.send(':MMEM:CDIR "/F0:/"')
                self.assertEqual(self.c.ok(':MMEM:CDIR "%s"' % path), succeeds)
                self.assertEqual(self.c.query(":MMEM:CDIR?"), '"%s"' % after)

    def test_mdir_is_relative_to_the_current_folder_which_stays(self):
        self.assertTrue(self.c.ok(':MMEM:CDIR "/F0:/SYSTEM"'))
        self.assertTrue(self.c.ok('MMEM:MDIR "MID3"'))
        self.assertTrue(os.path.isdir(self.sim.path("SYSTEM", "MID3")))
        self.assertFalse(os.path.exists(self.sim.path("MID3")))
        self.assertEqual(self.c.query(":MMEM:CDIR?"), '"/F0:/SYSTEM"')
        self.assertTrue(self.c.ok('MMEM:MDIR "MID3/SUB"'))
        self.assertTrue(self.c.ok('MMEM:MDIR "/F0://KRN3"'))
        self.assertTrue(os.path.isdir(self.sim.path("KRN3")))
        # Exists already; parent missing; the root itself.
        for name in ("MID3", "NOPE/SUB", "/F0:/"):
            with self.subTest(name=name):
                self.assertFalse(self.c.ok('MMEM:MDIR "%s"' % name))

    def test_links_are_refused(self):
        os.symlink("/tmp", self.sim.path("LINK"))
        try:
            self.assertFalse(self.c.ok(':MMEM:CDIR "/F0:/LINK"'))
            self.assertFalse(self.c.ok('MMEM:MDIR "/F0:/LINK/X"'))
            self.assertNotIn('"LINK"', self.c.query('MMEM:CAT? "/F0:/"'))
        finally:
            os.unlink(self.sim.path("LINK"))

    def test_catalogue_layout_and_free_space(self):
        os.makedirs(self.sim.path("CAT", "SUB"))
        for name, size in (("NAME", 6), ('Q"T', 10), ("EMPTY", 0)):
            with open(self.sim.path("CAT", name), "wb") as f:
                f.write(b"x" * size)
        used = 16  # nothing else in this simulator holds bytes
        self.assertEqual(
            self.c.query('MMEM:CAT? "/F0:/CAT"'),
            '%d,%d,"EMPTY",FILE,0,"NAME",FILE,6,"Q""T",FILE,10,"SUB",DIR,0'
            % (used, 100000 - used))
        # An empty folder keeps the comma after the free space.
        self.assertEqual(self.c.query('MMEM:CAT? "/F0:/CAT/SUB"'),
                         "%d,%d," % (used, 100000 - used))
        # Without a path: the current folder.
        self.assertTrue(self.c.ok(':MMEM:CDIR "/F0:/CAT/SUB"'))
        self.assertEqual(self.c.query("MMEM:CAT?"), "%d,%d," % (used, 100000 - used))
        # A missing folder still gets its one reply line, and an error.
        self.assertEqual(self.c.query('MMEM:CAT? "/F0:/NONE"'),
                         "%d,%d," % (used, 100000 - used))
        self.assertEqual(self.errors(), ['-256,"File name not found"'])


if __name__ == "__main__":
    unittest.main()
