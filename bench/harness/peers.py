"""The servers and clients measured: how each is started, on which port, and
which block sizes and directions it supports."""

import os

from procs import Server

# Every server listens on the namespace's one test address; the programs bind
# to it by themselves (it is the host's only address that is not loopback).
HOST = "10.9.9.1"

PORTS = {"vantrel": 6969, "vantrel-engine": 6972, "tftpd-hpa": 6970, "atftpd": 6971, "dnsmasq": 69}
UPLOADS = {"vantrel": True, "vantrel-engine": True, "tftpd-hpa": True, "atftpd": True, "dnsmasq": False}
OURS = ["vantrel", "vantrel-engine"]
PEER_SERVERS = ["tftpd-hpa", "atftpd", "dnsmasq"]


class Tools:
    """Where the programs are: our builds and the peers."""

    def __init__(self, build_dir, peers_dir, with_ours, with_engine=False):
        self.pingpong = os.path.join(build_dir, "bench", "bench_pingpong")
        self.multiget = os.path.join(build_dir, "bench", "bench_multiget")
        self.atftpd = os.path.join(peers_dir, "atftpd", "usr", "sbin", "atftpd")
        self.in_tftpd = os.path.join(peers_dir, "tftpd-hpa", "usr", "sbin", "in.tftpd")
        self.vantrel = _find(build_dir, "vantrel") if with_ours else None
        self.skerry = os.path.join(build_dir, "bench", "bench_skerry") if with_ours else None
        if self.skerry and not os.access(self.skerry, os.X_OK):
            self.skerry = None
        # The loss section's relay: bench/ in a Release build, tests/support in a test build.
        self.relay = _find(build_dir, "impair_relay")
        self.engine = os.path.join(build_dir, "bench", "bench_vantrel_engine") if with_engine else None
        self.engine_flags = []
        if self.engine and not os.access(self.engine, os.X_OK):
            self.engine = None

    def servers(self):
        return ((["vantrel"] if self.vantrel else []) + (["vantrel-engine"] if self.engine else [])
                + PEER_SERVERS)


def _find(build_dir, name):
    for root, _, files in os.walk(build_dir):
        if name in files and os.access(os.path.join(root, name), os.X_OK):
            return os.path.join(root, name)
    return None


def write_vantrel_store(config_home, root, log_file):
    """The server's settings store: a high port, one folder for both
    directions, no client limit, no splash, transfer options allowed."""
    d = os.path.join(config_home, "Brellin")
    os.makedirs(d, exist_ok=True)
    folder = root.rstrip("/") + "/"
    text = "\r\n".join([
        "REGEDIT4",
        "",
        "[HKEY_CURRENT_USER\\Software\\Brellin\\Vantry]",
        '"InPath"="%s"' % folder,
        '"OutPath"="%s"' % folder,
        '"Port"="%d"' % PORTS["vantrel"],
        '"Timeout"="30"',
        '"bDisplay"=dword:00000001',
        # bAlertMinimised 0x2, bAllowTsize 0x4, bAllowTimeout 0x8, bNoSplash 0x10.
        '"bDelete"=dword:0000001e',
        # nMaxClients 5 (no limit) + 16 * nMaxDisplay 6.
        '"nSliders"=dword:00000065',
        '"nPriority"=dword:00000004',
        '"LogFile"="%s"' % log_file,
        "",
    ])
    with open(os.path.join(d, "Vantry.reg"), "w") as f:
        f.write(text)


def start_server(name, tools, work):
    """Starts one server over work/root; returns the Server (not yet ready)."""
    root = os.path.join(work, "root")
    log = os.path.join(work, "logs", name + ".log")
    port = PORTS[name]
    if name == "vantrel":
        config = os.path.join(work, "config")
        write_vantrel_store(config, root, os.path.join(work, "logs", "vantrel-rows.log"))
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=config,
                   DBUS_SESSION_BUS_ADDRESS="disabled:")
        return Server(name, [tools.vantrel], port, log, env=env, cwd=os.path.join(work, "logs"))
    if name == "vantrel-engine":
        return Server(name, [tools.engine, "--port", str(port), "--folder", root + "/"] + tools.engine_flags,
                      port, log, cwd=os.path.join(work, "logs"))
    if name == "tftpd-hpa":
        argv = [tools.in_tftpd, "-L", "-4", "-a", "%s:%d" % (HOST, port), "-s", "-c", "-B", "65464",
                "-u", "nobody", "-U", "000", root]
    elif name == "atftpd":
        argv = [tools.atftpd, "--daemon", "--no-fork", "--bind-address", HOST, "--port", str(port),
                "--user", "nobody", "--group", "nogroup", "--logfile", log + ".own", "-m", "300", root]
    elif name == "dnsmasq":
        argv = ["dnsmasq", "-k", "--conf-file=/dev/null", "--port=0", "--enable-tftp",
                "--tftp-root=" + root, "--listen-address=" + HOST, "--bind-interfaces",
                "--edns-packet-max=65535", "--tftp-max=300", "--pid-file=",
                "--log-facility=" + log + ".own"]
    else:
        raise ValueError(name)
    return Server(name, argv, port, log)


# ---- clients -----------------------------------------------------------------

CLIENT_BLOCKS = {
    "atftp": None,        # every block size
    "curl": None,
    "busybox": None,
    "tftp": [512],        # tftp-hpa 5.2 sends no options
    "skerry": None,
    "skerry-window": None,  # the form takes at most 65420: used in place of 65464
}


def client_supports(client, bs):
    sizes = CLIENT_BLOCKS[client]
    return sizes is None or bs in sizes


# Clients that can ask for the windowsize option (RFC 7440), and servers that answer it.
WINDOW_CLIENTS = ["atftp", "skerry"]
WINDOW_SERVERS = ["vantrel", "atftpd"]


def client_argv(client, direction, bs, port, remote, local, tools, window=1):
    """The command that moves remote <-> local at block size bs; a window
    above 1 asks for the windowsize option (atftp and Skerry's engine only),
    1 sends no such option (lock-step)."""
    get = direction == "get"
    if window > 1 and client not in WINDOW_CLIENTS:
        raise ValueError("%s cannot ask for a window" % client)
    if client == "atftp":
        argv = ["atftp", "-g" if get else "-p", "-r", remote, "-l", local]
        if bs != 512:
            argv += ["--option", "blksize %d" % bs]
        if window > 1:
            argv += ["--option", "windowsize %d" % window]
        return argv + [HOST, str(port)]
    if client == "curl":
        url = "tftp://%s:%d/%s" % (HOST, port, remote)
        argv = ["curl", "-sS", "--tftp-blksize", str(bs)]
        return argv + (["-o", local, url] if get else ["-T", local, url])
    if client == "busybox":
        argv = ["busybox", "tftp", "-g" if get else "-p", "-r", remote, "-l", local]
        if bs != 512:
            argv += ["-b", str(bs)]
        return argv + [HOST, str(port)]
    if client == "tftp":
        return ["tftp", "-4", "-m", "octet", HOST, str(port), "-c"] + (
            ["get", remote, local] if get else ["put", local, remote])
    if client in ("skerry", "skerry-window"):
        return [tools.skerry, "--host", HOST, "--port", str(port), "--blksize", str(bs),
                "--get" if get else "--put", remote, "--local", local] + (
                    ["--window"] if client == "skerry-window" else []) + (
                    ["--windowsize", str(window)] if window > 1 else [])
    raise ValueError(client)
