#!/usr/bin/env python3
"""Writes the seed inputs of t83fuzz into fuzz/corpus/ (run from anywhere).

An input is the received bytes followed by the schedule reversed: t83fuzz takes bytes
from the front and schedule steps from the back. Each seed below is a list of steps;
received bytes are fed in chunks of at most 16 unless a step says otherwise.
"""
import os
import shutil

# Schedule opcodes (the step byte modulo 16), as fuzz_link.cpp reads them.
FEED_BIG, RUN, FIRE, FIRE_ARMED, DISPLAY, CAPTURE, LINE, MODULE = range(8, 16)
TIMER6, VERSION_WAIT, TIMER1, TIMER2, TIMER4, TIMER5, SILENCE = range(7)
UNPLUG, REOPEN, OPEN, DSR = 0, 1, 2, 3
PROBE_AFTER, BUSY, NO_SUCH_PORT = 0x10, 0x20, 0x40
PROBE, REFRESH_READ, REFRESH_POLL, COMMAND_BUSY, MODAL, QUIESCE = range(6)
# The capture step's argument: the silence runs out, the window opens or closes, the file
# that ended is saved (or given up).
SILENCE_RUNS_OUT, OPEN_OR_CLOSE, SAVED = range(3)


class Seed:
    def __init__(self):
        self.data = bytearray()
        self.schedule = bytearray()

    def recv(self, data, chunk=16):
        data = bytes(data)
        for i in range(0, len(data), chunk):
            part = data[i:i + chunk]
            self.data += part
            self.schedule.append((len(part) - 1) << 4)
        return self

    def recv_big(self, data):
        # One arrival of 4a + 17 bytes (padded with zeros to that size).
        a = max(0, (len(data) - 17 + 3) // 4)
        size = 4 * a + 17
        self.data += bytes(data) + bytes(size - len(data))
        self.schedule += bytes([FEED_BIG, a])
        return self

    def run(self, value, count):
        self.schedule += bytes([RUN, value, count])
        return self

    def op(self, *steps):
        self.schedule += bytes(steps)
        return self

    def fire(self, timer):
        return self.op(FIRE, timer)

    def bytes(self):
        return bytes(self.data) + bytes(reversed(self.schedule))


def hx(text):
    return bytes.fromhex(text.replace(" ", ""))


def header(name, length):
    return bytes([0xD7, len(name)]) + name + b"*" + length.to_bytes(4, "big")


seeds = {}

# Every listed reply, whole and byte by byte.
replies = {
    "ef": "D7EF 229100 235000", "f4": "D7F4 0001", "e3": "D7E3 0002", "e8": "D7E8 03",
    "a2": "D7A2 0102", "d2-00": "D7D2 00", "d2-ff": "D7D2 FF", "d2-other": "D7D2 5A",
    "d5": "D7D5 FF", "b7": "D7B7 00", "c6": "D7C6 01020304", "e6": "D7E6 5A",
    "ab": "D7AB 01", "a8": "D7A8 00", "f7": "D7F7", "fa": "D7FA", "fd": "D7FD", "ff": "D7FF",
}
for name, frame in replies.items():
    seeds["reply-" + name] = Seed().recv(hx(frame))
    seeds["reply-" + name + "-bytewise"] = Seed().recv(hx(frame), chunk=1)
seeds["reply-all-in-one"] = Seed().recv(b"".join(hx(f) for f in replies.values()), chunk=16)

# The version: eleven bytes at once, eleven byte by byte, ten then the quiet line.
seeds["version-11"] = Seed().recv(hx("D7EC") + b"T83 V1.0 AB")
seeds["version-11-bytewise"] = Seed().recv(hx("D7EC") + b"T83 V1.0 AB", chunk=1)
seeds["version-10"] = Seed().recv(hx("D7EC") + b"T83 V1.0 A").fire(VERSION_WAIT)
seeds["version-10-then-reply"] = (Seed().recv(hx("D7EC") + b"T83 V1.0 A")
                                  .fire(VERSION_WAIT).recv(hx("D7E803")))

# Switch-port replies for ports 0-7 (the last writes portstate.dat) and beyond.
for port in list(range(8)) + [8, 0x7F, 0xFF]:
    seeds["port-%02x" % port] = Seed().recv(bytes([0xD7, 0xD8, port, 0xF0, 0x01]))
seeds["port-poll"] = Seed().op(LINE, DSR)
for port in range(8):
    seeds["port-poll"].fire(TIMER5).recv(bytes([0xD7, 0xD8, port, port * 16, 0]))
seeds["port-poll"].fire(TIMER5)

# Unlisted codes: with bytes after them, with none, and one inside another reply.
seeds["unlisted-55"] = Seed().recv(hx("D755 0102")).fire(TIMER6)
seeds["unlisted-alone"] = Seed().recv(hx("D755")).fire(TIMER6).recv(hx("D7FD"))
seeds["unlisted-00-late"] = Seed().recv(hx("D700")).recv(hx("01 02 03")).fire(TIMER6)
seeds["unlisted-d7"] = Seed().recv(hx("D7D7 D7FD")).fire(TIMER6)
seeds["unlisted-then-capture"] = Seed().recv(hx("D7 99 01")).op(CAPTURE, 1).fire(TIMER6)

# Start-up as the module answers it: probe answered, the read cycle, the poll.
cycle = Seed().recv(hx("D7FD"))
answers = ["D7EF 229100 235000", "D7F4 0001", "D7E3 0002", "D7E8 03", "D7A2 0102",
           "D7EC 543833205631 2E30204142", "D7D2 00", "D7D5 FF", "D7B7 00", "D7AB 00",
           "D7A8 01"]
for answer in answers:
    cycle.fire(TIMER2).recv(hx(answer))
seeds["read-cycle"] = cycle.fire(TIMER2).fire(TIMER4).op(MODULE, QUIESCE)
seeds["probe-timeout"] = Seed().fire(TIMER1).op(MODULE, PROBE).recv(hx("D7FD"))
seeds["refresh-busy"] = (Seed().op(MODULE, COMMAND_BUSY).recv(hx("D7FD"))
                         .op(MODULE, REFRESH_READ, MODULE, REFRESH_POLL, FIRE_ARMED))

# Character display: replies are not parsed; GBK split over arrivals; back to hex.
seeds["text-display"] = (Seed().op(DISPLAY).recv(hx("D7FD 41 CEC4")).recv(hx("BC FE"))
                         .op(DISPLAY).recv(hx("D7FD")))
seeds["text-switch-mid-reply"] = (Seed().recv(hx("D7EF 2291")).op(DISPLAY)
                                  .recv(hx("00 235000 41")).op(DISPLAY).recv(hx("D7FD")))

# A reply cut off by a lost line, then the port reopened and the module answering.
for name, cut in {"version": "D7EC 4142", "ef": "D7EF 22", "lone-d7": "D7",
                  "unlisted": "D755 01"}.items():
    seeds["lost-" + name] = (Seed().recv(hx(cut)).op(LINE, UNPLUG)
                             .op(LINE, REOPEN | PROBE_AFTER).recv(hx("D7FD")))
    seeds["reopen-" + name] = (Seed().recv(hx(cut)).op(LINE, REOPEN | (1 << 2))
                               .recv(hx("D7FD")))
seeds["lost-read-cycle"] = (Seed().recv(hx("D7FD")).fire(TIMER2).recv(hx("D7EF 2291"))
                            .op(LINE, UNPLUG).fire(TIMER2).fire(TIMER2).op(FIRE_ARMED)
                            .op(LINE, REOPEN | PROBE_AFTER).recv(hx("D7FD")))
seeds["reopen-busy-and-missing"] = (Seed().op(LINE, REOPEN | BUSY, LINE, OPEN | NO_SUCH_PORT,
                                              LINE, OPEN, LINE, REOPEN | PROBE_AFTER)
                                    .recv(hx("D7FD")))
seeds["dsr-during-reply"] = (Seed().recv(hx("D7EF 22")).op(LINE, DSR).recv(hx("9100 2350"))
                             .op(LINE, DSR).recv(hx("00")))
seeds["modal-status"] = (Seed().op(MODULE, MODAL).recv(hx("D7F7 D7FF 41 D7FA 42"))
                         .recv(hx("D7D8 07 0000")))

# File capture: names of 0, 1 and 255 bytes; lengths 0, small, past the buffer.
LONG_NAME = bytes((0x41 + i % 26) for i in range(255))
for name, (file_name, length, data) in {
    "empty-name": (b"", 2, b"\x01\x02"),
    "one-byte-name": (b"x", 3, b"abc"),
    "gbk-name": ("文件.txt".encode("gbk"), 1, b"\xd7"),
    "comma-name": (b"a,b", 4, b"\xd7\xfd\xd7\xfd"),
    "length-0": (b"a.b", 0, b""),
}.items():
    seeds["capture-" + name] = (Seed().op(CAPTURE, 1).recv(header(file_name, length) + data)
                                .op(CAPTURE, 0).op(CAPTURE, 1))
seeds["capture-255-name"] = (Seed().op(CAPTURE, 1).recv_big(header(LONG_NAME, 5) + b"hello")
                             .op(CAPTURE, 0))
seeds["capture-255-name-bytewise"] = (Seed().op(CAPTURE, 1)
                                      .recv(header(LONG_NAME, 1) + b"z", chunk=1))
seeds["capture-over-buffer"] = (Seed().op(CAPTURE, 1).recv(header(b"big", 0xFFFFFFFF))
                                .run(0x55, 255).run(0xAA, 10).op(CAPTURE, 0))
seeds["capture-near-buffer"] = (Seed().op(CAPTURE, 1).recv(header(b"f", 1003001))
                                 .run(0xD7, 243).op(CAPTURE, 0))
seeds["capture-short-then-silence"] = (Seed().op(CAPTURE, 1).recv(header(b"s", 100))
                                       .recv(b"0123456789").fire(SILENCE).recv(hx("D7FD")))
seeds["capture-header-cut"] = (Seed().op(CAPTURE, 1).recv(hx("D7 05 61 2E")).op(CAPTURE, 1)
                               .recv(hx("62 69 6E D7FD")))
seeds["capture-bad-header"] = Seed().op(CAPTURE, 1).recv(hx("41 D7FD 42 43"))
seeds["capture-bad-header-text"] = (Seed().op(DISPLAY, CAPTURE, 1, MODULE, MODAL)
                                    .recv(hx("41 CEC4 BCFE")).op(DISPLAY))
seeds["capture-mid-reply"] = (Seed().recv(hx("D7EF 2291")).op(CAPTURE, 1)
                              .recv(header(b"m", 2) + b"xy").op(CAPTURE, 0, CAPTURE, 1)
                              .recv(hx("00 2350 00")))
seeds["capture-lost"] = (Seed().op(CAPTURE, 1).recv(header(b"l", 50) + b"part")
                         .op(LINE, UNPLUG).op(LINE, REOPEN).recv(b"rest").fire(SILENCE))
seeds["capture-two-files"] = (Seed().op(CAPTURE, 1).recv(header(b"1", 2) + b"ab")
                              .fire(SILENCE).recv(header(b"2", 3) + b"cde").fire(SILENCE))
# A file ends at its announced length; what follows waits until it is saved.
ONE = header(b"one.txt", 5) + b"12345"
TWO = header(b"two.txt", 5) + b"abcde"
seeds["capture-back-to-back"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE).recv(ONE + TWO)
                                 .op(CAPTURE, SAVED).op(CAPTURE, SAVED))
seeds["capture-next-while-unsaved"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE).recv(ONE)
                                       .recv(TWO, chunk=3).fire(SILENCE).op(CAPTURE, SAVED)
                                       .op(CAPTURE, SAVED).op(CAPTURE, OPEN_OR_CLOSE))
seeds["capture-past-length"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE)
                                .recv(header(b"d.bin", 10) + bytes(range(20)))
                                .op(CAPTURE, SAVED))
seeds["capture-length-0-then-file"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE)
                                       .recv(header(b"empty", 0) + ONE)
                                       .op(CAPTURE, SAVED).op(CAPTURE, SAVED))
seeds["capture-cut-short-then-file"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE)
                                        .recv(header(b"s", 100) + b"0123456789")
                                        .fire(SILENCE).recv(TWO).op(CAPTURE, SAVED))
seeds["capture-lost-then-file"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE)
                                   .recv(header(b"l", 50) + b"part").op(LINE, UNPLUG)
                                   .op(LINE, REOPEN).recv(TWO).op(CAPTURE, SAVED))
seeds["capture-4g-past-buffer"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE)
                                   .recv(header(b"big", 0xFFFFFFFF))
                                   .run(0x55, 255).run(0xAA, 10).fire(SILENCE)
                                   .op(CAPTURE, SAVED).recv(TWO))
seeds["capture-4g-2000-bytes"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE)
                                  .recv(header(b"big", 0xFFFFFFFF)).recv_big(bytes(1037))
                                  .recv(bytes(963)).fire(SILENCE).op(CAPTURE, SAVED)
                                  .recv(TWO))
seeds["capture-held-overrun"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE).recv(ONE)
                                 .run(0x41, 255).run(0x41, 255).op(CAPTURE, SAVED))
seeds["capture-bad-first-byte-after-file"] = (Seed().op(CAPTURE, OPEN_OR_CLOSE)
                                              .recv(ONE + b"HELLOWORLD").op(CAPTURE, SAVED))
# A run of data longer than any reply, read in one go on the idle hex path.
seeds["hex-long-run"] = Seed().recv_big(bytes(range(1, 100))).recv(hx("D7FD"))

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
shutil.rmtree(out, ignore_errors=True)
os.makedirs(out)
for name, seed in sorted(seeds.items()):
    with open(os.path.join(out, name), "wb") as f:
        f.write(seed.bytes())
print("%d seeds in %s" % (len(seeds), out))
