#!/usr/bin/python3
"""A TCP relay on 127.0.0.1 that adds a network delay, for benchmarks.

Listens on 127.0.0.1, prints "PORT <n>" once it accepts connections, and relays every
connection to --target (host:port). Each chunk it reads is written on the other side half the
round trip (--rtt-ms) later, in both directions, so a reply costs a whole round trip while a
stream still flows at full speed. It counts connections and round trips (a client send that
follows bytes from the server) and writes "<connections> <round trips>" to --stats as it goes.
Stops on SIGTERM or SIGINT, or after --max-seconds.
"""

import argparse
import asyncio
import os
import sys

from serving import serve_until_stopped

BLOCK = 1 << 16


class Stats:
    def __init__(self, path):
        self.path = path
        self.connections = 0
        self.round_trips = 0

    def save(self):
        partial = self.path + ".part"
        with open(partial, "w") as f:
            f.write("%d %d\n" % (self.connections, self.round_trips))
        os.replace(partial, self.path)


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
            on_chunk()
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
    turn = {"server_spoke": True}

    def client_chunk():
        if turn["server_spoke"]:
            turn["server_spoke"] = False
            stats.round_trips += 1
            stats.save()

    def server_chunk():
        turn["server_spoke"] = True

    await asyncio.gather(pump(client_reader, server_writer, delay, client_chunk),
                         pump(server_reader, client_writer, delay, server_chunk))
    client_writer.close()
    server_writer.close()


async def serve(args):
    stats = Stats(args.stats)
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
    parser.add_argument("--max-seconds", type=float, default=1800)
    asyncio.run(serve(parser.parse_args()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
