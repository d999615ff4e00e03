#!/usr/bin/env python3
"""Times the Claude status-line bridge the way Claude Code runs it: `sh -c 'python3 "<script>"'` with one
status-line document on stdin, in a throwaway data folder.

Three cases: an unchanged reading (the common one: the bridge only prints), a reading that changes every run
(the bridge appends to the log under its lock and rewrites its state), and an unchanged reading with a
current Tallyvane summary (the line carries the forecast), beside the bare start-up of the same interpreter
for reference. Prints the median, the 90th percentile and the fastest wall-clock time of
each, and the CPU time per run (user + system of the children), in milliseconds. On a busy machine the wall
clock mostly measures the wait for a core; the CPU time does not.

    bench/ClaudeBridgeBench.py [--runs N] [--python PROGRAM]
"""
import argparse
import json
import os
import resource
import shutil
import statistics
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "..", "resources", "tallyvane-claude-statusline-bridge.py")


def document(five_hour):
    return json.dumps({
        "session_id": "bench", "cwd": "/tmp", "version": "2.1.332",
        "model": {"id": "claude-opus-4-8", "display_name": "Opus 4.8"},
        "effort": {"level": "high"}, "thinking": {"enabled": True},
        "rate_limits": {"five_hour": {"used_percentage": five_hour, "resets_at": 1780315200},
                        "seven_day": {"used_percentage": 17, "resets_at": 1780826400}},
    }).encode()


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def measure(command, inputs):
    times = []
    cpu_before = cpu_seconds()
    for data in inputs:
        start = time.perf_counter()
        subprocess.run(["/bin/sh", "-c", command], input=data, stdout=subprocess.DEVNULL, check=True)
        times.append((time.perf_counter() - start) * 1000)
    cpu = (cpu_seconds() - cpu_before) * 1000 / len(inputs)
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.9) - 1], times[0], cpu


def report(name, inputs, command):
    median, p90, fastest, cpu = measure(command, inputs)
    print("%-18s runs %4d  median %6.1f ms  p90 %6.1f ms  min %6.1f ms  cpu %5.1f ms/run"
          % (name, len(inputs), median, p90, fastest, cpu))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--python", default="python3", help="the interpreter named in the command")
    options = parser.parse_args()

    with tempfile.TemporaryDirectory() as data:
        script = os.path.join(data, "tallyvane-claude-statusline-bridge.py")
        shutil.copy(SCRIPT, script)
        command = '%s "%s"' % (options.python, script)
        resolved = shutil.which(options.python) or options.python
        print("bridge: %s run as: %s (%s)" % (os.path.normpath(SCRIPT), command, os.path.realpath(resolved)))
        subprocess.run(["/bin/sh", "-c", command], input=document(1), stdout=subprocess.DEVNULL, check=True)
        cases = (("interpreter alone", [b""] * options.runs, '%s -c pass' % options.python),
                 ("unchanged reading", [document(1)] * options.runs, command),
                 ("changing reading", [document(i % 100 + 0.5) for i in range(options.runs)], command))
        for name, inputs, run in cases:
            report(name, inputs, run)
        # Tallyvane's summary, kept current as a running instance keeps it: the line then carries the forecast.
        summary = os.path.join(data, "statusline-summary.json")
        with open(summary, "w") as handle:
            json.dump({"showRemaining": True, "status": "watch", "windows": {
                "claude-fiveHour": {"usedPercent": 1, "shown": "99% left", "status": "watch", "runsOut": "16:40"},
                "claude-sevenDay": {"usedPercent": 17, "shown": "83% left", "status": "safe"}}}, handle)
        os.utime(summary, (time.time() + 86400, time.time() + 86400))
        report("with the forecast", [document(1)] * options.runs, command)
        lines = sum(1 for _ in open(os.path.join(data, "snapshots.ndjson")))
        print("log lines written: %d" % lines)


if __name__ == "__main__":
    main()
