#!/usr/bin/python3
"""A TCP relay on 127.0.0.1 that adds a network delay, for benchmarks.

Listens on 127.0.0.1, prints "PORT <n>" once it accepts connections, and relays every
connection to --target (host:port). Each chunk it reads is written on the other side half the
round trip (--rtt-ms) later, in both directions, so a reply costs a whole round trip while a
stream still flows at full speed. It counts connections and round trips (a client send that
follows bytes from the server) and writes "<connections> <round trips> <messages>" to --stats as
it goes. A message is counted where its text ends (DATA's end mark after a 354, or a BDAT LAST
chunk), in sessions it can read (not under STARTTLS); --per-message FILE gets a line
"<message> <round trips>" for each, the round trips since the end of the one before.
Stops on SIGTERM or SIGINT, or after --max-seconds.
"""

import argparse
import asyncio
import os
import sys

from serving import serve_until_stopped

BLOCK = 1 << 16


class Stats:
    def __init__(self, path, per_message):
        self.path = path
        self.per_message = per_message
        self.connections = 0
        self.round_trips = 0
        self.messages = 0

    def save(self):
        partial = self.path + ".part"
        with open(partial, "w") as f:
            f.write("%d %d %d\n" % (self.connections, self.round_trips, self.messages))
        os.replace(partial, self.path)

    def message_ended(self, round_trips):
        self.messages += 1
        self.save()
        if self.per_message:
            with open(self.per_message, "a") as f:
                f.write("%d %d\n" % (self.messages, round_trips))


class MessageEnds:
    """Follows a session's client bytes far enough to see where each message's text ends:
    command lines, DATA's text after a 354 up to CRLF "." CRLF, BDAT chunks by their sizes.
    Under STARTTLS it can read nothing more and stops."""

    def __init__(self):
        self.pending = b""
        self.mode = "commands"  # or "text", "chunk", "blind"
        self.left = 0  # bytes of the chunk still to come
        self.last = False  # the chunk is the LAST one
        self.tail = b"\r\n"  # the text starts at a line start

    def server_replied(self, chunk):
        # RFC 5321 4.1.1.4: the text follows the 354; the client sends none before it.
        if self.mode == "commands" and any(line.startswith(b"354") for line in chunk.split(b"\r\n")):
            self.mode = "text"

    def client_sent(self, chunk):
        """The number of message texts that end in chunk."""
        ended = 0
        data = self.pending + chunk
        self.pending = b""
        while data and self.mode != "blind":
            if self.mode == "text":
                window = self.tail + data
                end = window.find(b"\r\n.\r\n")
                if end < 0:
                    self.tail = window[-4:]
                    return ended
                data = window[end + 5:]
                self.mode, self.tail = "commands", b"\r\n"
                ended += 1
            elif self.mode == "chunk":
                taken = min(self.left, len(data))
                self.left -= taken
                data = data[taken:]
                if self.left == 0:
                    self.mode = "commands"
                    ended += self.last
            else:
                line, found, rest = data.partition(b"\r\n")
                if not found:
                    self.pending = data
                    return ended
                data = rest
                words = line.split()
                verb = words[0].upper() if words else b""
                if verb == b"STARTTLS":
                    self.mode = "blind"
                elif verb == b"BDAT" and len(words) >= 2 and words[1].isdigit():
                    self.mode, self.left = "chunk", int(words[1])
                    self.last = len(words) == 3 and words[2].upper() == b"LAST"
                    if self.left == 0:
                        self.mode = "commands"
                        ended += self.last
        return ended


async def pump(reader, writer, delay, on_chunk):
    """Copies reader to writer, each chunk delay seconds after it arrived, in order."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, chunk = await queue.get()
            if chunk is None:
                break
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(chunk)
            await writer.drain()
        if writer.can_write_eof():
            try:
                writer.write_eof()
            except OSError:
                pass  # the other side has gone already

    sender = asyncio.create_task(deliver())
    RUNNING.add(sender)
    sender.add_done_callback(RUNNING.discard)
    try:
        while chunk := await reader.read(BLOCK):
            on_chunk(chunk)
            queue.put_nowait((loop.time() + delay, chunk))
    except ConnectionError:
        pass
    queue.put_nowait((loop.time() + delay, None))
    try:
        await sender
    except ConnectionError:
        pass


# The loop keeps only weak references to tasks: these keep the connections' tasks alive.
RUNNING = set()


async def relay(client_reader, client_writer, target, delay, stats):
    task = asyncio.current_task()
    RUNNING.add(task)
    task.add_done_callback(RUNNING.discard)
    host, port = target.rsplit(":", 1)
    try:
        server_reader, server_writer = await asyncio.open_connection(host, int(port))
    except OSError:
        client_writer.close()
        return
    stats.connections += 1
    stats.save()
    # The client's turn starts when it sends after the server has sent: one round trip.
    turn = {"server_spoke": True, "since_message": 0}
    ends = MessageEnds()

    def client_chunk(chunk):
        if turn["server_spoke"]:
            turn["server_spoke"] = False
            turn["since_message"] += 1
            stats.round_trips += 1
            stats.save()
        for _ in range(ends.client_sent(chunk)):
            stats.message_ended(turn["since_message"])
            turn["since_message"] = 0

    def server_chunk(chunk):
        turn["server_spoke"] = True
        ends.server_replied(chunk)

    await asyncio.gather(pump(client_reader, server_writer, delay, client_chunk),
                         pump(server_reader, client_writer, delay, server_chunk))
    client_writer.close()
    server_writer.close()


async def serve(args):
    stats = Stats(args.stats, args.per_message)
    stats.save()
    delay = args.rtt_ms / 2000.0
    server = await asyncio.start_server(
        lambda r, w: relay(r, w, args.target, delay, stats), "127.0.0.1", 0)
    await serve_until_stopped(server, args.max_seconds)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--target", required=True, help="host:port to relay to")
    parser.add_argument("--rtt-ms", type=float, default=0, help="round trip added, in milliseconds")
    parser.add_argument("--stats", required=True, help="file that holds connections and round trips")
    parser.add_argument("--per-message", help="file that gets each message's round trips, a line each")
    parser.add_argument("--max-seconds", type=float, default=1800)
    asyncio.run(serve(parser.parse_args()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
