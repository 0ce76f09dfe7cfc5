"""Benchmark harness. bench/run.sh builds the programs and starts this inside
a network namespace of its own (loopback up, the test address 10.9.9.1/32 on
lo) with a tmpfs mounted on the work folder."""

import argparse
import datetime
import json
import os
import platform
import signal
import struct
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import loss  # noqa: E402
import measure  # noqa: E402
import peers  # noqa: E402
import report  # noqa: E402
import round_trips  # noqa: E402
import soak  # noqa: E402
import window  # noqa: E402
from procs import stop_all  # noqa: E402

MIB = 2 ** 20
BLOCKS = [512, 1428, 8192, 65464]
PING_SIZES = [516, 1432, 8196, 65468]

FULL = dict(
    size=100 * MIB, runs=3, blocks=BLOCKS,
    server_clients=["atftp", "curl"], extra_clients=["skerry", "tftp", "busybox"], client_blocks={},
    conc_counts=[20, 100], conc_size=4 * MIB, conc_blksize=1428, conc_runs=1, conc_deadline=120,
    idle_seconds=20, settle_seconds=6, stall_seconds=10, stall_warmup=2, ping_seconds=2,
    budget=30 * 60,
)
QUICK = dict(
    FULL, size=4 * MIB, runs=1, client_blocks={"curl": [1428], "busybox": [1428, 65464]},
    conc_counts=[20], conc_size=1 * MIB, conc_deadline=60,
    idle_seconds=2, settle_seconds=1, stall_seconds=2, stall_warmup=1, ping_seconds=0.4,
    budget=5 * 60,
)


class LoadWatch(threading.Thread):
    """The 1-minute load average, sampled while the benchmark runs."""

    def __init__(self):
        super().__init__(daemon=True)
        self.samples = []
        self.done = threading.Event()

    @staticmethod
    def now():
        with open("/proc/loadavg") as f:
            return float(f.read().split()[0])

    def run(self):
        while not self.done.is_set():
            self.samples.append(self.now())
            self.done.wait(5)


class PollingIdle:
    """Keeps idle CPUs polling instead of halting while the benchmark runs
    (a PM QoS request: 0 µs wake-up latency through /dev/cpu_dma_latency,
    held while the file is open). On a virtual machine a halted CPU takes
    around 100 µs to wake, which would swamp every difference measured in
    a lock-step transfer. The request ends when the harness ends."""

    def __init__(self):
        self.fd = None
        self.error = None

    def hold(self):
        try:
            self.fd = os.open("/dev/cpu_dma_latency", os.O_WRONLY)
            os.write(self.fd, struct.pack("i", 0))
        except OSError as e:
            self.error = e.strerror
            if self.fd is not None:
                os.close(self.fd)
            self.fd = None
        return self.fd is not None

    def release(self):
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


def wait_for_quiet(max_load, seconds):
    """Waits, bounded, for the machine's load average to fall below max_load."""
    deadline = time.monotonic() + seconds
    load = LoadWatch.now()
    if load >= max_load and seconds > 0:
        print("waiting up to %d s for the load average (%.2f) to fall below %.1f" % (seconds, load, max_load),
              flush=True)
    while load >= max_load and time.monotonic() < deadline:
        time.sleep(10)
        load = LoadWatch.now()
    return load


def versions(tools):
    def first(argv):
        try:
            out = subprocess.run(argv, capture_output=True, text=True, timeout=10)
            return (out.stdout + out.stderr).strip().splitlines()[0]
        except (OSError, IndexError, subprocess.TimeoutExpired):
            return "?"
    return ", ".join([first([tools.in_tftpd, "-V"]), first([tools.atftpd, "--version"]),
                      first(["dnsmasq", "--version"]).split("  ")[0], first(["atftp", "--version"]),
                      " ".join(first(["curl", "--version"]).split()[:2]), first(["tftp", "-V"]),
                      first(["busybox"]).split(" multi-call")[0]])


def commit_text(top):
    try:
        head = subprocess.run(["git", "-C", top, "rev-parse", "--short", "HEAD"], capture_output=True,
                              text=True, timeout=10).stdout.strip()
        dirty = subprocess.run(["git", "-C", top, "status", "--porcelain", "--untracked-files=no"],
                               capture_output=True, text=True, timeout=10).stdout.strip()
        return "commit %s%s" % (head, " (with local changes)" if dirty else "")
    except OSError:
        return "commit unknown"


def build_type(build_dir):
    try:
        with open(os.path.join(build_dir, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_BUILD_TYPE:"):
                    return line.split("=", 1)[1].strip() or "default"
    except OSError:
        pass
    return "?"


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "?"


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--quick", action="store_true", help="small files, one run, fewer cases")
    ap.add_argument("--runs", type=int, help="runs per case (default 3, quick 1)")
    ap.add_argument("--size-mib", type=int, help="size of the single-transfer file")
    ap.add_argument("--blocks", help="comma list of block sizes (default 512,1428,8192,65464)")
    ap.add_argument("--ours", choices=["auto", "yes", "no"], default="auto",
                    help="include Vantrel and Skerry (auto: when built)")
    ap.add_argument("--engine", action="store_true",
                    help="also measure the server engine without its window (bench_vantrel_engine)")
    ap.add_argument("--engine-flags", default="",
                    help="options for bench_vantrel_engine (--gui, --idle), space-separated")
    ap.add_argument("--skerry-window", action="store_true",
                    help="also measure transfers of the whole Skerry program (its window scripted)")
    ap.add_argument("--profile", metavar="SERVER,DIR,BS[,WINDOW]",
                    help="instead of the benchmarks: profile one server (or one client, against "
                    "tftpd-hpa; with a window above 1 against atftpd) during one transfer; a window above 1 "
                    "asks for the windowsize option")
    ap.add_argument("--round-trips", action="store_true",
                    help="instead of the benchmarks: Skerry's engine through a delaying relay (round trips "
                    "0.5, 5, 30 ms) against every server, windows 1-64; writes round-trips.md")
    ap.add_argument("--rtts", help="comma list of the round trips (ms) of --round-trips (default 0.5,5,30)")
    ap.add_argument("--windows", help="comma list of the window section's windows (default 1,4,16,64; quick 16)")
    ap.add_argument("--window-blocks", help="comma list of the window section's block sizes "
                    "(default 512,1428,8192; quick 1428)")
    ap.add_argument("--build-dir", required=True)
    ap.add_argument("--peers-dir", required=True)
    ap.add_argument("--work", required=True, help="an empty folder on a tmpfs")
    ap.add_argument("--results", required=True, help="folder for the report")
    ap.add_argument("--wait-load", type=int, default=0, help="seconds to wait for a quiet machine")
    ap.add_argument("--max-load", type=float, default=1.0)
    ap.add_argument("--halting-idle", action="store_true",
                    help="let idle CPUs halt as usual (by default they are kept polling during the run)")
    ap.add_argument("--loss-runs", type=int, help="runs per case of the loss section (default 5, quick 1)")
    ap.add_argument("--loss-impairments", help="comma list of the loss section's impairments (default all: %s)"
                    % ",".join(loss.IMPAIRMENTS))
    ap.add_argument("--skip", default="", help="comma list of sections to leave out: "
                    "ping,single,window,conc,idle,loss,soak")
    args = ap.parse_args()

    # Our programs run headless, their windows live on the offscreen platform.
    os.environ.update(QT_QPA_PLATFORM="offscreen", DBUS_SESSION_BUS_ADDRESS="disabled:")
    profile = dict(QUICK if args.quick else FULL)
    if args.runs:
        profile["runs"] = args.runs
    if args.size_mib:
        profile["size"] = args.size_mib * MIB
    if args.blocks:
        profile["blocks"] = [int(b) for b in args.blocks.split(",")]
    skip = set(x for x in args.skip.split(",") if x)
    top = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

    tools = peers.Tools(args.build_dir, args.peers_dir, args.ours != "no", args.engine)
    tools.engine_flags = args.engine_flags.split()
    missing = [t for t in (tools.pingpong, tools.multiget, tools.atftpd, tools.in_tftpd)
               if not os.access(t, os.X_OK)]
    if "loss" not in skip and not tools.relay:
        missing.append("impair_relay (for the loss section; --skip loss leaves it out)")
    if args.ours == "yes" and not (tools.vantrel and tools.skerry):
        missing.append("vantrel and bench_skerry (asked for by --ours yes)")
    if missing:
        print("harness: missing %s" % ", ".join(missing), file=sys.stderr)
        return 2
    servers = tools.servers()
    if args.skerry_window:
        profile["extra_clients"] = ["skerry", "skerry-window"] + [
            c for c in profile["extra_clients"] if c != "skerry"]
    clients = [c for c in profile["server_clients"] + profile["extra_clients"]
               if not c.startswith("skerry") or tools.skerry]
    notes = []
    if not tools.vantrel:
        notes.append("Vantrel not built in this checkout: the server tables show the peers only.")
    if not tools.skerry:
        notes.append("bench_skerry (Skerry's engine) not built in this checkout: the client table shows the "
                     "peers only.")

    load_start = wait_for_quiet(args.max_load, args.wait_load) if args.wait_load else LoadWatch.now()
    polling = PollingIdle()
    if args.halting_idle:
        notes.append("Idle CPUs halted as usual during this run (--halting-idle): on this virtual machine "
                     "waking one costs about 100 µs, which dominates every lock-step figure.")
    elif polling.hold():
        notes.append("Idle CPUs were kept polling during the run (PM QoS request of 0 µs through "
                     "/dev/cpu_dma_latency, released at the end): on this virtual machine a halted CPU takes "
                     "about 100 µs to wake, which would swamp the differences measured.")
    else:
        notes.append("Idle CPUs could not be kept polling (/dev/cpu_dma_latency: %s): wake-up latency is "
                     "part of every figure." % polling.error)
    watch = LoadWatch()
    watch.start()
    begin = time.monotonic()
    ctx = measure.Context(profile, tools, args.work, begin + profile["budget"])
    for d in (ctx.root, ctx.downloads, ctx.logs):
        os.makedirs(d, exist_ok=True)
    # Servers that drop privileges must reach the files; uploads are created there.
    os.chmod(args.work, 0o755)
    os.chmod(ctx.root, 0o777)
    os.chmod(ctx.downloads, 0o777)
    os.chmod(ctx.logs, 0o777)
    measure.make_file(os.path.join(ctx.root, "big.bin"), profile["size"])
    measure.make_file(os.path.join(ctx.root, "conc.bin"), profile["conc_size"])
    measure.make_file(os.path.join(ctx.root, "warm.bin"), 1 * MIB)

    def start(name):
        srv = peers.start_server(name, tools, args.work)
        if not srv.wait_ready(peers.HOST):
            ctx.fail("%s did not start listening on port %d (see its log)" % (name, srv.port))
            srv.stop()
            return None
        return srv

    if args.profile:
        try:
            fields = args.profile.split(",")
            server, direction, bs = fields[:3]
            win = int(fields[3]) if len(fields) > 3 else 1
            what = measure.profile_client if server in peers.CLIENT_BLOCKS else measure.profile_server
            path = what(ctx, server, direction, int(bs), start, args.results, win)
        finally:
            stop_all()
            watch.done.set()
            polling.release()
        print("== profile in %s" % path)
        return 0 if path and not ctx.failures else 1

    if args.round_trips:
        return _round_trips(ctx, args, servers, start, watch, polling, begin, top)

    ping, single, windowed, conc, idle, lossy, soak_rec = {}, [], [], [], [], [], None
    window_room = {}
    window_profile = dict(window.QUICK if args.quick else window.FULL)
    if args.windows:
        window_profile["windows"] = [int(w) for w in args.windows.split(",")]
    if args.window_blocks:
        window_profile["blocks"] = [int(b) for b in args.window_blocks.split(",")]
    loss_profile = dict(loss.QUICK if args.quick else loss.FULL)
    if args.loss_runs:
        loss_profile["runs"] = args.loss_runs
    if args.loss_impairments:
        loss_profile["impairments"] = [i for i in args.loss_impairments.split(",") if i in loss.IMPAIRMENTS]
    try:
        if "ping" not in skip:
            print("== lock-step limit", flush=True)
            ping = measure.pingpong(ctx, PING_SIZES)
            for size in sorted(ping):
                print("  %5d bytes: %s" % (size, ", ".join("%s %.1f us" % kv for kv in ping[size].items())))
        ctx.servers = {}
        if "single" not in skip or "idle" not in skip or "window" not in skip:
            print("== single transfers (%s, %d run(s))" % (_size_text(profile["size"]), profile["runs"]),
                  flush=True)
            for name in servers:
                srv = start(name)
                if srv:
                    ctx.servers[name] = srv
            measure.warm_up(ctx, list(ctx.servers))
            if "single" not in skip:
                single = measure.single_transfers(ctx, [s for s in servers if s in ctx.servers])
            if "window" not in skip:
                print("== windowed transfers (windowsize %s, block sizes %s)" % (
                    ",".join(map(str, window_profile["windows"])), ",".join(map(str, window_profile["blocks"]))),
                    flush=True)
                started = time.monotonic()
                windowed, window_room = window.run(ctx, window_profile, profile["runs"])
                # The section has a budget of its own: the others keep theirs.
                ctx.deadline += time.monotonic() - started
            if "idle" not in skip:
                print("== idle costs", flush=True)
                idle = measure.idle_servers(ctx, ctx.servers)
            for srv in ctx.servers.values():
                if not srv.alive():
                    ctx.fail("%s exited during the benchmark (status %s)" % (srv.name, srv.proc.returncode))
                srv.stop()
            ctx.servers = {}
        if "idle" not in skip:
            for client in (["skerry", "skerry-window"] if tools.skerry else []) + ["atftp"]:
                r = measure.stalled_client(ctx, client)
                if r:
                    idle.append(r)
        if "conc" not in skip:
            print("== concurrency (%s file, block size %d)" % (_size_text(profile["conc_size"]),
                                                               profile["conc_blksize"]), flush=True)
            conc = measure.concurrency(ctx, servers, start, lambda srv: srv.stop())
        if "loss" not in skip:
            print("== loss, duplication and reordering (through impair_relay, %d run(s))" % loss_profile["runs"],
                  flush=True)
            for name in loss_profile["servers"]:
                if name in servers:
                    srv = start(name)
                    if srv:
                        ctx.servers[name] = srv
            lossy = loss.run(ctx, loss_profile)
            for srv in ctx.servers.values():
                if not srv.alive():
                    ctx.fail("%s exited during the loss section (status %s)" % (srv.name, srv.proc.returncode))
                srv.stop()
            ctx.servers = {}
        if not args.quick and "soak" not in skip and tools.vantrel:
            print("== soak (Vantrel)", flush=True)
            soak_rec = soak.run(ctx)
    finally:
        stop_all()
        watch.done.set()
        polling.release()

    wall = time.monotonic() - begin
    samples = watch.samples + [LoadWatch.now()]
    meta = dict(
        date=datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), mode="quick" if args.quick else "full",
        commit=commit_text(top), build=build_type(args.build_dir), cpu=cpu_model(), cores=os.cpu_count(), kernel=platform.release(),
        load_start="%.2f" % load_start, load_min="%.2f" % min(samples), load_max="%.2f" % max(samples),
        size_text=_size_text(profile["size"]), runs=profile["runs"], versions=versions(tools),
        conc_size_text=_size_text(profile["conc_size"]), conc_blksize=profile["conc_blksize"],
        failures=ctx.failures + (["%d case group(s) skipped: the time budget ran out" % ctx.skipped]
                                 if ctx.skipped else []),
        notes=notes, wall=wall, servers=servers, server_clients=profile["server_clients"], clients=clients,
        loss=loss.describe(loss_profile), window_room=window_room)
    text, lines = report.build(meta, ping, single, conc, idle, servers, profile["server_clients"], clients, lossy,
                               windowed)
    soak_text, soak_lines = soak.render(soak_rec)
    text, lines = text + soak_text, lines + soak_lines
    os.makedirs(args.results, exist_ok=True)
    name = "quick" if args.quick else "full"
    with open(os.path.join(args.results, name + ".md"), "w") as f:
        f.write(text)
    with open(os.path.join(args.results, name + ".json"), "w") as f:
        json.dump(dict(meta=meta, ping=ping, single=single, window=windowed, concurrency=conc, idle=idle, loss=lossy, soak=soak_rec),
                  f, indent=1)
    print("== results in %s" % os.path.join(args.results, name + ".md"))
    for line in lines:
        print(line)
    if ctx.skipped:
        print("harness: %d case group(s) skipped for time" % ctx.skipped, file=sys.stderr)
    if ctx.failures:
        print("harness: %d failure(s)" % len(ctx.failures), file=sys.stderr)
        return 1
    return 0


def _round_trips(ctx, args, servers, start, watch, polling, begin, top):
    """The round-trip measurement alone: its servers, its report."""
    rp = dict(round_trips.FULL)
    if args.windows:
        rp["windows"] = [int(w) for w in args.windows.split(",")]
    if args.window_blocks:
        rp["blocks"] = [int(b) for b in args.window_blocks.split(",")]
    if args.rtts:
        rp["rtts"] = [r for r in round_trips.SIZES if str(r) in args.rtts.split(",")]
        rp["large"] = [g for g in rp["large"] if g[0] in rp["rtts"]]
    records, measured = [], {}
    try:
        if not ctx.tools.skerry or not ctx.tools.relay:
            ctx.fail("round trips need bench_skerry and impair_relay")
        else:
            for name in rp["servers"]:
                if name in servers:
                    srv = start(name)
                    if srv:
                        ctx.servers[name] = srv
            measure.warm_up(ctx, list(ctx.servers))
            print("== round trips %s ms, windows %s, block sizes %s" % (
                ",".join(map(str, rp["rtts"])), ",".join(map(str, rp["windows"])),
                ",".join(map(str, rp["blocks"]))), flush=True)
            records, measured = round_trips.run(ctx, rp)
            for srv in ctx.servers.values():
                if not srv.alive():
                    ctx.fail("%s exited during the round trips (status %s)" % (srv.name, srv.proc.returncode))
    finally:
        stop_all()
        watch.done.set()
        polling.release()
    samples = watch.samples + [LoadWatch.now()]
    meta = dict(date=datetime.datetime.now().strftime("%Y-%m-%d %H:%M"), commit=commit_text(top),
                build=build_type(args.build_dir), cpu=cpu_model(), cores=os.cpu_count(),
                load_min="%.2f" % min(samples), load_max="%.2f" % max(samples), wall=time.monotonic() - begin)
    md, lines = round_trips.render(records, measured, meta)
    if ctx.failures or ctx.skipped:
        md += ["Failures: " + "; ".join(ctx.failures + (["%d case(s) skipped: the time budget ran out" % ctx.skipped]
                                                        if ctx.skipped else [])), ""]
    os.makedirs(args.results, exist_ok=True)
    with open(os.path.join(args.results, "round-trips-run.md"), "w") as f:
        f.write("\n".join(md))
    with open(os.path.join(args.results, "round-trips.json"), "w") as f:
        json.dump(dict(meta=meta, measured={str(k): v for k, v in measured.items()}, records=records), f, indent=1)
    print("== results in %s" % os.path.join(args.results, "round-trips-run.md"))
    for line in lines:
        print(line)
    return 1 if ctx.failures else 0


def rerender(path):
    """Writes the report again from a run's JSON records (after a change to
    the report, without measuring again)."""
    with open(path) as f:
        d = json.load(f)
    meta = d["meta"]
    ping = {int(k): v for k, v in d["ping"].items()}
    text, lines = report.build(meta, ping, d["single"], d["concurrency"], d["idle"], meta["servers"],
                               meta["server_clients"], meta["clients"], d.get("loss", []), d.get("window", []))
    soak_text, soak_lines = soak.render(d.get("soak"))
    text, lines = text + soak_text, lines + soak_lines
    out = os.path.splitext(path)[0] + ".md"
    with open(out, "w") as f:
        f.write(text)
    print("== results in %s" % out)
    for line in lines:
        print(line)
    return 0


def _size_text(n):
    return "%d MiB" % (n // MIB) if n % MIB == 0 else "%d bytes" % n


def _on_signal(signum, _frame):
    raise KeyboardInterrupt("signal %d" % signum)


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, _on_signal)
    signal.signal(signal.SIGHUP, _on_signal)
    try:
        if len(sys.argv) == 3 and sys.argv[1] == "--rerender":
            sys.exit(rerender(sys.argv[2]))
        sys.exit(main())
    except KeyboardInterrupt:
        stop_all()
        print("harness: interrupted", file=sys.stderr)
        sys.exit(130)
