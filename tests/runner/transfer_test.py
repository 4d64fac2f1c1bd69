"""tarvik2-run's file transfers on socat's pty pairs: YMODEM both ways with
lrzsz, each counted as an exchange; paced text whose lines keep their delay
at the far end; lines that wait for their prompt."""

import hashlib
import os
import select
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest

RUN = sys.argv[1]
del sys.argv[1:2]


class Pair:
    """socat pty,raw,echo=0,link=A pty,raw,echo=0,link=B"""

    def __init__(self, folder):
        self.a, self.b = os.path.join(folder, "a"), os.path.join(folder, "b")
        self.process = subprocess.Popen(["socat", f"pty,raw,echo=0,link={self.a}",
                                         f"pty,raw,echo=0,link={self.b}"])
        deadline = time.monotonic() + 20
        while not (os.path.exists(self.a) and os.path.exists(self.b)):
            assert time.monotonic() < deadline, "socat made no pair"
            time.sleep(0.01)

    def close(self):
        self.process.terminate()
        self.process.wait(10)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class TransferTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.pair = Pair(self.dir.name)
        self.addCleanup(self.pair.close)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def run_script(self, source):
        with open(self.path("t.lua"), "w") as f:
            f.write(source)
        return subprocess.run([RUN, "--script", self.path("t.lua"), self.pair.a],
                              capture_output=True, text=True, timeout=120)

    def test_ymodem_both_ways_with_lrzsz(self):
        data = os.urandom(300 * 1024 + 5)
        with open(self.path("f.bin"), "wb") as f:
            f.write(data)
        os.mkdir(self.path("rb"))
        os.mkdir(self.path("in"))
        with open(self.pair.b, "r+b", buffering=0) as tty_b:
            peer = subprocess.Popen(["rb", "-b"], stdin=tty_b, stdout=tty_b,
                                    stderr=subprocess.DEVNULL, cwd=self.path("rb"))
            done = self.run_script(f"assert(ymodem_send('{self.path('f.bin')}'))")
            self.assertEqual(peer.wait(30), 0)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(digest(self.path("rb/f.bin")), digest(self.path("f.bin")))
            self.assertIn(f"# send ymodem {self.path('f.bin')} | 1 | 1 | 0 | 0 |", done.stdout)

            peer = subprocess.Popen(["sb", "-b", self.path("f.bin")], stdin=tty_b,
                                    stdout=tty_b, stderr=subprocess.DEVNULL)
            done = self.run_script(f"local ok, why = ymodem_receive('{self.path('in')}') "
                                   "assert(ok, why)")
            self.assertEqual(done.returncode, 0, done.stderr + done.stdout[-3000:])
            self.assertEqual(peer.wait(30), 0)
            self.assertEqual(digest(self.path("in/f.bin")), digest(self.path("f.bin")))

    def test_a_transfer_nobody_answers_times_out_and_is_counted(self):
        with open(self.path("f.bin"), "wb") as f:
            f.write(b"x" * 10)
        done = self.run_script(f"local ok, why = xmodem_receive('{self.path('got')}', "
                               "{crc = false, timeout = 2000}) assert(not ok) print(why)")
        self.assertEqual(done.returncode, 1, done.stderr)
        self.assertIn("| 1 | 0 | 0 | 1 |", done.stdout)
        self.assertFalse(os.path.exists(self.path("got")))
        self.assertEqual([n for n in os.listdir(self.dir.name) if n.endswith(".part")], [])

    def far_end(self, answer=None):
        """Records each line's arrival time at the far end; answers each with `answer`
        after 30 ms, recording when the answer left."""
        fd = os.open(self.pair.b, os.O_RDWR | os.O_NOCTTY)
        tty.setraw(fd)
        lines, answers, stop = [], [], threading.Event()

        def serve():
            buffer = b""
            while not stop.is_set():
                if not select.select([fd], [], [], 0.05)[0]:
                    continue
                buffer += os.read(fd, 4096)
                now = time.monotonic()
                while b"\n" in buffer:
                    line, buffer = buffer.split(b"\n", 1)
                    lines.append((now, line))
                    if answer:
                        time.sleep(0.03)
                        answers.append(time.monotonic())
                        os.write(fd, answer)

        worker = threading.Thread(target=serve)
        worker.start()

        def finish():
            stop.set()
            worker.join()
            os.close(fd)
            return lines, answers
        return finish

    def test_paced_text_keeps_its_line_delay(self):
        with open(self.path("cfg.txt"), "w") as f:
            f.write("".join(f"set {i}\n" for i in range(60)))
        finish = self.far_end()
        done = self.run_script(f"assert(send_file('{self.path('cfg.txt')}', {{line_delay = 20}}))")
        lines, _ = finish()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual([l for _, l in lines], [f"set {i}".encode() for i in range(60)])
        gaps = sorted((b[0] - a[0]) * 1000 for a, b in zip(lines, lines[1:]))
        # No line early over the whole file (one gap alone also carries the
        # reader's own lateness); the median judged loosely, as a machine
        # loaded many times over under a sanitizer allows (transfer_bench
        # measures the spread).
        self.assertGreaterEqual((lines[-1][0] - lines[0][0]) * 1000, 59 * 20 - 2, gaps)
        self.assertTrue(19.0 <= gaps[len(gaps) // 2] < 26.0, gaps)

    def test_each_line_waits_for_its_prompt(self):
        with open(self.path("cfg.txt"), "w") as f:
            f.write("".join(f"set {i}\n" for i in range(8)))
        finish = self.far_end(answer=b"ok>")
        done = self.run_script(f"assert(send_file('{self.path('cfg.txt')}', "
                               "{wait_for = '\"ok>\"', timeout = 2000}))")
        lines, answers = finish()
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(len(lines), 8)
        for (arrived, _), prompt in zip(lines[1:], answers):
            self.assertGreaterEqual(arrived, prompt)


if __name__ == "__main__":
    unittest.main()
