"""Upload throughput of zav serve, directly and through nginx with the shipped site.

400 distinct accepted payment files of 50 workers each (one a period, so one archive name
each), packed as the page packs them, are uploaded by 8 concurrent clients with a bearer
token: once straight to zav-serve on loopback, once through Debian's nginx with
deploy/nginx/zav.conf on loopback ports (TLS, certificates made here, zav-serve on its Unix
socket). Every upload must be stored (201); storing is durable (the archive, its receipt and
the folder flushed to disk). The two take turns for ROUNDS rounds on fresh folders; the
report is the median of each, uploads per second and p50/p99 latency, and the ratio of the
front to direct, measured in the same run.

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


def start_nginx(work: Path, tls: Path, zav_socket: Path, port: int) -> subprocess.Popen:
    """Debian's nginx with the shipped site, on loopback ports, in front of `zav_socket`."""
    site = (ROOT / "deploy" / "nginx" / "zav.conf").read_text()
    for old, new in [("unix:/run/zav-serve/zav-serve.sock", f"unix:{zav_socket}"),
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


def round_of(zav: Path, files, front: bool, tls: Path) -> tuple[float, float, float]:
    """Uploads per second, p50 and p99 in ms of one round on fresh folders."""
    with tempfile.TemporaryDirectory(prefix="zav-bench-uploads-", dir=tls.parent) as temp:
        work = Path(temp)
        token_file = work / "tokens"
        token = subprocess.run([str(zav), "serve", "token", "add", "--tokens", str(token_file),
                                REGISTRATION], check=True, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True).stdout.strip()
        zav_socket = work / "zav.sock"
        server, listening = start_server(zav, work, token_file,
                                         ["--socket", str(zav_socket)] if front else ["--port", "0"])
        nginx = None
        try:
            if front:
                port = free_port()
                nginx = start_nginx(work, tls, zav_socket, port)
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
                host, port = listening.removeprefix("http://").rstrip("/").split(":")
                connect = lambda: http.client.HTTPConnection(host, int(port), timeout=60)
            elapsed, latencies = upload_all(files, token, connect)
        finally:
            if nginx:
                nginx.send_signal(signal.SIGQUIT)
                nginx.wait(timeout=30)
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
    results = {"direct": [], "nginx": []}
    for _ in range(rounds):
        results["direct"].append(round_of(zav, files, False, tls))
        results["nginx"].append(round_of(zav, files, True, tls))
    median = {k: [statistics.median(r[i] for r in v) for i in range(3)]
              for k, v in results.items()}
    d, n = median["direct"], median["nginx"]
    met = "met" if n[0] >= FRONT_FLOOR else "NOT met"
    return [
        f"uploads, {FILES} distinct {WORKERS}-worker files, {CLIENTS} clients, durable "
        f"(medians of {rounds} rounds):",
        f"    direct to zav-serve   {d[0]:6.0f} uploads/s  p50 {d[1]:5.1f} ms  p99 {d[2]:5.1f} ms",
        f"    through nginx (TLS)   {n[0]:6.0f} uploads/s  p50 {n[1]:5.1f} ms  p99 {n[2]:5.1f} ms",
        f"    nginx/direct: throughput {n[0] / d[0]:.2f}, p50 {n[1] / d[1]:.2f}",
        f"  {'uploads through nginx, a second':<58} {n[0]:>8.2f}     at least "
        f"{FRONT_FLOOR:.2f}     {met}",
    ]
