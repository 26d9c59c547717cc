"""The fleet page as a browser shows it: vxupgrade-cli --report writes the
page from two histories (one rotated, one with a damaged line), headless
Chromium renders it, and the checks read the DOM Chromium built: every
instrument's row with its state, the hostile *IDN? reply as text, one bar
per kit. A screenshot of the rendered page is kept in VX_TEST_OUTPUT."""

import datetime
import json
import os
import shutil
import subprocess
import tempfile
import unittest
from html.parser import HTMLParser

CLI = os.environ.get("VX_CLI_PROGRAM", "")
OUTPUT = os.environ.get("VX_TEST_OUTPUT", "")
CHROMIUM = "/usr/bin/chromium"
HOSTILE = '<script>document.title="owned"</script>"><img src=x onerror=alert(1)>'
NOW = datetime.datetime.now(datetime.timezone.utc)
KIT_A, KIT_B, KIT_C = "a1" * 32, "b2" * 32, "c3" * 32

# serial: the state word its row must show
EXPECTED = {"S1": "up to date", "S2": "failed", "S3": "drifted", "S4": "not confirmed", "S5": "unknown",
            HOSTILE: "up to date"}


def record(days_ago, address, serial, outcome="succeeded", kit=KIT_A, **extra):
    started = (NOW - datetime.timedelta(days=days_ago)).strftime("%Y-%m-%dT%H:%M:%S.000Z")
    r = {"record": 1, "started": started, "ended": started, "tool": "1.0", "user": "lab", "host": "pc1",
         "address": address, "identity": "ALVO,VX900,%s,1.00" % serial, "kit": "/opt/kit", "modules": [],
         "free": 1000, "files": [{"path": "/F0:/KRN3/a.bin", "size": 4, "sha256": "00" * 32,
                                  "outcome": "failed" if outcome == "failed" else "sent-verified"}],
         "kitDigest": kit, "outcome": outcome, "step": "finish", "message": "Copy completed!", "bytes": 4,
         "seconds": 1.0, "dryRun": False, "signerKey": "", "signerComment": ""}
    r.update(extra)
    return json.dumps(r)


class Element:
    def __init__(self, tag, attrs, parent):
        self.tag, self.attrs, self.parent, self.children = tag, dict(attrs), parent, []

    def text(self):
        return "".join(c if isinstance(c, str) else c.text() for c in self.children)

    def all(self, tag=None, cls=None):
        for child in self.children:
            if isinstance(child, Element):
                if (tag is None or child.tag == tag) and (cls is None or cls in child.attrs.get("class", "").split()):
                    yield child
                yield from child.all(tag, cls)


class DomReader(HTMLParser):
    VOID = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "track", "wbr"}

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.root = self.current = Element("#document", [], None)

    def handle_starttag(self, tag, attrs):
        element = Element(tag, attrs, self.current)
        self.current.children.append(element)
        if tag not in self.VOID:
            self.current = element

    def handle_startendtag(self, tag, attrs):
        self.current.children.append(Element(tag, attrs, self.current))

    def handle_endtag(self, tag):
        node = self.current
        while node is not None and node.tag != tag:
            node = node.parent
        if node is not None and node.parent is not None:
            self.current = node.parent

    def handle_data(self, data):
        self.current.children.append(data)


def chromium(*arguments, profile):
    return subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                           "--disable-background-networking", "--disable-component-update", "--disable-sync",
                           "--user-data-dir=" + profile, *arguments],
                          capture_output=True, timeout=120, check=True)


class ReportInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not CLI:
            raise unittest.SkipTest("VX_CLI_PROGRAM is not set: run me through ctest")
        if not os.access(CHROMIUM, os.X_OK):
            raise AssertionError("%s is missing: scripts/setup.sh installs Debian's chromium" % CHROMIUM)
        cls.work = tempfile.mkdtemp(prefix="vxreport.")
        lab_a = os.path.join(cls.work, "lab-a.jsonl")
        lab_b = os.path.join(cls.work, "lab-b.jsonl")
        with open(os.path.join(cls.work, "lab-a.1.jsonl"), "w") as f:  # rotated away, read all the same
            f.write(record(60, "10.0.0.1", "S1", kit=KIT_B) + "\n")
        with open(lab_a, "w") as f:
            f.write(record(2, "10.0.0.1", "S1", reboot="confirmed", signerKey="0123456789abcdef",
                           signerComment="VX900 kits 2026-12") + "\n")
            f.write(record(1, "10.0.0.2", "S2", outcome="failed", step="modules",
                           message="Fail to download F/W !") + "\n")
            f.write(record(3, "10.0.0.3", "S3") + "\n")
            f.write(record(1, "10.0.0.3", "S3", audit={
                "counts": {"matches": 3, "differs": 1}, "clean": False,
                "notMatching": [{"path": "/F0:/KRN3/SIGNAL/w.bin", "verdict": "differs"}]}) + "\n")
        with open(lab_b, "w") as f:
            f.write(record(1, "10.0.1.4", "S4", kit=KIT_B, reboot="not confirmed: it did not come back") + "\n")
            f.write("{this line was cut short\n")
            f.write(record(40, "10.0.1.5", "S5", dryRun=True) + "\n")
            f.write(record(1, "10.0.1.6", HOSTILE, kit=KIT_C) + "\n")
        cls.page = os.path.join(cls.work, "fleet.html")
        sources = ["--history-file", lab_a, "--history-file", lab_b]
        cls.cli = subprocess.run([CLI, "--report", cls.page, *sources], capture_output=True, timeout=60)
        cls.stdout_page = subprocess.run([CLI, "--report", "-", *sources], capture_output=True, timeout=60).stdout
        cls.model = json.loads(subprocess.run([CLI, "--report", "-", "--json", *sources],
                                              capture_output=True, timeout=60, check=True).stdout)
        profile = os.path.join(cls.work, "profile")
        url = "file://" + cls.page
        reader = DomReader()
        reader.feed(chromium("--dump-dom", url, profile=profile).stdout.decode("utf-8"))
        cls.dom = reader.root
        cls.screenshot = os.path.join(OUTPUT or cls.work, "fleet-report-test.png")
        chromium("--screenshot=" + cls.screenshot, "--window-size=1400,1600", "--hide-scrollbars", url,
                 profile=profile)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_page_written_and_damage_shown(self):
        self.assertEqual(self.cli.returncode, 0, self.cli.stderr)
        self.assertIn(b"1 line(s) of", self.cli.stderr)
        # "--report -" writes the same page (but for the minute it was made).
        with open(self.page, "rb") as f:
            undated = lambda page: [line for line in page.splitlines() if not line.startswith(b'<p class="meta">Made')]
            self.assertEqual(undated(f.read()), undated(self.stdout_page))
        self.assertIn("1 damaged line(s)", self.dom.text())
        self.assertEqual([s["damagedLines"] for s in self.model["sources"]], [0, 1])

    def test_each_instrument_has_its_row_and_state(self):
        rows = list(next(self.dom.all("tbody")).all("tr"))
        self.assertEqual(len(rows), len(EXPECTED))
        seen = {}
        for row in rows:
            cells = list(row.all("td"))
            serial = cells[1].text().split("serial ", 1)[1]
            seen[serial] = " ".join(cells[0].text().split()[1:])
            self.assertEqual(cells[0].text().split()[0], {"up to date": "\u2713", "failed": "\u2717",
                                                          "drifted": "\u2260", "not confirmed": "\u26a0",
                                                          "unknown": "?"}[seen[serial]])
            # Each row links to its instrument's section, which has the timeline.
            target = next(cells[1].all("a")).attrs["href"]
            section = next(s for s in self.dom.all("section") if "#" + s.attrs.get("id", "") == target)
            self.assertTrue(list(section.all("li")))
        self.assertEqual(seen, EXPECTED)

    def test_hostile_identity_is_text(self):
        self.assertEqual(list(self.dom.all("script")), [])
        self.assertEqual(list(self.dom.all("img")), [])
        self.assertEqual(next(self.dom.all("title")).text(), "VX900 fleet")
        identities = [cell.text() for cell in self.dom.all("td", "identity")]
        self.assertIn("ALVO,VX900,%s,1.00" % HOSTILE, identities)

    def test_one_bar_per_kit(self):
        chart = next(self.dom.all("svg", "chart"))
        bars = list(chart.all("rect", "bar"))
        self.assertEqual(len(bars), 3)  # S1 and S3 on A, S4 on B, the hostile one on C
        self.assertEqual([k["kitDigest"] for k in self.model["kits"]], [KIT_A, KIT_B, KIT_C])
        self.assertIn("VX900 kits 2026-12", chart.text())

    def test_nothing_from_outside_the_page(self):
        for element in self.dom.all():
            self.assertNotIn("src", element.attrs, element.tag)
            self.assertTrue(element.attrs.get("href", "#").startswith("#"), element.attrs)
            self.assertNotEqual(element.tag, "link")

    def test_screenshot_taken(self):
        with open(self.screenshot, "rb") as f:
            self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")


if __name__ == "__main__":
    unittest.main()
