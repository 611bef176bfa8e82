#!/usr/bin/env python3
"""voltaro-log --mqtt against a real mosquitto broker.

The broker is started here on 127.0.0.1 on a free port, with its own
configuration and persistence in a temporary folder, and stopped by its pid;
nothing goes to any other address. voltaro-log reads meter-sim over a
pseudo-terminal. Checked: every row of its --out file arrives at a subscriber
in order while the broker is stopped for 30 s and started again (a repeat at
the reconnection is allowed, a gap is not); the retained state online while
it runs, offline after a clean end and, as the last will, after a SIGKILL; the
Home Assistant discovery configuration is JSON that names the topics; a bad
URL, a failed TLS handshake and a refused login end with their own status.

    mqtt_broker.py VOLTARO_LOG METER_SIM
"""

import getpass
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

LOG, SIM = sys.argv[1], sys.argv[2]
DOWN_S = 30


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Broker:
    def __init__(self, folder):
        self.folder, self.port, self.locked = folder, free_port(), free_port()
        self.config = os.path.join(folder, "mosquitto.conf")
        passwords = os.path.join(folder, "passwords")
        subprocess.run(["mosquitto_passwd", "-c", "-b", passwords, "meter", "s3cret"], check=True)
        with open(self.config, "w") as f:
            # Started by root, mosquitto would become the user "mosquitto",
            # who may not use this folder: it stays whoever runs the test.
            f.write(f"""per_listener_settings true
user {getpass.getuser()}
persistence true
max_queued_messages 0
persistence_location {folder}/
log_dest file {folder}/mosquitto.log
listener {self.port} 127.0.0.1
allow_anonymous true
listener {self.locked} 127.0.0.1
allow_anonymous false
password_file {passwords}
""")
        self.process = None

    def start(self):
        self.process = subprocess.Popen(["mosquitto", "-c", self.config])
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.05)
        sys.exit("mosquitto did not listen within 5 s: " + open(f"{self.folder}/mosquitto.log").read())

    def stop(self):
        if self.process and self.process.poll() is None:
            os.kill(self.process.pid, signal.SIGTERM)
            self.process.wait(timeout=10)

    def retained(self, topic):
        """The retained message of a topic, as a new subscriber sees it."""
        done = subprocess.run(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(self.port), "-t", topic,
                               "-C", "1", "-W", "5"], capture_output=True, text=True)
        return done.stdout.strip()


def sim():
    process = subprocess.Popen([SIM, "--pty", "--rate", "40", "--scenario", "dcv", "--seed", "7"],
                               stdout=subprocess.PIPE, text=True)
    return process, process.stdout.readline().strip()


def wait_for(what, check, seconds=10):
    for _ in range(int(seconds * 20)):
        if check():
            return
        time.sleep(0.05)
    sys.exit(f"{what}: not within {seconds} s")


def rows_of(path):
    """The record numbers of voltaro-log's text table, after its header."""
    with open(path, encoding="latin-1") as f:
        return [int(line.split("\t")[0]) for line in f.read().splitlines()[1:] if line.strip()]


def check_recording(broker, folder):
    """The broker stopped for DOWN_S seconds while voltaro-log records: every row arrives."""
    meter, port = sim()
    # A subscriber with a session the broker keeps (QoS 1, not clean) through its restart.
    # Line-buffered: a terminated mosquitto_sub would not flush its last lines.
    subscribe = ["stdbuf", "-oL", "mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker.port), "-t", "lab/bench/#", "-q", "1",
                 "-c", "-i", "voltaro-test-sub", "-v"]
    sub = subprocess.Popen(subscribe, stdout=subprocess.PIPE, text=True)
    lines = []
    out = os.path.join(folder, "rows.txt")
    log = subprocess.Popen([LOG, "--port", port, "--name", "bench", "--out", out, "--quiet",
                            "--mqtt", f"mqtt://127.0.0.1:{broker.port}/lab"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    try:
        wait_for("state online", lambda: broker.retained("lab/bench/state") == "online")
        config = json.loads(broker.retained("homeassistant/sensor/voltaro_lab_bench/config"))
        assert config["state_topic"] == "lab/bench/reading", config
        assert config["availability_topic"] == "lab/bench/state", config
        assert config["unit_of_measurement"] == "V" and config["device_class"] == "voltage", config
        assert config["value_template"] == "{{ value_json.value }}", config
        time.sleep(2)
        broker.stop()
        sub.terminate()
        lines += sub.communicate(timeout=10)[0].splitlines()
        before = [json.loads(l.split(" ", 1)[1])["row"] for l in lines if l.startswith("lab/bench/reading ")]
        time.sleep(DOWN_S)
        broker.start()
        sub = subprocess.Popen(subscribe, stdout=subprocess.PIPE, text=True)
        after = []
        reader = threading.Thread(target=lambda: after.extend(sub.stdout), daemon=True)
        reader.start()
        time.sleep(4)
    finally:
        log.send_signal(signal.SIGINT)
        err = log.communicate(timeout=30)[1]
        meter.kill()
        meter.wait()
    assert log.returncode == 0, (log.returncode, err)
    wait_for("state offline", lambda: broker.retained("lab/bench/state") == "offline")
    recorded = rows_of(out)
    last = f'"row":{recorded[-1]},'
    wait_for("the last row at the subscriber", lambda: any(last in l for l in after), 30)
    sub.terminate()
    reader.join(timeout=10)
    lines += [l.rstrip("\n") for l in after]
    received = [json.loads(l.split(" ", 1)[1]) for l in lines if l.startswith("lab/bench/reading ")]
    rows, seen = [], set()
    for r in received:
        if r["row"] not in seen:  # QoS 1 may repeat what was in flight at the reconnection
            seen.add(r["row"])
            rows.append(r["row"])
    assert "went away" in err and "is back" in err, err
    assert f"MQTT: {len(recorded)} readings published" in err, err
    assert len(recorded) > 40 * (DOWN_S + 3), (len(recorded), err)
    assert sorted(rows) == recorded, ("a gap", sorted(set(recorded) - set(rows))[:5], err)
    # In order, but for what the broker itself held for the subscriber when it
    # stopped: mosquitto restores a session's messages in an order of its own.
    late = [r for i, r in enumerate(rows) if r < max(rows[:i], default=0)]
    assert all(r <= max(before) + 20 for r in late), (late, max(before))
    assert all(r["unit"] == "V" and r["meter"] == "bench" and isinstance(r["value"], float) for r in received)
    return len(recorded), len(received) - len(rows)


def check_last_will(broker):
    """voltaro-log killed: the broker publishes its last will, offline, retained."""
    meter, port = sim()
    log = subprocess.Popen([LOG, "--port", port, "--name", "killed", "--mqtt",
                            f"mqtt://127.0.0.1:{broker.port}/lab"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        wait_for("state online", lambda: broker.retained("lab/killed/state") == "online")
        os.kill(log.pid, signal.SIGKILL)
        log.wait()
        wait_for("last will offline", lambda: broker.retained("lab/killed/state") == "offline")
    finally:
        meter.kill()
        meter.wait()


def run_briefly(args, env=None):
    meter, port = sim()
    try:
        return subprocess.run([LOG, "--port", port, "--count", "20"] + args, capture_output=True, text=True,
                              timeout=30, env=dict(os.environ, **(env or {})))
    finally:
        meter.kill()
        meter.wait()


def check_refusals(broker, folder):
    bad = run_briefly(["--mqtt", "mqtt://127.0.0.1:1/"])
    assert bad.returncode == 11 and "needs a topic prefix" in bad.stderr, bad
    # TLS spoken to a listener without it fails the handshake.
    tls = run_briefly(["--mqtt", f"mqtts://127.0.0.1:{broker.port}/lab"])
    assert tls.returncode == 13 and "TLS with the MQTT broker" in tls.stderr, tls
    refused = run_briefly(["--mqtt", f"mqtt://127.0.0.1:{broker.locked}/lab"])
    assert refused.returncode == 12 and "refused the connection" in refused.stderr, refused
    # Refused while recording: the rows are all recorded, the status tells the refusal.
    out = os.path.join(folder, "refused.txt")
    recorded = run_briefly(["--out", out, "--mqtt", f"mqtt://127.0.0.1:{broker.locked}/lab"],
                           {"VOLTARO_MQTT_USER": "meter", "VOLTARO_MQTT_PASSWORD": "wrong"})
    assert recorded.returncode == 12 and len(rows_of(out)) == 20, recorded
    auth = os.path.join(folder, "auth")
    with open(auth, "w") as f:
        f.write("meter\ns3cret\n")
    os.chmod(auth, 0o600)
    sub = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker.port), "-t", "lab/locked/reading",
                            "-C", "20", "-W", "20"], stdout=subprocess.PIPE, text=True)
    time.sleep(0.5)
    allowed = run_briefly(["--name", "locked", "--mqtt", f"mqtt://127.0.0.1:{broker.locked}/lab",
                           "--mqtt-auth", auth, "--format", "jsonl"])
    got = [json.loads(l) for l in sub.communicate(timeout=30)[0].splitlines()]
    assert allowed.returncode == 0 and "others may read" not in allowed.stderr, allowed
    printed = [json.loads(l) for l in allowed.stdout.splitlines()]
    assert [r["row"] for r in got] == [r["row"] for r in printed] == list(range(1, 21)), (got, printed)
    assert all(g["value"] == p["value"] and g["display"] == p["display"] for g, p in zip(got, printed))


def main():
    folder = tempfile.mkdtemp(prefix="voltaro-mqtt-")
    broker = Broker(folder)
    try:
        broker.start()
        check_refusals(broker, folder)
        check_last_will(broker)
        rows, repeats = check_recording(broker, folder)
        print(f"mqtt_broker: ok, {rows} rows in order through a {DOWN_S} s broker stop ({repeats} repeated), "
              "states online/offline, last will, discovery, refusals")
    finally:
        broker.stop()
        shutil.rmtree(folder, ignore_errors=True)


main()
