"""tarvik2-run answering by a sequence set, against a far end of the test's
own on a pseudo-terminal: --answer with --for and with Ctrl+C, a thousand
polls answered with check values and none missed, the rules in the summary
and the JUnit report, a bad set refused, and a script's on_receive with a
sequence's name and with a function."""

import os
import select
import signal
import subprocess
import sys
import tempfile
import time
import tty
import unittest
import xml.etree.ElementTree as ET

RUN = sys.argv[1]
del sys.argv[1:2]

SET = """[send reply]
line = 0x01 0x03 0x02 0x00 0x2A
check = CRC-16/MODBUS

[send ack]
line = 0x06

[rule poll]
pattern = 0x01 0x03 ?? ?? 0x00 0x01
check = CRC-16/MODBUS
answer = reply
mark = yes
count = yes
"""


def crc16_modbus(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return data + bytes([crc & 0xFF, crc >> 8])


REPLY = crc16_modbus(bytes([1, 3, 2, 0, 0x2A]))


class FarEnd:
    """A pty whose master the test drives; the runner opens its slave."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        self.path = os.ttyname(self.slave)

    def read(self, count, limit=5.0):
        got = b""
        deadline = time.monotonic() + limit
        while len(got) < count:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.master], [], [], left)[0]:
                break
            got += os.read(self.master, count - len(got))
        return got

    def write(self, data):
        os.write(self.master, data)

    def close(self):
        os.close(self.master)
        os.close(self.slave)


class AnswerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.line = FarEnd()
        self.addCleanup(self.line.close)
        self.set = self.file("set.seq", SET)

    def file(self, name, text):
        path = os.path.join(self.dir.name, name)
        with open(path, "w") as f:
            f.write(text)
        return path

    def start(self, *arguments):
        """The runner with its transcript in a file (a pipe nobody reads
        would fill and hold it up); returns once the port is open."""
        self.transcript = os.path.join(self.dir.name, "transcript.txt")
        with open(self.transcript, "w") as out:
            runner = subprocess.Popen([RUN, *arguments], stdout=out, stderr=subprocess.PIPE,
                                      text=True)
        self.addCleanup(lambda: runner.poll() is not None or runner.kill())
        deadline = time.monotonic() + 30
        while "port opened" not in self.output() and runner.poll() is None:
            self.assertLess(time.monotonic(), deadline, "the port did not open")
            time.sleep(0.01)
        return runner

    def finish(self, runner):
        _, err = runner.communicate(timeout=30)
        runner.stderr.close()
        return self.output(), err

    def output(self):
        with open(self.transcript) as f:
            return f.read()

    def test_answers_a_thousand_polls_until_ctrl_c(self):
        report = os.path.join(self.dir.name, "report.xml")
        runner = self.start("--answer", "--sequences", self.set, "--junit", report,
                            self.line.path)
        for i in range(1000):
            self.line.write(crc16_modbus(bytes([1, 3, i >> 8, i & 0xFF, 0, 1])))
            self.assertEqual(self.line.read(len(REPLY)), REPLY, f"poll {i}")
        bad = bytearray(crc16_modbus(bytes([1, 3, 0, 0, 0, 1])))
        bad[-1] ^= 1
        self.line.write(bytes(bad))
        self.assertEqual(self.line.read(1, 0.3), b"")
        runner.send_signal(signal.SIGINT)
        out, err = self.finish(runner)
        self.assertEqual(runner.returncode, 0, err)
        self.assertRegex(out, r"# poll \| 1000 \| 1000 \| [0-9.]+ / [0-9.]+ / [0-9.]+ / [0-9.]+")
        self.assertEqual(out.count("== rule poll"), 1000)
        case = ET.parse(report).getroot().find("testsuite").find("testcase")
        self.assertEqual(case.get("name"), "poll")
        self.assertIn("1000 matched, 1000 answered", case.find("system-out").text)

    def test_for_ends_the_run_by_itself(self):
        started = time.monotonic()
        runner = self.start("--answer", "--sequences", self.set, "--for", "0.5", self.line.path)
        out, err = self.finish(runner)
        self.assertEqual(runner.returncode, 0, err)
        self.assertGreaterEqual(time.monotonic() - started, 0.5)
        self.assertIn("# poll | 0 | 0 | -", out)

    def test_bad_set_or_switches_are_refused_before_the_port_opens(self):
        bad = self.file("bad.seq", "[rule r]\npattern = 0x01\nanswer = nobody\n")
        for arguments, reason in [
            (["--answer", "--sequences", bad, self.line.path], "bad.seq:3: rule 'r' answers"),
            (["--answer", self.line.path], "--answer needs --sequences"),
            (["--for", "1", "--script", bad, self.line.path], "--for goes with --answer"),
        ]:
            with self.subTest(arguments=arguments):
                done = subprocess.run([RUN, *arguments], capture_output=True, text=True,
                                      timeout=30)
                self.assertEqual(done.returncode, 2)
                self.assertIn(reason, done.stderr)
                self.assertNotIn("port opened", done.stdout)

    def test_on_receive_with_a_sequence_name_and_a_function(self):
        script = self.file("test.lua", """
on_receive('"A"', 'ack')
on_receive('"F" ??', function(bytes) send('"got ' .. bytes:sub(2) .. '"') end)
on_receive('"D"', function() done = true end)
send_sequence('ack')
while not done do sleep(10) end
""")
        runner = self.start("--script", script, "--sequences", self.set, self.line.path)
        self.assertEqual(self.line.read(1), b"\x06")  # send_sequence
        self.line.write(b"A")
        self.assertEqual(self.line.read(1), b"\x06")  # answered by name
        self.line.write(b"F7")
        self.assertEqual(self.line.read(5), b"got 7")  # answered by the function
        self.line.write(b"D")
        out, err = self.finish(runner)
        self.assertEqual(runner.returncode, 0, out + err)
        self.assertIn('# on_receive "A" | 1 | 1 |', out)
        self.assertIn('# on_receive "F" ?? | 1 | 0 | -', out)
        self.assertIn('# on_receive "D" | 1 | 0 | -', out)


if __name__ == "__main__":
    unittest.main(verbosity=2)
