#!/usr/bin/python3
"""Benchmarks of the two programs against lumosim on a pseudo-terminal, timed
from the simulator's event log (CLOCK_MONOTONIC microseconds, the clock of
time.monotonic_ns here). Each subcommand prints its figures as text lines.

  bench.py sweep  BUILD [--seconds S] [--silent N ...]
                                           lumoscan13 and mbpoll, 39 instruments
  bench.py ticks  BUILD [--ticks N] [--reference]
                                           lumoscan12 request inter-arrival; with
                                           --reference also an ideal master's
  bench.py cost   BUILD [--seconds S]      CPU and memory of lumoscan13
  bench.py startup BUILD [--runs N]        start to first request on the wire
  bench.py publish BUILD [--seconds S]     answer on the line to MQTT subscriber, messages a second
  (sweep and cost take --publish: the same with publishing to a local broker)
"""
import argparse
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

SILENCE_BITS = 35          # 3.5 characters of 10 bits
REQUEST_BYTES = 8          # read of 26 holding registers
ANSWER_BYTES = 57          # 3 + 52 + CRC
INSTRUMENTS = 39


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def percentile(values, p):
    ordered = sorted(values)
    if not ordered:
        return float("nan")
    k = min(len(ordered) - 1, max(0, round(p / 100 * (len(ordered) - 1))))
    return ordered[k]


def scenario(protocol, silent=()):
    lines = [f"protocol {protocol}"]
    for a in range(1, INSTRUMENTS + 1):
        if a in silent:
            lines.append(f"instrument {a} silent")
        else:
            lines.append(f"instrument {a} flow={a * 10}~{a}/7 velocity=1.25 percent=50 resistance=3.3 "
                         f"forward={a * 1000}+1.5/s reverse=0 diameter=100 alarms=none")
    return "\n".join(lines) + "\n"


class Rig:
    """A program directory with lumo.mdb, and lumosim linked as <dir>/com1."""

    def __init__(self, build, protocol, baud, turnaround_ms, timer_ms=200, num=INSTRUMENTS, silent=(),
                 publish=False, history=True):
        self.build = build
        self.dir = tempfile.mkdtemp(prefix="lumobench.")
        self.log = os.path.join(self.dir, "lumosim.log")
        with open(os.path.join(self.dir, "scenario.txt"), "w") as f:
            f.write(scenario(protocol, silent))
        self.broker = None
        publishing = []
        if publish:
            self.broker_port = free_port()
            with open(os.path.join(self.dir, "mosquitto.conf"), "w") as f:
                f.write(f"listener {self.broker_port} 127.0.0.1\nallow_anonymous true\n")
            self.broker = subprocess.Popen(["mosquitto", "-c", os.path.join(self.dir, "mosquitto.conf")],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(0.3)
            publishing = ["--publish", f"127.0.0.1:{self.broker_port}", "bench"]
        keeping = [] if history else ["--no-history"]
        subprocess.run([f"{build}/tools/mklumodb/mklumodb", *publishing, *keeping, os.path.join(self.dir, "lumo.mdb"), "1",
                        str(timer_ms), str(num), str(baud)], check=True)
        args = [f"{build}/tools/lumosim/lumosim", "--scenario", os.path.join(self.dir, "scenario.txt"),
                "--pty", "--link", self.link(), "--log", self.log]
        if baud:
            args += ["--baud", str(baud), "--turnaround-ms", str(turnaround_ms)]
        self.sim = subprocess.Popen(args, stdout=subprocess.DEVNULL)
        deadline = time.time() + 5
        while not os.path.exists(self.link()) and time.time() < deadline:
            time.sleep(0.02)
        self.program = None

    def link(self):
        return os.path.join(self.dir, "com1")

    def start_program(self, name, platform="offscreen"):
        path = os.path.join(self.dir, name)
        if not os.path.exists(path):
            shutil.copy(f"{self.build}/apps/{name}/{name}", path)
        env = dict(os.environ)
        if platform:
            env["QT_QPA_PLATFORM"] = platform
        else:
            env.pop("QT_QPA_PLATFORM", None)
        started = time.monotonic_ns() // 1000
        self.program = subprocess.Popen([path], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return started

    def stop_program(self):
        if self.program:
            self.program.send_signal(signal.SIGTERM)
            try:
                self.program.wait(5)
            except subprocess.TimeoutExpired:
                self.program.kill()
                self.program.wait()
            self.program = None

    def events(self):
        with open(self.log) as f:
            return [json.loads(line) for line in f if line.strip()]

    def close(self):
        self.stop_program()
        self.sim.send_signal(signal.SIGTERM)
        self.sim.wait(5)
        if self.broker:
            self.broker.terminate()
            self.broker.wait(5)
        shutil.rmtree(self.dir, ignore_errors=True)


def request_address(ev, protocol):
    raw = bytes.fromhex(ev["hex"])
    return raw[0] if protocol == "modbus" else raw[1]


def sweeps(events, since_us=0):
    """(span, period) of full Modbus sweeps: span from the request to
    instrument 1 to the last byte of the answer of instrument 39; period from
    one request to instrument 1 to the next."""
    starts, spans = [], []
    start = None
    for ev in events:
        if ev["t_us"] < since_us:
            continue
        if ev["ev"] == "rx" and request_address(ev, "modbus") == 1:
            start = ev["t_us"]
            starts.append(start)
        elif ev["ev"] == "tx" and ev.get("to") == INSTRUMENTS and start is not None:
            spans.append(ev["t_us"] - start)
            start = None
    periods = [b - a for a, b in zip(starts, starts[1:])]
    return spans[1:], periods[1:]   # the first sweep starts cold


def master_gaps(events, since_us=0):
    """From the last byte of an answer to the next request read: the master's
    silence plus its reaction."""
    gaps, last_tx = [], None
    for ev in events:
        if ev["t_us"] < since_us:
            continue
        if ev["ev"] == "tx":
            last_tx = ev["t_us"]
        elif ev["ev"] == "rx" and last_tx is not None:
            gaps.append(ev["t_us"] - last_tx)
            last_tx = None
    return gaps


def wire_span_us(baud, turnaround_ms, silence_before_answer):
    byte_us = 10e6 / baud
    silence_us = max(SILENCE_BITS * 1e6 / baud, 1750 if baud > 19200 else 0)
    exchange = (REQUEST_BYTES + ANSWER_BYTES) * byte_us + turnaround_ms * 1000
    if silence_before_answer:
        exchange += silence_us
    return INSTRUMENTS * exchange + (INSTRUMENTS - 1) * silence_us, silence_us


def delays_after(events, addresses, since_us=0):
    """From a request to one of these addresses to the next request: what a
    silent instrument costs the sweep."""
    delays, asked = [], None
    for ev in events:
        if ev["t_us"] < since_us or ev["ev"] != "rx":
            continue
        if asked is not None:
            delays.append(ev["t_us"] - asked)
            asked = None
        if request_address(ev, "modbus") in addresses:
            asked = ev["t_us"]
    return delays


def run_sweep(build, baud, turnaround, seconds, silent=(), timer_ms=200, publish=False):
    results = {}
    for who in ("lumoscan13", "mbpoll"):
        rig = Rig(build, "modbus", baud, turnaround, timer_ms=timer_ms, silent=silent, publish=publish and who != "mbpoll")
        try:
            begin = time.monotonic_ns() // 1000
            if who == "lumoscan13":
                rig.start_program("lumoscan13")
            else:
                rig.program = subprocess.Popen(
                    ["mbpoll", "-m", "rtu", "-a", f"1:{INSTRUMENTS}", "-r", "1", "-c", "26", "-t", "4:hex",
                     "-b", str(baud), "-P", "none", "-l", "11", "-o", "0.05" if silent else "1", rig.link()],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(seconds)
            rig.stop_program()
            events = rig.events()
            spans, periods = sweeps(events, begin)
            gaps = master_gaps(events, begin)
            after = delays_after(events, silent, begin)
            results[who] = (statistics.median(spans) if spans else float("nan"),
                            statistics.median(periods) if periods else float("nan"), len(spans),
                            statistics.median(gaps) if gaps else float("nan"),
                            (statistics.median(after), min(after), max(after)) if after else None,
                            (min(periods), max(periods)) if periods else None)
        finally:
            rig.close()
    strict, silence = wire_span_us(baud, turnaround, True)
    paced, _ = wire_span_us(baud, turnaround, False)
    ours, theirs = results["lumoscan13"], results["mbpoll"]
    quiet = f" silent={','.join(map(str, silent))} interval={timer_ms} ms" if silent else ""
    quiet += " publishing" if publish else ""
    for who, r in results.items():
        if silent and r[4]:
            print(f"  {who}: request after the silent one {r[4][0] / 1000:.1f} ms later (median; "
                  f"{r[4][1] / 1000:.1f}..{r[4][2] / 1000:.1f}), sweep periods {r[5][0] / 1000:.0f}..{r[5][1] / 1000:.0f} ms")
    print(f"sweep baud={baud} turnaround_ms={turnaround}{quiet}: lumoscan13 span {ours[0] / 1000:.1f} ms "
          f"(period {ours[1] / 1000:.1f} ms, {ours[2]} sweeps, answer-to-next-request {ours[3] / 1000:.2f} ms "
          f"for a silence of {silence / 1000:.2f} ms); wire limit {strict / 1000:.1f} ms "
          f"(silence before answers too) / {paced / 1000:.1f} ms (lumosim's pacing); "
          f"ours/limit {ours[0] / strict:.3f} / {ours[0] / paced:.3f}; mbpoll span {theirs[0] / 1000:.1f} ms "
          f"(period {theirs[1] / 1000:.1f} ms, {theirs[2]} sweeps, answer-to-next-request {theirs[3] / 1000:.2f} ms); ours/mbpoll {ours[0] / theirs[0]:.3f}",
          flush=True)


def tick_gaps(rig, begin, interval, ticks):
    deadline = time.time() + (ticks + 3) * interval / 1000 + 5
    arrivals = []
    while time.time() < deadline:
        time.sleep(1)
        arrivals = [e["t_us"] for e in rig.events() if e["ev"] == "rx" and e["t_us"] >= begin]
        if len(arrivals) > ticks + 1:
            break
    return [b - a for a, b in zip(arrivals[1:], arrivals[2:])][:ticks]   # the first starts the timer


def print_ticks(who, interval, gaps):
    dev = [abs(g - interval * 1000) for g in gaps]
    print(f"ticks {who} interval={interval} ms over {len(gaps)} gaps: median gap {statistics.median(gaps) / 1000:.3f} ms, "
          f"median |deviation| {statistics.median(dev) / 1000:.3f} ms, p99 |deviation| "
          f"{percentile(dev, 99) / 1000:.3f} ms, max {max(dev) / 1000:.3f} ms", flush=True)


def run_ticks(build, interval, ticks, publish=False):
    rig = Rig(build, "block", 9600, 0, timer_ms=interval, publish=publish)
    try:
        begin = time.monotonic_ns() // 1000
        rig.start_program("lumoscan12")
        gaps = tick_gaps(rig, begin, interval, ticks)
        rig.stop_program()
        print_ticks("lumoscan12" + (" publishing" if publish else ""), interval, gaps)
    finally:
        rig.close()


def reference_master(path, interval, count, stop):
    """A master that does nothing but send a block request at absolute times
    of the interval: what the rig itself (this machine's wake-ups, lumosim's
    reading) adds to the deviation."""
    import tty
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(fd)
    due = time.monotonic()
    try:
        for i in range(count):
            due += interval / 1000
            while not stop.is_set():
                remaining = due - time.monotonic()
                if remaining <= 0:
                    break
                time.sleep(remaining)
            if stop.is_set():
                return
            try:
                os.read(fd, 4096)
            except BlockingIOError:
                pass
            os.write(fd, bytes([0x2A, i % 3 + 1, 0x00, 0x2E]))
    finally:
        os.close(fd)


def run_ticks_reference(build, interval, ticks):
    import threading
    rig = Rig(build, "block", 9600, 0, timer_ms=interval)
    stop = threading.Event()
    try:
        begin = time.monotonic_ns() // 1000
        master = threading.Thread(target=reference_master, args=(rig.link(), interval, ticks + 3, stop))
        master.start()
        gaps = tick_gaps(rig, begin, interval, ticks)
        stop.set()
        master.join()
        print_ticks("reference", interval, gaps)
    finally:
        stop.set()
        rig.close()


def proc_sample(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu_ticks = int(fields[11]) + int(fields[12])
    status = {}
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            key, _, value = line.partition(":")
            status[key] = value.strip()
    kb = lambda k: int(status.get(k, "0 kB").split()[0])
    return cpu_ticks / os.sysconf("SC_CLK_TCK"), kb("VmRSS"), kb("VmHWM")


def run_cost(build, seconds, platform, publish=False):
    rig = Rig(build, "modbus", 9600, 2, publish=publish)
    try:
        rig.start_program("lumoscan13", platform)
        t0 = time.monotonic()
        samples = {}
        for mark in (10, seconds):
            time.sleep(max(0, mark - (time.monotonic() - t0)))
            samples[mark] = (time.monotonic() - t0,) + proc_sample(rig.program.pid)
        w10, c10, rss10, _ = samples[10]
        w60, c60, rss60, hwm = samples[seconds]
        rx = sum(1 for e in rig.events() if e["ev"] == "rx")
        print(f"cost platform={platform or 'xcb'}{' publishing' if publish else ''} {seconds} s: CPU {100 * c60 / w60:.2f} % of one core overall, "
              f"{100 * (c60 - c10) / (w60 - w10):.2f} % from s10 to s{seconds}; RSS {rss10 / 1024:.1f} MB at s10, "
              f"{rss60 / 1024:.1f} MB at s{seconds} (growth {(rss60 - rss10)} kB), peak {hwm / 1024:.1f} MB; "
              f"{rx} requests", flush=True)
    finally:
        rig.close()


def run_history(build, seconds, rounds):
    """The recorder on and off, alternately, on the same line: sweep span,
    answer to next request, CPU and memory of lumoscan13."""
    rows = {True: [], False: []}
    for _ in range(rounds):
        for history in (False, True):
            rig = Rig(build, "modbus", 9600, 2, history=history)
            try:
                begin = time.monotonic_ns() // 1000
                rig.start_program("lumoscan13")
                t0 = time.monotonic()
                time.sleep(10)
                w10, c10, rss10, _ = (time.monotonic() - t0,) + proc_sample(rig.program.pid)
                time.sleep(max(0, seconds - (time.monotonic() - t0)))
                w, c, rss, hwm = (time.monotonic() - t0,) + proc_sample(rig.program.pid)
                kept = os.path.exists(os.path.join(rig.dir, "history.db"))
                rig.stop_program()
                events = rig.events()
                spans, _ = sweeps(events, begin + 10_000_000)
                gaps = master_gaps(events, begin + 10_000_000)
                rows[history].append((statistics.median(spans) / 1000, statistics.median(gaps) / 1000,
                                      100 * (c - c10) / (w - w10), rss / 1024, hwm / 1024, kept))
            finally:
                rig.close()
    print(f"history {seconds} s per run, {rounds} runs each, 39 instruments at 9600 baud, lumoscan13 offscreen:")
    for history in (False, True):
        for r in rows[history]:
            print(f"  recorder {'on ' if history else 'off'}: sweep span {r[0]:.1f} ms, answer to next request "
                  f"{r[1]:.2f} ms (medians), CPU {r[2]:.2f} % of a core from s10, RSS {r[3]:.1f} MB (peak {r[4]:.1f}), "
                  f"history.db {'kept' if r[5] else 'none'}")
    med = lambda history, i: statistics.median(r[i] for r in rows[history])
    print(f"  on - off (medians of the runs): sweep span {med(True, 0) - med(False, 0):+.2f} ms, answer to next "
          f"request {med(True, 1) - med(False, 1):+.3f} ms, CPU {med(True, 2) - med(False, 2):+.2f} points, "
          f"RSS {med(True, 3) - med(False, 3):+.1f} MB", flush=True)


def run_publish(build, seconds):
    """Answer on the line to message at a subscriber, for 39 instruments: the
    last byte of an answer (the simulator's log) to the arrival of the
    message carrying it (this process's CLOCK_MONOTONIC, the log's clock)."""
    import paho.mqtt.client as mqtt
    rig = Rig(build, "modbus", 9600, 2, publish=True)
    arrivals = []
    try:
        client = mqtt.Client()
        client.on_message = lambda c, u, m: arrivals.append((time.monotonic_ns() // 1000, m.topic, m.payload))
        client.connect("127.0.0.1", rig.broker_port)
        client.subscribe("lumoscan/bench/#")
        client.loop_start()
        begin = time.monotonic_ns() // 1000
        rig.start_program("lumoscan13")
        time.sleep(seconds)
        client.loop_stop()
        rig.stop_program()
        answers = {}
        for ev in rig.events():
            if ev["ev"] == "tx" and ev["t_us"] >= begin:
                answers.setdefault(ev["to"], []).append(ev["t_us"])
        latencies, messages = [], 0
        for t, topic, payload in arrivals:
            parts = topic.split("/")
            if len(parts) != 4 or parts[2] != "instrument":
                continue
            messages += 1
            sent = [a for a in answers.get(int(parts[3]), []) if a <= t]
            if sent:
                latencies.append(t - sent[-1])
        span = (arrivals[-1][0] - arrivals[0][0]) / 1e6 if len(arrivals) > 1 else float("nan")
        print(f"publish 39 instruments {seconds} s: {messages} instrument messages, "
              f"{messages / span:.1f} a second; answer on the line to subscriber median "
              f"{statistics.median(latencies) / 1000:.2f} ms, p99 {percentile(latencies, 99) / 1000:.2f} ms, "
              f"max {max(latencies) / 1000:.2f} ms over {len(latencies)} messages", flush=True)
    finally:
        rig.close()


def run_startup(build, runs, program="lumoscan13"):
    rig = Rig(build, "modbus", 9600, 0)
    delays = []
    try:
        for _ in range(runs):
            started = rig.start_program(program)
            first = None
            deadline = time.time() + 5
            while first is None and time.time() < deadline:
                time.sleep(0.05)
                first = next((e["t_us"] for e in rig.events() if e["ev"] == "rx" and e["t_us"] >= started), None)
            rig.stop_program()
            if first is not None:
                delays.append(first - started)
            time.sleep(0.3)
        print(f"startup {program} over {len(delays)} runs: median {statistics.median(delays) / 1000:.1f} ms, "
              f"max {max(delays) / 1000:.1f} ms (process start to first request read by the simulator)", flush=True)
    finally:
        rig.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["sweep", "ticks", "cost", "startup", "publish", "history"])
    parser.add_argument("build")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--ticks", type=int, default=300)
    parser.add_argument("--runs", type=int, default=10)
    parser.add_argument("--rounds", type=int, default=2, help="history: runs with the recorder off and on, each")
    parser.add_argument("--baud", type=int, nargs="*", default=[9600, 19200])
    parser.add_argument("--turnaround", type=int, nargs="*", default=[0, 5])
    parser.add_argument("--interval", type=int, nargs="*", default=[200, 1000])
    parser.add_argument("--timer", type=int, default=200, help="sweep: lumoscan13's send interval, ms")
    parser.add_argument("--publish", action="store_true", help="sweep, ticks, cost: with publishing to a local broker")
    parser.add_argument("--silent", type=int, nargs="*", default=[],
                        help="sweep: instruments that never answer (mbpoll then times out after 50 ms)")
    parser.add_argument("--reference", action="store_true",
                        help="ticks: also time a master that only sleeps to absolute times and writes")
    parser.add_argument("--platform", default="offscreen", help="QT_QPA_PLATFORM; 'xcb' for the X display")
    a = parser.parse_args()
    build = os.path.abspath(a.build)
    if a.what == "sweep":
        for baud in a.baud:
            for t in a.turnaround:
                run_sweep(build, baud, t, a.seconds, tuple(a.silent), a.timer, a.publish)
    elif a.what == "ticks":
        for interval in a.interval:
            run_ticks(build, interval, a.ticks, a.publish)
            if a.reference:
                run_ticks_reference(build, interval, a.ticks)
    elif a.what == "cost":
        run_cost(build, a.seconds, None if a.platform == "xcb" else a.platform, a.publish)
    elif a.what == "publish":
        run_publish(build, a.seconds)
    elif a.what == "history":
        run_history(build, a.seconds, a.rounds)
    else:
        run_startup(build, a.runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
