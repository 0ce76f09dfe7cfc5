"""Round trips: Skerry's engine fetching and sending through impair_relay
with a constant one-way delay (--delay-us), so that each server is reached
over a link with a real round trip, for each window size. The relay follows
the server's transfer port and holds every datagram in both directions.

Lock-step moves one block per round trip, so the file shrinks as the round
trip grows (the same bytes at every block size and window): a 30 ms
lock-step transfer of 4 MiB at block size 512 would take four minutes. The
round trip actually measured through the relay (a UDP echo) is reported
beside the one asked for. A server that does not echo windowsize runs every
window lock-step: Skerry falls back, and its rows show window used 1."""

import os
import socket
import statistics
import threading
import time

import measure
from loss import Relay
from peers import HOST, PORTS, UPLOADS

KIB = 1024
MIB = 2 ** 20

# Round trip asked for (ms) -> file size. The relay adds half of it each way.
SIZES = {0.5: 2 * MIB, 5: 512 * KIB, 30: 128 * KIB}
FULL = dict(rtts=[0.5, 5, 30], blocks=[1428, 512], windows=[1, 4, 8, 16, 32, 64],
            servers=["vantrel", "tftpd-hpa", "atftpd", "dnsmasq"], budget=11 * 60,
            large=[(0.5, [8192, 12250], [1, 4, 8, 16], ["vantrel", "atftpd"])])


def _source(rtt):
    return "rtt-%s.bin" % str(rtt).replace(".", "_")


def echo_round_trip(tool, delay_us, log_path, count=20):
    """The median round trip (ms) of a small datagram through a relay with
    that delay, to a UDP echo on the test address; None if it did not work."""
    echo = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    echo.bind((HOST, 0))
    echo.settimeout(0.2)
    done = threading.Event()

    def answer():
        while not done.is_set():
            try:
                data, peer = echo.recvfrom(2048)
            except socket.timeout:
                continue
            echo.sendto(data, peer)

    t = threading.Thread(target=answer, daemon=True)
    t.start()
    relay = Relay(tool, echo.getsockname()[1], ["--delay-us", str(delay_us)], 1, log_path + ".json", log_path)
    client = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    client.settimeout(2.0)
    times = []
    try:
        if relay.port is None:
            return None
        for i in range(count):
            start = time.perf_counter()
            client.sendto(b"ping %d" % i, (HOST, relay.port))
            try:
                client.recvfrom(2048)
            except socket.timeout:
                continue
            times.append((time.perf_counter() - start) * 1e3)
    finally:
        relay.stop()
        done.set()
        t.join()
        echo.close()
        client.close()
    return statistics.median(times) if times else None


def run(ctx, rp):
    """Every case, one run each; returns (records, measured round trips)."""
    measured = {}
    for rtt in rp["rtts"]:
        measure.make_file(os.path.join(ctx.root, _source(rtt)), SIZES[rtt])
        delay = int(rtt * 1000 / 2)
        measured[rtt] = echo_round_trip(ctx.tools.relay, delay, os.path.join(ctx.logs, "rtt-echo.log"))
        print("  round trip %s ms asked (%d us each way): %s ms measured through the relay" % (
            rtt, delay, "%.2f" % measured[rtt] if measured[rtt] else "?"), flush=True)
    deadline = time.monotonic() + rp["budget"]
    records = []
    # Large blocks fill a receiver's default socket buffer with few datagrams:
    # whether a window hurts there (reported, not failed).
    for rtt, blocks, windows, names in rp["large"]:
        for bs in blocks:
            records += _group(ctx, rtt, bs, windows, [s for s in names if s in ctx.servers], deadline, False)
    servers = [s for s in rp["servers"] if s in ctx.servers]
    for rtt in rp["rtts"]:
        for bs in rp["blocks"]:
            records += _group(ctx, rtt, bs, rp["windows"], servers, deadline, True)
    return records, measured


def _group(ctx, rtt, bs, windows, servers, deadline, must_complete):
    """One round trip and block size: every window, server and direction."""
    delay = int(rtt * 1000 / 2)
    records, line = [], []
    for window in windows:
        for server in servers:
            for direction in ("get", "put"):
                if direction == "put" and not UPLOADS[server]:
                    continue
                if time.monotonic() > deadline:
                    ctx.skipped += 1
                    continue
                relay = Relay(ctx.tools.relay, PORTS[server], ["--delay-us", str(delay)], 1,
                              os.path.join(ctx.logs, "rtt-relay.json"), os.path.join(ctx.logs, "relay.log"))
                try:
                    if relay.port is None:
                        ctx.fail("round trips: impair_relay did not start (see relay.log)")
                        continue
                    # Lock-step over the round trip, twice, and 30 s besides.
                    cap = 30.0 + SIZES[rtt] / bs * rtt / 1000 * 2
                    rec = measure.one_transfer(ctx, server, "skerry", direction, bs, 0, source=_source(rtt),
                                               window=window, strict=False, cap=cap if must_complete else 20.0,
                                               port=relay.port)
                finally:
                    counts = relay.stop()
                rec["rtt"] = rtt
                if counts:
                    rec["relayed"] = [counts["toward_server"]["datagrams"], counts["toward_client"]["datagrams"]]
                records.append(rec)
                if not rec["completed"] and must_complete:
                    ctx.fail("round trips: %s %s bs %d window %d at %s ms did not complete (%s)" % (
                        direction, server, bs, window, rtt, rec.get("status")))
                line.append("w%d %s/%s %s" % (window, direction, server,
                                              "%.2f" % rec["mbps"] if rec["ok"] else "not completed"))
    print("  rtt %s ms bs %d: %s" % (rtt, bs, ", ".join(line)), flush=True)
    return records


def _mb(x):
    """MB/s to three figures (a 30 ms lock-step transfer moves 0.04 MB/s)."""
    return "%.3g" % x if x < 100 else "%.0f" % x


def _median(xs):
    return statistics.median(xs) if xs else None


def render(records, measured, meta):
    """The Markdown of bench/results/round-trips.md (without the choice,
    which the developer writes under it) and the lines for scripts."""
    by = {}
    for r in records:
        by.setdefault((r["rtt"], r["bs"], r["server"], r["dir"]), {})[r["window"]] = r
    windows = sorted({r["window"] for r in records})
    md = ["# Skerry's engine over round trips, by window size\n",
          "%s; %s build; %s, %d cores; load %s to %s; wall time %.0f s.\n" % (
              meta["date"], meta["build"], meta["cpu"], meta["cores"], meta["load_min"], meta["load_max"],
              meta["wall"]),
          "`bench/run.sh --round-trips`: `bench_skerry` (Skerry's `CTransferSocket`) through `impair_relay "
          "--delay-us D` (half the round trip each way; it follows the server's transfer port) to each server, "
          "in the benchmark's namespace. One run per case; every received file compared byte for byte with "
          "its source. Window 1 sends no windowsize option. MB/s, and in brackets the ratio to window 1 of the "
          "same server, direction and block size. `used` is the window Skerry's engine ran with at the end (1: "
          "the server did not echo windowsize, the transfer ran lock-step).\n",
          "Round trips measured through the relay (UDP echo, median of 20): %s.\n" % ", ".join(
              "%s ms asked: %s ms" % (rtt, "%.2f" % m if m else "?") for rtt, m in sorted(measured.items())),
          "| round trip | file | block | server | dir | used | " + " | ".join("w%d" % w for w in windows) + " |",
          "|---:|---:|---:|:--|:--|---:|" + "---:|" * len(windows)]
    lines = []
    for key in sorted(by, key=lambda k: (k[0], -k[1], k[2] != "vantrel", k[2], k[3])):
        rtt, bs, server, direction = key
        cells = by[key]
        base = cells.get(1)
        base_mbps = base["mbps"] if base and base["ok"] else None
        used = sorted({c.get("window_used") for w, c in cells.items() if w > 1 and c.get("window_used")})
        row = []
        for w in windows:
            c = cells.get(w)
            if not c:
                row.append("-")
            elif not c["ok"]:
                row.append("failed")
            else:
                ratio = c["mbps"] / base_mbps if base_mbps else None
                row.append(_mb(c["mbps"]) + (" (%.2f)" % ratio if ratio and w > 1 else ""))
                lines.append("figure rtt-%s-%s-%d-w%d-%s %.2f MB/s" % (rtt, direction, bs, w, server, c["mbps"]))
        size = next(iter(cells.values()))["bytes"]
        md.append("| %s ms | %s | %d | %s | %s | %s | %s |" % (
            rtt, "%d KiB" % (size // KIB), bs, server, direction, "/".join(map(str, used)) or "-", " | ".join(row)))
    md.append("")
    # Per window, the worst and the geometric mean of the ratio to window 1.
    md += ["Ratio to window 1 over the rows at block sizes 512 and 1428 (servers that echo windowsize / those that do not):\n",
           "| window | echoing: lowest | echoing: geometric mean | not echoing: lowest | not echoing: highest |",
           "|---:|---:|---:|---:|---:|"]
    for w in windows:
        if w == 1:
            continue
        echo, plain = [], []
        for key, cells in by.items():
            if key[1] not in (512, 1428):
                continue
            b, c = cells.get(1), cells.get(w)
            if not (b and c and b["ok"] and c["ok"]):
                continue
            (echo if (c.get("window_used") or 1) > 1 else plain).append(c["mbps"] / b["mbps"])
        gm = statistics.geometric_mean(echo) if echo else None
        md.append("| %d | %s | %s | %s | %s |" % (
            w, "%.2f" % min(echo) if echo else "-", "%.2f" % gm if gm else "-",
            "%.2f" % min(plain) if plain else "-", "%.2f" % max(plain) if plain else "-"))
        if gm:
            lines.append("ratio rtt-w%d-vs-w1-geomean %.2f" % (w, gm))
    md.append("")
    # Where the server does not echo windowsize, the exchange should be the
    # lock-step one whatever the window asked: the same datagrams.
    plain = [(k, c) for k, c in sorted(by.items()) if any((r.get("window_used") or 1) == 1 and w > 1 and r["ok"]
                                                          for w, r in c.items())]
    if any("relayed" in r for _, c in plain for r in c.values()):
        md += ["Datagrams through the relay (toward the server / toward the client) where the server does not echo "
               "windowsize:\n",
               "| round trip | block | server | dir | " + " | ".join("w%d" % w for w in windows) + " |",
               "|---:|---:|:--|:--|" + "---:|" * len(windows)]
        for (rtt, bs, server, direction), cells in plain:
            md.append("| %s ms | %d | %s | %s | %s |" % (rtt, bs, server, direction, " | ".join(
                "%d / %d" % tuple(cells[w]["relayed"]) if w in cells and "relayed" in cells[w] else "-"
                for w in windows)))
        md.append("")
    return md, lines
