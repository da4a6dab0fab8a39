#!/usr/bin/env python3
"""A relay on 127.0.0.1 between the updater and the update site that breaks one transfer.

    relay.py <site port> <break after bytes> <port file> <report file>

Listens on a free loopback port (written to <port file>) and forwards every connection to the
site on 127.0.0.1:<site port>. The first connection whose answers reach <break after bytes>
is closed at that byte, both ways, as a dropped line would close it; every other connection is
forwarded whole. On SIGTERM it writes the bytes it passed to the client, all connections
together, to <report file> ("bytes=N connections=M broken=0|1") and ends.
"""
import asyncio
import signal
import sys

BLOCK = 256 * 1024


async def main():
    site_port = int(sys.argv[1])
    break_after = int(sys.argv[2])
    port_file, report_file = sys.argv[3], sys.argv[4]
    state = {"down": 0, "connections": 0, "broken": False}

    async def forward_up(reader, writer):
        try:
            while data := await reader.read(BLOCK):
                writer.write(data)
                await writer.drain()
        except (ConnectionError, asyncio.CancelledError):
            pass
        finally:
            writer.close()

    async def forward_down(reader, writer, peers):
        passed = 0
        try:
            while data := await reader.read(BLOCK):
                if not state["broken"] and passed + len(data) >= break_after:
                    data = data[: break_after - passed]
                    state["broken"] = True
                    writer.write(data)
                    state["down"] += len(data)
                    await writer.drain()
                    for peer in peers:
                        peer.close()
                    return
                passed += len(data)
                state["down"] += len(data)
                writer.write(data)
                await writer.drain()
        except (ConnectionError, asyncio.CancelledError):
            pass
        finally:
            writer.close()

    async def serve(client_reader, client_writer):
        state["connections"] += 1
        try:
            site_reader, site_writer = await asyncio.open_connection("127.0.0.1", site_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(
            forward_up(client_reader, site_writer),
            forward_down(site_reader, client_writer, (client_writer, site_writer)),
        )

    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    with open(port_file, "w") as out:
        out.write(f"{server.sockets[0].getsockname()[1]}\n")
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    async with server:
        await stop.wait()
    with open(report_file, "w") as out:
        out.write(f"bytes={state['down']} connections={state['connections']} broken={int(state['broken'])}\n")


if __name__ == "__main__":
    asyncio.run(main())
