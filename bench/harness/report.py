"""Turns the records into the Markdown report and the headline lines
(`ratio NAME VALUE`, `figure NAME VALUE UNIT`) for scripts."""

import statistics

import window
from peers import OURS, PEER_SERVERS

MIB = 2 ** 20


def _median(xs):
    return statistics.median(xs) if xs else None


def _fmt(x, digits=1):
    return "-" if x is None else ("%." + str(digits) + "f") % x


def limits(ping):
    """Lock-step limit per block size (MB/s): block / the faster of the two
    placements' round trips for a DATA-sized datagram."""
    out = {}
    for size, rtts in ping.items():
        best = min(rtts.values()) if rtts else None
        if best:
            out[size - 4] = (size - 4) / best  # bytes per microsecond = MB/s
    return out


class Summary:
    """Medians per case, plus the figures derived from them."""

    def __init__(self, records):
        self.cases = {}
        for r in records:
            key = (r["dir"], r["bs"], r["client"], r["server"])
            c = self.cases.setdefault(key, dict(mbps=[], srv_cpu=[], cli_cpu=[], runs=0, ok=0))
            c["runs"] += 1
            if r["ok"]:
                c["ok"] += 1
                c["mbps"].append(r["mbps"])
                blocks = r["bytes"] // r["bs"] + 1
                if r.get("server_cpu") is not None:
                    c["srv_cpu"].append(1e6 * r["server_cpu"] / blocks)
                c["cli_cpu"].append(1e6 * r["client_cpu"] / blocks)

    def mbps(self, direction, bs, client, server):
        c = self.cases.get((direction, bs, client, server))
        return _median(c["mbps"]) if c else None

    def case(self, direction, bs, client, server):
        return self.cases.get((direction, bs, client, server))


def _ratio(a, b):
    return a / b if a and b else None


def build(meta, ping, single, conc, idle, servers, server_clients, clients, lossy=(), windowed=()):
    """Returns (markdown text, headline lines)."""
    md, lines = [], []
    lim = limits(ping)
    s = Summary(single)
    peers = [x for x in servers if x in PEER_SERVERS]

    md.append("# Benchmarks: Vantrel and Skerry beside tftpd-hpa, atftpd and dnsmasq\n")
    md.append("Run: %s, mode **%s**, %s, %s build.  " % (meta["date"], meta["mode"], meta["commit"],
                                                          meta["build"]))
    md.append("Machine: %s, %d cores, kernel %s.  " % (meta["cpu"], meta["cores"], meta["kernel"]))
    md.append("Load average (1 min) during the run: %s at the start, %s to %s while measuring "
              "(other work on the machine makes the numbers noisy).  " % (
                  meta["load_start"], meta["load_min"], meta["load_max"]))
    md.append("Single transfers: a %s file, %d run(s) per case, servers interleaved run by run, "
              "median shown; every received file compared with the source. MB/s = 10^6 bytes per second. "
              "Files on tmpfs, traffic on the loopback device of the benchmark's own network namespace.\n"
              % (meta["size_text"], meta["runs"]))
    md.append("Peers: %s.\n" % meta["versions"])
    if meta.get("notes"):
        for n in meta["notes"]:
            md.append("- %s" % n)
        md.append("")

    targets_at = len(md)

    # ---- lock-step limit
    md.append("## Lock-step limit (UDP ping-pong, two processes)\n")
    md.append("| datagram bytes | RTT µs, default placement | RTT µs, both on one CPU | block size | limit MB/s |")
    md.append("|---:|---:|---:|---:|---:|")
    for size in sorted(ping):
        r = ping[size]
        md.append("| %d | %s | %s | %d | %s |" % (size, _fmt(r.get("default"), 2), _fmt(r.get("one-cpu"), 2),
                                                 size - 4, _fmt(lim.get(size - 4))))
        for label, v in r.items():
            lines.append("figure rtt-%d-%s %.2f us" % (size, label, v))
        if lim.get(size - 4):
            lines.append("figure limit-%d %.1f MB/s" % (size - 4, lim[size - 4]))
    md.append("\nThe limit is block size / the faster of the two round trips: one block per round "
              "trip is the most any lock-step transfer can move. On this virtual machine an idle CPU "
              "is slow to wake, so the default placement is slower when the machine is quiet.\n")

    # ---- server side
    md.append("## Server side: one transfer at a time\n")
    md.append("Client atftp 0.8 (block size option sent unless 512) and curl 7.88 (always sends blksize, tsize, "
              "timeout). `vs tftpd-hpa` and `vs best peer` compare medians with the same client; `of limit` is the "
              "share of the lock-step limit; CPU is the server's user + system time per block (median).\n")
    md.append("| block | dir | client | server | MB/s | min–max | vs tftpd-hpa | vs best peer | of limit | "
              "server CPU µs/block | verified |")
    md.append("|---:|:--|:--|:--|---:|---:|---:|---:|---:|---:|---:|")
    blocks = sorted({r["bs"] for r in single})
    for bs in blocks:
        for direction in ("get", "put"):
            for client in server_clients:
                for server in servers:
                    c = s.case(direction, bs, client, server)
                    if not c:
                        continue
                    m = _median(c["mbps"])
                    base = s.mbps(direction, bs, client, "tftpd-hpa")
                    others = [s.mbps(direction, bs, client, p) for p in peers if p != server]
                    best = max([x for x in others if x] or [0]) or None
                    md.append("| %d | %s | %s | %s | %s | %s | %s | %s | %s | %s | %d/%d |" % (
                        bs, direction, client, "**%s**" % server if server in OURS else server,
                        _fmt(m), "%s–%s" % (_fmt(min(c["mbps"])), _fmt(max(c["mbps"]))) if c["mbps"] else "-",
                        _fmt(_ratio(m, base), 2), _fmt(_ratio(m, best), 2),
                        "%s%%" % _fmt(100 * m / lim[bs], 0) if m and lim.get(bs) else "-",
                        _fmt(_median(c["srv_cpu"]), 1), c["ok"], c["runs"]))
                    if client == server_clients[0] and c["srv_cpu"]:
                        lines.append("figure cpu-per-block-%s-%d-%s %.1f us" % (server, bs, direction,
                                                                             _median(c["srv_cpu"])))
                    if client == server_clients[0] and m:
                        lines.append("figure %s-%d-%s %.1f MB/s" % (direction, bs, server, m))
                        if server != "tftpd-hpa" and base:
                            lines.append("ratio %s-%d-%s-vs-tftpd-hpa %.2f" % (direction, bs, server, m / base))
                        if server in OURS and best:
                            lines.append("ratio %s-%d-%s-vs-best-peer %.2f" % (direction, bs, server, m / best))
                        if lim.get(bs):
                            lines.append("figure share-limit-%s-%d-%s %.0f %%" % (direction, bs, server,
                                                                               100 * m / lim[bs]))
    md.append("")

    # ---- client side
    md.append("## Client side: against tftpd-hpa\n")
    md.append("Each client at each block size it supports (tftp-hpa 5.2 sends no options: 512 only), in the same "
              "rounds as the server table. `skerry` is its transfer engine, `CTransferSocket`, in the bench driver "
              "`bench_skerry`; `skerry-window` (with --skerry-window) is the whole program, its form filled in and "
              "its button clicked (the form takes at most 65420: used for 65464). Their time runs from the start "
              "to the end of the transfer (the others: process start to exit). `vs best other` compares with the "
              "fastest other client.\n")
    md.append("| block | dir | client | MB/s | min–max | vs best other | of limit | client CPU µs/block | "
              "verified |")
    md.append("|---:|:--|:--|---:|---:|---:|---:|---:|---:|")
    for bs in blocks:
        for direction in ("get", "put"):
            present = [c for c in clients if s.case(direction, bs, c, "tftpd-hpa")]
            for client in present:
                c = s.case(direction, bs, client, "tftpd-hpa")
                m = _median(c["mbps"])
                # Skerry's two forms are compared with the other clients, not with each other.
                others = [s.mbps(direction, bs, o, "tftpd-hpa") for o in present
                          if o != client and not (o.startswith("skerry") and client.startswith("skerry"))]
                best = max([x for x in others if x] or [0]) or None
                md.append("| %d | %s | %s | %s | %s | %s | %s | %s | %d/%d |" % (
                    bs, direction, "**%s**" % client if client.startswith("skerry") else client, _fmt(m),
                    "%s–%s" % (_fmt(min(c["mbps"])), _fmt(max(c["mbps"]))) if c["mbps"] else "-",
                    _fmt(_ratio(m, best), 2),
                    "%s%%" % _fmt(100 * m / lim[bs], 0) if m and lim.get(bs) else "-",
                    _fmt(_median(c["cli_cpu"]), 1), c["ok"], c["runs"]))
                if m:
                    lines.append("figure client-%s-%d-%s %.1f MB/s" % (direction, bs, client, m))
                if client.startswith("skerry") and m:
                    peers_only = [s.mbps(direction, bs, o, "tftpd-hpa") for o in present
                                  if not o.startswith("skerry")]
                    best_peer = max([x for x in peers_only if x] or [0]) or None
                    if best_peer:
                        lines.append("ratio client-%s-%d-%s-vs-best-client %.2f" % (direction, bs, client,
                                                                                   m / best_peer))
    md.append("")

    # ---- windows
    window_md, window_lines = window.render(windowed, single, meta.get("window_room"))
    md += window_md
    lines += window_lines

    # ---- concurrency
    if conc:
        md.append("## Concurrency: simultaneous downloads\n")
        md.append("A %s file fetched N times at once with block size %d by `bench_multiget` (one process, all "
                  "requests sent in one burst, one epoll loop), each server freshly started. Aggregate = N × size "
                  "/ time until the last transfer ended. Peak RSS: the server's processes summed, sampled every "
                  "20 ms (for one process also its VmHWM); cgroup peak: the server's control group (memory "
                  "charged to it, kernel included). CPU: user + system seconds of the server and every process "
                  "it forked.\n" % (meta["conc_size_text"], meta["conc_blksize"]))
        md.append("| N | server | aggregate MB/s | vs tftpd-hpa | slowest s | median s | verified | "
                  "peak RSS MiB | idle RSS MiB | cgroup peak MiB | processes | CPU s |")
        md.append("|---:|:--|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
        groups = {}
        for r in conc:
            groups.setdefault((r["count"], r["server"]), []).append(r)

        def med(rs, k):
            return _median([r[k] for r in rs if r.get("ok") and r.get(k) is not None])

        for count in sorted({r["count"] for r in conc}):
            base = med(groups.get((count, "tftpd-hpa"), []), "mbps")
            for server in servers:
                rs = groups.get((count, server))
                if not rs:
                    continue
                agg = med(rs, "mbps")
                peak = _median([r["peak_rss"] for r in rs])
                cg = _median([r["cgroup_peak"] for r in rs if r["cgroup_peak"]])
                cpu = _median([r["cpu"] for r in rs])
                md.append("| %d | %s | %s | %s | %s | %s | %s | %s | %s | %s | %d | %s |" % (
                    count, "**%s**" % server if server in OURS else server, _fmt(agg),
                    _fmt(_ratio(agg, base), 2), _fmt(med(rs, "slowest"), 2), _fmt(med(rs, "median"), 2),
                    "/".join("%d" % r["verified"] for r in rs) + " of %d" % count,
                    _fmt(peak / MIB if peak else None), _fmt(_median([r["idle_rss"] for r in rs]) / MIB),
                    _fmt(cg / MIB if cg else None), max(r["procs"] for r in rs), _fmt(cpu, 2)))
                if agg:
                    lines.append("figure conc%d-%s-aggregate %.1f MB/s" % (count, server, agg))
                    lines.append("figure conc%d-%s-slowest %.2f s" % (count, server, med(rs, "slowest")))
                    if server != "tftpd-hpa" and base:
                        lines.append("ratio conc%d-%s-vs-tftpd-hpa %.2f" % (count, server, agg / base))
                if peak:
                    lines.append("figure conc%d-%s-peak-rss %.1f MiB" % (count, server, peak / MIB))
                lines.append("figure conc%d-%s-cpu %.2f s" % (count, server, cpu))
        md.append("")

    # ---- idle
    if idle:
        md.append("## Idle costs\n")
        md.append("| program | state | window s | CPU s | % of one core |")
        md.append("|:--|:--|---:|---:|---:|")
        for r in idle:
            pct = 100 * r["cpu"] / r["window"]
            md.append("| %s | %s | %.1f | %.3f | %.2f%% |" % (r["program"], r["what"], r["window"], r["cpu"], pct))
            kind = "stalled" if r["what"].startswith("client") else "idle"
            lines.append("figure %s-%s-cpu %.2f %%" % (kind, r["program"], pct))
        md.append("")

    if lossy:
        _loss_section(md, lines, meta.get("loss", {}), lossy)

    md[targets_at:targets_at] = _targets(s, servers, server_clients, clients, conc, idle, lossy, windowed, single)

    if meta.get("failures"):
        md.append("## Failures\n")
        for f in meta["failures"]:
            md.append("- %s" % f)
        md.append("")
    md.append("Wall time of the run: %.0f s.\n" % meta["wall"])
    return "\n".join(md), lines


def _targets(s, servers, server_clients, clients, conc, idle, lossy=(), windowed=(), single=()):
    """The issue's targets against this run's medians."""
    rows = _loss_targets(lossy) + window.targets(windowed, single)

    def verdict(ok):
        return "met" if ok else "**missed**"

    def worst(pairs):
        pairs = [p for p in pairs if p[0] is not None]
        return min(pairs) if pairs else None

    if "vantrel" in servers:
        peers = [x for x in servers if x in PEER_SERVERS]
        vs_best, vs_hpa = [], []
        for (direction, bs, client, server) in s.cases:
            if server != "vantrel" or client not in server_clients:
                continue
            m = s.mbps(direction, bs, client, "vantrel")
            best = max([x for x in (s.mbps(direction, bs, client, p) for p in peers) if x] or [0]) or None
            tag = "%s %d %s" % (direction, bs, client)
            vs_best.append((_ratio(m, best), tag))
            vs_hpa.append((_ratio(m, s.mbps(direction, bs, client, "tftpd-hpa")), tag))
        w = worst(vs_best)
        if w:
            n_ok = sum(1 for r, _ in vs_best if r is not None and r >= 1.0)
            rows.append(("Vantrel ≥ 1.0× the fastest peer server, every block size and direction",
                         "%d of %d cases; lowest %.2f (%s)" % (n_ok, len(vs_best), w[0], w[1]), verdict(w[0] >= 1.0)))
        w = worst(vs_hpa)
        if w:
            rows.append(("aim: Vantrel 1.2× tftpd-hpa", "lowest %.2f (%s)" % (w[0], w[1]), verdict(w[0] >= 1.2)))
    by = {}
    for r in conc:
        by.setdefault((r["count"], r["server"]), []).append(r)
    v, h = by.get((100, "vantrel")), by.get((100, "tftpd-hpa"))
    if v and h:
        agg_v = _median([r["mbps"] for r in v if r.get("ok")])
        agg_h = _median([r["mbps"] for r in h if r.get("ok")])
        intact = all(r["verified"] == r["count"] for r in v)
        peak = max(r["peak_rss"] for r in v) / MIB
        rows.append(("100 concurrent downloads: Vantrel aggregate ≥ tftpd-hpa",
                     "%s vs %s MB/s" % (_fmt(agg_v), _fmt(agg_h)),
                     verdict(agg_v is not None and agg_h is not None and agg_v >= agg_h)))
        rows.append(("100 concurrent downloads: every file intact", "yes" if intact else "no", verdict(intact)))
        rows.append(("100 concurrent downloads: Vantrel peak RSS < 64 MiB", "%.1f MiB" % peak, verdict(peak < 64)))
    if "skerry" in clients:
        vs = []
        for (direction, bs, client, server) in s.cases:
            if client != "skerry" or server != "tftpd-hpa":
                continue
            m = s.mbps(direction, bs, "skerry", "tftpd-hpa")
            others = [s.mbps(direction, bs, c, "tftpd-hpa") for c in clients if not c.startswith("skerry")]
            best = max([x for x in others if x] or [0]) or None
            vs.append((_ratio(m, best), "%s %d" % (direction, bs)))
        w = worst(vs)
        if w:
            n_ok = sum(1 for r, _ in vs if r is not None and r >= 1.0)
            rows.append(("Skerry's engine ≥ 1.0× the fastest command-line client, every block size",
                         "%d of %d cases; lowest %.2f (%s)" % (n_ok, len(vs), w[0], w[1]), verdict(w[0] >= 1.0)))
    for r in idle:
        pct = 100 * r["cpu"] / r["window"]
        if r["program"] == "vantrel":
            rows.append(("Vantrel idle < 1% of a core", "%.2f%%" % pct, verdict(pct < 1)))
        elif r["program"].startswith("skerry"):
            rows.append(("%s stalled < 5%% of a core" % r["program"], "%.2f%%" % pct, verdict(pct < 5)))
    if not rows:
        return []
    out = ["## Targets\n", "| target | this run | |", "|:--|:--|:--|"]
    out += ["| %s | %s | %s |" % row for row in rows]
    return out + [""]


def _loss_section(md, lines, setup, records):
    """The loss table: per case completed runs, median time, data sent."""
    texts = {i["name"]: i for i in setup.get("impairments", [])}
    md.append("## Loss, duplication and reordering\n")
    md.append("Each transfer goes through an `impair_relay` of its own (client -> relay -> server), which "
              "impairs datagrams at random in both directions from a seed; every server of one case and run gets "
              "the same seed. Sizes: %s. Each run is capped (%s); a capped run is not completed. A case whose first "
              "%d runs all failed is not run again (N shows the runs made). `completed` counts runs whose client "
              "ended by itself with the whole file, and verified is how many of those equal the source. Median s: "
              "completed and verified runs. Data sent / file: DATA payload bytes that reached the relay from "
              "the sender over the file size (median), 1.00 when nothing was sent twice. The loss cases of one "
              "block size and run go all at once (they wait on time-outs, not on the CPU); the larger duplication "
              "and reordering transfers one client at a time, the servers side by side.\n" % (
                  ", ".join("%s %s" % (i["text"], _size(i["size"])) for i in setup.get("impairments", [])),
                  ", ".join("%s %.0f s" % (i["text"], i["cap"]) for i in setup.get("impairments", [])),
                  setup.get("give_up_after", 2)))
    md.append("| block | impairment | server | client | dir | completed/N | median s | data sent/file | verified |")
    md.append("|---:|:--|:--|:--|:--|---:|---:|---:|---:|")
    cases = {}
    for r in records:
        cases.setdefault((r["imp"], r["bs"], r["dir"], r["client"], r["server"]), []).append(r)
    order = [i["name"] for i in setup.get("impairments", [])]

    def median_time(key):
        rs = cases.get(key)
        return _median([r["seconds"] for r in rs if r.get("seconds") is not None]) if rs else None

    for key in sorted(cases, key=lambda k: (k[1], order.index(k[0]) if k[0] in order else 99, k[2], k[3], k[4])):
        imp, bs, direction, client, server = key
        rs = cases[key]
        done = [r for r in rs if r["completed"]]
        good = [r for r in done if r["verified"]]
        m = median_time(key)
        ratio = _median([r["data_ratio"] for r in done if r.get("data_ratio") is not None])
        bad = sum(1 for r in rs if r.get("corrupt"))
        md.append("| %d | %s | %s | %s | %s | %d/%d | %s | %s | %s |" % (
            bs, texts.get(imp, {}).get("text", imp), "**%s**" % server if server in OURS else server,
            "**%s**" % client if client.startswith("skerry") else client, direction, len(done), len(rs),
            _fmt(m, 2), _fmt(ratio, 2), ("%d/%d" % (len(good), len(done))) + (" **%d corrupt**" % bad if bad else "")))
        name = "loss-%s-%s-%d-%s-%s" % (imp, direction, bs, client, server)
        lines.append("figure %s-success %.0f %%" % (name, 100.0 * len(good) / len(rs)))
        # Time ratios: the reference's median time over ours, so that above 1 is better.
        if imp in WINDOWED_LOSS:
            # Only atftpd answers windowsize among the peers.
            base = median_time((imp, bs, direction, client, "atftpd"))
            if server == "vantrel" and m and base:
                lines.append("ratio loss-%s-%s-%d-%s-vantrel-vs-atftpd %.2f" % (imp, direction, bs, client, base / m))
            base = median_time((imp, bs, direction, "atftp", server))
            if client == "skerry" and m and base:
                lines.append("ratio loss-%s-%s-%d-%s-skerry-vs-atftp %.2f" % (imp, direction, bs, server, base / m))
        elif server == "vantrel":
            base = median_time((imp, bs, direction, client, "tftpd-hpa"))
            if m and base:
                lines.append("ratio loss-%s-%s-%d-%s-vantrel-vs-tftpd-hpa %.2f" % (imp, direction, bs, client,
                                                                                  base / m))
        if client == "skerry" and imp not in WINDOWED_LOSS:
            base = median_time((imp, bs, direction, "tftp", server))
            if m and base:
                lines.append("ratio loss-%s-%s-%d-%s-skerry-vs-tftp-hpa %.2f" % (imp, direction, bs, server, base / m))
    md.append("\nRatios printed for scripts (`ratio loss-...`) are time ratios turned round: tftpd-hpa's median "
              "time / Vantrel's with the same client, tftp-hpa's / Skerry's with the same server (512 only: "
              "tftp-hpa sends no options), so that above 1 means ours was faster; with a window, atftpd's / "
              "Vantrel's and atftp's / Skerry's (the only peers that speak windowsize). A case without a completed run "
              "has no ratio; its `figure ...-success` line says 0 %.\n")


WINDOWED_LOSS = ("loss2-w16",)


def _size(n):
    return "%d MiB" % (n // MIB) if n % MIB == 0 else "%d KiB" % (n // 1024)


def _loss_targets(records):
    """The loss section's targets: our programs complete where tftpd-hpa
    does, as fast, and send little twice."""
    rows = []

    def verdict(ok):
        return "met" if ok else "**missed**"

    def ours(r):
        return r["server"] == "vantrel" or r["client"] == "skerry"

    mild = [r for r in records if r["imp"] in ("loss0.5", "loss2") and ours(r)]
    if mild:
        good = sum(1 for r in mild if _success(r))
        rows.append(("Vantrel and Skerry: every run completes at 0.5 % and 2 % loss, every client",
                     "%d of %d runs" % (good, len(mild)), verdict(good == len(mild))))

    def rate(rs):
        return sum(1 for r in rs if _success(r)) / len(rs) if rs else None

    win = [r for r in records if r["imp"] in WINDOWED_LOSS and ours(r)]
    if win:
        good = sum(1 for r in win if _success(r))
        rows.append(("2 % loss, window 16: every run of Vantrel and Skerry completes", "%d of %d runs" % (
            good, len(win)), verdict(good == len(win))))

    heavy = [r for r in records if r["imp"] == "loss5" and r["client"] != "skerry"]
    v = rate([r for r in heavy if r["server"] == "vantrel"])
    h = rate([r for r in heavy if r["server"] == "tftpd-hpa"])
    if v is not None and h is not None:
        rows.append(("5 % loss: Vantrel completes at least as often as tftpd-hpa (same clients)",
                     "%.0f %% vs %.0f %%" % (100 * v, 100 * h), verdict(v >= h)))
    cases = {}
    for r in records:
        cases.setdefault((r["imp"], r["bs"], r["dir"], r["client"], r["server"]), []).append(r)

    def median_time(key):
        return _median([r["seconds"] for r in cases.get(key, []) if r.get("seconds") is not None])

    slower, compared = [], 0
    for key in cases:
        imp, bs, direction, client, server = key
        if server != "vantrel" or not imp.startswith("loss"):
            continue
        base = median_time((imp, bs, direction, client, "atftpd" if imp in WINDOWED_LOSS else "tftpd-hpa"))
        if base is None:
            continue
        compared += 1
        m = median_time(key)
        if m is None or m > base:
            slower.append("%s %d %s %s" % (imp, bs, direction, client))
    if compared:
        rows.append(("Loss: Vantrel's median time no worse than tftpd-hpa's with the same client (atftpd's with a "
                     "window)",
                     "%d of %d cases%s" % (compared - len(slower), compared,
                                           "; not: " + ", ".join(slower[:6]) + (" …" if len(slower) > 6 else "")
                                           if slower else ""), verdict(not slower)))
    dup = [r for r in records if r["imp"] == "dup5" and r.get("data_ratio") is not None and r["completed"]
           and ((r["server"] == "vantrel" and r["dir"] == "get") or (r["client"] == "skerry" and r["dir"] == "put"))]
    if dup:
        worst = max(dup, key=lambda r: r["data_ratio"])
        rows.append(("5 % duplication: data sent < 1.1× the file (Vantrel sending, Skerry sending)",
                     "at most %.2f (%s %d %s %s)" % (worst["data_ratio"], worst["dir"], worst["bs"], worst["client"],
                                                   worst["server"]), verdict(worst["data_ratio"] < 1.1)))
    return rows


def _success(r):
    return r.get("success", r["completed"] and r["verified"])
