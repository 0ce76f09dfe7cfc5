"""Processes the harness starts: running clients with a bound time, keeping
servers with their CPU and memory accounting, and ending exactly what was
started (by pid, through pidfds where the kernel has them)."""

import os
import signal
import subprocess
import threading
import time

PAGE = os.sysconf("SC_PAGE_SIZE")
TICKS = os.sysconf("SC_CLK_TCK")

_started = []  # long-running processes, ended by stop_all()


class ClientResult:
    def __init__(self, ok, seconds, cpu, status, output):
        self.ok = ok            # exited 0 within the time allowed
        self.seconds = seconds  # wall time from start to exit
        self.cpu = cpu          # user + system seconds of the process and its children
        self.status = status    # exit status, or "timeout"
        self.output = output    # what it printed (stdout and stderr)


def _kill(proc, sig):
    """Signals one process we started; a process already reaped is left alone."""
    try:
        fd = os.pidfd_open(proc.pid)
    except (AttributeError, OSError):
        fd = None
    try:
        if fd is not None:
            signal.pidfd_send_signal(fd, sig)
        elif proc.poll() is None:
            os.kill(proc.pid, sig)
    except ProcessLookupError:
        pass
    finally:
        if fd is not None:
            os.close(fd)


def terminate(proc):
    """Ends a process we started: SIGTERM, then SIGKILL if it lingers."""
    if proc.poll() is None:
        _kill(proc, signal.SIGTERM)
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            _kill(proc, signal.SIGKILL)
            proc.wait(timeout=5)


def run_client(argv, timeout, log_path, env=None, cwd=None, preexec=None):
    """Runs a client to its end (killed after timeout seconds) and times it."""
    with open(log_path, "w+b") as log:
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                env=env, cwd=cwd, preexec_fn=preexec)
        try:
            pidfd = os.pidfd_open(proc.pid)
        except (AttributeError, OSError):
            pidfd = None
        timed_out = threading.Event()

        def expire():
            timed_out.set()
            try:
                if pidfd is not None:
                    signal.pidfd_send_signal(pidfd, signal.SIGKILL)
                else:
                    os.kill(proc.pid, signal.SIGKILL)
            except (ProcessLookupError, OSError):
                pass

        timer = threading.Timer(timeout, expire)
        timer.start()
        try:
            _, status, usage = os.wait4(proc.pid, 0)
        finally:
            timer.cancel()
        seconds = time.perf_counter() - start
        if pidfd is not None:
            os.close(pidfd)
        proc.returncode = os.waitstatus_to_exitcode(status)
        log.seek(0)
        output = log.read().decode("utf-8", "replace")
    code = "timeout" if timed_out.is_set() else proc.returncode
    return ClientResult(code == 0, seconds, usage.ru_utime + usage.ru_stime, code, output)


class Accounting:
    """A control group of its own for one server, so that its CPU time and
    memory count every process it forks. Falls back to /proc of the main
    process where no control group can be made."""

    def __init__(self, label):
        self.dirs = []
        self.kind = None
        self.pid = None
        name = "vbench-%d-%s" % (os.getpid(), label)
        v1 = "/sys/fs/cgroup/cpuacct"
        v2 = "/sys/fs/cgroup"
        try:
            if os.path.isdir(v1):
                for ctl in ("cpuacct", "memory"):
                    d = os.path.join("/sys/fs/cgroup", ctl, name)
                    os.mkdir(d)
                    self.dirs.append(d)
                self.kind = "v1"
            elif os.path.exists(os.path.join(v2, "cgroup.controllers")):
                d = os.path.join(v2, name)
                os.mkdir(d)
                self.dirs.append(d)
                self.kind = "v2"
        except OSError:
            self.close()
            self.kind = None

    def join(self):
        """Runs in the child before exec: moves it into the group."""
        for d in self.dirs:
            with open(os.path.join(d, "cgroup.procs"), "w") as f:
                f.write(str(os.getpid()))

    def pids(self):
        if self.kind:
            try:
                with open(os.path.join(self.dirs[0], "cgroup.procs")) as f:
                    return [int(x) for x in f.read().split()]
            except OSError:
                return []
        return [self.pid] if self.pid else []

    def cpu_seconds(self):
        """User + system seconds of every process of the group so far."""
        try:
            if self.kind == "v1":
                d = self.dirs[0]
                total = 0
                for f in ("cpuacct.usage_user", "cpuacct.usage_sys"):
                    with open(os.path.join(d, f)) as fh:
                        total += int(fh.read())
                return total / 1e9
            if self.kind == "v2":
                with open(os.path.join(self.dirs[0], "cpu.stat")) as f:
                    stat = dict(line.split() for line in f)
                return (int(stat["user_usec"]) + int(stat["system_usec"])) / 1e6
        except (OSError, KeyError, ValueError):
            pass
        return proc_cpu_seconds(self.pid, children=True) if self.pid else 0.0

    def reset_memory_peak(self):
        if self.kind == "v1":
            try:
                with open(os.path.join(self.dirs[1], "memory.max_usage_in_bytes"), "w") as f:
                    f.write("0")
            except OSError:
                pass

    def memory_peak(self):
        """The group's own memory peak (anonymous memory, kernel memory and
        page cache charged to it), or None."""
        try:
            if self.kind == "v1":
                with open(os.path.join(self.dirs[1], "memory.max_usage_in_bytes")) as f:
                    return int(f.read())
            if self.kind == "v2":
                with open(os.path.join(self.dirs[0], "memory.peak")) as f:
                    return int(f.read())
        except OSError:
            pass
        return None

    def close(self):
        for d in reversed(self.dirs):
            for _ in range(50):
                try:
                    os.rmdir(d)
                    break
                except FileNotFoundError:
                    break
                except OSError:
                    time.sleep(0.1)  # its last processes are still exiting
        self.dirs = []


def proc_cpu_seconds(pid, children=False):
    """utime + stime (and the reaped children's) of one process from /proc."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return 0.0
    ticks = int(fields[11]) + int(fields[12])
    if children:
        ticks += int(fields[13]) + int(fields[14])
    return ticks / TICKS


def rss_bytes(pid):
    try:
        with open("/proc/%d/statm" % pid) as f:
            return int(f.read().split()[1]) * PAGE
    except (OSError, IndexError, ValueError):
        return 0


def hwm_bytes(pid):
    """VmHWM: the peak resident size of one process over its life."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


class PeakSampler(threading.Thread):
    """Samples the summed resident size of a server's processes."""

    def __init__(self, accounting, period=0.02):
        super().__init__(daemon=True)
        self.accounting = accounting
        self.period = period
        self.peak = 0
        self.max_procs = 0
        self._stop_event = threading.Event()

    def run(self):
        while not self._stop_event.is_set():
            pids = self.accounting.pids()
            total = sum(rss_bytes(p) for p in pids)
            self.peak = max(self.peak, total)
            self.max_procs = max(self.max_procs, len(pids))
            self._stop_event.wait(self.period)

    def stop(self):
        self._stop_event.set()
        self.join()


class Server:
    """A server the harness started and keeps until stop()."""

    def __init__(self, name, argv, port, log_path, env=None, cwd=None):
        self.name = name
        self.port = port
        self.accounting = Accounting(name)
        self.log = open(log_path, "ab")
        self.proc = subprocess.Popen(argv, stdout=self.log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, env=env, cwd=cwd,
                                     preexec_fn=self.accounting.join if self.accounting.kind else None)
        self.accounting.pid = self.proc.pid
        _started.append(self)

    def wait_ready(self, address, timeout=30.0):
        """Waits until a UDP socket is bound to the server's port."""
        want = ":%04X" % self.port
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                return False
            # A server on every address of both families holds one IPv6
            # socket bound to "::" (it shows in udp6 only).
            for table, wanted in (("/proc/net/udp", (_hex_address(address), "00000000")),
                                  ("/proc/net/udp6", ("0" * 32,))):
                try:
                    with open(table) as f:
                        next(f)
                        for line in f:
                            local = line.split()[1]
                            if local.endswith(want) and local[:-5] in wanted:
                                return True
                except (OSError, StopIteration):
                    pass
            time.sleep(0.05)
        return False

    def alive(self):
        return self.proc.poll() is None

    def cpu_seconds(self):
        return self.accounting.cpu_seconds()

    def stop(self):
        if self in _started:
            _started.remove(self)
        others = [p for p in self.accounting.pids() if p != self.proc.pid]
        terminate(self.proc)
        # Processes it forked (a transfer still running) are in its group.
        for pid in others + self.accounting.pids():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.accounting.close()
        self.log.close()


class Background:
    """A client left running while something is measured, then ended."""

    def __init__(self, argv, log_path, cwd=None, env=None):
        self.log = open(log_path, "wb")
        self.proc = subprocess.Popen(argv, stdout=self.log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL, cwd=cwd, env=env)
        self.pid = self.proc.pid
        self.returncode = None
        _started.append(self)

    def poll(self):
        self.returncode = self.proc.poll()
        return self.returncode

    def finish(self):
        if self in _started:
            _started.remove(self)
        if self.proc.poll() is None:
            _kill(self.proc, signal.SIGKILL)
        self.proc.wait(timeout=10)
        self.log.close()

    stop = finish

    def interrupt(self, timeout=30):
        """Asks it to end as on Ctrl-C (tracers then write their results)."""
        if self.proc.poll() is None:
            _kill(self.proc, signal.SIGINT)
            try:
                self.proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                pass
        self.finish()


def start_transfer_client(argv, log_path, cwd=None, env=None):
    return Background(argv, log_path, cwd=cwd, env=env)


def _hex_address(dotted):
    """The way /proc/net/udp writes an IPv4 address (little-endian hex)."""
    parts = [int(x) for x in dotted.split(".")]
    return "%02X%02X%02X%02X" % (parts[3], parts[2], parts[1], parts[0])


def stop_all():
    for started in list(_started):
        try:
            started.stop()
        except Exception as e:  # keep ending the others
            print("harness: could not stop pid %d: %s" % (started.proc.pid, e))
