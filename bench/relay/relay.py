#!/usr/bin/env python3
"""A relay on 127.0.0.1 between the updater and the update site: a long line, a dropped one, or both.

    relay.py --ports FILE [--delay-ms MS] [--break-after BYTES] [--opened FILE] [--report FILE]
             [--lifetime S] SITE_PORT...

For each site port it listens on a free loopback port (written to --ports, one a line, in the order
of the site ports) and forwards every connection to 127.0.0.1:SITE_PORT.

--delay-ms: each chunk reaches the other side that long after it was read, in each direction, so a
request and its answer cost a round trip of twice that; there is no bandwidth limit. A new
connection also pays the round trip its handshake would cost on such a line: what the client sends
first reaches the site no earlier than one and a half round trips after the connection was accepted.
--break-after: the first connection whose answers reach that many bytes is closed at that byte, both
ways, as a dropped line would close it; every other connection is forwarded whole.
--opened: every accepted connection appends "SITE_PORT" to it, so a run can count its connections.
--report: on SIGTERM, "bytes=N connections=M broken=0|1" (bytes passed to clients) is written there.
Ends on SIGTERM, or by itself after --lifetime seconds.
"""
import argparse
import asyncio
import os
import signal

BLOCK = 64 * 1024
# Bytes a direction may hold in its line before it stops reading: far above what 50 ms of any
# local transfer holds, so it limits memory, not speed.
IN_FLIGHT = 64 * 1024 * 1024


class Relay:
    def __init__(self, options):
        self.delay = options.delay_ms / 1000
        self.break_after = options.break_after
        self.passed = 0
        self.connections = 0
        self.broken = False
        self.opened = open(options.opened, "a", buffering=1) if options.opened else None
        self.tasks = set()

    def cut_at(self, data, passed):
        """The part of an answer's chunk that still passes, and whether the line drops after it."""
        if self.break_after is None or self.broken or passed + len(data) < self.break_after:
            return data, False
        self.broken = True
        return data[: self.break_after - passed], True


class Line:
    """One direction of one connection: a queue of chunks, each with the moment it is due.

    The reader keeps reading while earlier chunks wait, so a chunk read at t leaves at t + delay
    whatever came before it; a sleep before each read would add the delay once per chunk."""

    def __init__(self, relay, reader, writer, not_before, down, peers):
        self.relay, self.reader, self.writer = relay, reader, writer
        self.not_before, self.down, self.peers = not_before, down, peers
        self.queue = asyncio.Queue()
        self.held = 0
        self.room = asyncio.Event()

    def due(self):
        return max(asyncio.get_running_loop().time(), self.not_before) + self.relay.delay

    async def take(self):
        passed = 0
        try:
            while data := await self.reader.read(BLOCK):
                drop = False
                if self.down:
                    data, drop = self.relay.cut_at(data, passed)
                    passed += len(data)
                self.queue.put_nowait((self.due(), data, drop))
                self.held += len(data)
                if drop:
                    return
                while self.held > IN_FLIGHT:
                    self.room.clear()
                    await self.room.wait()
        except ConnectionError:
            pass
        finally:
            self.queue.put_nowait((self.due(), b"", False))

    async def give(self):
        loop = asyncio.get_running_loop()
        try:
            while True:
                due, data, drop = await self.queue.get()
                if (wait := due - loop.time()) > 0:
                    await asyncio.sleep(wait)
                if data:
                    self.writer.write(data)
                    self.held -= len(data)
                    if self.down:
                        self.relay.passed += len(data)
                    self.room.set()
                    await self.writer.drain()
                if drop:
                    for peer in self.peers:
                        peer.transport.abort()
                    return
                if not data:
                    if self.writer.can_write_eof():
                        self.writer.write_eof()
                    return
        except ConnectionError:
            self.writer.transport.abort()


def serve_for(relay, site_port):
    async def serve(client_reader, client_writer):
        accepted = asyncio.get_running_loop().time()
        relay.connections += 1
        if relay.opened:
            relay.opened.write(f"{site_port}\n")
        try:
            site_reader, site_writer = await asyncio.open_connection("127.0.0.1", site_port)
        except OSError:
            client_writer.close()
            return
        peers = (client_writer, site_writer)
        # The client's first bytes would leave only once its handshake came back: one round trip.
        up = Line(relay, client_reader, site_writer, accepted + 2 * relay.delay, False, peers)
        down = Line(relay, site_reader, client_writer, accepted, True, peers)
        work = [asyncio.create_task(step) for step in (up.take(), up.give(), down.take(), down.give())]
        relay.tasks.update(work)
        try:
            await asyncio.gather(*work, return_exceptions=True)
        except asyncio.CancelledError:
            pass  # the relay is ending
        finally:
            relay.tasks.difference_update(work)
            site_writer.close()
            client_writer.close()

    return serve


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ports", required=True)
    parser.add_argument("--delay-ms", type=float, default=0)
    parser.add_argument("--break-after", type=int)
    parser.add_argument("--opened")
    parser.add_argument("--report")
    parser.add_argument("--lifetime", type=float, default=6 * 3600)
    parser.add_argument("site_ports", type=int, nargs="+")
    options = parser.parse_args()
    relay = Relay(options)
    servers = [await asyncio.start_server(serve_for(relay, port), "127.0.0.1", 0) for port in options.site_ports]
    with open(options.ports + ".tmp", "w") as out:
        for server in servers:
            out.write(f"{server.sockets[0].getsockname()[1]}\n")
    # Renamed into place so that a reader never sees half of the list.
    os.replace(options.ports + ".tmp", options.ports)
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    try:
        await asyncio.wait_for(stop.wait(), options.lifetime)
    except asyncio.TimeoutError:
        pass
    for server in servers:
        server.close()
    for task in list(relay.tasks):
        task.cancel()
    if options.report:
        with open(options.report, "w") as out:
            out.write(f"bytes={relay.passed} connections={relay.connections} broken={int(relay.broken)}\n")


if __name__ == "__main__":
    asyncio.run(main())
