#!/usr/bin/python3
"""An SMTP server for benchmarks that accepts every message and keeps none of it.

Listens on 127.0.0.1, prints "PORT <n>" once it accepts connections, answers every command
with a success reply and reads DATA in large blocks up to the end mark (RFC 5321 4.1.1.4:
CRLF "." CRLF), so that it costs far less than the clients it measures. After each message it
rewrites --stats with "<messages> <bytes>". Stops on SIGTERM or SIGINT, or after --max-seconds.
With --tls-cert and --tls-key it offers STARTTLS (RFC 3207); with --auth USER:PASSWORD it
requires a login by AUTH PLAIN or LOGIN (RFC 4954) over TLS before MAIL.
"""

import argparse
import asyncio
import base64
import os
import signal
import ssl
import sys

END_MARK = b"\r\n.\r\n"
BLOCK = 1 << 20


class Stats:
    def __init__(self, path):
        self.path = path
        self.messages = 0
        self.bytes = 0

    def add(self, size):
        self.messages += 1
        self.bytes += size
        partial = self.path + ".part"
        with open(partial, "w") as f:
            f.write("%d %d\n" % (self.messages, self.bytes))
        os.replace(partial, self.path)


async def read_data(reader):
    """Reads the message text up to its end mark; returns its size."""
    size = 0
    tail = b"\r\n"  # the line end before DATA's reply counts as the start of a line
    while True:
        block = await reader.read(BLOCK)
        if not block:
            raise ConnectionError("closed inside DATA")
        window = tail + block
        end = window.find(END_MARK)
        if end >= 0:
            return size + end
        size += len(block)
        tail = window[-4:]


async def answer(reader, writer, challenge):
    writer.write(b"334 " + base64.b64encode(challenge) + b"\r\n")
    await writer.drain()
    return base64.b64decode((await reader.readline()).strip())


async def login(reader, writer, line, accounts):
    """The AUTH dialogue of PLAIN or LOGIN; True when the account is known."""
    words = line.split()
    mechanism = words[1].upper() if len(words) > 1 else b""
    given = base64.b64decode(words[2]) if len(words) > 2 else None
    if mechanism == b"PLAIN":
        _, user, password = (given if given is not None else await answer(reader, writer, b"")).split(b"\0")
    elif mechanism == b"LOGIN":
        user = given if given is not None else await answer(reader, writer, b"Username:")
        password = await answer(reader, writer, b"Password:")
    else:
        writer.write(b"504 5.5.4 Unrecognized authentication type\r\n")
        return False
    known = accounts.get(user.decode()) == password.decode()
    writer.write(b"235 2.7.0 Authentication successful\r\n" if known else b"535 5.7.8 Authentication credentials invalid\r\n")
    return known


def extensions(tls, accounts, encrypted):
    names = [b"sink", b"8BITMIME"]
    if tls and not encrypted:
        names.append(b"STARTTLS")
    if accounts and encrypted:
        names.append(b"AUTH PLAIN LOGIN")
    return b"".join(b"250-" + name + b"\r\n" for name in names[:-1]) + b"250 " + names[-1] + b"\r\n"


async def session(reader, writer, stats, tls, accounts):
    writer.write(b"220 sink ready\r\n")
    encrypted, logged_in = False, not accounts
    try:
        while True:
            line = await reader.readline()
            if not line:
                break
            verb = line[:4].upper()
            if verb == b"EHLO":
                writer.write(extensions(tls, accounts, encrypted))
            elif line.rstrip().upper() == b"STARTTLS" and tls and not encrypted:
                writer.write(b"220 go ahead\r\n")
                await writer.drain()
                await writer.start_tls(tls)
                encrypted = True
            elif verb == b"AUTH" and encrypted and not logged_in:
                logged_in = await login(reader, writer, line, accounts)
            elif verb == b"MAIL" and not logged_in:
                writer.write(b"530 5.7.0 Authentication required\r\n")
            elif verb == b"DATA":
                writer.write(b"354 end with <CRLF>.<CRLF>\r\n")
                await writer.drain()
                stats.add(await read_data(reader))
                writer.write(b"250 accepted\r\n")
            elif verb == b"QUIT":
                writer.write(b"221 bye\r\n")
                await writer.drain()
                break
            else:
                writer.write(b"250 ok\r\n")
            await writer.drain()
    except (ConnectionError, ssl.SSLError, ValueError):
        pass
    finally:
        writer.close()


async def serve(args):
    stats = Stats(args.stats)
    tls = None
    if args.tls_cert:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(args.tls_cert, args.tls_key)
    accounts = dict(pair.split(":", 1) for pair in args.auth)
    server = await asyncio.start_server(
        lambda r, w: session(r, w, stats, tls, accounts), "127.0.0.1", args.port, limit=BLOCK)
    done = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, done.set)
    loop.call_later(args.max_seconds, done.set)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    await done.wait()
    server.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stats", required=True, help="file that holds the message count and bytes")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--max-seconds", type=float, default=3600)
    parser.add_argument("--tls-cert", metavar="PEM", help="certificate offered with STARTTLS")
    parser.add_argument("--tls-key", metavar="KEY", help="its private key")
    parser.add_argument("--auth", action="append", default=[], metavar="USER:PASSWORD",
                        help="require a login with this account (repeatable)")
    asyncio.run(serve(parser.parse_args()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
