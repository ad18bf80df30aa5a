#!/usr/bin/env python3
"""Writes the seed inputs of the reply-end fuzz target into corpus/reply_end/.

Input layout (see reply_end_fuzz.cpp): one flags byte (0x01: the bootloader
exchange), then the bytes queued on the line. Each seed is a reply of the
device, often followed by the start of the next one, so that every prefix
the target tries is a way the line can cut it.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "reply_end")

LINE, BOOT = b"\x00", b"\x01"


def record(number: bytes, apartment: int) -> bytes:
    return number[:10].ljust(10, b"\0") + struct.pack("<H", apartment)


# Apartments 13 and 10 put line-end bytes inside the records.
PACKET_BODY = b"E" + record(b"9161234567", 13) + record(b"9160000000", 10) + b"@"
PACKET = b"+IPD,%d:" % len(PACKET_BODY) + PACKET_BODY
FULL_BODY = b"E" + b"".join(record(b"91600%05d" % i, i) for i in range(21)) + b"@"

SEEDS = {
    "greeting": LINE + b"VELIRAN \x1e#",
    "greeting_cr_version": LINE + b"VELIRAN \x0d#CONFW",
    "config_block": LINE + b"CONFR" + bytes(range(68)) + b"VELI",
    "config_block_of_line_ends": LINE + b"CONFR" + b"\r\n" * 34 + b"\r\n",
    "packet_line_ends_inside": LINE + PACKET + b"\r\n+NTF:1",
    "packet_full": LINE + b"+IPD,%d:" % len(FULL_BODY) + FULL_BODY,
    "packet_after_line_ends": LINE + b"\r\n\r\n" + PACKET,
    "header_digit_separator": LINE + b"+IPD12:" + b"x" * 12,
    "header_too_long": LINE + b"+IPD,1000:" + b"R" * 40,
    "header_not_digits": LINE + b"+IPD,2x:R@\r\n",
    "ntf_then_efa": LINE + b"+NTF:1\r\n+EFA:1",
    "readok_confw": LINE + b"READOK\rCONFW",
    "text_with_line_end": LINE + b"ERASE\r\nREA",
    "text_without_line_end": LINE + b"Not corr",
    "noise_then_token": LINE + b"xx+NTF:0\n",
    "loader_greeting": BOOT + b"RT\x02!",
    "loader_marks": BOOT + b"!@>",
    "loader_text": BOOT + b"OK\r\n",
}


def main() -> None:
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
