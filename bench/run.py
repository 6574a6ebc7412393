#!/usr/bin/env python3
"""End-to-end timing of zav against the everyday tools, on payment files of three sizes.

Builds zav and the micro-benchmarks in Release, writes payment files of 10 000, 100 000
and 1 000 000 workers with `zav sample`, then, in one run, times over several repetitions:

  zav check FILE      against   md5sum FILE        (reading every byte, checking nothing)
  zav validate FILE   against   zip -q -6 OUT FILE (packing the same file)

and prints the median times, their ratios, the archives' sizes and the peak resident memory
of each command (from one run under /usr/bin/time -v). The commands of one
size take turns within every repetition, so that both sides of a ratio meet the same
machine; files of up to 100 000 workers get three times the repetitions. Then, when the
browser tools are installed (scripts/install-deps --web), it builds the browser control
(web/build-wasm.sh) and has headless Chromium validate and pack the 100 000- and
1 000 000-worker files picked in the page (bench/browser.mjs), and measures upload
throughput of zav serve directly and through nginx with the shipped site (bench/uploads.py),
and one zav check of 1 000 files of 100 workers against one process a file
(bench/many_files.py).
It ends with every target, its figure and whether it is met, then runs zav_bench, the
micro-benchmarks of the record checks, the check value fold and the number rules.

Usage: bench/run.py [--build DIR] [--reps N] [--workers N,N,...] [--no-micro] [--no-browser]
                    [--no-uploads] [--no-many]
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

import many_files
import uploads

ROOT = Path(__file__).resolve().parent.parent
SERVER_DATE = "10/05/2004"  # the sample files' deadline is 17/05/2004
# Ceilings, each met when the figure is at most the ceiling.
CHECK_RATIO = {100000: 0.60, 1000000: 0.35}     # zav check / md5sum, by workers
VALIDATE_RATIO = {100000: 0.35, 1000000: 0.30}  # zav validate / zip -q -6, by workers
ARCHIVE_RATIO = 0.99        # zav validate's archive / zip -6's
LEVEL_POINT = 7             # also timed: zav validate --level 7, its time and archive
PEAK_LIMIT_KIB = 24 * 1024  # zav, any size
BROWSER_SECONDS = {100000: 0.5, 1000000: 4.0}  # picked in the page, validated and packed
BROWSER_ARCHIVE_RATIO = 1.15                    # the page's archive / zip -6's
BROWSER_PEAK_MIB = 640                          # the largest Chromium process, 1 000 000


def build(build_dir: Path) -> None:
    jobs = os.environ.get("JOBS", "2")
    subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(build_dir), "-DCMAKE_BUILD_TYPE=Release",
         "-DZAV_BUILD_BENCH=ON", "-DZAV_BUILD_TESTS=OFF"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(build_dir), "-j", jobs, "--target", "zav", "zav-serve",
                    "zav_bench"],
                   check=True, stdout=subprocess.DEVNULL)


def sample(zav: Path, workers: int, data: Path) -> Path:
    folder = data / f"w{workers}"
    folder.mkdir(parents=True, exist_ok=True)
    file = folder / "P0404268.ZAV"
    if not file.exists():
        subprocess.run([str(zav), "sample", "--workers", str(workers), "--period", "200404",
                        "-o", str(folder)],
                       check=True, stdout=subprocess.DEVNULL)
    return file


def run(argv, env, peak: bool) -> tuple[float, int]:
    """One run: its wall time (seconds) and, when `peak`, its peak resident memory (KiB).

    Timed runs start the program directly: starting /usr/bin/time as well added about 6 ms
    to every run here, a tenth of md5sum's time on 100 000 workers. The peak comes from a
    run under /usr/bin/time -v, which forks the program from a small process of its own (a
    program started from here would be charged this Python's own peak).
    """
    argv = ["/usr/bin/time", "-v", *argv] if peak else argv
    start = time.perf_counter()
    done = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit(f"bench: {' '.join(argv)} failed ({done.returncode}):\n{done.stderr}")
    found = re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr)
    return elapsed, int(found.group(1)) if peak and found else 0


def measure(zav: Path, file: Path, work: Path, reps: int) -> dict:
    env = dict(os.environ, ZAV_DRIVES=f"C=fixed:{work / 'drive_c'}")
    (work / "drive_c").mkdir(parents=True, exist_ok=True)
    out_dir = work / "out"  # where zav validate writes its archive
    out_dir.mkdir(parents=True, exist_ok=True)
    archive = work / "zip-6.zip"
    commands = {
        "md5sum": ["md5sum", str(file)],
        "check": [str(zav), "check", str(file), "--server-date", SERVER_DATE],
        "zip": ["zip", "-q", "-6", str(archive), str(file)],
        "validate": [str(zav), "validate", str(file), "--server-date", SERVER_DATE,
                     "--out", str(out_dir)],
    }
    # The point a level option offers: a smaller archive for more time.
    commands[f"validate --level {LEVEL_POINT}"] = commands["validate"] + ["--level",
                                                                         str(LEVEL_POINT)]
    runs = {name: [] for name in commands}
    sizes = {}
    peaks = {}
    for rep in range(reps + 1):  # the first round warms the caches and takes the peaks
        for name, argv in commands.items():
            archive.unlink(missing_ok=True)  # zip would add to an existing archive
            for old in out_dir.glob("*.zip"):
                old.unlink()
            seconds, peak = run(argv, env, peak=rep == 0)
            if rep == 0:
                peaks[name] = peak
            else:
                runs[name].append(seconds)
            if name == "zip":
                sizes["zip"] = archive.stat().st_size
            if name.startswith("validate"):  # the one archive this run wrote
                written = list(out_dir.glob("*.zip"))
                if len(written) != 1:
                    sys.exit(f"bench: zav {name} wrote {len(written)} archives in {out_dir}")
                sizes[name] = written[0].stat().st_size
    archive.unlink(missing_ok=True)
    out = {name: (statistics.median(r), peaks[name]) for name, r in runs.items()}
    out["sizes"] = sizes
    return out


def browser(zav: Path, file: Path, reps: int):
    """The page's figures on `file` (bench/browser.mjs), or why there are none (a text)."""
    chromium = os.environ.get("ZAV_CHROMIUM", "/usr/bin/chromium")
    missing = [t for t in ("node", "npm", "emcmake", chromium) if shutil.which(t) is None]
    if missing:
        return f"not measured ({', '.join(missing)} missing: scripts/install-deps --web)"
    wasm_build = Path(os.environ.get("ZAV_WASM_BUILD", ROOT / "build-wasm"))
    subprocess.run([str(ROOT / "web" / "build-wasm.sh"), str(wasm_build)], check=True,
                   stdout=subprocess.DEVNULL)
    done = subprocess.run(["node", str(ROOT / "bench" / "browser.mjs"), "--zav", str(zav),
                           "--site", str(wasm_build / "site"), "--file", str(file),
                           "--reps", str(reps), "--server-date", SERVER_DATE],
                          cwd=ROOT, stdout=subprocess.PIPE, text=True)
    if done.returncode != 0:
        return f"failed (bench/browser.mjs exited {done.returncode})"
    return json.loads(done.stdout.strip().splitlines()[-1])


def verdict(what: str, figure: float, ceiling: float, unit: str = "") -> str:
    met = "met" if figure <= ceiling else "NOT met"
    return f"  {what:<58} {figure:>8.2f}{unit:<4} at most {ceiling:.2f}{unit:<4} {met}"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=str(ROOT / "build-bench"))
    parser.add_argument("--reps", type=int, default=5)
    parser.add_argument("--workers", default="10000,100000,1000000")
    parser.add_argument("--no-micro", action="store_true")
    parser.add_argument("--no-browser", action="store_true")
    parser.add_argument("--no-uploads", action="store_true")
    parser.add_argument("--no-many", action="store_true")
    args = parser.parse_args()
    for tool in ("md5sum", "zip", "/usr/bin/time"):
        if shutil.which(tool) is None:
            sys.exit(f"bench: {tool} is missing (scripts/install-deps --test installs it)")

    build_dir = Path(args.build).resolve()
    print(f"bench: building Release in {build_dir}", flush=True)
    build(build_dir)
    zav = build_dir / "bin" / "zav"
    data = build_dir / "bench-data"
    sizes = [int(w) for w in args.workers.split(",")]

    lines = [f"zav bench: medians of {args.reps * 3} runs ({args.reps} from 1 000 000 workers), "
             "ratios within the same run",
             f"{'workers':>9} {'MB':>6} | {'md5sum':>8} {'check':>8} {'ratio':>6} | "
             f"{'zip -6':>8} {'validate':>8} {'ratio':>6} | peak KiB: md5sum check zip validate"]
    print(lines[0] + "\n" + lines[1], flush=True)
    verdicts = ["targets:"]
    peak_zav = 0
    zip_size = {}
    for workers in sizes:
        file = sample(zav, workers, data)
        # A run of the smaller files takes well under a second: more of them steady the
        # medians of the short timings.
        r = measure(zav, file, data / "work", args.reps * (3 if workers <= 100000 else 1))
        check_ratio = r["check"][0] / r["md5sum"][0]
        validate_ratio = r["validate"][0] / r["zip"][0]
        archive_ratio = r["sizes"]["validate"] / r["sizes"]["zip"]
        zip_size[workers] = r["sizes"]["zip"]
        if workers in CHECK_RATIO:
            spelt = f"{workers:,}".replace(",", " ")
            verdicts.append(verdict(f"zav check / md5sum, {spelt} workers", check_ratio,
                                    CHECK_RATIO[workers]))
            verdicts.append(verdict(f"zav validate / zip -q -6, {spelt} workers", validate_ratio,
                                    VALIDATE_RATIO[workers]))
        verdicts.append(verdict(f"archive of zav validate / zip -6's, {workers} workers",
                                archive_ratio, ARCHIVE_RATIO))
        peak_zav = max(peak_zav, r["check"][1], r["validate"][1])
        line = (f"{workers:>9} {file.stat().st_size / 1e6:>6.1f} | "
                f"{r['md5sum'][0]:>7.3f}s {r['check'][0]:>7.3f}s {check_ratio:>6.2f} | "
                f"{r['zip'][0]:>7.3f}s {r['validate'][0]:>7.3f}s {validate_ratio:>6.2f} | "
                f"{r['md5sum'][1]:>6} {r['check'][1]:>6} {r['zip'][1]:>6} {r['validate'][1]:>6}")
        lines.append(line)
        print(line, flush=True)
        point = f"validate --level {LEVEL_POINT}"
        line = (f"{'':>9} {'':>6}   --level {LEVEL_POINT}: {r[point][0]:.3f} s, "
                f"{r[point][0] / r['zip'][0]:.2f} of zip -6's time, archive "
                f"{r['sizes'][point] / r['sizes']['zip']:.3f} of its size")
        lines.append(line)
        print(line, flush=True)

    verdicts.append(verdict("peak resident memory of zav, any size", peak_zav / 1024,
                            PEAK_LIMIT_KIB / 1024, " MiB"))
    if not args.no_browser:
        for workers, limit in BROWSER_SECONDS.items():
            if workers not in sizes:
                continue
            b = browser(zav, sample(zav, workers, data), min(args.reps, 5 if workers < 10**6 else 3))
            label = f"browser, {workers} workers picked in the page"
            if isinstance(b, str):
                verdicts.append(f"  {label}: {b}")
                continue
            lines.append(f"browser {workers}: {json.dumps(b)}")
            verdicts.append(verdict(f"{label}: validated and packed", b["seconds"], limit, " s"))
            if b["archive"]:
                verdicts.append(verdict(f"{label}: archive / zip -6's",
                                        b["archive"] / zip_size[workers], BROWSER_ARCHIVE_RATIO))
            if workers == 1000000:
                verdicts.append(verdict(f"{label}: largest Chromium process's peak",
                                        b["peak_mib"], BROWSER_PEAK_MIB, " MiB"))
    if not args.no_uploads:
        verdicts += uploads.measure(zav, data, min(args.reps, 3))
    if not args.no_many:
        verdicts += many_files.measure(zav, data, min(args.reps, 3))
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
