#!/usr/bin/env python3
"""Runs Kestrella's benchmarks and prints each figure as a ratio to its floor, measured in the same run.

  report.py BUILD_DIR            all sizes: 1,000; 32,767; 100,000; 1,000,000 records
  report.py BUILD_DIR --quick    1,000 and 100,000 records, fewer repetitions
  report.py BUILD_DIR --ci       as --quick, and fails when a ratio is more than 1.5 times its target
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

FULL_SIZES = [1000, 32767, 100000, 1000000]
QUICK_SIZES = [1000, 100000]


def run_benchmarks(binary, pattern, repetitions, env):
    out = subprocess.run(
        [binary, f"--benchmark_filter={pattern}", f"--benchmark_repetitions={repetitions}",
         "--benchmark_format=json", "--benchmark_report_aggregates_only=true"],
        env=env, check=True, capture_output=True, text=True).stdout
    medians = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            unit = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
            medians[b["run_name"]] = b["real_time"] * unit
    return medians


def probe(binary, argument, env):
    start = time.time_ns()
    out = subprocess.run([binary, argument], env=env, check=True, capture_output=True, text=True).stdout
    fields = dict(item.split("=") for item in out.split())
    return (int(fields["painted_ns"]) - start) / 1e6, int(fields["rss_kb"])


def probe_median(binary, argument, env, repetitions):
    runs = [probe(binary, argument, env) for _ in range(repetitions)]
    return statistics.median(r[0] for r in runs), statistics.median(r[1] for r in runs)


def main():
    build = sys.argv[1]
    mode = sys.argv[2] if len(sys.argv) > 2 else "--full"
    sizes = FULL_SIZES if mode == "--full" else QUICK_SIZES
    reps = 5 if mode == "--full" else 3
    bench = os.path.join(build, "bench")
    data = tempfile.mkdtemp(prefix="kestrella-bench-")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", KESTRELLA_BENCH_DATA=data)
    subprocess.run([os.path.join(bench, "bench_makedata")] + [str(n) for n in sizes], env=env, check=True,
                   capture_output=True)

    rows = []  # (figure, size, measured ms, floor ms, ratio, target)

    def add(figure, size, measured, floor, target):
        rows.append((figure, size, measured, floor, measured / floor if floor else float("nan"), target))

    bare_ms, bare_kb = probe_median(os.path.join(bench, "bench_startup_probe"), "--bare", env, reps)
    for n in sizes:
        folder = os.path.join(data, str(n))
        start_ms, start_kb = probe_median(os.path.join(bench, "bench_startup_probe"), folder, env, reps)
        target = {1000: 1.2, 32767: 2.0, 100000: 3.0, 1000000: 15.0}[n]
        add("start-up to painted list (process)", n, start_ms, bare_ms, target)
        budget_kb = 1.3 * n * 104 / 1024
        rows.append(("memory above bare window (MB)", n, (start_kb - bare_kb) / 1024, budget_kb / 1024,
                     (start_kb - bare_kb) / budget_kb, 1.0))

        m = run_benchmarks(os.path.join(bench, "bench_main_window"), f".*/{n}$", 1 if n >= 1000000 else reps, env)
        get = lambda name: m.get(f"{name}/{n}")
        add("filter to one type", n, get("BM_FilterToOneType"), get("BM_FilteredQueryAndSort"),
            2.0 if n >= 1000000 else 1.5)
        add("back to List ALL", n, get("BM_FilterBackToListAll"), get("BM_ScanAndSortNames"), 1.2)
        rows.append(("pick a name (ms, target 5 ms)", n, get("BM_PickAName"), 5.0, get("BM_PickAName") / 5.0, 1.0))
        save_floor = 2 * get("BM_DurableCommit") + 5.0
        add("save an addition vs 2x commit + 5 ms", n, get("BM_SaveAnAddition"), save_floor, 1.0)
        rows.append(("delete a picked record (ms)", n, get("BM_DeleteAPickedRecord"), None, None, None))
        rows.append(("closing walk (ms)", n, get("BM_ClosingWalk"), None, None, None))
        r = run_benchmarks(os.path.join(bench, "bench_records"), f".*/{n}$", 1 if n >= 1000000 else reps, env) \
            if n in (1000, 100000, 1000000) else {}
        if r:
            add("store refresh + walk of names", n, r[f"BM_RefreshAndWalkNames/{n}"],
                r[f"BM_BareStepLoopReadingNames/{n}"], 3.0)

    print(f"bare window, whole process: {bare_ms:.1f} ms, {bare_kb / 1024:.1f} MB resident")
    print(f"{'figure':40} {'records':>9} {'median ms':>10} {'floor ms':>10} {'ratio':>7} {'target':>7}  verdict")
    failures = []
    for figure, n, measured, floor, ratio, target in rows:
        floor_text = f"{floor:10.2f}" if floor is not None else f"{'-':>10}"
        ratio_text = f"{ratio:7.2f}" if ratio is not None else f"{'-':>7}"
        target_text = f"{target:7.2f}" if target is not None else f"{'-':>7}"
        verdict = "" if target is None else ("ok" if ratio <= target else "MISSED")
        if target is not None and ratio > 1.5 * target:
            failures.append(f"{figure} at {n}: {ratio:.2f} > 1.5 x {target}")
        print(f"{figure:40} {n:9d} {measured:10.2f} {floor_text} {ratio_text} {target_text}  {verdict}")
    if mode == "--ci" and failures:
        print("Regression guard failed:\n  " + "\n  ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
