"""Soak: one Vantrel kept busy with every kind of client (bench_soak and
bench_multiget), its descriptors, threads and resident size sampled as it
goes. Full run only. What it gave back is the growth between two quiet
moments: after a first round (so that what is made once, on first use,
is there already) and after everything has ended and been swept away."""

import os
import time

from peers import HOST, write_vantrel_store
from procs import Server, run_client, rss_bytes

MIB = 2 ** 20
PORT = 6973
TRANSFERS = 2000
SAMPLE_EVERY = 200
BURST = 200
SILENT = 1000
# The server's time-out: short, so that abandoned transfers end soon.
TIMEOUT = 2


def _count(path):
    try:
        return len(os.listdir(path))
    except OSError:
        return 0


def sample(pid):
    return dict(fds=_count("/proc/%d/fd" % pid), threads=_count("/proc/%d/task" % pid), rss=rss_bytes(pid))


def _settle(pid, idle, quiet=40, limit=150):
    """Waits until the server holds no more descriptors and threads than
    when it was idle at the start (every transfer, the abandoned ones too,
    ended and swept away), or until they have stayed the same for quiet
    seconds, at most limit seconds in all."""
    start = last_change = time.monotonic()
    last = sample(pid)
    while time.monotonic() - start < limit:
        if last["fds"] <= idle["fds"] and last["threads"] <= idle["threads"]:
            break
        time.sleep(1)
        now = sample(pid)
        if now["fds"] != last["fds"] or now["threads"] != last["threads"]:
            last_change = time.monotonic()
        last = now
        if time.monotonic() - last_change >= quiet:
            break
    time.sleep(1)  # the RSS a moment after the last change
    return sample(pid)


def _start(ctx):
    config = os.path.join(ctx.work, "soak-config")
    write_vantrel_store(config, ctx.root, os.path.join(ctx.logs, "soak-rows.log"))
    store = os.path.join(config, "Brellin", "Vantry.reg")
    with open(store) as f:
        text = f.read()
    text = text.replace('"Port"="%d"' % 6969, '"Port"="%d"' % PORT).replace('"Timeout"="30"',
                                                                        '"Timeout"="%d"' % TIMEOUT)
    with open(store, "w") as f:
        f.write(text)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=config,
               DBUS_SESSION_BUS_ADDRESS="disabled:")
    return Server("vantrel-soak", [ctx.tools.vantrel], PORT, os.path.join(ctx.logs, "vantrel-soak.log"),
                  env=env, cwd=ctx.logs)


def _tool(ctx, mode, count, log, **extra):
    argv = [os.path.join(os.path.dirname(ctx.tools.multiget), "bench_soak"), "--host", HOST, "--port", str(PORT), "--get", "soak.bin", "--big", "big.bin",
            "--mode", mode, "--count", str(count)]
    for k, v in extra.items():
        argv += ["--" + k.replace("_", "-"), str(v)]
    return run_client(argv, 600, os.path.join(ctx.logs, log))


def run(ctx):
    """The soak; returns its record, or None when it could not run."""
    with open(os.path.join(ctx.root, "soak.bin"), "wb") as f:
        f.write(os.urandom(20000))
    srv = _start(ctx)
    if not srv.wait_ready(HOST):
        ctx.fail("soak: Vantrel did not start (see vantrel-soak.log)")
        srv.stop()
        return None
    pid = srv.proc.pid
    rec = dict(samples=[], kinds={}, failures=0, bursts=0, burst_ok=0)
    out_dir = os.path.join(ctx.work, "soak-burst")
    os.makedirs(out_dir, exist_ok=True)
    try:
        time.sleep(2)
        idle = sample(pid)
        rec["samples"].append(dict(done=0, **idle))
        for first in range(0, TRANSFERS, SAMPLE_EVERY):
            r = _tool(ctx, "sequential", SAMPLE_EVERY, "soak-sequential.log", first=first)
            for line in r.output.splitlines():
                f = line.split()
                if f and f[0] == "kind":
                    ok, n = rec["kinds"].get(f[1], (0, 0))
                    rec["kinds"][f[1]] = (ok + int(f[2]), n + int(f[3]))
                elif f and f[0] == "fail":
                    rec["failures"] += 1
            b = run_client([ctx.tools.multiget, "--host", HOST, "--port", str(PORT), "--file", "soak.bin",
                            "--count", str(BURST), "--blksize", "1428", "--out", out_dir, "--deadline", "60"],
                           90, os.path.join(ctx.logs, "soak-burst.log"))
            rec["bursts"] += 1
            rec["burst_ok"] += sum(1 for l in b.output.splitlines() if l.startswith("xfer") and " ok " in l)
            for name in os.listdir(out_dir):
                os.remove(os.path.join(out_dir, name))
            rec["samples"].append(dict(done=first + SAMPLE_EVERY, **sample(pid)))
            if first == 0:
                rec["base"] = _settle(pid, idle)
        print("  sequential and bursts done; waiting for abandoned transfers to end", flush=True)
        rec["after_load"] = _settle(pid, idle)
        r = _tool(ctx, "silent", SILENT, "soak-silent.log", probe_every=50, hold=15)
        rec["silent_peak"] = sample(pid)
        for line in r.output.splitlines():
            f = line.split()
            if f and f[0] == "silent":
                rec["silent_sent"] = int(f[1])
            elif f and f[0] == "probes":
                rec["probes_ok"], rec["probes"], rec["probe_slowest"] = int(f[1]), int(f[2]), float(f[3])
        rec["final"] = _settle(pid, idle)
        rec["alive"] = srv.alive()
        if not rec["alive"]:
            ctx.fail("soak: Vantrel exited (status %s)" % srv.proc.returncode)
    finally:
        srv.stop()
    return rec


def render(rec):
    """The report's section and the figure lines."""
    if not rec:
        return "", []
    base, final = rec["base"], rec["final"]
    fd_growth = final["fds"] - base["fds"]
    thread_growth = final["threads"] - base["threads"]
    rss_growth = (final["rss"] - base["rss"]) / MIB
    # The silent clients are a second, higher peak of transfers at once: what
    # they add shows whether memory grows with use or only with the peak.
    second_peak = (final["rss"] - rec["after_load"]["rss"]) / MIB
    answered = 100.0 * rec.get("probes_ok", 0) / rec["probes"] if rec.get("probes") else 0.0
    kinds = ", ".join("%s %d/%d" % (k, v[0], v[1]) for k, v in sorted(rec["kinds"].items()))
    text = ["", "## Soak", "",
            "One Vantrel (no client limit, time-out %d s): %d sequential transfers (%s), after every %d a "
            "burst of %d downloads at once (%d of %d completed), then %d silent read requests while a "
            "download is tried after every 50 and once a second for 15 s. Growth is measured from the "
            "quiet moment after the first round to the quiet moment at the end."
            % (TIMEOUT, TRANSFERS, kinds, SAMPLE_EVERY, BURST, rec["burst_ok"], rec["bursts"] * BURST,
               SILENT),
            "", "| transfers done | descriptors | threads | RSS MiB |", "|---:|---:|---:|---:|"]
    rows = [(str(s["done"]), s) for s in rec["samples"]]
    rows += [("quiet, after the first round", base), ("quiet, after the load", rec["after_load"]),
             ("%d silent clients" % rec.get("silent_sent", 0), rec["silent_peak"]), ("quiet, at the end", final)]
    for label, s in rows:
        text.append("| %s | %d | %d | %.1f |" % (label, s["fds"], s["threads"], s["rss"] / MIB))
    text += ["", "Growth: %+d descriptors, %+d threads, %+.2f MiB resident (targets 0, 0, under 1 MiB); "
             "across the silent clients alone %+.2f MiB. "
             "Downloads answered during the silent clients: %d of %d (slowest %.2f s). Server alive at the "
             "end: %s." % (fd_growth, thread_growth, rss_growth, second_peak, rec.get("probes_ok", 0), rec.get("probes", 0),
                           rec.get("probe_slowest", 0.0), "yes" if rec["alive"] else "NO"), ""]
    lines = ["figure soak-fd-growth %d descriptors" % fd_growth,
             "figure soak-thread-growth %d threads" % thread_growth,
             "figure soak-rss-growth %.2f MiB" % rss_growth,
             "figure soak-rss-growth-second-peak %.2f MiB" % second_peak,
             "figure soak-silent-answered %.0f %%" % answered,
             "figure soak-silent-slowest %.2f s" % rec.get("probe_slowest", 0.0)]
    return "\n".join(text), lines
