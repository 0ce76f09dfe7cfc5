"""The window section: single transfers that ask for the windowsize option
(RFC 7440: several DATA blocks per ACK), by the clients that can ask for it
(atftp, Skerry's engine) from the servers that answer it (Vantrel, atftpd),
on the servers already running for the single-transfer section. Window 1
sends no windowsize option at all: the lock-step baseline of the same rounds.

A window larger than a receiver's socket buffer holds is partly dropped even
on a clean link (a default receive buffer takes only 12 DATA datagrams of
8192 bytes), and then every program recovers as under loss, some only after
time-outs: such a transfer is capped and reported as not completed, and its
case is not run again. A received file of the whole size that differs from
its source always fails the run; so does a transfer of Vantrel or Skerry
that does not complete with a window the default receive buffer holds."""

import socket
import statistics
import time

import measure
from peers import HOST, PEER_SERVERS, UPLOADS

# A time budget of its own: the section starts no new block size after it.
FULL = dict(windows=[1, 4, 16, 64], blocks=[512, 1428, 8192], clients=["atftp", "skerry"],
            servers=["vantrel", "atftpd"], give_up_after=1, budget=30 * 60)
QUICK = dict(FULL, windows=[16], blocks=[1428], budget=2 * 60)

OURS = ("vantrel", "skerry")


def cases(ctx, wp):
    """(window, client, direction, server) in the order of one round."""
    servers = [s for s in wp["servers"] if s in ctx.servers]
    clients = [c for c in wp["clients"] if c != "skerry" or ctx.tools.skerry]
    out = []
    for window in wp["windows"]:
        for client in clients:
            for direction in ("get", "put"):
                for server in servers:
                    if direction == "get" or UPLOADS[server]:
                        out.append((window, client, direction, server))
    return out


def buffer_room(blocks, burst=256):
    """How many DATA datagrams of each block size a socket's default receive
    buffer holds: the kernel charges a datagram its whole allocation, not
    its payload, so a window larger than this is dropped in part by a
    receiver that keeps the default. Returns {block size: datagrams}."""
    out = {}
    for bs in blocks:
        rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        tx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            rx.bind((HOST, 0))
            rx.setblocking(False)
            datagram = bytes(bs + 4)
            for _ in range(burst):
                tx.sendto(datagram, rx.getsockname())
            n = 0
            try:
                while n < burst:
                    rx.recv(bs + 4)
                    n += 1
            except BlockingIOError:
                pass
            out[bs] = dict(datagrams=n, rcvbuf=rx.getsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF))
        except OSError:
            pass
        finally:
            rx.close()
            tx.close()
    return out


def run(ctx, wp, runs):
    """Every case, runs interleaved (block size by block size, the servers
    side by side); returns the records and the default receive buffer's room."""
    room = buffer_room(wp["blocks"])
    for bs, r in sorted(room.items()):
        print("  a default receive buffer (%d bytes) holds %d DATA datagrams of block size %d" % (
            r["rcvbuf"], r["datagrams"], bs), flush=True)
    records, failed = [], {}
    deadline = time.monotonic() + wp["budget"]
    for run_index in range(runs):
        for bs in wp["blocks"]:
            if time.monotonic() > deadline:
                ctx.skipped += 1
                continue
            line = []
            for window, client, direction, server in cases(ctx, wp):
                key = (direction, bs, window, client, server)
                if failed.get(key, 0) >= wp["give_up_after"]:
                    continue
                rec = measure.one_transfer(ctx, server, client, direction, bs, run_index, window=window,
                                           strict=False)
                records.append(rec)
                if not rec["completed"]:
                    failed[key] = failed.get(key, 0) + 1
                line.append("w%d %s/%s/%s %s" % (window, direction, client, server,
                                                 "%.1f" % rec["mbps"] if rec["ok"] else
                                                 "not completed (%s)" % rec.get("status")))
            print("  run %d bs %d: %s" % (run_index + 1, bs, ", ".join(line)), flush=True)
    _check_ours(ctx, records, room)
    return records, room


def _check_ours(ctx, records, room):
    """Ours must complete whenever no datagram needs to be dropped: with a
    window that a default receive buffer holds."""
    for r in records:
        if r["completed"] or not (r["server"] in OURS or r["client"] in OURS):
            continue
        fits = r["bs"] not in room or r["window"] <= room[r["bs"]]["datagrams"]
        if fits:
            ctx.fail("window: %s %s from %s bs %d window %d run %d did not complete (%s), a window a default "
                     "receive buffer holds" % (r["dir"], r["client"], r["server"], r["bs"], r["window"],
                                               r["run"] + 1, r.get("status")))


# ---- report ---------------------------------------------------------------------

def _median(xs):
    return statistics.median(xs) if xs else None


def _fmt(x, digits=1):
    return "-" if x is None else ("%." + str(digits) + "f") % x


def _ratio(a, b):
    return a / b if a and b else None


class Medians:
    def __init__(self, records):
        self.cases = {}
        for r in records:
            key = (r["dir"], r["bs"], r["window"], r["client"], r["server"])
            self.cases.setdefault(key, []).append(r)

    def mbps(self, *key):
        return _median([r["mbps"] for r in self.cases.get(key, []) if r["ok"]])


def _lockstep_peer(records, single, direction, client):
    """The fastest lock-step peer server at block size 512 with this client
    in this run: the single-transfer table (atftp, curl) and window 1 of this
    section (atftp, Skerry against atftpd)."""
    per = {}
    for r in list(single) + [r for r in records if r["window"] == 1]:
        if (r["bs"], r["dir"], r["client"]) == (512, direction, client) and r["server"] in PEER_SERVERS \
                and r["ok"] and r.get("window", 1) == 1:
            per.setdefault(r["server"], []).append(r["mbps"])
    best = max(((statistics.median(v), s) for s, v in per.items()), default=None)
    return best


def render(records, single, room=None):
    """The section's Markdown and its headline lines."""
    if not records:
        return [], []
    s = Medians(records)
    room = {int(k): v for k, v in (room or {}).items()}
    md = ["## Windowed transfers (windowsize option)\n",
          "atftp (`--option \"windowsize N\"`) and Skerry's engine (`bench_skerry --windowsize N`) against "
          "the servers that answer the option, Vantrel and atftpd, in the same rounds as the single "
          "transfers (same file). Window 1 sends no windowsize option: lock-step. `window used`: the window "
          "Skerry's engine had at the end (1: the server's answer had no windowsize, the transfer ran "
          "lock-step; atftp does not tell). `datagrams/block`: UDP datagrams received in the namespace "
          "during the transfer over the file's blocks (both directions): 2.00 lock-step, about 1 + 1/W with "
          "a window of W, more with retransmissions. `vs atftpd`: the server compared with "
          "atftpd, same client and window; `vs atftp`: Skerry's engine compared with atftp as the client, "
          "same server and window; `vs window 1`: the same pair without the option. Buffer drops: datagrams "
          "the namespace's UDP counted as dropped for a full receive buffer during the transfer (RcvbufErrors, "
          "median). A case that did not complete in its first run is not run again.\n",
          "| block | window | dir | client | server | window used | MB/s | min–max | vs atftpd | vs atftp | "
          "vs window 1 | datagrams/block | server CPU µs/block | client CPU µs/block | buffer drops | completed/N |",
          "|---:|---:|:--|:--|:--|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    lines = []
    if room:
        md[2:2] = ["A socket's default receive buffer (%d bytes) holds %s: a window larger than that is partly "
                   "dropped at a receiver that keeps the default size (the kernel charges each datagram its "
                   "whole allocation, about twice the payload at 8192).\n" % (
                       next(iter(room.values()))["rcvbuf"],
                       ", ".join("%d DATA datagrams of block size %d" % (r["datagrams"], bs)
                                 for bs, r in sorted(room.items())))]
        for bs, r in sorted(room.items()):
            lines.append("figure rcvbuf-room-%d %d datagrams" % (bs, r["datagrams"]))
    for key in sorted(s.cases, key=lambda k: (k[1], k[2], k[0], k[3] != "atftp", k[3], k[4] != "vantrel", k[4])):
        direction, bs, window, client, server = key
        rs = s.cases[key]
        good = [r for r in rs if r["ok"]]
        m = s.mbps(*key)
        vs_atftpd = _ratio(m, s.mbps(direction, bs, window, client, "atftpd")) if server != "atftpd" else None
        vs_atftp = _ratio(m, s.mbps(direction, bs, window, "atftp", server)) if client != "atftp" else None
        vs_w1 = _ratio(m, s.mbps(direction, bs, 1, client, server)) if window != 1 else None
        used = sorted({r["window_used"] for r in rs if r.get("window_used") is not None})
        blocks = rs[0]["bytes"] // bs + 1
        srv_cpu = _median([1e6 * r["server_cpu"] / blocks for r in good if r.get("server_cpu") is not None])
        cli_cpu = _median([1e6 * r["client_cpu"] / blocks for r in good])
        drops = _median([r["rcvbuf_drops"] for r in rs if r.get("rcvbuf_drops") is not None])
        per_block = _median([r["datagrams"] / blocks for r in good if r.get("datagrams")])
        md.append("| %d | %d | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %d/%d |" % (
            bs, window, direction, "**%s**" % client if client in OURS else client,
            "**%s**" % server if server in OURS else server,
            "/".join(str(u) for u in used) if used else "-",
            _fmt(m), "%s–%s" % (_fmt(min(r["mbps"] for r in good)), _fmt(max(r["mbps"] for r in good)))
            if good else "-", _fmt(vs_atftpd, 2), _fmt(vs_atftp, 2), _fmt(vs_w1, 2), _fmt(per_block, 2), _fmt(srv_cpu),
            _fmt(cli_cpu), _fmt(drops, 0), len([r for r in rs if r["completed"]]), len(rs)))
        name = "window-%s-%d-w%d-%s-%s" % (direction, bs, window, client, server)
        if m:
            lines.append("figure %s %.1f MB/s" % (name, m))
        if vs_atftpd:
            lines.append("ratio window-%s-%d-w%d-%s-%s-vs-atftpd %.2f" % (direction, bs, window, client, server,
                                                                       vs_atftpd))
        if vs_atftp:
            lines.append("ratio window-%s-%d-w%d-%s-vs-atftp-%s %.2f" % (direction, bs, window, client, server,
                                                                      vs_atftp))
        if server == "vantrel" and bs == 512 and window == 16 and m:
            best = _lockstep_peer(records, single, direction, client)
            if best:
                lines.append("ratio window-%s-512-w16-%s-vantrel-vs-lockstep-%s %.2f" % (
                    direction, client, best[1], m / best[0]))
    md.append("")
    return md, lines


def targets(records, single):
    """The windowsize targets against this run's medians: rows of (target,
    this run, verdict)."""
    if not records:
        return []
    s = Medians(records)
    rows = []

    def verdict(ok):
        return "met" if ok else "**missed**"

    vs_atftpd, vs_atftp, vs_lock = [], [], []
    for (direction, bs, window, client, server) in s.cases:
        if window <= 1:
            continue
        m = s.mbps(direction, bs, window, client, server)
        tag = "%s %d w%d %s" % (direction, bs, window, client)
        if server == "vantrel":
            vs_atftpd.append((_ratio(m, s.mbps(direction, bs, window, client, "atftpd")), tag))
            if bs == 512 and window == 16:
                best = _lockstep_peer(records, single, direction, client)
                if best:
                    vs_lock.append((_ratio(m, best[0]), "%s %s vs %s" % (direction, client, best[1])))
        if client == "skerry":
            vs_atftp.append((_ratio(m, s.mbps(direction, bs, window, "atftp", server)),
                             "%s %d w%d from %s" % (direction, bs, window, server)))
    for text, pairs, aim in (
            ("Windows: Vantrel ≥ 1.2× atftpd, same client and window, every block size and window above 1",
             vs_atftpd, 1.2),
            ("Block size 512, window 16: Vantrel ≥ 3× the fastest lock-step peer server (same client)", vs_lock, 3.0),
            ("Windows: Skerry's engine ≥ 1.2× atftp as the client, same server and window", vs_atftp, 1.2)):
        if not pairs:
            continue
        known = [p for p in pairs if p[0] is not None]
        n_ok = sum(1 for r, _ in known if r >= aim)
        if known:
            w = min(known)
            rows.append((text, "%d of %d cases; lowest %.2f (%s)%s" % (
                n_ok, len(pairs), w[0], w[1], "; %d without a figure" % (len(pairs) - len(known))
                if len(known) < len(pairs) else ""), verdict(n_ok == len(pairs))))
        else:
            rows.append((text, "no case with a figure", verdict(False)))
    ours = [r for r in records if r["server"] in OURS or r["client"] in OURS]
    if ours:
        good = sum(1 for r in ours if r["ok"])
        rows.append(("Windows: every transfer of Vantrel or Skerry completed and verified",
                     "%d of %d" % (good, len(ours)), verdict(good == len(ours))))
    return rows
