"""tarvik2-run --samples against a far end of the test's own on a
pseudo-terminal: the lines it sends, in CSV and in labels, cut across writes
and mixed with junk, come back from the CSV file as the numbers sent, at
arrival times in order; a file that cannot be written and bad switches are
refused before the port opens."""

import csv
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import tty
import unittest

RUN = sys.argv[1]
del sys.argv[1:2]


class SamplesTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.master, slave = os.openpty()
        tty.setraw(slave)
        self.port = os.ttyname(slave)
        self.addCleanup(os.close, self.master)
        self.addCleanup(os.close, slave)
        self.csv = os.path.join(self.dir.name, "samples.csv")
        self.transcript = os.path.join(self.dir.name, "transcript.txt")

    def run_with(self, pieces, *switches):
        """Sends the pieces to a listening runner, one write each, then
        Ctrl+C; returns the file's header and rows and the wall-clock window."""
        with open(self.transcript, "w") as out:
            runner = subprocess.Popen([RUN, "--answer", "--samples", self.csv, *switches, self.port],
                                      stdout=out, stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: runner.poll() is not None or runner.kill())
        deadline = time.monotonic() + 30
        while "port opened" not in self.said():
            self.assertIsNone(runner.poll(), runner.stderr.read() if runner.poll() else "")
            self.assertLess(time.monotonic(), deadline, "the port did not open")
            time.sleep(0.01)
        began = time.time()
        for piece in pieces:
            os.write(self.master, piece)
            time.sleep(0.002)  # separate reads, so that lines straddle them
        # Each transcript line of a read ends with its byte count.
        while sum(map(int, re.findall(r"\((\d+)\)$", self.said(), re.M))) < \
                sum(map(len, pieces)):
            self.assertLess(time.monotonic(), deadline, "the runner did not take every byte")
            time.sleep(0.01)
        ended = time.time()
        runner.send_signal(signal.SIGINT)
        _, err = runner.communicate(timeout=30)
        runner.stderr.close()
        self.assertEqual(runner.returncode, 0, err)
        with open(self.csv, newline="") as f:
            rows = list(csv.reader(f))
        return rows[0], rows[1:], began, ended

    def said(self):
        with open(self.transcript) as f:
            return f.read()

    def check(self, rows, expected, began, ended):
        times = [float(row[0]) for row in rows]
        self.assertEqual(times, sorted(times))
        self.assertTrue(all(began - 0.01 <= t <= ended + 0.01 for t in times), (began, times, ended))
        values = [[float(cell) if cell else None for cell in row[1:]] for row in rows]
        self.assertEqual(values, expected)

    def test_csv_lines_come_back_as_sent(self):
        pieces = [b"Sensor ready\r\n", b"volts,amps,te", b"mp\r\n1.25,0.5,21\r", b"\n-3e-3 7",
                  b" 1e300\nnot a number\n", b"4,,nan\n", b"1,2,3," * 700 + b"\n", b"9\t8\t7"]
        header, rows, began, ended = self.run_with(pieces)
        self.assertEqual(header, ["time", "volts", "amps", "temp"])
        self.check(rows, [[1.25, 0.5, 21.0], [-0.003, 7.0, 1e300], [4.0, None, None],
                          [9.0, 8.0, 7.0]], began, ended)

    def test_labels_named_late_join_the_header(self):
        lines = [f"temp:{20 + i / 8},hum:{40 + i}".encode() + b"\n" for i in range(200)]
        lines[100] = b"temp:1 set:22.5\n"
        header, rows, began, ended = self.run_with(lines, "--plot-format", "labels")
        self.assertEqual(header, ["time", "temp", "hum", "set"])
        expected = [[20 + i / 8, 40.0 + i] for i in range(200)]
        expected[100] = [1.0, None, 22.5]
        expected[101:] = [row + [None] for row in expected[101:]]
        self.check(rows, expected, began, ended)

    def test_refusals_before_the_port_opens(self):
        cases = [
            (["--answer", "--samples", os.path.join(self.dir.name, "no", "x.csv")],
             "Cannot write the samples to"),
            (["--answer", "--samples", self.dir.name], "Cannot write the samples to"),
            (["--answer", "--samples", self.csv, "--plot-format", "json"], "--plot-format cannot take 'json'"),
            (["--answer", "--sequences", self.csv, "--plot-format", "labels"], "--plot-format goes with --samples"),
            (["--answer", "--samples", self.csv, "--capture", self.csv], "--samples names the file of a capture"),
        ]
        for switches, said in cases:
            with self.subTest(switches=switches):
                done = subprocess.run([RUN, *switches, self.port], capture_output=True, text=True, timeout=30)
                self.assertEqual(done.returncode, 2)
                self.assertIn(said, done.stderr)
                self.assertNotIn("port opened", done.stdout)


if __name__ == "__main__":
    unittest.main()
