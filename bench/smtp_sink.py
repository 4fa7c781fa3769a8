#!/usr/bin/python3
"""An SMTP server for benchmarks that accepts every message and keeps none of it.

Listens on 127.0.0.1, prints "PORT <n>" once it accepts connections, answers every command
with a success reply and reads DATA in large blocks up to the end mark (RFC 5321 4.1.1.4:
CRLF "." CRLF), so that it costs far less than the clients it measures. It counts the messages
in memory and rewrites --stats with "<messages> <bytes>" at the end of each session: before its
reply to QUIT, so a client that has its 221 finds the file current, else once the client has
gone (a file written and renamed after every message cost more than the rest of the sink's
work on a message, and its time on the disk varied from run to run). It offers PIPELINING
(RFC 2920), which answering one line after another already honours; with --chunking also
CHUNKING (RFC 3030), reading each BDAT chunk's bytes as counted and answering every chunk; with
--cert and --key also STARTTLS, and after it AUTH PLAIN and LOGIN, taking any login. Stops on
SIGTERM or SIGINT, or after --max-seconds.
"""

import argparse
import asyncio
import os
import ssl
import sys

from serving import serve_until_stopped

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

    def save(self):
        partial = self.path + ".part"
        with open(partial, "w") as f:
            f.write("%d %d\n" % (self.messages, self.bytes))
        os.replace(partial, self.path)


class Input:
    """The client's bytes, with those read past the end of a text kept for the commands after it
    (RFC 2920: a pipelining client sends the next envelope right behind the end mark)."""

    def __init__(self, reader):
        self.reader = reader
        self.pending = b""

    async def read(self, count):
        if not self.pending:
            return await self.reader.read(count)
        block, self.pending = self.pending[:count], self.pending[count:]
        return block

    async def readline(self):
        end = self.pending.find(b"\n")
        if end >= 0:
            line, self.pending = self.pending[:end + 1], self.pending[end + 1:]
            return line
        line, self.pending = self.pending, b""
        return line + await self.reader.readline()

    def unread(self, data):
        self.pending = data + self.pending

    def waiting(self):
        """True when more of the client's bytes are here already (StreamReader has no public
        count of those it holds)."""
        return bool(self.pending) or bool(self.reader._buffer)


class Replies:
    """The replies to a pipelined group go out together once its last command is read, as RFC
    2920 3 asks of a server: one send, and one wake-up of the client, for the end of a text and
    the next envelope behind it. A client that waits for each reply gets each at once."""

    def __init__(self, writer):
        self.writer = writer
        self.held = []

    def add(self, reply):
        self.held.append(reply)

    async def flush(self):
        if self.held:
            self.writer.write(b"".join(self.held))
            self.held.clear()
        await self.writer.drain()


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
            reader.unread(window[end + len(END_MARK):])
            return size + end
        size += len(block)
        tail = window[-4:]


async def read_chunk(reader, size):
    """Reads and drops the size bytes of a BDAT chunk, a block at a time."""
    left = size
    while left > 0:
        block = await reader.read(min(left, BLOCK))
        if not block:
            raise ConnectionError("closed inside BDAT")
        left -= len(block)


def bdat_arguments(line):
    """RFC 3030 2: "BDAT" SP size [SP "LAST"]; (size, last), or None for a malformed command."""
    words = line.split()
    if len(words) not in (2, 3) or not words[1].isdigit() or (len(words) == 3 and words[2].upper() != b"LAST"):
        return None
    return int(words[1]), len(words) == 3


def extensions(tls_context, encrypted, chunking):
    lines = [b"sink", b"PIPELINING"] + ([b"CHUNKING"] if chunking else [])
    if tls_context and not encrypted:
        lines.append(b"STARTTLS")
    if encrypted:
        lines.append(b"AUTH PLAIN LOGIN")
    lines.append(b"8BITMIME")
    return b"".join(b"250-" + line + b"\r\n" for line in lines[:-1]) + b"250 " + lines[-1] + b"\r\n"


async def session(stream, writer, stats, tls_context, chunking):
    reader = Input(stream)
    replies = Replies(writer)
    writer.write(b"220 sink ready\r\n")
    encrypted = False
    chunked = 0  # bytes of the message in BDAT chunks so far
    try:
        while True:
            line = await reader.readline()
            if not line:
                break
            verb = line[:4].upper()
            if verb == b"EHLO":
                replies.add(extensions(tls_context, encrypted, chunking))
            elif verb == b"STAR" and tls_context and not encrypted:
                replies.add(b"220 go ahead\r\n")
                await replies.flush()
                await writer.start_tls(tls_context)
                encrypted = True
                continue
            elif verb == b"AUTH":
                replies.add(b"235 2.7.0 accepted\r\n")
            elif verb == b"DATA":
                replies.add(b"354 end with <CRLF>.<CRLF>\r\n")
                await replies.flush()
                stats.add(await read_data(reader))
                replies.add(b"250 accepted\r\n")
            elif verb == b"BDAT" and chunking and (bdat := bdat_arguments(line)) is not None:
                size, last = bdat
                await read_chunk(reader, size)
                chunked += size
                if last:
                    stats.add(chunked)
                    chunked = 0
                replies.add(b"250 accepted\r\n" if last else b"250 chunk taken\r\n")
            elif verb == b"RSET":
                chunked = 0
                replies.add(b"250 ok\r\n")
            elif verb == b"QUIT":
                stats.save()
                replies.add(b"221 bye\r\n")
                await replies.flush()
                break
            else:
                replies.add(b"250 ok\r\n")
            if not reader.waiting():
                await replies.flush()
    except ConnectionError:
        pass
    finally:
        stats.save()
        writer.close()


async def serve(args):
    stats = Stats(args.stats)
    tls_context = None
    if args.cert:
        tls_context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls_context.load_cert_chain(args.cert, args.key)
    server = await asyncio.start_server(
        lambda r, w: session(r, w, stats, tls_context, args.chunking), "127.0.0.1", args.port, limit=BLOCK)
    await serve_until_stopped(server, args.max_seconds)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stats", required=True, help="file that holds the message count and bytes")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--max-seconds", type=float, default=3600)
    parser.add_argument("--chunking", action="store_true", help="offer CHUNKING: BDAT besides DATA")
    parser.add_argument("--cert", help="PEM certificate: offer STARTTLS and then AUTH")
    parser.add_argument("--key", help="its PEM key")
    asyncio.run(serve(parser.parse_args()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
