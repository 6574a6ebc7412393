#!/usr/bin/env python3
"""End-to-end timing of zav against the everyday tools, on payment files of three sizes.

Builds zav and the micro-benchmarks in Release, writes payment files of 10 000, 100 000
and 1 000 000 workers with `zav sample`, then, in one run, times over several repetitions:

  zav check FILE      against   md5sum FILE        (reading every byte, checking nothing)
  zav validate FILE   against   zip -q -6 OUT FILE (packing the same file)

and prints the median times, their ratios and the peak resident memory of each run (from
/usr/bin/time -v). The commands of one size take turns within every repetition, so that
both sides of a ratio meet the same machine. Then, when the browser tools are installed
(scripts/install-deps --web), it builds the browser control (web/build-wasm.sh) and times
the page's worker validating and packing the 100 000-worker file in headless Chromium
(bench/browser.mjs). Then it measures upload throughput of zav serve directly and through
nginx with the shipped site (bench/uploads.py). Last, it runs zav_bench, the
micro-benchmarks of the record checks, the check value fold and the number rules.

Usage: bench/run.py [--build DIR] [--reps N] [--workers N,N,...] [--no-micro] [--no-browser]
                    [--no-uploads]
Only the Python standard library is used.
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

import uploads

ROOT = Path(__file__).resolve().parent.parent
SERVER_DATE = "10/05/2004"  # the sample files' deadline is 17/05/2004
TARGETS = {"check": 1.0, "validate": 1.15}  # ratio ceilings: check/md5sum, validate/zip
PEAK_LIMIT_KIB = 16 * 1024
BROWSER_LIMIT_S = 2.0


def build(build_dir: Path) -> None:
    jobs = os.environ.get("JOBS", "2")
    subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
         "-DZAV_BUILD_BENCH=ON", "-DZAV_BUILD_TESTS=OFF"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "-j", jobs, "--target", "zav", "zav_bench"],
                   check=True, stdout=subprocess.DEVNULL)


def sample(zav: Path, workers: int, data: Path) -> Path:
    folder = data / f"w{workers}"
    folder.mkdir(parents=True, exist_ok=True)
    file = folder / "P0404268.ZAV"
    if not file.exists():
        subprocess.run([str(zav), "sample", "--workers", str(workers), "-o", str(folder)],
                       check=True, stdout=subprocess.DEVNULL)
    return file


def timed(argv, env) -> tuple[float, int]:
    """Wall time of one run (seconds) and its peak resident memory (KiB)."""
    start = time.perf_counter()
    done = subprocess.run(["/usr/bin/time", "-v", *argv], env=env, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"bench: {' '.join(argv)} failed ({done.returncode}):\n{done.stderr}")
    peak = re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr)
    return elapsed, int(peak.group(1)) if peak else 0


def measure(zav: Path, file: Path, work: Path, reps: int) -> dict:
    env = dict(os.environ, ZAV_DRIVES=f"C=fixed:{work / 'drive_c'}")
    (work / "drive_c").mkdir(parents=True, exist_ok=True)
    archive = work / "zip-6.zip"
    commands = {
        "md5sum": ["md5sum", str(file)],
        "check": [str(zav), "check", str(file), "--server-date", SERVER_DATE],
        "zip": ["zip", "-q", "-6", str(archive), str(file)],
        "validate": [str(zav), "validate", str(file), "--server-date", SERVER_DATE],
    }
    runs = {name: [] for name in commands}
    for rep in range(reps + 1):  # the first round only warms the caches
        for name, argv in commands.items():
            archive.unlink(missing_ok=True)  # zip would add to an existing archive
            result = timed(argv, env)
            if rep > 0:
                runs[name].append(result)
    archive.unlink(missing_ok=True)
    return {name: (statistics.median(t for t, _ in r), max(m for _, m in r))
            for name, r in runs.items()}


def browser(zav: Path, file: Path, reps: int) -> str:
    """The browser control's times on `file`, as a line of the report (or why there are none)."""
    chromium = os.environ.get("ZAV_CHROMIUM", "/usr/bin/chromium")
    missing = [t for t in ("node", "npm", "emcmake", chromium) if shutil.which(t) is None]
    if missing:
        return f"browser: not measured ({', '.join(missing)} missing: scripts/install-deps --web)"
    wasm_build = Path(os.environ.get("ZAV_WASM_BUILD", ROOT / "build-wasm"))
    subprocess.run([str(ROOT / "web" / "build-wasm.sh"), str(wasm_build)], check=True,
                   stdout=subprocess.DEVNULL)
    done = subprocess.run(["node", str(ROOT / "bench" / "browser.mjs"), "--zav", str(zav),
                           "--site", str(wasm_build / "site"), "--file", str(file),
                           "--reps", str(reps), "--server-date", SERVER_DATE],
                          cwd=ROOT, check=True, stdout=subprocess.PIPE, text=True)
    t = json.loads(done.stdout.strip().splitlines()[-1])
    return (f"browser (headless Chromium), {file.stat().st_size / 1e6:.1f} MB: into the control "
            f"{t['bring']:.2f}s, validated and packed {t['validate']:.2f}s, total "
            f"{t['total']:.2f}s (under {BROWSER_LIMIT_S:.0f}s)")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(ROOT / "build-bench"))
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--workers", default="10000,100000,1000000")
    parser.add_argument("--no-micro", action="store_true")
    parser.add_argument("--no-browser", action="store_true")
    parser.add_argument("--no-uploads", action="store_true")
    args = parser.parse_args()
    for tool in ("md5sum", "zip", "/usr/bin/time"):
        if shutil.which(tool) is None:
            sys.exit(f"bench: {tool} is missing (scripts/install-deps installs it)")

    build_dir = Path(args.build).resolve()
    print(f"bench: building Release in {build_dir}", flush=True)
    build(build_dir)
    zav = build_dir / "bin" / "zav"
    data = build_dir / "bench-data"
    sizes = [int(w) for w in args.workers.split(",")]

    lines = [f"zav bench: medians of {args.reps} runs, ratios within the same run",
             f"{'workers':>9} {'MB':>6} | {'md5sum':>8} {'check':>8} {'ratio':>6} | "
             f"{'zip -6':>8} {'validate':>8} {'ratio':>6} | peak KiB: md5sum check zip validate"]
    print(lines[0] + "\n" + lines[1], flush=True)
    worst = {"check": 0.0, "validate": 0.0}
    peak_zav = 0
    for workers in sizes:
        file = sample(zav, workers, data)
        r = measure(zav, file, data / "work", args.reps)
        check_ratio = r["check"][0] / r["md5sum"][0]
        validate_ratio = r["validate"][0] / r["zip"][0]
        if workers == 100000:
            worst["check"], worst["validate"] = check_ratio, validate_ratio
        peak_zav = max(peak_zav, r["check"][1], r["validate"][1])
        line = (f"{workers:>9} {file.stat().st_size / 1e6:>6.1f} | "
                f"{r['md5sum'][0]:>7.3f}s {r['check'][0]:>7.3f}s {check_ratio:>6.2f} | "
                f"{r['zip'][0]:>7.3f}s {r['validate'][0]:>7.3f}s {validate_ratio:>6.2f} | "
                f"{r['md5sum'][1]:>6} {r['check'][1]:>6} {r['zip'][1]:>6} {r['validate'][1]:>6}")
        lines.append(line)
        print(line, flush=True)

    verdicts = []
    if 100000 in sizes:
        verdicts.append(f"targets on 100 000 workers: check/md5sum {worst['check']:.2f} "
                        f"(at most {TARGETS['check']:.2f}), validate/zip {worst['validate']:.2f} "
                        f"(at most {TARGETS['validate']:.2f})")
    verdicts.append(f"peak resident memory of zav: {peak_zav} KiB (at most {PEAK_LIMIT_KIB})")
    if not args.no_browser:
        browser_size = 100000 if 100000 in sizes else sizes[0]
        verdicts.append(browser(zav, sample(zav, browser_size, data), min(args.reps, 3)))
    if not args.no_uploads:
        verdicts += uploads.measure(zav, data, min(args.reps, 3))
    for v in verdicts:
        print(v)
    lines += verdicts
    (build_dir / "bench-results.txt").write_text("\n".join(lines) + "\n")

    if not args.no_micro:
        print("\nzav_bench (micro-benchmarks):", flush=True)
        subprocess.run([str(build_dir / "bin" / "zav_bench"), "--benchmark_min_time=0.2"],
                       check=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
