"""Upload throughput of zav serve, directly and through nginx with the shipped site.

400 distinct accepted payment files of 50 workers each (one a period, so one archive name
each), packed as the page packs them, are uploaded by 8 concurrent clients with a bearer
token: straight to zav-serve on loopback; through Debian's nginx with deploy/nginx/zav.conf
on loopback ports (TLS, certificates made here, zav-serve on its Unix socket); and through
the same nginx to two replicas sharing a PostgreSQL database (a throwaway cluster made here
with initdb, on a Unix socket of its own). Every upload must be stored (201); storing is
durable (the folder store flushes the archive, its receipt and the folder to disk; the
database commits with its defaults, fsync and synchronous commit on). The three take turns
for ROUNDS rounds on fresh folders and databases; the report is the median of each, uploads
per second and p50/p99 latency, and the ratios measured in the same run.

Only the Python standard library is used.
"""

import http.client
import os
import shutil
import signal
import socket
import ssl
import statistics
import subprocess
import tempfile
import threading
import time
import zipfile
from datetime import date, timedelta
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FILES = 400
WORKERS = 50
CLIENTS = 8
REGISTRATION = "A1234567890"
FRONT_FLOOR = 250  # uploads per second through the front
DATABASE_FLOOR = 0.8  # two replicas on PostgreSQL against one server on its folder


def archives(zav: Path, data: Path) -> list[tuple[str, bytes]]:
    """(name, archive bytes) of FILES payment files, one a period from January 1998."""
    folder = data / "uploads"
    deadline = (date.today() + timedelta(days=60)).strftime("%d/%m/%Y")
    made = []
    for k in range(FILES):
        period = f"{1998 + k // 12}{k % 12 + 1:02d}"
        name = f"33501e01.m1.s0870.r{REGISTRATION}.f000001.p{period}.e999.zip"
        packed = folder / name
        if not packed.exists():
            work = folder / period
            work.mkdir(parents=True, exist_ok=True)
            subprocess.run([str(zav), "sample", "--workers", str(WORKERS), "--period", period,
                            "--deadline", deadline, "--seed", str(k + 1), "-o", str(work)],
                           check=True, stdout=subprocess.DEVNULL)
            payment = next(work.glob("*.ZAV"))
            with zipfile.ZipFile(packed, "w", zipfile.ZIP_DEFLATED) as z:
                z.write(payment, name[:-3] + "zav")
            shutil.rmtree(work)
        made.append((name, packed.read_bytes()))
    return made


def certificates(folder: Path) -> None:
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    run = lambda *args: subprocess.run(["openssl", *args], cwd=folder, check=True,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    run("req", "-x509", *key, "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
        "/CN=zav-bench-ca")
    (folder / "server.ext").write_text("subjectAltName=IP:127.0.0.1\n")
    run("req", *key, "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1")
    run("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
        "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext")
    shutil.copy(folder / "ca.pem", folder / "clients-ca.pem")


class Cluster:
    """A throwaway PostgreSQL cluster in `folder`, on a Unix socket there only; run as nobody
    when the bench runs as root (PostgreSQL refuses root)."""

    def __init__(self, folder: Path):
        bins = sorted(Path("/usr/lib/postgresql").glob("*/bin/initdb"))
        if not bins:
            raise FileNotFoundError("PostgreSQL's initdb")
        self.bin, self.dir = bins[-1].parent, folder
        folder.mkdir(parents=True)
        self.user = []
        if os.geteuid() == 0:
            shutil.chown(folder, "nobody", "nogroup")
            self.user = ["runuser", "-u", "nobody", "--"]
        self.run("initdb", "-D", str(folder / "data"), "-A", "trust", "-U", "zav", "-E", "UTF8")
        with open(folder / "data" / "postgresql.conf", "a") as conf:
            conf.write(f"listen_addresses = ''\nunix_socket_directories = '{folder}'\n")
        self.run("pg_ctl", "-D", str(folder / "data"), "-w", "-l", str(folder / "log"), "start")
        self.databases = 0

    def run(self, tool: str, *args: str) -> str:
        return subprocess.run([*self.user, str(self.bin / tool), *args], check=True, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout

    def database(self) -> str:
        """A new database's URI."""
        self.databases += 1
        name = f"bench{self.databases}"
        self.run("psql", "-h", str(self.dir), "-U", "zav", "-d", "postgres", "-qc",
                 f"CREATE DATABASE {name}")
        return f"postgresql:///{name}?host={self.dir}&user=zav"

    def stop(self) -> None:
        self.run("pg_ctl", "-D", str(self.dir / "data"), "-w", "-m", "immediate", "stop")


def start_server(zav: Path, work: Path, token_file: Path,
                 where: list[str]) -> tuple[subprocess.Popen, str]:
    """zav serve, and where it says it listens."""
    server = subprocess.Popen(
        [str(zav), "serve", "--dir", str(work / "uploads"), "--tokens", str(token_file),
         "--web", str(ROOT / "web"), "--max-uploads", "64",
         "--max-uploads-per-uploader", "64", *where],
        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = server.stdout.readline()
    if "listening on" not in line:
        server.kill()
        raise SystemExit(f"bench: zav serve did not start: {line}")
    return server, line.split("listening on ")[1].split(" ")[0]


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_nginx(work: Path, tls: Path, sockets: list[Path], port: int) -> subprocess.Popen:
    """Debian's nginx with the shipped site, on loopback ports, in front of `sockets`."""
    site = (ROOT / "deploy" / "nginx" / "zav.conf").read_text()
    upstream = "\n    ".join(f"server unix:{s};" for s in sockets)
    for old, new in [("server unix:/run/zav-serve/zav-serve.sock;", upstream),
                     ("listen 80;", f"listen 127.0.0.1:{free_port()};"), ("listen [::]:80;", ""),
                     ("listen 443 ssl http2;", f"listen 127.0.0.1:{port} ssl;"),
                     ("listen [::]:443 ssl http2;", ""), ("/etc/zav/tls/", f"{tls}/"),
                     # the bench's clients, all on loopback, listed as the site lets an
                     # operator list a host whose requests are not rate limited
                     ("# 192.0.2.10 0;  # the monitoring host", "127.0.0.1 0;")]:
        if old not in site:
            raise SystemExit(f"bench: {old} is not in the shipped nginx site")
        site = site.replace(old, new)
    conf = work / "nginx"
    conf.mkdir()
    (conf / "zav.conf").write_text(site)
    user = "user root;\n" if os.geteuid() == 0 else ""
    temp = "".join(f"  {kind}_temp_path {conf}/{kind};\n"
                   for kind in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    (conf / "nginx.conf").write_text(
        f"{user}daemon off;\nworker_processes auto;\npid {conf}/nginx.pid;\n"
        f"error_log {conf}/error.log warn;\nevents {{ worker_connections 1024; }}\n"
        f"http {{\n  access_log off;\n{temp}  include {conf}/zav.conf;\n}}\n")
    nginx = subprocess.Popen(["nginx", "-p", str(conf), "-c", str(conf / "nginx.conf"), "-e",
                              str(conf / "error.log")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return nginx


def upload_all(files, token: str, connect) -> tuple[float, list[float]]:
    """Uploads every file from CLIENTS threads; (seconds, latencies) once all are stored."""
    queue = list(files)
    lock = threading.Lock()
    latencies, failures = [], []

    def client():
        connection = None
        while True:
            with lock:
                if not queue:
                    break
                name, body = queue.pop()
            started = time.perf_counter()
            for attempt in range(2):  # a kept-alive connection the front closed: once more
                try:
                    connection = connection or connect()
                    connection.request("POST", f"/api/upload?name={name}", body=body, headers={
                        "Content-Type": "application/zip", "Authorization": f"Bearer {token}"})
                    response = connection.getresponse()
                    response.read()
                    break
                except (http.client.HTTPException, OSError):
                    connection = None
                    if attempt == 1:
                        raise
            if response.will_close:
                connection.close()
                connection = None
            with lock:
                latencies.append(time.perf_counter() - started)
                if response.status != 201:
                    failures.append((name, response.status))

    threads = [threading.Thread(target=client) for _ in range(CLIENTS)]
    started = time.perf_counter()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    elapsed = time.perf_counter() - started
    if failures:
        raise SystemExit(f"bench: {len(failures)} uploads not stored, e.g. {failures[:3]}")
    return elapsed, latencies


def round_of(zav: Path, files, mode: str, tls: Path,
             cluster: "Cluster | None" = None) -> tuple[float, float, float]:
    """Uploads per second, p50 and p99 in ms of one round on fresh folders: `mode` is direct,
    nginx (one server on its folder behind it) or database (two replicas on `cluster`)."""
    with tempfile.TemporaryDirectory(prefix="zav-bench-uploads-", dir=tls.parent) as temp:
        work = Path(temp)
        token_file = work / "tokens"
        store = ["--store", cluster.database()] if mode == "database" else []
        where = store or ["--tokens", str(token_file)]
        token = subprocess.run([str(zav), "serve", "token", "add", *where, REGISTRATION],
                               check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               text=True).stdout.strip()
        servers, sockets = [], []
        for replica in ("a", "b") if mode == "database" else ("a",):
            folder = work / replica
            folder.mkdir()
            sockets.append(folder / "zav.sock")
            servers.append(start_server(
                zav, folder, token_file,
                ["--port", "0"] if mode == "direct" else ["--socket", str(sockets[-1]), *store]))
        nginx = None
        try:
            if mode != "direct":
                port = free_port()
                nginx = start_nginx(work, tls, sockets, port)
                context = ssl.create_default_context(cafile=str(tls / "ca.pem"))
                connect = lambda: http.client.HTTPSConnection("127.0.0.1", port, context=context,
                                                              timeout=60)
                for _ in range(100):  # until nginx answers
                    try:
                        c = connect()
                        c.request("GET", "/healthz")
                        if c.getresponse().status == 200:
                            break
                    except OSError:
                        time.sleep(0.05)
            else:
                host, port = servers[0][1].removeprefix("http://").rstrip("/").split(":")
                connect = lambda: http.client.HTTPConnection(host, int(port), timeout=60)
            elapsed, latencies = upload_all(files, token, connect)
        finally:
            if nginx:
                nginx.send_signal(signal.SIGQUIT)
                nginx.wait(timeout=30)
            for server, _ in servers:
                server.send_signal(signal.SIGTERM)
                server.wait(timeout=30)
    latencies.sort()
    return (len(files) / elapsed, 1000 * latencies[len(latencies) // 2],
            1000 * latencies[int(len(latencies) * 0.99) - 1])


def measure(zav: Path, data: Path, rounds: int) -> list[str]:
    """The report's lines, or one saying why there are none."""
    missing = [t for t in ("nginx", "openssl") if shutil.which(t) is None]
    if missing:
        return [f"uploads: not measured ({', '.join(missing)} missing: scripts/install-deps)"]
    files = archives(zav, data)
    tls = data / "tls"
    shutil.rmtree(tls, ignore_errors=True)
    tls.mkdir(parents=True)
    certificates(tls)
    shutil.rmtree(data / "postgresql", ignore_errors=True)
    try:
        cluster = Cluster(data / "postgresql")
    except (FileNotFoundError, subprocess.CalledProcessError) as e:
        cluster, why = None, str(e)
    modes = ["direct", "nginx"] + (["database"] if cluster else [])
    results = {mode: [] for mode in modes}
    try:
        for _ in range(rounds):
            for mode in modes:
                results[mode].append(round_of(zav, files, mode, tls, cluster))
    finally:
        if cluster:
            cluster.stop()
    median = {k: [statistics.median(r[i] for r in v) for i in range(3)]
              for k, v in results.items()}
    d, n = median["direct"], median["nginx"]
    met = "met" if n[0] >= FRONT_FLOOR else "NOT met"
    lines = [
        f"uploads, {FILES} distinct {WORKERS}-worker files, {CLIENTS} clients, durable "
        f"(medians of {rounds} rounds):",
        f"    direct to zav-serve   {d[0]:6.0f} uploads/s  p50 {d[1]:5.1f} ms  p99 {d[2]:5.1f} ms",
        f"    through nginx (TLS)   {n[0]:6.0f} uploads/s  p50 {n[1]:5.1f} ms  p99 {n[2]:5.1f} ms",
    ]
    if cluster:
        p = median["database"]
        lines.append(f"    nginx, 2 replicas, PG {p[0]:6.0f} uploads/s  p50 {p[1]:5.1f} ms  "
                     f"p99 {p[2]:5.1f} ms")
    else:
        lines.append(f"    two replicas on PostgreSQL: not measured ({why}; scripts/install-deps --test)")
    lines += [
        f"    nginx/direct: throughput {n[0] / d[0]:.2f}, p50 {n[1] / d[1]:.2f}",
        f"  {'uploads through nginx, a second':<58} {n[0]:>8.2f}     at least "
        f"{FRONT_FLOOR:.2f}     {met}",
    ]
    if cluster:
        ratio = median["database"][0] / n[0]
        lines.append(f"  {'uploads, 2 replicas on PostgreSQL / folder store':<58} {ratio:>8.2f}     "
                     f"at least {DATABASE_FLOOR:.2f}     "
                     f"{'met' if ratio >= DATABASE_FLOOR else 'NOT met'}")
    return lines
