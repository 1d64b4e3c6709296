"""Receives an amplifier's sample notifications with Bleak's start_notify, as
a Python application would, and answers the end-to-end benchmark's requests
on standard input (the protocol of ReceiverProtocol.h).

    python3 bleak_receiver.py ADDRESS
"""

import asyncio
import os
import resource
import sys
import time

from bleak import BleakClient, BleakScanner

SAMPLES = "b5211406-449f-4ba0-a651-b887924b81e8"
SET_UP_SECONDS = 20.0


class Tally:
    """Counts notifications; notes when the count reaches the target."""

    def __init__(self):
        self.received = 0
        self.target = 0
        self.reached_ns = 0

    def on_notification(self, _sender, _data):
        self.received += 1
        if self.received == self.target:
            self.reached_ns = time.monotonic_ns()


def cpu_us():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return round((usage.ru_utime + usage.ru_stime) * 1e6)


def answer(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def handle_request(request, tally):
    words = request.split()
    if len(words) == 2 and words[0] == "target" and words[1].isdigit():
        tally.target = int(words[1])
        tally.reached_ns = time.monotonic_ns() if tally.received >= tally.target else 0
        answer("ok")
    elif request == "report":
        answer(
            f"received {tally.received} synthesised 0 reached_ns {tally.reached_ns} "
            f"cpu_us {cpu_us()}"
        )
    else:
        answer("error unknown request")


async def serve_requests(tally):
    """Answers requests until standard input ends."""
    loop = asyncio.get_running_loop()
    ended = asyncio.Event()
    pending = bytearray()
    stdin = sys.stdin.fileno()

    def readable():
        data = os.read(stdin, 256)
        if not data:
            loop.remove_reader(stdin)
            ended.set()
            return
        pending.extend(data)
        while b"\n" in pending:
            line, _, rest = pending.partition(b"\n")
            pending[:] = rest
            handle_request(line.decode(), tally)

    loop.add_reader(stdin, readable)
    await ended.wait()


async def main(address):
    device = await BleakScanner.find_device_by_address(address, timeout=SET_UP_SECONDS)
    if device is None:
        print(f"bleak receiver: {address} not found", file=sys.stderr)
        return 1
    tally = Tally()
    async with BleakClient(device, timeout=SET_UP_SECONDS) as client:
        await client.start_notify(SAMPLES, tally.on_notification)
        deadline = time.monotonic() + SET_UP_SECONDS
        while tally.received == 0:
            if time.monotonic() > deadline:
                print("bleak receiver: no notification arrived", file=sys.stderr)
                return 1
            await asyncio.sleep(0.005)
        answer("ready")
        await serve_requests(tally)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(f"usage: {sys.argv[0]} ADDRESS", file=sys.stderr)
        sys.exit(2)
    sys.exit(asyncio.run(main(sys.argv[1])))
