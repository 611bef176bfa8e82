#!/usr/bin/env python3
"""voltaro-log --scpi against PyVISA (pyvisa-py), as a lab script uses it.

Runs voltaro-log on a pseudo-terminal meter-sim feeds, under a German locale,
and checks its answers against the lines it prints for the same readings;
then two clients at once, a client sending garbage, and one that floods
without reading while another is served.

    scpi_pyvisa.py VOLTARO_LOG METER_SIM VERSION
"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

import pyvisa

LOG, SIM, VERSION = sys.argv[1:4]
PREFIX = {"n": 1e-9, "u": 1e-6, "+": 1e-6, "m": 1e-3, "k": 1e3, "K": 1e3, "M": 1e6}


def si(line):
    """The SI value of a printed frame line: the scaled value times its unit's prefix."""
    fields = line.split("\t")
    unit, scaled = fields[3], float(fields[6])
    return scaled * (PREFIX.get(unit[0], 1) if len(unit) > 1 else 1)


def same(a, b):
    return abs(a - b) <= 1e-6 * max(abs(a), abs(b), 1e-12)


def check(ok, what):
    if not ok:
        raise AssertionError(what)


class Lines:
    """The lines a stream gives, read by a thread of their own."""

    def __init__(self, stream):
        self.lines, self.lock = [], threading.Lock()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for line in stream:
            with self.lock:
                self.lines.append(line.rstrip("\n"))

    def snapshot(self):
        with self.lock:
            return list(self.lines)

    def wait_count(self, count, seconds=5):
        end = time.monotonic() + seconds
        while len(self.snapshot()) < count:
            check(time.monotonic() < end, "fewer than %d lines came" % count)
            time.sleep(0.02)
        return self.snapshot()

    def wait_for(self, test, seconds=5):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            found = [l for l in self.snapshot() if test(l)]
            if found:
                return found[0]
            time.sleep(0.02)
        raise AssertionError("waited in vain; lines: %r" % self.snapshot()[-5:])


def printed(out, value, first, what):
    """Waits for a line printed from the index `first` on whose value in SI units is `value`."""
    end = time.monotonic() + 3
    while not any(same(value, si(l)) for l in out.snapshot()[first:]):
        check(time.monotonic() < end, "%s %r is none of %r" % (what, value, out.snapshot()[first:]))
        time.sleep(0.02)


def german_locale(folder):
    subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", os.path.join(folder, "de_DE.UTF-8")],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    check(os.path.isdir(os.path.join(folder, "de_DE.UTF-8")), "localedef made no German locale")
    env = dict(os.environ, LOCPATH=folder, LC_ALL="de_DE.UTF-8", XDG_STATE_HOME=folder)
    return env


def lab_script(rm, port, out):
    """What a lab script does: identify, ask the configuration, fetch and read."""
    dmm = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                           write_termination="\n", timeout=5000)
    idn = dmm.query("*IDN?")
    check(idn == "Voltaro,voltaro-log,0," + VERSION, "*IDN? answered %r" % idn)
    conf = dmm.query("CONF?")
    check(conf == '"VOLT:DC +2.200000E+01"', "CONF? answered %r" % conf)
    check(dmm.query("SYST:ERR?") == '0,"No error"', "an error before any mistake")
    for _ in range(5):
        # The reading READ? waits for is printed after every line seen before it was sent;
        # the one FETC? answers is the last of them or a later one.
        before = len(out.snapshot())
        read = dmm.query("READ?")
        check(re.fullmatch(r"[+-]\d\.\d{6}E[+-]\d\d", read), "READ? answered %r" % read)
        printed(out, float(read), before, "READ?")
        before = len(out.snapshot())
        printed(out, float(dmm.query("FETC?")), max(0, before - 1), "FETC?")
    dmm.write("FETCH:BOGUS?")
    check(dmm.query("SYST:ERR?") == '-113,"Undefined header"', "no error after a bad command")
    check(dmm.query("SYST:ERR?") == '0,"No error"', "the error queue was not emptied")
    both = dmm.query("*IDN?;MEAS?").split(";")
    check(len(both) == 2 and both[0] == idn and float(both[1]) != 9.91e37, "*IDN?;MEAS? answered %r" % both)
    dmm.close()


def two_clients(rm, port):
    """Two clients at once, each with its own error queue; one waits on READ? while the other fetches."""
    a = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                         write_termination="\n", timeout=5000)
    b = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                         write_termination="\n", timeout=5000)
    a.write("NOT:A:COMMAND")
    results = {"a": [], "b": []}
    ta = threading.Thread(target=lambda: results["a"].extend(a.query("READ?") for _ in range(4)))
    tb = threading.Thread(target=lambda: results["b"].extend(b.query("FETC?") for _ in range(40)))
    ta.start(), tb.start()
    ta.join(20), tb.join(20)
    check(len(results["a"]) == 4 and len(results["b"]) == 40, "answers: %r" % results)
    check(b.query("SYST:ERR?") == '0,"No error"', "one client's error reached the other")
    check(a.query("SYST:ERR?") == '-113,"Undefined header"', "a client's error was lost")
    a.close(), b.close()


def garbage_and_flood(rm, port, err):
    """Binary bytes and an over-long line give errors; a client that floods
    and never reads is held back by TCP while another is answered, then closed."""
    junk = socket.create_connection(("127.0.0.1", port))
    junk.sendall(b"\x00\xff\x01FETC?\n" + b"A" * 100000 + b"\nSYST:ERR?\nSYST:ERR?\nSYST:ERR?\n")
    answers = b""
    junk.settimeout(5)
    while answers.count(b"\n") < 3:
        answers += junk.recv(4096)
    check(answers == b'-101,"Invalid character"\n-363,"Input buffer overrun"\n0,"No error"\n',
          "garbage answered %r" % answers)
    junk.close()

    flood = socket.create_connection(("127.0.0.1", port))
    flood.setblocking(False)
    sent, block = 0, b"FETC?\n" * 10000
    end = time.monotonic() + 10
    while time.monotonic() < end:
        try:
            sent += flood.send(block)
        except BlockingIOError:
            time.sleep(0.2)
            try:
                sent += flood.send(block)
            except BlockingIOError:
                break  # held back: the server reads no further
    check(time.monotonic() < end, "the server took %d bytes of a client that reads nothing" % sent)
    check(sent < 64 << 20, "the server took %d bytes of a client that reads nothing" % sent)
    other = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                             write_termination="\n", timeout=2000)
    for _ in range(20):
        float(other.query("FETC?"))
    float(other.query("READ?"))
    other.close()
    # Its answers do not move: the server closes it (after 5 s).
    end = time.monotonic() + 20
    while True:
        check(time.monotonic() < end, "a client that reads nothing was not closed")
        try:
            flood.send(b"\n")
        except BlockingIOError:
            time.sleep(0.5)
        except (ConnectionResetError, BrokenPipeError):
            break
    flood.close()
    err.wait_for(lambda l: "read none of their answers" in l)
    return sent


def too_many(port, err):
    """32 clients are served; the next is closed at once, and the user is told."""
    served = []
    for _ in range(32):
        c = socket.create_connection(("127.0.0.1", port))
        c.settimeout(5)
        c.sendall(b"*OPC?\n")
        check(c.recv(16) == b"1\n", "client %d was not served" % len(served))
        served.append(c)
    extra = socket.create_connection(("127.0.0.1", port))
    extra.settimeout(5)
    try:
        extra.sendall(b"*OPC?\n")
        answer = extra.recv(16)
    except ConnectionResetError:
        answer = b""
    check(answer == b"", "the 33rd client was answered %r" % answer)
    err.wait_for(lambda l: "refused an SCPI client from 127.0.0.1: 32 are served already" in l)
    for c in served + [extra]:
        c.close()
    # Once the server has seen them go, a client is served again.
    end = time.monotonic() + 5
    while True:
        check(time.monotonic() < end, "no client is served after 32 went")
        with socket.create_connection(("127.0.0.1", port)) as c:
            c.settimeout(5)
            try:
                c.sendall(b"*OPC?\n")
                if c.recv(16) == b"1\n":
                    break
            except ConnectionResetError:
                pass
        time.sleep(0.05)


def meter_gone(rm, port, sim, err):
    """With the meter gone, FETC? says the data are stale instead of repeating its last reading."""
    dmm = rm.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % port, read_termination="\n",
                           write_termination="\n", timeout=5000)
    check(float(dmm.query("FETC?")) < 1e37, "no reading before the meter went")
    sim.kill()
    sim.wait()
    err.wait_for(lambda l: "waiting for the same adapter" in l)
    end = time.monotonic() + 10
    while float(dmm.query("FETC?")) < 1e37:
        check(time.monotonic() < end, "the last reading is still served 10 s after the meter went")
        time.sleep(0.2)
    check(dmm.query("SYST:ERR?") == '-230,"Data corrupt or stale"', "a stale answer without its error")
    read = dmm.query("READ?")
    check(read == "+9.910000E+37", "READ? without a meter answered %r" % read)
    dmm.close()


def main():
    with tempfile.TemporaryDirectory() as folder:
        env = german_locale(folder)
        sim = subprocess.Popen([SIM, "--pty", "--rate", "10", "--scenario", "dcv", "--seed", "5"],
                               stdout=subprocess.PIPE, text=True)
        log = None
        try:
            pty = sim.stdout.readline().strip()
            log = subprocess.Popen([LOG, "--port", pty, "--scpi", "0"], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, text=True, env=env)
            out, err = Lines(log.stdout), Lines(log.stderr)
            said = err.wait_for(lambda l: "serving SCPI on" in l)
            port = int(re.search(r"127\.0\.0\.1:(\d+)$", said).group(1))
            out.wait_count(1)
            rm = pyvisa.ResourceManager("@py")
            lab_script(rm, port, out)
            two_clients(rm, port)
            sent = garbage_and_flood(rm, port, err)
            too_many(port, err)
            meter_gone(rm, port, sim, err)
            rm.close()
            log.send_signal(signal.SIGINT)
            check(log.wait(10) == 0, "voltaro-log ended with %s: %r" % (log.returncode, err.snapshot()))
            print("scpi_pyvisa: ok (%d lines printed; a flooding client was held back after %d bytes, then closed)"
                  % (len(out.snapshot()), sent))
        finally:
            for p in (log, sim):
                if p and p.poll() is None:
                    p.kill()
                    p.wait()


if __name__ == "__main__":
    main()
