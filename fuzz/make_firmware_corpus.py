#!/usr/bin/env python3
"""Writes the seed inputs of the firmware fuzz target into corpus/firmware/.

Input layout (see firmware_fuzz.cpp): one flags byte (0x01: start
programming once the image is held), then chunks, each a 16-bit
little-endian length and that many bytes. The first chunk is the image
file, the others are what the bootloader sends.

Run it again after changing a seed; files found by the fuzzer are kept
beside the seeds.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "firmware")
PROGRAM = 0x01


def image(body_size: int, version: int = 9, signature: bytes = b"VXRT") -> bytes:
    return signature + bytes([version]) + bytes((i * 7 + 3) & 0xFF for i in range(body_size))


def seed(flags: int, *chunks: bytes) -> bytes:
    out = bytes([flags])
    for c in chunks:
        out += struct.pack("<H", len(c)) + c
    return out


SEEDS = {
    "empty_image_programmed": seed(PROGRAM, image(0), b"!", b"@"),
    "largest_image_all_acks": seed(PROGRAM, image(15360), *([b"!"] * 121)),
    "too_long_image": seed(PROGRAM, image(15361), b"!"),
    "too_short_image": seed(PROGRAM, b"VXRT", b"!"),
    "wrong_signature": seed(PROGRAM, image(10, signature=b"VXRt"), b"!"),
    "prompt_and_greeting": seed(0, image(200), b">", b"RT\x07", b"xxR", b"RT"),
    "ack_and_reject_in_one_chunk": seed(PROGRAM, image(200), b"@!", b"!@", b"!"),
    "hundred_rejections": seed(PROGRAM, image(300), *([b"@"] * 101), b"!"),
    "acks_without_programming": seed(0, image(300), b"!!!", b"@@@"),
    "long_noise_chunk": seed(PROGRAM, image(1000), bytes(range(256)) * 4),
}


def main() -> None:
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
