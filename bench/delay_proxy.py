#!/usr/bin/python3
"""A TCP proxy on 127.0.0.1 that holds every chunk for a fixed delay in each
direction, to make a loopback server behave like one across a network.

    delay_proxy.py LISTEN_PORT TARGET_PORT DELAY_MS [KB_PER_S]

With KB_PER_S, what the server sends also goes no faster than that, as over
a slow line. Prints "ready" once it listens. Runs until killed."""

import asyncio
import sys


async def pipe(reader, writer, delay, rate=0):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(65536)
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
    listen, target, delay = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]) / 1000
    rate = float(sys.argv[4]) * 1024 if len(sys.argv) > 4 else 0

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pipe(client_reader, server_writer, delay),
                             pipe(server_reader, client_writer, delay, rate),
                             return_exceptions=True)

    server = await asyncio.start_server(handle, "127.0.0.1", listen)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
