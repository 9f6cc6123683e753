#!/usr/bin/python3
"""A TCP proxy on 127.0.0.1 that holds every chunk for a fixed delay in each
direction, to make a loopback server behave like one across a network.

    delay_proxy.py LISTEN_PORT TARGET_PORT DELAY_MS [KB_PER_S] [--log FILE]

With KB_PER_S, what the server sends also goes no faster than that, as over
a slow line. With --log, each piece the client sends is appended to FILE as
its length in decimal, a line end and its bytes, so a test can see which
commands went out together. LISTEN_PORT 0 takes a free port. Prints "ready"
once it listens ("ready PORT" for port 0). Runs until killed."""

import asyncio
import sys


async def pipe(reader, writer, delay, rate=0, log=None):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(65536)
            if log and data:
                log.write(b"%d\n" % len(data) + data)
                log.flush()
            await queue.put((loop.time() + delay, data))
            if not data:
                return

    async def send():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                writer.close()
                return
            writer.write(data)
            await writer.drain()
            if rate:
                await asyncio.sleep(len(data) / rate)

    try:
        await asyncio.gather(receive(), send())
    except (ConnectionError, asyncio.CancelledError):
        writer.close()


async def main():
    args = sys.argv[1:]
    log = None
    if "--log" in args:
        at = args.index("--log")
        log = open(args[at + 1], "ab")
        del args[at:at + 2]
    listen, target, delay = int(args[0]), int(args[1]), float(args[2]) / 1000
    rate = float(args[3]) * 1024 if len(args) > 3 else 0

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pipe(client_reader, server_writer, delay, log=log),
                             pipe(server_reader, client_writer, delay, rate),
                             return_exceptions=True)

    server = await asyncio.start_server(handle, "127.0.0.1", listen)
    port = server.sockets[0].getsockname()[1]
    print("ready %d" % port if listen == 0 else "ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
