"""The loss section: transfers through impair_relay (client -> relay ->
server), which drops, duplicates or reorders datagrams at random from a seed,
in both directions. Each transfer gets a relay of its own, so its counts (the
DATA bytes the sender sent) belong to that transfer alone. The same seed is
used for every server of one case and run: each server meets the same
pattern of losses at the start of the transfer."""

import concurrent.futures
import json
import os
import select
import subprocess
import time
import zlib

import peers
from measure import make_file
from peers import HOST, PORTS, UPLOADS
from procs import _started, run_client, terminate

KIB = 1024
MIB = 2 ** 20

# name, relay options, file size, transfers at once (loss cases wait on
# time-outs and barely use the CPU; the larger duplication and reordering
# transfers do, so they run one client at a time, the servers side by side),
# and a cap of their own where the section's does not fit.
IMPAIRMENTS = {
    "loss0.5": dict(text="loss 0.5 %", args=["--loss", "0.5%"], size=128 * KIB, parallel=30),
    "loss2": dict(text="loss 2 %", args=["--loss", "2%"], size=48 * KIB, parallel=30),
    "loss5": dict(text="loss 5 %", args=["--loss", "5%"], size=24 * KIB, parallel=30),
    # A sound peer moves 1 MiB through the relay in a few seconds: 20 s only
    # cuts short the peers that answer every duplicate with a duplicate.
    "dup5": dict(text="duplication 5 %", args=["--duplicate", "5%"], size=1 * MIB, parallel=3, cap=20.0),
    "reorder1": dict(text="reordering 1 %", args=["--reorder", "1%"], size=1 * MIB, parallel=3, cap=20.0),
    # The windowsize option under loss: only the clients that ask for it and
    # the servers that answer it. atftp and atftpd took 0.03-40 s for 256 KiB
    # here (they wait out a time-out for most losses); 48 KiB would be three
    # windows.
    "loss2-w16": dict(text="loss 2 %, window 16", args=["--loss", "2%"], size=256 * KIB, parallel=30, window=16,
                      blocks=[1428], clients=["atftp"], servers=["vantrel", "atftpd"],
                      skerry_servers=["vantrel", "atftpd"]),
}

FULL = dict(impairments=list(IMPAIRMENTS), blocks=[512, 1428], runs=5,
            clients=["tftp", "atftp", "curl", "busybox"], servers=["vantrel", "tftpd-hpa", "atftpd"],
            skerry_servers=["vantrel", "tftpd-hpa"], cap=60.0, give_up_after=2, budget=30 * 60)
QUICK = dict(FULL, impairments=["loss2"], blocks=[1428], runs=1, clients=["atftp"], cap=15.0, budget=90)


class Relay:
    """One impair_relay in front of one server, ended by its pid."""

    def __init__(self, tool, server_port, impairment_args, seed, stats_path, log_path):
        self.stats_path = stats_path
        self.log = open(log_path, "ab")
        self.proc = subprocess.Popen(
            [tool, "--listen", HOST, "--server", "%s:%d" % (HOST, server_port), "--seed", str(seed),
             "--stats", stats_path] + impairment_args,
            stdout=subprocess.PIPE, stderr=self.log, stdin=subprocess.DEVNULL)
        _started.append(self)
        self.port = self._ready(10.0)

    def _ready(self, timeout):
        """The port from its "ready PORT" line, or None."""
        deadline = time.monotonic() + timeout
        line = b""
        while time.monotonic() < deadline and not line.endswith(b"\n"):
            r, _, _ = select.select([self.proc.stdout], [], [], max(0.0, deadline - time.monotonic()))
            if not r:
                break
            chunk = os.read(self.proc.stdout.fileno(), 64)
            if not chunk:
                break
            line += chunk
        parts = line.split()
        return int(parts[1]) if len(parts) == 2 and parts[0] == b"ready" else None

    def stop(self):
        """Ends it (SIGTERM: it writes its counts); returns the counts or None."""
        if self in _started:
            _started.remove(self)
        terminate(self.proc)
        self.proc.stdout.close()
        self.log.close()
        try:
            with open(self.stats_path) as f:
                return json.load(f)
        except (OSError, ValueError):
            return None


def _size_of(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return -1


def _same(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x, y = fa.read(1 << 20), fb.read(1 << 20)
            if x != y:
                return False
            if not x:
                return True


def one_transfer(ctx, lp, imp, server, client, direction, bs, run):
    """One capped transfer through a relay of its own. Returns its record:
    completed (the client ended by itself within the cap and the received
    file has the full size), verified (and equals the source), corrupt (full
    size but different), seconds, and data sent over file size."""
    impairment = IMPAIRMENTS[imp]
    source = os.path.join(ctx.root, "loss-%s.bin" % imp)
    size = impairment["size"]
    key = "%s-%d-%s-%s-%s" % (imp, bs, server, client, direction)
    window = impairment.get("window", 1)
    rec = dict(imp=imp, bs=bs, server=server, client=client, dir=direction, run=run, bytes=size,
               completed=False, verified=False, corrupt=False, capped=False, window=window)
    if direction == "get":
        remote, local = os.path.basename(source), os.path.join(ctx.downloads, "loss-%s-%d.bin" % (key, run))
        received = local
    else:
        # Short names: every server gets requests of the same modest length.
        remote = "u%d-%d-%s-%s-%d.bin" % (list(IMPAIRMENTS).index(imp), bs, server[:3], client[:3], run)
        local = source
        received = os.path.join(ctx.root, remote)
    if os.path.exists(received):
        os.remove(received)
    # One seed per case and run, the same for every server.
    seed = zlib.crc32(("%s %d %s %s %d" % (imp, bs, client, direction, run)).encode()) or 1
    stats = os.path.join(ctx.logs, "relay-%s-%d.json" % (key, run))
    relay = Relay(ctx.tools.relay, PORTS[server], impairment["args"], seed, stats,
                  os.path.join(ctx.logs, "relay.log"))
    try:
        if relay.port is None:
            ctx.fail("loss %s: impair_relay did not start (see relay.log)" % key)
            return rec
        argv = peers.client_argv(client, direction, bs, relay.port, remote, local, ctx.tools, window)
        r = run_client(argv, impairment.get("cap", lp["cap"]), os.path.join(ctx.logs, "loss-client-%s.log" % key),
                       cwd=ctx.downloads)
    finally:
        counts = relay.stop()
    seconds = r.seconds
    if client.startswith("skerry"):
        for line in r.output.splitlines():
            if line.startswith("elapsed "):
                seconds = float(line.split()[1])
    rec["capped"] = r.status == "timeout"
    if r.ok and direction == "put":
        # The server may still be writing the last block when its client exits.
        deadline = time.monotonic() + 3
        while _size_of(received) < size and time.monotonic() < deadline:
            time.sleep(0.02)
    got = _size_of(received)
    rec["completed"] = r.ok and got == size
    rec["verified"] = got == size and _same(received, source)
    # A file of the full size (or more) that differs is corrupt however the client ended.
    rec["corrupt"] = got >= size and not rec["verified"]
    if os.path.exists(received) and received != source:
        os.remove(received)
    if counts:
        toward = "toward_client" if direction == "get" else "toward_server"
        rec["data_ratio"] = counts[toward]["data_bytes"] / size
        rec["dropped"] = counts["toward_client"]["dropped"] + counts["toward_server"]["dropped"]
    rec["success"] = rec["completed"] and rec["verified"]
    if rec["success"]:
        rec["seconds"] = seconds
    if rec["corrupt"]:
        ctx.fail("loss %s run %d: the received file (%d bytes) differs from the source" % (key, run + 1, got))
    return rec


def _cases(ctx, lp, imp, bs):
    """(server, client, direction) of one impairment and block size (an
    impairment may name clients and servers of its own)."""
    out = []
    own = IMPAIRMENTS[imp]
    for client in own.get("clients", lp["clients"]):
        if not peers.client_supports(client, bs):
            continue
        for direction in ("get", "put"):
            for server in own.get("servers", lp["servers"]):
                if server in ctx.servers and (direction == "get" or UPLOADS[server]):
                    out.append((server, client, direction))
    if ctx.tools.skerry:
        for direction in ("get", "put"):
            for server in own.get("skerry_servers", lp["skerry_servers"]):
                if server in ctx.servers:
                    out.append((server, "skerry", direction))
    return out


def run(ctx, lp):
    """Every case of the section, runs interleaved; returns the records."""
    for imp in lp["impairments"]:
        make_file(os.path.join(ctx.root, "loss-%s.bin" % imp), IMPAIRMENTS[imp]["size"])
    deadline = time.monotonic() + lp["budget"]
    records, failed_runs = [], {}
    for run_index in range(lp["runs"]):
        for imp in lp["impairments"]:
            for bs in IMPAIRMENTS[imp].get("blocks", lp["blocks"]):
                cases = []
                for case in _cases(ctx, lp, imp, bs):
                    # A case that completed none of its first runs is not run again.
                    if failed_runs.get((imp, bs) + case, 0) >= lp["give_up_after"] and not any(
                            r["success"] for r in records if (r["imp"], r["bs"], r["server"], r["client"],
                                                                r["dir"]) == (imp, bs) + case):
                        continue
                    cases.append(case)
                if time.monotonic() > deadline:
                    ctx.skipped += 1
                    continue
                with concurrent.futures.ThreadPoolExecutor(IMPAIRMENTS[imp]["parallel"]) as pool:
                    futures = [pool.submit(one_transfer, ctx, lp, imp, s, c, d, bs, run_index)
                               for (s, c, d) in cases]
                    done = [f.result() for f in futures]
                for rec in done:
                    if not rec["success"]:
                        k = (imp, bs, rec["server"], rec["client"], rec["dir"])
                        failed_runs[k] = failed_runs.get(k, 0) + 1
                records += done
                ok = sum(1 for r in done if r["success"])
                print("  run %d %s bs %d: %d of %d completed%s" % (
                    run_index + 1, IMPAIRMENTS[imp]["text"], bs, ok, len(done),
                    "; not completed: " + ", ".join("%s/%s/%s" % (r["dir"], r["client"], r["server"])
                                                    for r in done if not r["success"]) if ok < len(done) else ""),
                      flush=True)
    return records


def describe(lp):
    """What the report says about the section's set-up."""
    return dict(runs=lp["runs"], cap=lp["cap"], give_up_after=lp["give_up_after"],
                impairments=[dict(name=i, text=IMPAIRMENTS[i]["text"], size=IMPAIRMENTS[i]["size"],
                                  cap=IMPAIRMENTS[i].get("cap", lp["cap"])) for i in lp["impairments"]])
