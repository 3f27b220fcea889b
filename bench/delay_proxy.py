#!/usr/bin/env python3
"""A loopback TCP proxy that delays every chunk, for the receive benchmarks.

  delay_proxy.py TARGET_PORT STATE_DIR

Listens on a free loopback port and writes its number to STATE_DIR/port once
it listens. Each client is connected to 127.0.0.1:TARGET_PORT, and every
chunk read in either direction is written on D ms after it was read, in
order, but without waiting for the chunks before it: a chunk read at t goes
out at t + D even while later chunks are in flight, so pipelined commands
stay pipelined and the round-trip time is 2 D. D is read from
STATE_DIR/delay_ms (milliseconds, 0 when missing) when a client connects, so
one proxy serves every delay of a run.

STATE_DIR/round_trips holds "ROUND_TRIPS CONNECTIONS", totals since start,
rewritten whenever they change. A connection costs one round trip for its
setup, and one more each time the client starts sending again after server
data has reached it (the client's next burst can only then depend on what the
server said). The count is updated when the client's chunk reaches the proxy,
before the server can answer it, so it is complete as soon as the client has
finished. (A client that writes one burst in pieces further apart than the
round-trip time is counted once per piece that follows an answer.)
"""
import asyncio
import os
import sys

CHUNK_BYTES = 64 * 1024


class Totals:
    def __init__(self, state_dir):
        self.path = os.path.join(state_dir, "round_trips")
        self.round_trips = 0
        self.connections = 0
        self.save()

    def save(self):
        temp = self.path + ".tmp"
        with open(temp, "w") as f:
            f.write("%d %d\n" % (self.round_trips, self.connections))
        os.replace(temp, self.path)


def read_delay(state_dir):
    try:
        with open(os.path.join(state_dir, "delay_ms")) as f:
            return float(f.read().strip() or 0) / 1000.0
    except FileNotFoundError:
        return 0.0


async def pump(reader, writer, delay, on_chunk, on_delivered):
    """Copies reader to writer, each chunk `delay` seconds after it was read.

    The reading side queues (due time, chunk) and goes on reading; the writing
    side sleeps until the head's due time, so chunks keep their order and
    their own delays. End of stream is passed on the same way.
    """
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()
            on_delivered()

    delivery = asyncio.ensure_future(deliver())
    try:
        while True:
            data = await reader.read(CHUNK_BYTES)
            if data:
                on_chunk()
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                break
        await delivery
    except (ConnectionError, OSError):
        delivery.cancel()


async def serve(target_port, state_dir):
    totals = Totals(state_dir)

    async def handle(client_reader, client_writer):
        delay = read_delay(state_dir)
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        totals.connections += 1
        totals.round_trips += 1
        totals.save()
        # True once server data has reached the client since its last chunk.
        answered = [False]

        def client_chunk():
            if answered[0]:
                answered[0] = False
                totals.round_trips += 1
                totals.save()

        def server_delivered():
            answered[0] = True

        await asyncio.gather(
            pump(client_reader, server_writer, delay, client_chunk, lambda: None),
            pump(server_reader, client_writer, delay, lambda: None, server_delivered),
            return_exceptions=True)
        for writer in (client_writer, server_writer):
            writer.close()

    server = await asyncio.start_server(handle, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    temp = os.path.join(state_dir, "port.tmp")
    with open(temp, "w") as f:
        f.write("%d\n" % port)
    os.replace(temp, os.path.join(state_dir, "port"))
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(serve(int(sys.argv[1]), sys.argv[2]))
