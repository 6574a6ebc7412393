"""Many small files: one zav check over 1 000 payment files of 100 workers, each in a
folder of its own, against one zav check process a file, one after another (what a script
looping over the files does). Part of bench/run.py; run alone as

    bench/many_files.py ZAV_BINARY DATA_DIR [--files N] [--reps N]
"""

import argparse
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

FILES = 1000
WORKERS = 100
SERVER_DATE = "10/05/2004"
# One run over every file, against one process a file: at most this share of the time.
RATIO = 0.5


def files(zav: Path, data: Path, count: int) -> list[Path]:
    root = data / f"many-{count}x{WORKERS}"
    if root.exists() and len(list(root.iterdir())) == count:
        return sorted(root.iterdir())
    shutil.rmtree(root, ignore_errors=True)
    root.mkdir(parents=True)
    first = root / "0000"
    subprocess.run([str(zav), "sample", "--period", "200404", "--workers", str(WORKERS),
                    "-o", str(first)], check=True, stdout=subprocess.DEVNULL)
    name = next(first.iterdir()).name
    for k in range(1, count):
        folder = root / f"{k:04d}"
        folder.mkdir()
        shutil.copyfile(first / name, folder / name)
    return sorted(root.iterdir())


def timed(commands: list[list[str]]) -> float:
    start = time.perf_counter()
    for c in commands:
        subprocess.run(c, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def peak(command: list[str]) -> int:
    """The peak resident memory of `command` (KiB), from /usr/bin/time -v, which forks it
    from a small process of its own; 0 when there is no /usr/bin/time."""
    if not Path("/usr/bin/time").exists():
        return 0
    done = subprocess.run(["/usr/bin/time", "-v", *command], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=True)
    found = re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr)
    return int(found.group(1)) if found else 0


def measure(zav: Path, data: Path, reps: int, count: int = FILES) -> list[str]:
    folders = files(zav, data, count)
    one_run = [[str(zav), "check", *map(str, folders), "--server-date", SERVER_DATE,
                "--summary", "csv"]]
    each = [[str(zav), "check", str(next(f.iterdir())), "--server-date", SERVER_DATE]
            for f in folders]
    together, apart = [], []
    for _ in range(reps):  # the two take turns, so that both meet the same machine
        together.append(timed(one_run))
        apart.append(timed(each))
    t, a = statistics.median(together), statistics.median(apart)
    together_peak, apart_peak = peak(one_run[0]), max(peak(c) for c in each[:20])
    ratio = t / a
    met = "met" if ratio <= RATIO else "NOT met"
    return [
        f"many files, {count} x {WORKERS} workers (medians of {reps}): one zav check "
        f"{t:.2f}s, one process a file {a:.2f}s; peak memory {together_peak / 1024:.1f} MiB "
        f"against {apart_peak / 1024:.1f} MiB a process (the largest of 20)",
        f"  {'zav check of many files / one process a file':<58} {ratio:>8.2f}     at most "
        f"{RATIO:.2f}     {met}",
    ]


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("zav")
    parser.add_argument("data")
    parser.add_argument("--files", type=int, default=FILES)
    parser.add_argument("--reps", type=int, default=3)
    args = parser.parse_args()
    for line in measure(Path(args.zav), Path(args.data), args.reps, args.files):
        print(line)
    sys.exit(0)
