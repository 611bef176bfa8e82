#!/usr/bin/env python3
"""voltaro-log's lines for other programs, read by the programs they are for.

voltaro-log reads meter-sim over pseudo-terminals under a German locale (Qt's
and the C library's, built here with localedef) with a decimal comma. Its --format influx lines are posted to a real InfluxDB
(influxd started here on 127.0.0.1, on free ports, with its files in a
temporary folder, and stopped by its pid) and queried back: the same count,
times and values. Its --format jsonl lines are read by Python's JSON parser
and its --format csv lines by Python's CSV reader.

    influx_write.py VOLTARO_LOG METER_SIM
"""

import csv
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

LOG, SIM = sys.argv[1], sys.argv[2]
GERMAN = dict(os.environ, LC_ALL="de_DE.UTF-8", LANG="de_DE.UTF-8")


def german_locale(folder):
    """The C library's German locale, in a folder of the test's own (LOCPATH)."""
    path = os.path.join(folder, "locales")
    os.makedirs(path)
    subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", os.path.join(path, "de_DE.UTF-8")],
                   capture_output=True)
    if not os.path.isdir(os.path.join(path, "de_DE.UTF-8")):
        sys.exit("localedef could not build de_DE.UTF-8: install the Debian package locales")
    GERMAN["LOCPATH"] = path


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_influxd(folder):
    influxd = shutil.which("influxd") or "/usr/bin/influxd"
    if not os.path.exists(influxd):
        sys.exit("influxd is missing: install the Debian package influxdb (./scripts/test.sh does)")
    http, rpc = free_port(), free_port()
    config = os.path.join(folder, "influxdb.conf")
    with open(config, "w") as f:
        f.write(f"""reporting-disabled = true
bind-address = "127.0.0.1:{rpc}"
[meta]
  dir = "{folder}/meta"
[data]
  dir = "{folder}/data"
  wal-dir = "{folder}/wal"
  query-log-enabled = false
[http]
  enabled = true
  bind-address = "127.0.0.1:{http}"
  log-enabled = false
[monitor]
  store-enabled = false
[continuous_queries]
  enabled = false
[[graphite]]
  enabled = false
[[collectd]]
  enabled = false
[[opentsdb]]
  enabled = false
[[udp]]
  enabled = false
""")
    log = open(os.path.join(folder, "influxd.log"), "w")
    server = subprocess.Popen([influxd, "-config", config], stdout=log, stderr=subprocess.STDOUT)
    base = f"http://127.0.0.1:{http}"
    for _ in range(300):
        if server.poll() is not None:
            sys.exit("influxd ended at once:\n" + open(log.name).read())
        try:
            with urllib.request.urlopen(base + "/ping", timeout=1) as r:
                if r.status == 204:
                    return server, base
        except (urllib.error.URLError, ConnectionError):
            time.sleep(0.1)
    server.kill()
    sys.exit("influxd did not answer /ping within 30 s:\n" + open(log.name).read())


def post(url, body=b""):
    with urllib.request.urlopen(urllib.request.Request(url, data=body, method="POST"), timeout=10) as r:
        return r.status, r.read()


def run_log(args):
    """voltaro-log on meter-sim's pseudo-terminals; its standard output."""
    sims, ports = [], []
    try:
        for meter, scenario, seed in args["meters"]:
            sim = subprocess.Popen([SIM, "--pty", "--rate", "40", "--scenario", scenario, "--seed", seed],
                                   stdout=subprocess.PIPE, text=True)
            sims.append(sim)
            path = sim.stdout.readline().strip()
            ports += ["--port", f"{meter}={path}" if meter else path]
        done = subprocess.run([LOG] + ports + args["options"], env=GERMAN, capture_output=True, timeout=60)
    finally:
        for sim in sims:
            sim.kill()
            sim.wait()
    if done.returncode != 0:
        sys.exit(f"voltaro-log {args} ended with {done.returncode}: {done.stderr.decode()}")
    return done.stdout.decode("utf-8")


def parse_line(line):
    """An InfluxDB line of ours (no escapes in these): its time, tags and fields as written."""
    head, fields, stamp = line.rsplit(" ", 2)
    tags = dict(pair.split("=", 1) for pair in head.split(",")[1:])
    values = {}
    for pair in fields.split(","):
        key, value = pair.split("=", 1)
        values[key] = value.strip('"') if value.startswith('"') else True if value == "true" else float(value)
    return int(stamp), tags, values


def check_influx(base, lines):
    status, _ = post(base + "/query?" + urllib.parse.urlencode({"q": "CREATE DATABASE meters"}))
    assert status == 200, status
    status, body = post(base + "/write?db=meters&precision=ns", "".join(lines).encode())
    assert status == 204, (status, body)
    query = urllib.parse.urlencode({"db": "meters", "epoch": "ns", "q": "SELECT * FROM voltaro"})
    with urllib.request.urlopen(f"{base}/query?{query}", timeout=10) as r:
        series = json.load(r)["results"][0]["series"][0]
    rows = [dict(zip(series["columns"], v)) for v in series["values"]]
    assert len(rows) == len(lines), (len(rows), len(lines))
    for row, line in zip(rows, sorted(lines, key=lambda l: int(l.rsplit(" ", 1)[1]))):
        stamp, tags, fields = parse_line(line.rstrip("\n"))
        assert row["time"] == stamp, (row, line)
        for key in ("function", "meter", "unit"):
            assert row.get(key) == tags.get(key), (key, row, line)
        for key in ("value", "judgement", "overload"):
            assert row.get(key) == fields.get(key), (key, row, line)
    return rows


def main():
    folder = tempfile.mkdtemp(prefix="voltaro-influx-")
    server = None
    try:
        german_locale(folder)
        one = run_log({"meters": [("", "overload", "1")],
                       "options": ["--count", "12", "--format", "influx", "--decimal-sep", ","]})
        cap = run_log({"meters": [("", "cap", "2")], "options": ["--count", "4", "--format", "influx"]})
        two = run_log({"meters": [("V", "dcv", "3"), ("I", "current", "4")],
                       "options": ["--count", "2", "--calc", "P[W]=V*I", "--format", "influx"]})
        lines = (one + cap + two).splitlines(keepends=True)
        assert len(one.splitlines()) == 12 and len(cap.splitlines()) == 4, (one, cap)
        assert len(two.splitlines()) == 6, two  # two rows of V, I and P[W]
        assert any("overload=true" in l and "value=" not in l for l in lines), one
        # Under the German locale every value still has a point (a comma would end the field).
        assert all(re.search(r' value=-?[0-9.e+-]+(,judgement="\w+")? \d+\n$', l) for l in lines if "value=" in l), lines

        server, base = start_influxd(folder)
        rows = check_influx(base, lines)
        assert {r["meter"] for r in rows} == {None, "V", "I", "P[W]"}, rows
        assert {r["unit"] for r in rows} >= {"V", "A", "F"}, rows

        records = [json.loads(l) for l in run_log(
            {"meters": [("", "dcv", "5")], "options": ["--count", "5", "--format", "jsonl"]}).splitlines()]
        assert len(records) == 5 and [r["row"] for r in records] == [1, 2, 3, 4, 5], records
        for r in records:
            assert r["unit"] == "V" and r["display_unit"] == "V" and "," not in r["display"], r
            assert abs(r["value"] - float(r["display"])) < 1e-12, r

        table = list(csv.reader(run_log(
            {"meters": [("", "ohm", "6")], "options": ["--count", "3", "--format", "csv"]}).splitlines()))
        assert table[0][:4] == ["time", "meter", "row", "value"] and len(table) == 4, table
        for row in table[1:]:
            assert row[4] == "\u03a9" and row[6] == "k\u03a9", row
            assert abs(float(row[3]) - float(row[5]) * 1000) < 1e-6, row
        # The named meters' table with a point asked for: every number has one, the ages too.
        named = [l.split("\t") for l in run_log(
            {"meters": [("V", "dcv", "7")], "options": ["--count", "2", "--decimal-sep", "."]}).splitlines()]
        assert named[0] == ["Time", "V.value", "V.unit", "V.function", "V.judgement", "V.age"], named
        assert all(re.fullmatch(r"\d+\.\d+", r[1]) and re.fullmatch(r"\d+\.\d", r[5]) for r in named[1:]), named
        print(f"influx_write: ok, {len(rows)} points back from influxd, 5 JSON lines, 3 CSV rows")
    finally:
        if server:
            os.kill(server.pid, signal.SIGTERM)
            try:
                server.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.kill(server.pid, signal.SIGKILL)
                server.wait()
        shutil.rmtree(folder, ignore_errors=True)


main()
