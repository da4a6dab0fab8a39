#!/usr/bin/env python3
"""A relay on 127.0.0.1 that puts a long line between the updater and the update site.

    delay.py <one-way ms> <lifetime s> <port file> <open file> <site port>...

For each site port it listens on a free loopback port (written to <port file>, one a line, in
the order of the site ports) and forwards every connection to 127.0.0.1:<site port>. Each chunk
reaches the other side <one-way ms> after it was read, in each direction, so one request and its
answer cost a round trip of twice that; there is no bandwidth limit. A new connection also pays
the round trip its handshake would cost on such a line: what the client sends first reaches the
site no earlier than one and a half round trips after the connection was accepted. Every
accepted connection appends "<site port>" to <open file>, so that a run can count the
connections it opened. Ends on SIGTERM, or by itself after <lifetime s>.
"""
import asyncio
import os
import signal
import sys

BLOCK = 64 * 1024
# Bytes a direction may hold in its line before it stops reading: far above what 50 ms of any
# local transfer holds, so it limits memory, not speed.
IN_FLIGHT = 64 * 1024 * 1024


class Line:
    """One direction of one connection: a queue of chunks, each with the moment it is due.

    The reader keeps reading while earlier chunks wait, so a chunk read at t leaves at t + delay
    whatever came before it; a sleep before each read would add the delay once per chunk."""

    def __init__(self, reader, writer, delay, not_before):
        self.reader, self.writer = reader, writer
        self.delay, self.not_before = delay, not_before
        self.queue = asyncio.Queue()
        self.held = 0
        self.room = asyncio.Event()

    def due(self):
        loop = asyncio.get_running_loop()
        return max(loop.time(), self.not_before) + self.delay

    async def take(self):
        try:
            while data := await self.reader.read(BLOCK):
                self.queue.put_nowait((self.due(), data))
                self.held += len(data)
                while self.held > IN_FLIGHT:
                    self.room.clear()
                    await self.room.wait()
        except ConnectionError:
            pass
        finally:
            self.queue.put_nowait((self.due(), b""))

    async def give(self):
        loop = asyncio.get_running_loop()
        try:
            while True:
                due, data = await self.queue.get()
                if (wait := due - loop.time()) > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if self.writer.can_write_eof():
                        self.writer.write_eof()
                    return
                self.writer.write(data)
                self.held -= len(data)
                self.room.set()
                await self.writer.drain()
        except ConnectionError:
            self.writer.transport.abort()


async def main():
    delay = float(sys.argv[1]) / 1000
    lifetime = float(sys.argv[2])
    port_file, open_file = sys.argv[3], sys.argv[4]
    site_ports = [int(port) for port in sys.argv[5:]]
    opened = open(open_file, "a", buffering=1)
    tasks = set()

    def serve_for(site_port):
        async def serve(client_reader, client_writer):
            accepted = asyncio.get_running_loop().time()
            opened.write(f"{site_port}\n")
            try:
                site_reader, site_writer = await asyncio.open_connection("127.0.0.1", site_port)
            except OSError:
                client_writer.close()
                return
            # The client's first bytes would leave only once its handshake came back: one round trip.
            up = Line(client_reader, site_writer, delay, accepted + 2 * delay)
            down = Line(site_reader, client_writer, delay, accepted)
            work = [asyncio.create_task(step) for step in (up.take(), up.give(), down.take(), down.give())]
            tasks.update(work)
            try:
                await asyncio.gather(*work, return_exceptions=True)
            except asyncio.CancelledError:
                pass  # the relay is ending
            finally:
                tasks.difference_update(work)
                site_writer.close()
                client_writer.close()

        return serve

    servers = [await asyncio.start_server(serve_for(port), "127.0.0.1", 0) for port in site_ports]
    with open(port_file + ".tmp", "w") as out:
        for server in servers:
            out.write(f"{server.sockets[0].getsockname()[1]}\n")
    # Renamed into place so that a reader never sees half of the list.
    os.replace(port_file + ".tmp", port_file)
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    try:
        await asyncio.wait_for(stop.wait(), lifetime)
    except asyncio.TimeoutError:
        pass
    for server in servers:
        server.close()
    for task in list(tasks):
        task.cancel()


if __name__ == "__main__":
    asyncio.run(main())
