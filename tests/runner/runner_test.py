"""tarvik2-run against tarvik-sim on real pseudo-terminals: histories and
scripts, their exit statuses, transcripts, JUnit reports, bad input refused
before anything is sent, a port that goes away, a stop by SIGINT, and the
session captured and played back."""

import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

RUN, SIM = sys.argv[1], sys.argv[2]
del sys.argv[1:3]


class Simulator:
    """tarvik-sim with its switches; the port it serves."""

    def __init__(self, *arguments):
        self.process = subprocess.Popen([SIM, *arguments], stdout=subprocess.PIPE, text=True)
        self.port = self.process.stdout.readline().strip()
        assert self.port, "the simulator printed no port"

    def close(self):
        self.process.terminate()
        self.process.wait(10)
        self.process.stdout.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    """From the kernel's table: a connection would make ser2net open the device."""
    with open("/proc/net/tcp") as table:
        return any(f[1].endswith(":%04X" % port) and f[3] == "0A"
                   for f in (line.split() for line in table) if len(f) > 3)


class Ser2net:
    """ser2net on 127.0.0.1 serving a device over RFC 2217 and raw TCP."""

    def __init__(self, folder, device):
        self.rfc, self.raw = free_port(), free_port()
        config = os.path.join(folder, "ser2net.yaml")
        with open(config, "w") as f:
            for name, accepter in (("rfc", "telnet(rfc2217),tcp"), ("raw", "tcp")):
                port = self.rfc if name == "rfc" else self.raw
                f.write(f"connection: &{name}\n  accepter: {accepter},127.0.0.1,{port}\n"
                        f"  connector: serialdev,{device},9600n81,local\n")
        self.process = subprocess.Popen(["ser2net", "-n", "-c", config, "-P",
                                         os.path.join(folder, "ser2net.pid")],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not (listening(self.rfc) and listening(self.raw)):
            assert time.monotonic() < deadline, "ser2net did not come up"
            time.sleep(0.01)

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


class RunnerTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.sim = Simulator("--reply", "\\x06OK", "--link", self.path("dev"))
        self.addCleanup(self.sim.close)
        self.addCleanup(self.dir.cleanup)

    def path(self, name):
        return os.path.join(self.dir.name, name)

    def file(self, name, text):
        with open(self.path(name), "w", newline="") as f:
            f.write(text)
        return self.path(name)

    def run_script(self, source, *extra, port=None):
        script = self.file("test.lua", source)
        return subprocess.run([RUN, "--script", script, *extra, port or self.sim.port],
                              capture_output=True, text=True, timeout=60)

    def test_history_sent_n_times_newest_last(self):
        history = self.file("tx.txt", '0x01 0x02\r\n"AB"\r\n')
        done = subprocess.run([RUN, "--history", history, "--repeat", "3", "--delay", "200",
                               self.sim.port], capture_output=True, text=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        sent = [l.split(" ", 1)[1] for l in done.stdout.splitlines() if ">> " in l]
        self.assertEqual(sent, [">> A  B (2)", ">> 0x01 0x02 (2)"] * 3)
        self.assertIn("# \"AB\" | 3 | 3 | 0 | 0 |", done.stdout)
        self.assertEqual(done.stdout.count("0x06  O  K (3)"), 6)

    # (script, exit status, what the summary and transcript must hold)
    SCRIPTS = [
        ("send('\"Q\"') assert(expect('0x06 \"OK\"'))", 0, ['# 0x06 "OK" | 1 | 1 | 0 | 0 |']),
        ("send('\"Q\"') local ok, why = expect('0x06 \"OX\"') assert(not ok) print(why)", 1,
         ["byte 3 is 0x4B, not 0x58", '# 0x06 "OX" | 1 | 0 | 1 | 0 | -']),
        ("send('\"Q\"') expect('0x06 \"OK\" ??', 300)", 1,
         ["expect timed out", "3 of 4 bytes within 300 ms", '| 1 | 0 | 0 | 1 | -']),
        ("send('1') expect('??', {check = 'BCC', name = 'bcc'})", 1,
         ["BCC: received 0x4F 0x4B, expected 0x30 0x36", "# bcc | 1 | 0 | 1 | 0 |"]),
        ("for i = 1, 20 do send('\"Q\"') expect('0x06 \"OK\"', {name = 'poll'}) end", 0,
         ["# poll | 20 | 20 | 0 | 0 |"]),
    ]

    def test_scripts(self):
        for source, status, expected in self.SCRIPTS:
            with self.subTest(source=source):
                done = self.run_script(source, "--junit", self.path("report.xml"))
                self.assertEqual(done.returncode, status, done.stdout + done.stderr)
                for text in expected:
                    self.assertIn(text, done.stdout)
                suite = ET.parse(self.path("report.xml")).getroot().find("testsuite")
                self.assertEqual(int(suite.get("failures")), 1 if status else 0)
                self.assertEqual(int(suite.get("errors")), 0)

    def test_transcript_lines_in_the_order_things_happened(self):
        done = self.run_script("send('\"Q\"') sleep(100) send('\"R\"') sleep(100) "
                               "expect('0x06 \"OX\"')", "--timestamps", "start")
        self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
        lines = [l.split(" ", 1) for l in done.stdout.splitlines()
                 if not l.startswith("#") and ("== " not in l or "expect failed" in l)]
        self.assertEqual([text.split(":")[0] for _, text in lines],
                         [">> Q (1)", "0x06  O  K (3)", ">> R (1)", "0x06  O  K (3)",
                          "== expect failed"])
        seconds = [float(at) for at, _ in lines]
        self.assertEqual(seconds, sorted(seconds))
        self.assertGreater(seconds[2] - seconds[0], 0.09)

    def test_check_value_appended_and_verified(self):
        echo = Simulator()  # every block comes back as it was sent
        self.addCleanup(echo.close)
        done = self.run_script("send('0x01 0x03', 'CRC-16/MODBUS') "
                               "assert(expect('0x01 ??', {check = 'CRC-16/MODBUS'}))",
                               port=echo.port)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn(">> 0x01 0x03 0x40 0x21 (4)", done.stdout)
        self.assertIn("# 0x01 ?? + CRC-16/MODBUS | 1 | 1 | 0 | 0 |", done.stdout)

    def test_messages_framed_as_in_the_window(self):
        """A far end that stalls mid-frame, then sends the rest with the next
        frame in one write: by timing alone two pieces; with the check value
        chosen, the two frames whole."""
        def modbus(body):
            crc = 0xFFFF
            for byte in body:
                crc ^= byte
                for _ in range(8):
                    crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
            return body + bytes([crc & 0xFF, crc >> 8])
        a = modbus(bytes([1, 3, 0, 0, 0, 10]))
        b = modbus(bytes([1, 3, 4, 0, 42, 0, 7]))
        pattern = " ".join("0x%02X" % byte for byte in a + b)
        for extra, counts in ((["--messages", "gap:10"], ["(3)", "(14)"]),
                              (["--messages", "gap:10", "--check", "CRC-16/MODBUS"],
                               ["(8) ok", "(9) ok"])):
            with self.subTest(extra=extra):
                master, slave = os.openpty()
                port = os.ttyname(slave)
                os.close(slave)  # the runner's alone, or its port is busy
                script = self.file("framed.lua", "send('0x07') assert(expect('%s'))" % pattern)
                runner = subprocess.Popen([RUN, "--script", script, "--hex", *extra, port],
                                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                          text=True)
                # Until the runner opens the port, the master reads as hung up.
                deadline = time.monotonic() + 30
                request = b""
                while not request and time.monotonic() < deadline:
                    select.select([master], [], [], 0.05)
                    try:
                        request = os.read(master, 16)
                    except OSError:
                        pass
                self.assertEqual(request, b"\x07", "the runner sent nothing")
                os.write(master, a[:3])
                time.sleep(0.04)  # the far end stalls mid-frame (its own timing, not a wait)
                os.write(master, a[3:] + b)
                out, err = runner.communicate(timeout=60)
                os.close(master)
                self.assertEqual(runner.returncode, 0, out + err)
                received = [line for line in out.splitlines()
                            if ")" in line and ">> " not in line and "== " not in line
                            and not line.startswith("#")]
                self.assertEqual([line[line.rindex(" ("):].strip() for line in received],
                                 counts, out)

    # (script, port (None: the simulator's), what the reason on standard error says)
    REFUSED = [
        ("send('\"Q\"')\nexpect('0x06 \"OK\"'\n", None, "test.lua:3:"),
        ("send('\"Q\"')\nexpect('0x06 OK')\n", None, "test.lua:2: Pattern '0x06 OK'"),
        ("sleep(1)\nsend('0x01', 'CRC-99')\n", None, "test.lua:2: No check value is named 'CRC-99'"),
        ("sleep(1)\nexpect('0x06 ??', {timeout = 50, check = 'CRC-99'})\n", None,
         "test.lua:2: No check value is named 'CRC-99'"),
        ("set_dtr(true)", None, "test.lua:1: EscapeCommFunction"),  # a pty has no DTR
        ("send('\"Q\"')", "/dev/pts/no-such-port", "Cannot open port /dev/pts/no-such-port"),
    ]

    def test_refused_with_status_2(self):
        for source, port, reason in self.REFUSED:
            with self.subTest(source=source, port=port):
                done = self.run_script(source, port=port)
                self.assertEqual(done.returncode, 2, done.stdout)
                self.assertIn(reason, done.stderr)
                if "dtr" not in source:  # refused before the run
                    self.assertNotIn(">> ", done.stdout)

    def test_texts_from_files_reach_the_terminal_escaped(self):
        # A history line that would retitle the terminal, sent and summed up.
        history = self.file("tx.txt", '"\x1b]0;owned\x07"\r\n')
        done = subprocess.run([RUN, "--history", history, self.sim.port],
                              capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn(b'# "\\x1B]0;owned\\x07" | 1 | 1 |', done.stdout)
        # A bad line's error quotes it on standard error; a script's message as well.
        bad = self.file("bad.txt", "1\x1b[2Jx\u009b\r\n")
        refused = subprocess.run([RUN, "--history", bad, self.sim.port],
                                 capture_output=True, timeout=60)
        self.assertEqual(refused.returncode, 2)
        self.assertIn(b"\\x1B[2J", refused.stderr)
        script = self.file("t.lua", "error('\x1b[31mred\x1b[0m')")
        failed = subprocess.run([RUN, "--script", script, self.sim.port],
                                capture_output=True, timeout=60)
        self.assertEqual(failed.returncode, 2)
        self.assertIn(b"\\x1B[31mred", failed.stderr)
        for output in (done.stdout, done.stderr, refused.stderr, failed.stdout, failed.stderr):
            for raw in (b"\x1b", b"\x07", b"\xc2\x9b"):
                self.assertNotIn(raw, output)

    def test_busy_port(self):
        holder = os.open(self.sim.port, os.O_RDWR | os.O_NOCTTY)
        self.addCleanup(os.close, holder)
        done = self.run_script("send('1')")
        self.assertEqual(done.returncode, 2)
        self.assertIn("Cannot open port", done.stderr)

    def start_loop(self, port, source="while true do send('\"Q\"') expect('0x06 \"OK\"') "
                                      "sleep(5) end", running="0x06  O  K", *extra):
        script = self.file("loop.lua", source)
        runner = subprocess.Popen([RUN, "--script", script, "--junit", self.path("r.xml"), *extra,
                                   port],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            select.select([runner.stdout], [], [], 1)
            if running in runner.stdout.readline():
                return runner
        self.fail("the loop never got going")

    def test_ctrl_c_stops_cleanly(self):
        runner = self.start_loop(self.sim.port)
        runner.send_signal(signal.SIGINT)
        out, err = runner.communicate(timeout=10)
        self.assertEqual(runner.returncode, 128 + signal.SIGINT, err)
        self.assertIn("== port closed", out)
        self.assertIn("stopped by signal 2", out)
        suite = ET.parse(self.path("r.xml")).getroot().find("testsuite")
        self.assertEqual(suite.find("testcase").get("name"), '0x06 "OK"')
        self.assertEqual(int(suite.get("errors")), 1)
        # A script that never waits on the line stops as well.
        # ... also on SIGTERM and SIGHUP (the terminal closed).
        for stop in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            runner = self.start_loop(self.sim.port, "local n = 0 while true do n = n + 1 end",
                                     "port opened")
            runner.send_signal(stop)
            self.assertIn("== port closed", runner.communicate(timeout=10)[0])
            self.assertEqual(runner.returncode, 128 + stop)

    def test_port_gone_mid_run(self):
        runner = self.start_loop(self.path("dev"))
        self.sim.process.send_signal(signal.SIGUSR1)  # unplugged
        out, err = runner.communicate(timeout=10)
        self.assertEqual(runner.returncode, 2, err)
        self.assertIn("The port went away", err)
        self.assertIn("== line lost", out)
        self.assertIn('# 0x06 "OK" |', out)

    def test_reconnect_when_the_port_comes_back(self):
        runner = self.start_loop(self.path("dev"), "send('\"Q\"') expect('0x06 \"OK\"') "
                                 "assert(wait_event('line lost', 5000)) "
                                 "assert(wait_event('back', 5000)) "
                                 "send('\"Q\"') assert(expect('0x06 \"OK\"'))", "0x06  O  K",
                                 "--reconnect")
        self.sim.process.send_signal(signal.SIGUSR1)  # unplugged
        deadline = time.monotonic() + 10
        seen = ""
        while time.monotonic() < deadline and "waiting for" not in seen:
            seen = runner.stdout.readline()
        # What it waits for, said after the loss.
        self.assertIn("== waiting for the link %s to be made again" % self.path("dev"), seen)
        self.sim.process.send_signal(signal.SIGUSR2)  # back, behind the same link
        out, err = runner.communicate(timeout=10)
        self.assertEqual(runner.returncode, 0, out + err)
        self.assertIn("== back", out)
        self.assertIn('# 0x06 "OK" | 2 | 2 | 0 | 0 |', out)

    def test_line_lost_during_a_transfer(self):
        """Without reconnect the run ends saying so; with it the transfer fails
        at once and the steps after it find the port back."""
        with open(self.path("slow.bin"), "wb") as f:
            f.write(b"x" * 100000)
        transfer = f"local ok, why = send_raw('{self.path('slow.bin')}', {{block = 64, delay = 10}}) "
        after = "assert(wait_event('back', 10000)) send('\"Q\"') assert(expect('0x06 \"OK\"'))"
        for extra, status, said in [
                ((), 2, ["== line lost", "The port went away"]),
                (("--reconnect",), 1, ["transfer failed: The line was lost during the transfer",
                                      "== back", '# 0x06 "OK" | 1 | 1 | 0 | 0 |',
                                      f"# send raw {self.path('slow.bin')} | 1 | 0 | 1 | 0 |"])]:
            with self.subTest(extra=extra):
                runner = self.start_loop(self.path("dev"), transfer + after, "== send raw", *extra)
                self.sim.process.send_signal(signal.SIGUSR1)  # unplugged mid-transfer
                seen = ""
                if extra:
                    for line in runner.stdout:
                        seen += line
                        if "waiting for" in line:
                            break
                    self.sim.process.send_signal(signal.SIGUSR2)
                # Through the same buffered reader: communicate() would pass
                # over lines it already holds.
                out, err = runner.stdout.read(), runner.stderr.read()
                runner.wait(30)
                self.assertEqual(runner.returncode, status, seen + out + err)
                for text in said:
                    self.assertIn(text, seen + out + err)
                if not extra:
                    self.sim.process.send_signal(signal.SIGUSR2)  # back for the next row
                    self.sim.port = self.sim.process.stdout.readline().strip()

    def read_capture(self, name):
        """The records of a timed capture: (monotonic µs, kind, bytes or event)."""
        with open(self.path(name), newline="") as f:
            lines = f.read().split("\n")
        self.assertEqual(lines[0], "# tarvik2 capture 1")
        self.assertEqual(lines[-1], "")  # every record whole
        records = []
        for line in lines[1:-1]:
            if not line.startswith("#"):
                mono, _, kind, value = (line.split(" ") + [""])[:4]
                records.append((int(mono), kind,
                                bytes.fromhex(value) if kind in ("tx", "rx") else value))
        return records

    EXCHANGE = "send('\"Q\"') assert(expect('0x06 \"OK\"'))"

    def test_capture_and_its_replay(self):
        done = self.run_script(self.EXCHANGE, "--capture", self.path("s.cap"),
                               "--capture-raw", self.path("s.raw"))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        records = self.read_capture("s.cap")
        blocks = [(kind, data) for _, kind, data in records if kind in ("tx", "rx")]
        self.assertEqual(blocks[0], ("tx", b"Q"))
        self.assertEqual({kind for kind, _ in blocks[1:]}, {"rx"})
        self.assertEqual(b"".join(data for _, data in blocks[1:]), b"\x06OK")
        self.assertEqual((records[0][1:], records[-1][1:]), (("ev", "opened"), ("ev", "closed")))
        with open(self.path("s.raw"), "rb") as f:
            self.assertEqual(f.read(), b"\x06OK")
        # The captured device, played back, passes the same exchange.
        player = Simulator("--replay", self.path("s.cap"), "--answer")
        self.addCleanup(player.close)
        done = self.run_script(self.EXCHANGE, port=player.port)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        # Refused before anything is sent, as the window refuses them.
        for extra, reason in [
                (["--capture", self.path("a"), "--capture-raw", self.path("a")], "the same file"),
                (["--capture-raw", self.path("a"), "--capture-raw", self.path("b")], "given once"),
                (["--capture", ""], "The file name of --capture is empty"),
                (["--capture", self.path("no/a.cap")], self.path("no/a.cap"))]:
            with self.subTest(extra=extra):
                done = self.run_script(self.EXCHANGE, *extra)
                self.assertEqual(done.returncode, 2, done.stdout)
                self.assertIn(reason, done.stderr)
                self.assertNotIn(">> ", done.stdout)
        # A capture that stops on its own says so once; the run goes on.
        done = self.run_script(self.EXCHANGE, "--capture", "/dev/full")
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertEqual(done.stderr.count("No space left on device"), 1, done.stderr)
        # Written to the end after a stop signal and after a lost port.
        runner = self.start_loop(self.sim.port, self.EXCHANGE + " sleep(60000)", "0x06  O  K",
                                 "--capture", self.path("c.cap"))
        runner.send_signal(signal.SIGINT)
        runner.communicate(timeout=10)
        self.assertEqual(self.read_capture("c.cap")[-1][1:], ("ev", "closed"))
        runner = self.start_loop(self.path("dev"), self.EXCHANGE + " sleep(60000)", "0x06  O  K",
                                 "--capture", self.path("l.cap"))
        self.sim.process.send_signal(signal.SIGUSR1)  # unplugged
        runner.communicate(timeout=10)
        self.assertEqual(runner.returncode, 2)
        self.assertIn(("ev", "lost"), [r[1:] for r in self.read_capture("l.cap")])

    def test_network_port_through_ser2net(self):
        server = Ser2net(self.dir.name, self.path("dev"))
        self.addCleanup(server.close)
        rfc = "rfc2217://127.0.0.1:%d" % server.rfc
        done = self.run_script(self.EXCHANGE, "--capture", self.path("n.cap"), port=rfc)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        # A pty behind ser2net has no DTR: said, and the run goes on.
        self.assertRegex(done.stdout, "== unconfirmed: .*DTR")
        done = self.run_script(self.EXCHANGE, port="socket://localhost:%d" % server.raw)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        # The server gone mid-run: the transcript and the end say why the line was lost.
        runner = self.start_loop(rfc, self.EXCHANGE + " sleep(60000)")
        server.close()
        out, err = runner.communicate(timeout=20)
        why = "line lost: the server at 127.0.0.1:%d closed the connection" % server.rfc
        self.assertIn("== " + why, out)
        self.assertIn("(%s)" % why, err)
        server = Ser2net(self.dir.name, self.path("dev"))
        self.addCleanup(server.close)
        rfc = "rfc2217://127.0.0.1:%d" % server.rfc
        # The network session's capture, played back by the simulator.
        player = Simulator("--replay", self.path("n.cap"), "--answer")
        self.addCleanup(player.close)
        done = self.run_script(self.EXCHANGE, port=player.port)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        # Nobody there: the host and port, and what failed.
        server.close()
        done = self.run_script(self.EXCHANGE, port=rfc)
        self.assertEqual(done.returncode, 2, done.stdout)
        self.assertIn("127.0.0.1:%d refused the connection" % server.rfc, done.stderr)
        done = self.run_script(self.EXCHANGE, port="socket://no-such-host.invalid:2217")
        self.assertEqual(done.returncode, 2, done.stdout)
        self.assertIn("no-such-host.invalid:2217: name not resolved", done.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
