#!/usr/bin/env python3
"""Turns the benchmarks' JSON output into one table: figure, value, bound, value / bound.

Pure computation (receiver, escaping, codecs, export) is judged on CPU time, which the other
programs on a shared machine do not inflate; the wall-clock figure stands beside it. Anything
that waits for the line or another process is judged on wall-clock time.
"""
import argparse
import json
import os
import sys

UNIT_TO_S = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def load(folder):
    runs = {}
    for name in ("bench_core", "bench_export", "bench_link", "bench_programs"):
        path = os.path.join(folder, name + ".json")
        if not os.path.exists(path):
            continue
        try:
            with open(path) as f:
                data = json.load(f)
        except (OSError, ValueError):
            continue
        for b in data.get("benchmarks", []):
            runs[b["name"]] = b
    return runs


def seconds(b, key):
    return b[key] * UNIT_TO_S[b.get("time_unit", "ns")]


def find(runs, prefix):
    for name, b in runs.items():
        if name.startswith(prefix) and b.get("run_type") == "iteration":
            return b
    for name, b in runs.items():
        if name.startswith(prefix):
            return b
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("folder")
    ap.add_argument("--cores", default="?")
    ap.add_argument("--load-before", default="?")
    ap.add_argument("--load-after", default="?")
    a = ap.parse_args()
    runs = load(a.folder)

    rows = []  # (figure, value, wall, unit, bound, kind) kind: ">=" or "<="

    def add(figure, prefix, unit, bound, kind, value_of, wall_of=None):
        b = find(runs, prefix)
        if b is None:
            rows.append((figure, None, None, unit, bound, kind, "not run"))
            return
        if b.get("error_occurred"):
            rows.append((figure, None, None, unit, bound, kind, b.get("error_message", "error")))
            return
        value = value_of(b)
        wall = wall_of(b) if wall_of else None
        rows.append((figure, value, wall, unit, bound, kind, ""))

    def rate_cpu(b):
        return b["bytes_per_second"] / 1e6

    def rate_wall(b):
        return b["bytes_per_second"] * b["cpu_time"] / b["real_time"] / 1e6

    add("frame receiver, 1 byte a call, DeviceSession::cm1ReceiveData (CPU)",
        "BM_SessionReceive_PerByte/160", "MB/s", 100, ">=", rate_cpu, rate_wall)
    add("frame receiver, 1 byte a call, FrameReceiver alone (CPU)",
        "BM_FrameReceiver_PerByte/160", "MB/s", 100, ">=", rate_cpu, rate_wall)
    add("escape + checksum, worst-case 271-byte write frame (CPU)",
        "BM_EscapeChecksum_WriteFrame", "MB/s", 500, ">=", rate_cpu, rate_wall)
    add("encode + decode of all four blocks (CPU)", "BM_EncodeDecode_FourBlocks", "us", 20,
        "<=", lambda b: seconds(b, "cpu_time") * 1e6, lambda b: seconds(b, "real_time") * 1e6)
    add("demo history, 2014 + 30 days, about 90,000 records (CPU)", "BM_DemoHistory_Generate",
        "ms", 300, "<=", lambda b: seconds(b, "cpu_time") * 1e3,
        lambda b: seconds(b, "real_time") * 1e3)
    add("TComm over a pty, InputLen 1, into the event loop", "BM_TComm_PtyInputLen1", "bytes/s",
        1e6, ">=", lambda b: b["bytes_per_second"])
    add("full read of the four blocks, unpaced r4t8-sim", "BM_FullRead_Unpaced", "ms", 10, "<=",
        lambda b: seconds(b, "real_time") * 1e3)
    add("full erase-and-write + write-done, unpaced r4t8-sim", "BM_FullWrite_Unpaced", "ms", 15,
        "<=", lambda b: seconds(b, "real_time") * 1e3)
    add("full read at 115200 baud, x wire-time model", "BM_FullRead_Paced", "x", 1.03, "<=",
        lambda b: b["vs_model"])
    add("full write at 115200 baud, x wire-time model", "BM_FullWrite_Paced", "x", 1.03, "<=",
        lambda b: b["vs_model"])
    add("full read of a blank controller at 115200 baud", "BM_FullRead_Paced_Blank", "ms", 500,
        "<=", lambda b: seconds(b, "real_time") * 1e3)
    add("turnaround reply in -> next request out, median", "BM_Turnaround", "us", 200, "<=",
        lambda b: b["median_us"])
    add("history of 255 pages (+ its export), unpaced r4t8-sim", "BM_History255Pages", "ms",
        1000, "<=", lambda b: seconds(b, "real_time") * 1e3)
    add("export of 1,025 records, workbook + CSV (CPU)", "BM_Export/figure/1025", "ms", 30, "<=",
        lambda b: seconds(b, "cpu_time") * 1e3, lambda b: seconds(b, "real_time") * 1e3)
    add("export of 100,000 records, workbook + CSV (CPU)", "BM_Export/figure/100000", "ms", 1000,
        "<=", lambda b: seconds(b, "cpu_time") * 1e3, lambda b: seconds(b, "real_time") * 1e3)
    add("window start to first shown (offscreen)", "BM_WindowStart_FirstShown", "ms", 400, "<=",
        lambda b: seconds(b, "real_time") * 1e3)
    add("r4t8-config --quit-after-show, start to exit", "BM_WindowProgram_QuitAfterShow", "ms",
        400, "<=", lambda b: seconds(b, "real_time") * 1e3)
    add("peak memory: window program after a full read", "BM_PeakMemory_WindowFullRead", "MB",
        80, "<=", lambda b: b["peak_MB"])
    add("peak memory: r4t8ctl read", "BM_PeakMemory_CtlRead", "MB", 20, "<=",
        lambda b: b["peak_MB"])
    add("r4t8ctl CPU time in a 4 s wait for a reply that never comes (worst of 2)",
        "BM_CtlSilentWait_Cpu", "ms", 100, "<=", lambda b: b["cpu_ms"],
        lambda b: b["wall_s"] * 1e3)
    add("r4t8-sim --demo, start to port ready", "BM_SimDemo_StartToPort", "ms", 500, "<=",
        lambda b: seconds(b, "real_time") * 1e3)

    def fmt(v):
        if v is None:
            return "-"
        if abs(v) >= 1e5:
            return "{:,.0f}".format(v)
        if abs(v) >= 100:
            return "{:.0f}".format(v)
        if abs(v) >= 10:
            return "{:.1f}".format(v)
        return "{:.3g}".format(v)

    print("machine: {} cores; load average {} before, {} after".format(
        a.cores, a.load_before, a.load_after))
    header = ("figure", "value", "bound", "value / bound", "ok", "wall clock")
    table = []
    misses = 0
    for figure, value, wall, unit, bound, kind, note in rows:
        if value is None:
            table.append((figure, note or "-", "{} {} {}".format(kind, fmt(bound), unit), "-",
                          "n/a", ""))
            continue
        ratio = value / bound
        ok = value >= bound if kind == ">=" else value <= bound
        misses += 0 if ok else 1
        table.append((figure, "{} {}".format(fmt(value), unit),
                      "{} {} {}".format(kind, fmt(bound), unit), "{:.3f}".format(ratio),
                      "yes" if ok else "MISS", "{} {}".format(fmt(wall), unit) if wall else ""))
    widths = [max(len(r[i]) for r in table + [header]) for i in range(len(header))]
    line = lambda r: "| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |"
    print(line(header))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in table:
        print(line(r))

    print("\ngrowth (1x, 10x, 100x input; per unit of input, and the fitted curve):")
    for family, unit_name, per in (("BM_SessionReceive_PerByte", "ns/byte", "bytes"),
                                   ("BM_FrameReceiver_PerByte", "ns/byte", "bytes"),
                                   ("BM_Export/growth", "us/record", "records")):
        sizes = []
        for name, b in runs.items():
            if name.startswith(family + "/") and b.get("run_type") == "iteration" \
                    and not b.get("error_occurred"):
                n = b.get("bytes_per_second")
                sizes.append(b)
        parts = []
        for b in sorted(sizes, key=lambda b: b.get("real_time")):
            if "bytes_per_second" in b:
                parts.append("{:.2f} {}".format(1e9 / b["bytes_per_second"], unit_name))
            else:
                n = int(b["name"].split("/")[2])
                parts.append("{}: {:.2f} {}".format(n, seconds(b, "cpu_time") * 1e6 / n,
                                                    unit_name))
        bigo = runs.get(family + "_BigO") or runs.get(family + "/real_time_BigO")
        rms = runs.get(family + "_RMS") or runs.get(family + "/real_time_RMS")
        fit = ""
        if bigo:
            fit = "fit {} (CPU), RMS {:.1f} %".format(
                bigo.get("big_o", "?"), 100 * rms["rms"] if rms and "rms" in rms else -1)
        print("  {}: {}; {}".format(family, ", ".join(parts) or "not run", fit))
    print("\n{} figure(s) missed their bound.".format(misses))
    return 0


if __name__ == "__main__":
    sys.exit(main())
