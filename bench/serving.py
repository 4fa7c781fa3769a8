"""What the benchmark's servers share: serve on a listening asyncio server until SIGTERM,
SIGINT or max_seconds, after printing "PORT n" for the script that started it."""
import asyncio
import signal


async def serve_until_stopped(server, max_seconds):
    done = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, done.set)
    loop.call_later(max_seconds, done.set)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    await done.wait()
    server.close()
