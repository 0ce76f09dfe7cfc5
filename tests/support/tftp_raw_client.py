#!/usr/bin/env python3
"""A TFTP client of the tests' own, for what the common clients do not show.

  hold HOST PORT NAME COUNT LOW HIGH SERVER_PID
      COUNT read requests from COUNT sockets, each left waiting after its
      DATA 1; every transfer's port must lie in LOW..HIGH, as must every UDP
      socket of SERVER_PID but the listening one in the kernel's table; one
      more request must be answered ERROR 0 "Too Many Clients" from PORT.
      Then every transfer is taken to its end.
  fetch HOST PORT NAME BLKSIZE EXPECT_BLKSIZE FILE
      A read request asking for BLKSIZE: the OACK must carry EXPECT_BLKSIZE,
      every block but the last be of it, and the bytes equal FILE's.
Prints what it saw; exits 1 with the reason on a mismatch.
"""
import socket
import struct
import subprocess
import sys

TIMEOUT = 5.0


def fail(why):
    print("FAIL: " + why, file=sys.stderr)
    sys.exit(1)


def rrq(name, options=()):
    packet = struct.pack("!H", 1) + name.encode() + b"\0octet\0"
    for key, value in options:
        packet += key.encode() + b"\0" + str(value).encode() + b"\0"
    return packet


def family_of(host):
    return socket.AF_INET6 if ":" in host else socket.AF_INET


def receive(sock):
    sock.settimeout(TIMEOUT)
    try:
        return sock.recvfrom(70000)
    except socket.timeout:
        fail("no answer within %.0f s" % TIMEOUT)


def server_ports(pid):
    """Local ports of the UDP sockets of process pid, from the kernel's table."""
    out = subprocess.run(["ss", "-Huanp"], capture_output=True, text=True, check=True).stdout
    ports = []
    for line in out.splitlines():
        if "pid=%d," % pid not in line:
            continue
        local = line.split()[3]
        ports.append(int(local.rsplit(":", 1)[1]))
    return sorted(ports)


def take_to_end(sock, peer, first, block_size=512):
    data = first[4:]
    block = 1
    while True:
        sock.sendto(struct.pack("!HH", 4, block), peer)
        if len(first) - 4 < block_size:
            return data
        first, sender = receive(sock)
        opcode, number = struct.unpack("!HH", first[:4])
        if opcode != 3 or number != (block + 1) & 0xFFFF or sender != peer:
            fail("expected DATA %d from %s, got opcode %d block %d from %s" % (block + 1, peer, opcode, number, sender))
        block += 1
        data += first[4:]


def hold(host, port, name, count, low, high, pid):
    fam = family_of(host)
    held = []
    for _ in range(count):
        s = socket.socket(fam, socket.SOCK_DGRAM)
        s.sendto(rrq(name), (host, port))
        packet, peer = receive(s)
        if packet[:4] != b"\0\3\0\1":
            fail("expected DATA 1, got %r" % packet[:40])
        if not low <= peer[1] <= high:
            fail("a transfer answered from port %d, outside %d..%d" % (peer[1], low, high))
        held.append((s, peer, packet))
    answered = sorted(p[1] for _, p, _ in held)
    print("transfer ports: " + " ".join(map(str, answered)))
    if len(set(answered)) != count:
        fail("two transfers share a port: %s" % answered)
    table = server_ports(pid)
    print("kernel socket table, the server's UDP ports: " + " ".join(map(str, table)))
    others = [p for p in table if p != port]
    if sorted(others) != answered or any(not low <= p <= high for p in others):
        fail("the server's sockets %s are not the transfers' %s inside %d..%d" % (table, answered, low, high))
    extra = socket.socket(fam, socket.SOCK_DGRAM)
    extra.sendto(rrq(name), (host, port))
    packet, peer = receive(extra)
    expected = b"\0\5\0\0Too Many Clients\0"
    if packet != expected or peer[1] != port:
        fail("one request more got %r from port %d, not ERROR 0 from %d" % (packet, peer[1], port))
    print('one more request: ERROR 0 "Too Many Clients" from port %d' % peer[1])
    for s, peer, first in held:
        take_to_end(s, peer, first)


def fetch(host, port, name, blksize, expect, path):
    fam = family_of(host)
    s = socket.socket(fam, socket.SOCK_DGRAM)
    s.sendto(rrq(name, [("blksize", blksize)]), (host, port))
    packet, peer = receive(s)
    want = b"\0\6blksize\0" + str(expect).encode() + b"\0"
    if packet != want:
        fail("asked blksize %d, the OACK was %r, not %r" % (blksize, packet, want))
    print("asked blksize %d from port %d: OACK blksize=%d" % (blksize, peer[1], expect))
    s.sendto(b"\0\4\0\0", peer)
    first, sender = receive(s)
    data = take_to_end(s, peer, first, expect)
    with open(path, "rb") as f:
        if f.read() != data:
            fail("the bytes fetched differ from " + path)
    print("fetched %d bytes in blocks of %d, byte-identical" % (len(data), expect))


def main(argv):
    if len(argv) == 8 and argv[0] == "hold":
        hold(argv[1], int(argv[2]), argv[3], int(argv[4]), int(argv[5]), int(argv[6]), int(argv[7]))
    elif len(argv) == 7 and argv[0] == "fetch":
        fetch(argv[1], int(argv[2]), argv[3], int(argv[4]), int(argv[5]), argv[6])
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)


if __name__ == "__main__":
    main(sys.argv[1:])
