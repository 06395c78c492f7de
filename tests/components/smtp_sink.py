#!/usr/bin/python3
"""A loopback SMTP server for the e-mail component tests.

Listens on 127.0.0.1 at a free port, prints "PORT <n>" once it accepts connections, and writes each
message it receives to FOLDER as message-<n>.eml (the bytes as received, dot-stuffing undone) with
its envelope beside it as message-<n>.envelope.json. Refuses recipients at refused.example with 550.
Exits when its parent goes away or after --lifetime seconds, so a crashed test leaves no server.
"""
import argparse
import itertools
import json
import os
import socket
import sys
import time

try:
    from aiosmtpd.controller import Controller
except ImportError:
    print("python3-aiosmtpd is not installed (Debian package python3-aiosmtpd)", flush=True)
    sys.exit(3)


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.numbers = itertools.count(1)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().endswith("@refused.example"):
            return "550 5.1.1 No such mailbox here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        number = next(self.numbers)
        stem = os.path.join(self.folder, "message-%d" % number)
        with open(stem + ".envelope.json", "w", encoding="utf-8") as stream:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos}, stream)
        # The message last, under a temporary name: its appearance means everything is there.
        with open(stem + ".partial", "wb") as stream:
            stream.write(envelope.original_content)
        os.rename(stem + ".partial", stem + ".eml")
        return "250 Message accepted for delivery"


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--lifetime", type=float, default=120.0)
    arguments = parser.parse_args()

    controller = Controller(Sink(arguments.folder), hostname="127.0.0.1", port=free_port())
    controller.start()
    print("PORT %d" % controller.port, flush=True)
    parent = os.getppid()
    deadline = time.monotonic() + arguments.lifetime
    try:
        while time.monotonic() < deadline and os.getppid() == parent:
            time.sleep(0.2)
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
