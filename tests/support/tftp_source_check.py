#!/usr/bin/env python3
"""One lock-step TFTP transfer that checks where the answers come from.

    tftp_source_check.py get HOST PORT REMOTE LOCAL
    tftp_source_check.py put HOST PORT LOCAL REMOTE

Every datagram of the server's must come from HOST (the address the request
was sent to); a get compares what arrived with LOCAL. Exit 0 when the
transfer completed with every answer from HOST, 1 otherwise (the reason on
standard error). Bounded: each wait is 5 s, a transfer at most 2000 blocks.
"""
import ipaddress
import socket
import struct
import sys


def fail(text):
    print("source check: " + text, file=sys.stderr)
    sys.exit(1)


def main():
    if len(sys.argv) != 6 or sys.argv[1] not in ("get", "put"):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    direction, host, port = sys.argv[1], sys.argv[2], int(sys.argv[3])
    asked = ipaddress.ip_address(host)
    family = socket.AF_INET6 if asked.version == 6 else socket.AF_INET
    s = socket.socket(family, socket.SOCK_DGRAM)
    s.settimeout(5)

    def receive():
        data, sender = s.recvfrom(70000)
        if ipaddress.ip_address(sender[0].split("%")[0]) != asked:
            fail(f"an answer came from {sender[0]}, not from {host}")
        return data, sender

    if direction == "get":
        remote, local = sys.argv[4], sys.argv[5]
        s.sendto(b"\0\1" + remote.encode() + b"\0octet\0", (host, port))
        got = b""
        for block in range(1, 2001):
            data, sender = receive()
            op, number = struct.unpack("!HH", data[:4])
            if op != 3 or number != block:
                fail(f"expected DATA {block}, got opcode {op} number {number}")
            got += data[4:]
            s.sendto(struct.pack("!HH", 4, block), sender)
            if len(data) < 516:
                break
        else:
            fail("too many blocks")
        with open(local, "rb") as f:
            if f.read() != got:
                fail("the file that arrived differs")
    else:
        local, remote = sys.argv[4], sys.argv[5]
        with open(local, "rb") as f:
            content = f.read()
        s.sendto(b"\0\2" + remote.encode() + b"\0octet\0", (host, port))
        data, sender = receive()
        if struct.unpack("!HH", data[:4]) != (4, 0):
            fail("no ACK 0")
        blocks = [content[i:i + 512] for i in range(0, len(content) + 1, 512)]
        if len(blocks) > 2000:
            fail("file too large for this check")
        for number, payload in enumerate(blocks, 1):
            s.sendto(struct.pack("!HH", 3, number) + payload, sender)
            data, sender2 = receive()
            if struct.unpack("!HH", data[:4]) != (4, number):
                fail(f"no ACK {number}")
    print(f"source check: {direction} via {host}: every answer from {host}")


main()
