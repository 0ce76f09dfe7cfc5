"""The measurements: lock-step limit, single transfers (server and client
side), concurrency, idle costs. Each returns plain records for the report."""

import filecmp
import os
import re
import socket
import time

import peers
from peers import HOST, PORTS, UPLOADS
from procs import PeakSampler, hwm_bytes, proc_cpu_seconds, rss_bytes, run_client, start_transfer_client


class Context:
    def __init__(self, profile, tools, work, deadline):
        self.p = profile
        self.tools = tools
        self.work = work
        self.root = os.path.join(work, "root")
        self.downloads = os.path.join(work, "dl")
        self.logs = os.path.join(work, "logs")
        self.deadline = deadline
        self.failures = []  # texts of every transfer that failed or did not verify
        self.skipped = 0
        self.servers = {}   # name -> running Server of the single-transfer section

    def out_of_time(self):
        return time.monotonic() > self.deadline

    def fail(self, text):
        self.failures.append(text)
        print("  FAIL " + text, flush=True)


def make_file(path, size):
    with open(path, "wb") as f:
        left = size
        while left:
            chunk = os.urandom(min(left, 1 << 20))
            f.write(chunk)
            left -= len(chunk)
    os.chmod(path, 0o644)


# ---- lock-step limit -----------------------------------------------------------

def pingpong(ctx, sizes):
    """Round trip per datagram size: default placement and both ends on one CPU."""
    out = {}
    for label, prefix in (("default", []), ("one-cpu", ["taskset", "-c", "0"])):
        argv = prefix + [ctx.tools.pingpong, "--host", HOST, "--seconds", str(ctx.p["ping_seconds"])]
        argv += [str(s) for s in sizes]
        r = run_client(argv, 60, os.path.join(ctx.logs, "pingpong-%s.log" % label))
        if not r.ok:
            ctx.fail("ping-pong (%s) exited %s: %s" % (label, r.status, r.output.strip()[:200]))
            continue
        for line in r.output.splitlines():
            m = re.match(r"rtt (\d+) ([\d.]+)", line)
            if m:
                out.setdefault(int(m.group(1)), {})[label] = float(m.group(2))
    return out


# ---- single transfers ----------------------------------------------------------

def _wait_for_size(path, size, timeout=15.0):
    """An upload is complete once the server's copy has the whole size (a
    server may still be writing when its client has exited)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            if os.path.getsize(path) >= size:
                return True
        except OSError:
            pass
        time.sleep(0.02)
    return False


def _same(a, b):
    try:
        return filecmp.cmp(a, b, shallow=False)
    except OSError:
        return False


def udp_counters():
    """The namespace's UDP counters (/proc/net/snmp): datagrams dropped
    because a socket's receive or send buffer was full."""
    try:
        with open("/proc/net/snmp") as f:
            rows = [line.split() for line in f if line.startswith("Udp:")]
        named = dict(zip(rows[0][1:], (int(x) for x in rows[1][1:])))
    except (OSError, IndexError, ValueError):
        return {}
    return {k: named.get(k, 0) for k in ("RcvbufErrors", "SndbufErrors", "InDatagrams")}


def one_transfer(ctx, server, client, direction, bs, run, source="big.bin", window=1, strict=True, cap=None,
                 port=None):
    """One timed transfer, verified. Returns its record. A window above 1 asks
    for the windowsize option; port (default the server's) is where the
    client sends its request, a relay in front of the server. Not strict: a transfer that does not complete
    is only recorded (rec["completed"] False); a received file of the whole
    size that differs from the source still fails the run."""
    src = os.path.join(ctx.root, source)
    size = os.path.getsize(src)
    tag = "%s %s %s bs %d%s run %d" % (direction, client, server, bs,
                                        " window %d" % window if window > 1 else "", run + 1)
    rec = dict(server=server, client=client, dir=direction, bs=bs, run=run, bytes=size, ok=False)
    if window > 1 or not strict:
        rec["window"] = window
    if direction == "get":
        remote = source
        local = os.path.join(ctx.downloads, "%s-%s-%d.bin" % (client, server, bs))
        received = local
    else:
        remote = "u%d-%d-%d-%s-%s.bin" % (run, bs, window, client[:3], server[:3])
        local = src
        received = os.path.join(ctx.root, remote)
    for f in (received,):
        if os.path.exists(f):
            os.remove(f)
    srv = ctx.servers.get(server)
    cpu0 = srv.cpu_seconds() if srv else 0.0
    argv = peers.client_argv(client, direction, bs, port or PORTS[server], remote, local, ctx.tools, window)
    timeout = cap or max(30.0, size / 2e6)
    udp0 = udp_counters()
    r = run_client(argv, timeout, os.path.join(ctx.logs, "client.log"), cwd=ctx.downloads)
    seconds = r.seconds
    if client.startswith("skerry"):
        m = re.search(r"^elapsed ([\d.]+)", r.output, re.M)
        if m:
            rec["process_seconds"] = seconds
            seconds = float(m.group(1))
    rec.update(seconds=seconds, client_cpu=r.cpu, server_cpu=(srv.cpu_seconds() - cpu0) if srv else None)
    if "window" in rec:
        udp1 = udp_counters()
        rec["rcvbuf_drops"] = udp1.get("RcvbufErrors", 0) - udp0.get("RcvbufErrors", 0)
        rec["sndbuf_drops"] = udp1.get("SndbufErrors", 0) - udp0.get("SndbufErrors", 0)
        rec["datagrams"] = udp1.get("InDatagrams", 0) - udp0.get("InDatagrams", 0)
        rec["window_used"] = _window_used(client, r.output)
        rec["status"] = r.status
    # Several clients (tftp-hpa) exit 0 after a server's ERROR: the file decides.
    if direction == "put" and (strict or r.ok):
        _wait_for_size(received, size)
    verified = _same(received, src)
    whole = _size_of(received) >= size
    if os.path.exists(received) and received != src:
        os.remove(received)
    if not strict:
        rec["completed"] = r.ok and verified
        rec["corrupt"] = whole and not verified
        if rec["corrupt"]:
            ctx.fail("%s: the received file has the whole size but differs from the source" % tag)
        if not rec["completed"]:
            return rec
    elif not r.ok or not verified:
        why = "exit %s" % r.status if not r.ok else "received file differs from the source"
        ctx.fail("%s: %s %s" % (tag, why, r.output.strip().replace("\n", " | ")[:300]))
        return rec
    rec["ok"] = True
    rec["mbps"] = size / seconds / 1e6
    return rec


def _size_of(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return -1


def _window_used(client, output):
    """The window in use at the end, as Skerry's engine tells it (1: the
    server's answer had no windowsize); None for a client that does not say
    (atftp prints the options it asked for, not those granted)."""
    if client.startswith("skerry"):
        m = re.search(r"^windowsize (\d+)", output, re.M)
        return int(m.group(1)) if m else None
    return None


def single_transfers(ctx, servers):
    p = ctx.p
    records = []
    for run in range(p["runs"]):
        for bs in p["blocks"]:
            if ctx.out_of_time():
                ctx.skipped += 1
                continue
            line = []
            for client in p["server_clients"]:
                if not _client_at(p, client, bs):
                    continue
                for direction in ("get", "put"):
                    for server in servers:
                        if direction == "put" and not UPLOADS[server]:
                            continue
                        rec = one_transfer(ctx, server, client, direction, bs, run)
                        records.append(rec)
                        line.append("%s/%s/%s %s" % (direction, client, server,
                                                     "%.1f" % rec["mbps"] if rec["ok"] else "FAIL"))
            # Clients side by side: the others against tftpd-hpa in the same round.
            for client in p["extra_clients"]:
                if not peers.client_supports(client, bs) or not _client_at(p, client, bs):
                    continue
                if client.startswith("skerry") and not ctx.tools.skerry:
                    continue
                for direction in ("get", "put"):
                    rec = one_transfer(ctx, "tftpd-hpa", client, direction, bs, run)
                    records.append(rec)
                    line.append("%s/%s %s" % (direction, client, "%.1f" % rec["mbps"] if rec["ok"] else "FAIL"))
            print("  run %d bs %d: %s" % (run + 1, bs, ", ".join(line)), flush=True)
    return records


def _client_at(p, client, bs):
    only = p.get("client_blocks", {}).get(client)
    return only is None or bs in only


def warm_up(ctx, servers):
    for server in servers:
        rec = one_transfer(ctx, server, "atftp", "get", 1428, 0, source="warm.bin")
        if not rec["ok"]:
            ctx.fail("warm-up of %s failed" % server)


# ---- concurrency ---------------------------------------------------------------

def concurrency(ctx, servers, start, stop):
    """N downloads at once of one file from a freshly started server."""
    p = ctx.p
    src = os.path.join(ctx.root, "conc.bin")
    size = os.path.getsize(src)
    out_dir = os.path.join(ctx.work, "conc")
    records = []
    for run in range(p["conc_runs"]):
        for count in p["conc_counts"]:
            for server in servers:
                if ctx.out_of_time():
                    ctx.skipped += 1
                    continue
                srv = start(server)
                if srv is None:
                    ctx.fail("concurrency: %s did not start" % server)
                    continue
                try:
                    one_transfer(ctx, server, "atftp", "get", 1428, 0, source="warm.bin")
                    time.sleep(0.3)
                    idle_rss = sum(rss for rss in _rss_of(srv))
                    os.makedirs(out_dir, exist_ok=True)
                    srv.accounting.reset_memory_peak()
                    sampler = PeakSampler(srv.accounting)
                    sampler.start()
                    cpu0 = srv.cpu_seconds()
                    argv = [ctx.tools.multiget, "--host", HOST, "--port", str(PORTS[server]), "--file",
                            "conc.bin", "--count", str(count), "--blksize", str(p["conc_blksize"]),
                            "--out", out_dir, "--deadline", str(p["conc_deadline"])]
                    r = run_client(argv, p["conc_deadline"] + 30, os.path.join(ctx.logs, "multiget.log"))
                    cpu = srv.cpu_seconds() - cpu0
                    sampler.stop()
                    peak = max(sampler.peak, hwm_bytes(srv.proc.pid))
                    rec = dict(server=server, count=count, run=run, bytes=size, cpu=cpu, peak_rss=peak,
                               idle_rss=idle_rss, cgroup_peak=srv.accounting.memory_peak(),
                               procs=sampler.max_procs, ok=False)
                    times, total, verified = [], None, 0
                    for line in r.output.splitlines():
                        f = line.split()
                        if f and f[0] == "xfer" and f[2] == "ok":
                            times.append(float(f[3]))
                        elif f and f[0] == "total":
                            total = float(f[1])
                    for i in range(count):
                        got = os.path.join(out_dir, "get-%d.bin" % i)
                        if _same(got, src):
                            verified += 1
                        if os.path.exists(got):
                            os.remove(got)
                    rec.update(verified=verified, completed=len(times))
                    if total and len(times) == count and verified == count:
                        rec.update(ok=True, seconds=total, slowest=max(times), median=sorted(times)[count // 2],
                                   mbps=count * size / total / 1e6)
                    else:
                        bad = [l for l in r.output.splitlines() if " fail " in l][:3]
                        ctx.fail("concurrency %d from %s: %d completed, %d verified %s" %
                                 (count, server, len(times), verified, " | ".join(bad)))
                    records.append(rec)
                    print("  %3d at once from %-9s %s" % (
                        count, server, "%.1f MB/s, slowest %.2f s, peak RSS %.1f MiB, CPU %.2f s" % (
                            rec["mbps"], rec["slowest"], peak / 2**20, cpu) if rec["ok"] else "FAIL"), flush=True)
                finally:
                    stop(srv)
    return records


def _rss_of(srv):
    return [rss_bytes(pid) for pid in srv.accounting.pids()]


# ---- idle costs ----------------------------------------------------------------

def idle_servers(ctx, servers):
    """CPU of every running server over the same quiet window."""
    time.sleep(ctx.p["settle_seconds"])  # let the last transfers be swept away
    before = {name: srv.cpu_seconds() for name, srv in servers.items()}
    t0 = time.monotonic()
    time.sleep(ctx.p["idle_seconds"])
    window = time.monotonic() - t0
    return [dict(program=name, what="server, no transfer", window=window,
                 cpu=servers[name].cpu_seconds() - before[name]) for name in servers]


def stalled_client(ctx, client):
    """CPU of a client whose server never answers."""
    silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    silent.bind((HOST, 0))
    port = silent.getsockname()[1]
    local = os.path.join(ctx.downloads, "stalled.bin")
    argv = peers.client_argv(client, "get", 512, port, "nothing.bin", local, ctx.tools)
    if client.startswith("skerry"):
        argv += ["--timeout", "600"]
    proc = start_transfer_client(argv, os.path.join(ctx.logs, "stalled-%s.log" % client), ctx.downloads)
    try:
        time.sleep(ctx.p["stall_warmup"])
        if proc.poll() is not None:
            ctx.fail("stalled %s ended by itself (status %s)" % (client, proc.returncode))
            return None
        c0, t0 = proc_cpu_seconds(proc.pid), time.monotonic()
        time.sleep(ctx.p["stall_seconds"])
        c1, t1 = proc_cpu_seconds(proc.pid), time.monotonic()
        alive = proc.poll() is None
    finally:
        proc.finish()
        silent.close()
        if os.path.exists(local):
            os.remove(local)
    if not alive:
        ctx.fail("stalled %s ended during the measurement" % client)
        return None
    return dict(program=client, what="client, transfer stalled", window=t1 - t0, cpu=c1 - c0)


# ---- profile of one server -------------------------------------------------------

def _transfer_watched(ctx, tool_argv, tool_log, server, direction, bs, run, window=1):
    """One transfer with atftp while a tool (strace, perf) watches from the
    side; the tool is started first and interrupted after."""
    tool = start_transfer_client(tool_argv, os.path.join(ctx.logs, tool_log))
    time.sleep(0.5)
    rec = one_transfer(ctx, server, "atftp", direction, bs, run, window=window)
    tool.interrupt()
    return rec


def _profile_name(who, direction, bs, window):
    return "profile-%s-%s-%d%s.txt" % (who, direction, bs, "-w%d" % window if window > 1 else "")


def _window_text(rec, window):
    """What the plain run says about the window: asked for, and granted."""
    if window <= 1:
        return ""
    used = rec.get("window_used")
    n = rec.get("datagrams")
    blocks = rec["bytes"] // rec["bs"] + 1
    return ", window %d asked for%s%s" % (window, "" if used is None else ", %d in use at the end" % used,
                                          ", %.2f datagrams per block" % (n / blocks) if n else "")


def profile_server(ctx, server, direction, bs, start, out_dir, window=1):
    """Where one server's time goes during one transfer: CPU per block, the
    system calls it makes per block (strace -c), and a perf profile. A window
    above 1: atftp asks for the windowsize option. Writes
    out_dir/profile-SERVER-DIR-BS[-wWINDOW].txt; returns its path."""
    srv = start(server)
    if srv is None:
        return None
    ctx.servers = {server: srv}
    path = os.path.join(out_dir, _profile_name(server, direction, bs, window))
    size = os.path.getsize(os.path.join(ctx.root, "big.bin"))
    blocks = size // bs + 1
    report = ["# Profile of %s, %s at block size %d%s, %d bytes (%d blocks), client atftp" % (
        server, direction, bs, ", window %d" % window if window > 1 else "", size, blocks), ""]
    try:
        one_transfer(ctx, server, "atftp", "get", 1428, 0, source="warm.bin")
        rec = one_transfer(ctx, server, "atftp", direction, bs, 0, window=window)
        if rec["ok"]:
            report.append("Plain run: %.1f MB/s, server CPU %.3f s = %.2f us per block, client CPU %.3f s%s" % (
                rec["mbps"], rec["server_cpu"], 1e6 * rec["server_cpu"] / blocks, rec["client_cpu"],
                _window_text(rec, window)))
        # Scheduler events per block on the whole machine (server, client
        # and anything else): a lock-step transfer pays for every switch and
        # migration in latency.
        stat_out = os.path.join(ctx.logs, "perf-stat.txt")
        rec = _transfer_watched(ctx, ["perf", "stat", "-a", "-x", ",", "-o", stat_out,
                                      "-e", "context-switches,cpu-migrations"],
                                "perf-stat.log", server, direction, bs, 3, window)
        report += ["", "## Scheduler events on the whole machine during one transfer (perf stat, %s)" % (
            "%.1f MB/s" % rec["mbps"] if rec["ok"] else "transfer failed"), ""]
        report += _perf_stat_table(stat_out, blocks)
        # System calls per block, every thread of the server.
        pids = srv.accounting.pids() or [srv.proc.pid]
        trace_out = os.path.join(ctx.logs, "strace.txt")
        argv = ["strace", "-c", "-f", "-o", trace_out]
        for pid in pids:
            argv += ["-p", str(pid)]
        rec = _transfer_watched(ctx, argv, "strace.log", server, direction, bs, 1, window)
        report += ["", "## System calls during one transfer under strace (%s)" % (
            "%.1f MB/s under the tracer" % rec["mbps"] if rec["ok"] else "transfer failed"), ""]
        report += _per_block_table(trace_out, blocks)
        # Where the CPU time goes.
        data = os.path.join(ctx.work, "perf.data")
        rec = _transfer_watched(ctx, ["perf", "record", "-F", "999", "--call-graph", "dwarf,16384", "-o", data,
                                      "-p", str(srv.proc.pid)], "perf.log", server, direction, bs, 2, window)
        report += _perf_sections(ctx, data)
        if os.path.exists(data):
            os.remove(data)
    finally:
        srv.stop()
    with open(path, "w") as f:
        f.write("\n".join(report) + "\n")
    return path


def _perf_sections(ctx, data):
    """The report's perf sections from one recording: self time by object and
    by symbol, and time including callees."""
    lines = []
    for title, extra in (("Self time by object", ["--no-children", "--sort", "dso", "-g", "none"]),
                         ("Self time by symbol", ["--no-children", "--sort", "dso,symbol", "-g", "none"]),
                         ("Time including callees", ["--children", "--sort", "symbol", "-g", "none"])):
        r = run_client(["perf", "report", "-i", data, "--stdio", "--percent-limit", "0.7"] + extra, 300,
                       os.path.join(ctx.logs, "perf-report.txt"))
        lines += ["", "## perf: %s" % title, "", "```"]
        lines += [re.sub(r"(\s+-)+\s*$", "", l) for l in r.output.splitlines()
                  if l.strip() and not l.startswith("#")][:80]
        lines += ["```"]
    return lines


def _perf_stat_table(stat_out, blocks):
    rows = ["| event | count | per block |", "|:--|---:|---:|"]
    try:
        with open(stat_out) as f:
            for line in f:
                parts = line.strip().split(",")
                if len(parts) < 3 or line.startswith("#"):
                    continue
                try:
                    value = float(parts[0])
                except ValueError:
                    continue
                name = parts[2]
                rows.append("| %s | %d | %.3f |" % (name, value, value / blocks))
    except OSError:
        rows.append("| (perf stat wrote nothing) | | |")
    return rows


def _per_block_table(trace_out, blocks):
    """strace -c output as calls per block; the start-up's few calls summed."""
    lines = ["| system call | calls | per block |", "|:--|---:|---:|"]
    rare = 0
    try:
        with open(trace_out) as f:
            for line in f:
                fields = line.split()
                if len(fields) >= 5 and fields[0][0].isdigit() and fields[-1] != "total":
                    calls = int(fields[3])
                    if calls / blocks >= 0.01:
                        lines.append("| %s | %d | %.2f |" % (fields[-1], calls, calls / blocks))
                    else:
                        rare += calls
    except (OSError, ValueError):
        lines.append("| (strace gave nothing) | | |")
    lines.append("| all others (start-up, set-up) | %d | %.3f |" % (rare, rare / blocks))
    return lines


def profile_client(ctx, client, direction, bs, start, out_dir, window=1):
    """The same for a client against tftpd-hpa (against atftpd when it asks
    for a window above 1: tftpd-hpa has no windowsize): the client runs under
    strace and then under perf."""
    server = "atftpd" if window > 1 else "tftpd-hpa"
    srv = start(server)
    if srv is None:
        return None
    ctx.servers = {server: srv}
    path = os.path.join(out_dir, _profile_name(client, direction, bs, window))
    src = os.path.join(ctx.root, "big.bin")
    size = os.path.getsize(src)
    blocks = size // bs + 1
    report = ["# Profile of %s, %s at block size %d%s against %s, %d bytes (%d blocks)" % (
        client, direction, bs, ", window %d" % window if window > 1 else "", server, size, blocks), ""]
    if direction == "get":
        remote, local = "big.bin", os.path.join(ctx.downloads, "profiled.bin")
    else:
        remote, local = "profiled.bin", src
    argv = peers.client_argv(client, direction, bs, port or PORTS[server], remote, local, ctx.tools, window)
    try:
        rec = one_transfer(ctx, server, client, direction, bs, 0, window=window)
        if rec["ok"]:
            report.append("Plain run: %.1f MB/s, client CPU %.3f s = %.2f us per block, server CPU %.3f s%s" % (
                rec["mbps"], rec["client_cpu"], 1e6 * rec["client_cpu"] / blocks, rec["server_cpu"],
                _window_text(rec, window)))
        # Scheduler events per block on the whole machine.
        stat_out = os.path.join(ctx.logs, "perf-stat.txt")
        r = run_client(["perf", "stat", "-a", "-x", ",", "-o", stat_out,
                        "-e", "context-switches,cpu-migrations", "--"] + argv, 600,
                       os.path.join(ctx.logs, "perf-stat.log"), cwd=ctx.downloads)
        report += ["", "## Scheduler events on the whole machine during one transfer (perf stat, %s)" % (
            "completed" if r.ok else "failed: %s" % r.status), ""]
        report += _perf_stat_table(stat_out, blocks)
        trace_out = os.path.join(ctx.logs, "strace.txt")
        r = run_client(["strace", "-c", "-f", "-o", trace_out] + argv, 600, os.path.join(ctx.logs, "strace.log"),
                       cwd=ctx.downloads)
        report += ["", "## System calls of one transfer under strace (%s)" % (
            "completed" if r.ok else "failed: %s" % r.status), ""]
        report += _per_block_table(trace_out, blocks)
        data = os.path.join(ctx.work, "perf.data")
        r = run_client(["perf", "record", "-F", "999", "--call-graph", "dwarf,16384", "-o", data, "--"] + argv,
                       600, os.path.join(ctx.logs, "perf.log"), cwd=ctx.downloads)
        report += _perf_sections(ctx, data)
        for f in (data, os.path.join(ctx.downloads, "profiled.bin"), os.path.join(ctx.root, "profiled.bin")):
            if os.path.exists(f):
                os.remove(f)
    finally:
        srv.stop()
    with open(path, "w") as f:
        f.write("\n".join(report) + "\n")
    return path
