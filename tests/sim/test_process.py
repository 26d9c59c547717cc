"""The simulator as a process: ready line, stopping, options, start-up errors."""

import os
import re
import signal
import socket
import subprocess
import tempfile
import unittest

from simharness import PYTHON, SIM, IO_TIMEOUT, Simulator


def run_failing(*options):
    """Runs a simulator that must not start: (exit status, stdout, stderr)."""
    result = subprocess.run([PYTHON, SIM, "--cmd-port", "0", "--ftp-port", "0",
                             "--max-seconds", "5", *options],
                            capture_output=True, text=True, timeout=IO_TIMEOUT)
    return result.returncode, result.stdout, result.stderr


class ProcessTest(unittest.TestCase):
    def test_ready_line_and_clean_stop_on_each_signal(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig.name):
                sim = Simulator()
                try:
                    self.assertNotEqual(sim.cmd_port, sim.ftp_port)
                    self.assertTrue(os.path.isdir(sim.path("SYSTEM")))
                    # Connected clients do not hold the stop up.
                    cmd, ftp = sim.command_client(), sim.ftp_client()
                    self.assertEqual(sim.stop(sig), 0)
                    cmd.close()
                    ftp.close()
                    self.assertFalse(os.path.exists(sim.drive))  # its own drive
                    stop = sim.transcript("sim")[-1]
                    self.assertEqual((stop["text"], stop["why"]), ("stop", sig.name))
                finally:
                    sim.close()

    def test_stops_after_a_connection_closed_by_a_held_reply(self):
        # The close after a held QUIT reply once left the loop waiting for
        # ever, deaf to every signal.
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig.name), Simulator("--reply-delay", "0.05") as sim:
                ftp = sim.ftp_client()
                self.assertTrue(ftp.command("QUIT").startswith("221"))
                self.assertEqual(ftp._file.read(), b"")  # closed by the simulator
                sim.process.send_signal(sig)
                try:
                    _, err = sim.process.communicate(timeout=IO_TIMEOUT)
                except subprocess.TimeoutExpired:
                    self.fail("%s ignored" % sig.name)
                self.assertEqual(sim.process.returncode, 0)
                self.assertNotIn("Traceback", err)
                ftp.close()

    def test_ready_line_format(self):
        result = subprocess.run([PYTHON, SIM, "--cmd-port", "0", "--ftp-port", "0",
                                 "--max-seconds", "0.2"],
                                capture_output=True, text=True, timeout=IO_TIMEOUT)
        self.assertEqual(result.returncode, 0)  # stopped by --max-seconds
        self.assertRegex(result.stdout, r"\Aready cmd=\d+ ftp=\d+ drive=/\S*vx900sim-\S+\n\Z")

    def test_given_drive_is_kept_and_used(self):
        with tempfile.TemporaryDirectory() as base:
            os.makedirs(os.path.join(base, "my drive", "F0:", "KRN3"))
            drive = os.path.join(base, "my drive")
            with Simulator(drive=drive) as sim:
                self.assertEqual(sim.drive, os.path.realpath(drive))
                with sim.command_client() as c:
                    self.assertIn('"KRN3",DIR,0', c.query("MMEM:CAT?"))
                with sim.ftp_client() as f:
                    self.assertEqual(f.store("/F0:/KRN3/A", b"a")[1][:3], "226")
            self.assertEqual(sorted(os.listdir(drive)), ["F0:"])
            self.assertEqual(sorted(os.listdir(os.path.join(drive, "F0:"))), ["KRN3", "SYSTEM"])
            code, out, err = run_failing("--drive", drive, "--no-system")
            self.assertEqual((code, out), (1, ""))
            self.assertIn("--no-system", err)
            self.assertTrue(os.path.isdir(os.path.join(drive, "F0:", "SYSTEM")))

    def test_bad_options_and_busy_ports_stop_before_ready(self):
        for options in (["--cmd-port", "70000"], ["--stor-fail", "99"],
                        ["--stor-fail", "451@0"], ["--stor-refuse", "x"],
                        ["--reply-delay", "-1"], ["--max-seconds", "nan"],
                        ["--latency", "-0.5"],
                        ["--capacity", "-5"], ["--unknown"]):
            with self.subTest(options=options):
                code, out, _ = run_failing(*options)
                self.assertEqual((code, out), (2, ""))
        with socket.socket() as busy:
            busy.bind(("127.0.0.1", 0))
            busy.listen(1)
            code, out, err = run_failing("--ftp-port", str(busy.getsockname()[1]))
        self.assertEqual((code, out), (1, ""))
        self.assertTrue(re.search("cannot start", err), err)


if __name__ == "__main__":
    unittest.main()
