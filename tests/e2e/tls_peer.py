#!/usr/bin/python3
"""A small line server with TLS for the tests and benchmarks of the TLS client.

    tls_peer.py --cert PEM --key KEY [--starttls [--inject]] [--stall] [--max-seconds N]

Listens on 127.0.0.1 at a free port and prints "PORT <n>". Each connection is served on its own
thread. With TLS from the first byte (the default) it greets "220 tls ready" once TLS is up; with
--starttls it greets "220 plain ready" in the clear, answers a "STARTTLS" line with "220 go ahead"
(followed at once by "250 injected" in the clear with --inject), and then starts TLS; an EHLO
before STARTTLS hears that STARTTLS is offered. --stall
accepts connections and never says or answers anything. Over TLS it understands:

    EHLO name   "250 tls"
    ECHO text   "250 text"
    SEND n      n lines, line i being "<i> " and i % 200 letters chr(97 + i % 26), then "250 sent"
    DATA        lines up to "." alone; "250 <sha256 hex> <bytes>" of what came before it
    BULK n      n raw bytes, then "250 <n>"
    QUIT        "221 bye", close_notify, close
"""
import argparse
import hashlib
import socket
import ssl
import threading
import time


def read_plain_line(conn):
    line = b""
    while not line.endswith(b"\n"):
        byte = conn.recv(1)  # one byte at a time: nothing after the line is taken from the socket
        if not byte:
            break
        line += byte
    return line


def sent_lines(n):
    return b"".join(b"%d %s\r\n" % (i, bytes([97 + i % 26]) * (i % 200)) for i in range(n))


def serve_tls(tls):
    reader = tls.makefile("rb")
    while True:
        line = reader.readline()
        if not line:
            return
        command, _, arg = line.rstrip(b"\r\n").partition(b" ")
        if command == b"EHLO":
            tls.sendall(b"250 tls\r\n")
        elif command == b"ECHO":
            tls.sendall(b"250 " + arg + b"\r\n")
        elif command == b"SEND":
            tls.sendall(sent_lines(int(arg)) + b"250 sent\r\n")
        elif command == b"DATA":
            digest, size = hashlib.sha256(), 0
            for data in iter(reader.readline, b".\r\n"):
                digest.update(data)
                size += len(data)
            tls.sendall(b"250 %s %d\r\n" % (digest.hexdigest().encode(), size))
        elif command == b"BULK":
            left = int(arg)
            while left > 0:
                chunk = reader.read1(min(left, 1 << 20))
                if not chunk:
                    return
                left -= len(chunk)
            tls.sendall(b"250 %s\r\n" % arg)
        elif command == b"QUIT":
            tls.sendall(b"221 bye\r\n")
            tls.unwrap()
            return


def serve(conn, context, args):
    try:
        if args.stall:
            time.sleep(args.max_seconds)
            return
        if args.starttls:
            conn.sendall(b"220 plain ready\r\n")
            line = read_plain_line(conn).strip()
            if line.startswith(b"EHLO "):  # an SMTP client asks what is offered first
                conn.sendall(b"250-plain\r\n250 STARTTLS\r\n")
                line = read_plain_line(conn).strip()
            if line != b"STARTTLS":
                return
            conn.sendall(b"220 go ahead\r\n" + (b"250 injected\r\n" if args.inject else b""))
        tls = context.wrap_socket(conn, server_side=True)
        if not args.starttls:
            tls.sendall(b"220 tls ready\r\n")
        serve_tls(tls)
    except (OSError, ssl.SSLError, ValueError):
        pass  # the client under test refused us or went away: that is what many tests want
    finally:
        conn.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--starttls", action="store_true")
    parser.add_argument("--inject", action="store_true")
    parser.add_argument("--stall", action="store_true")
    parser.add_argument("--max-seconds", type=float, default=300)
    args = parser.parse_args()
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    listener = socket.create_server(("127.0.0.1", 0))
    print("PORT", listener.getsockname()[1], flush=True)
    listener.settimeout(args.max_seconds)
    deadline = time.monotonic() + args.max_seconds
    while time.monotonic() < deadline:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            break
        conn.settimeout(args.max_seconds)
        threading.Thread(target=serve, args=(conn, context, args), daemon=True).start()


if __name__ == "__main__":
    main()
