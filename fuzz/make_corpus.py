#!/usr/bin/env python3
"""Writes the seed inputs of the analysers' fuzz target into corpus/analysers/.

Input layout (see analysers_fuzz.cpp): one flags byte, then chunks, each a
16-bit little-endian length and that many bytes.

Flags: 0x01 Internet link analyser (else serial), 0x02 configuration read
pending, 0x04 diagnostic mode, 0x08 (once a page other than the number
list; the page is the session's to weigh now, so it changes nothing),
0x10 read position near the last row, 0x20 firmware page (bootloader),
0x40 device on the Internet link, 0x80 read position before the first row.

Run it again after changing a seed; files found by the fuzzer (crash-*,
named after what they showed) are kept beside the seeds.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "corpus", "analysers")

SERIAL, TCP = 0x00, 0x01
PENDING, DEBUG, OTHER_PAGE, NEAR_END, BOOT, INTERNET, BEFORE_FIRST = (
    0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80)


def record(number: bytes, apartment: int) -> bytes:
    return number[:10].ljust(10, b"\0") + struct.pack("<H", apartment & 0xFFFF)


def packet(kind: bytes, records) -> bytes:
    return kind + b"".join(records) + b"@"


def ipd(body: bytes) -> bytes:
    return b"+IPD," + str(len(body)).encode() + b":" + body


def seed(flags: int, *chunks: bytes) -> bytes:
    out = bytes([flags])
    for c in chunks:
        out += struct.pack("<H", len(c)) + c
    return out


BLOCK = bytes((i * 37) & 0xFF if i % 4 else 0 for i in range(68))
TWO = packet(b"E", [record(b"9001234567", 12), record(b"555\r\r\r\r\r\r\r", 300)])
FULL_PACKET = packet(b"R", [record(b"%010d" % i, i) for i in range(21)])  # 254 bytes
PLAIN = (b"CLOSED READOK CONNECT Trevoga ADD Dobavlen FULL svobo DEL Ydalen NOT NUMBER "
         b"ne naiden ERASE Vse nom Not corr CHPASS New pass APN TON_SET New Ton DISCON "
         b"GPRS ser No GPRS Ne yda BUSY +EFA:1")

SEEDS = {
    # serial analyser
    "serial_greeting": seed(SERIAL, b"VELIRAN \x1e#"),
    "serial_greeting_no_hash": seed(SERIAL, b"xxVELIRAN \x1e!"),
    "serial_greeting_at_end": seed(SERIAL, b"VELIRAN"),
    "serial_ipd_26_end": seed(SERIAL, ipd(TWO)),
    "serial_ipd_bad_mark": seed(SERIAL, b"+IPD,26:" + TWO[:-1] + b"#"),
    "serial_ipd_length_10": seed(SERIAL, b"+IPD,10:R123456789@"),
    "serial_ipd_cut_short": seed(SERIAL, b"+IPD,26:" + TWO[:15]),
    "serial_ipd_no_colon": seed(SERIAL, b"+IPD,26 " + TWO),
    "serial_ipd_huge_length": seed(SERIAL, b"+IPD,99999999999999999999999:" + TWO),
    "serial_ipd_past_buffer": seed(SERIAL, b"x" * 1000 + b"+IPD,254:" + FULL_PACKET),
    "serial_ipd_while_pending": seed(SERIAL | PENDING, ipd(TWO)),
    "serial_ipd_21_records_near_end": seed(SERIAL | NEAR_END, ipd(FULL_PACKET), ipd(FULL_PACKET)),
    "serial_ipd_before_first_row": seed(SERIAL | BEFORE_FIRST, ipd(FULL_PACKET)),
    "serial_ipd_two_in_one_chunk": seed(SERIAL, ipd(TWO) + ipd(TWO)),
    "serial_config_reply": seed(SERIAL | PENDING, b"CONFR" + BLOCK),
    "serial_config_reply_in_ipd": seed(SERIAL | PENDING, b"+IPD,73:CONFR" + BLOCK),
    "serial_config_reply_cut": seed(SERIAL, b"CONFR\x01\x02\x03"),
    "serial_confw_then_ntf": seed(SERIAL, b"CONFW\r\n+NTF:1\r\n"),
    "serial_ntf_at_end": seed(SERIAL, b"+NTF:"),
    "serial_key_first_page": seed(SERIAL, b"+KEY: 01A2B3C4D5E6\r\n"),
    "serial_key_other_page": seed(SERIAL | OTHER_PAGE, b"+KEY: 01A2B3C4D5E6\r\n"),
    "serial_key_at_end": seed(SERIAL, b"+KEY"),
    "serial_key_cyrillic": seed(SERIAL, b"+KEY: \xc0\xc1\xc2\xc3\xc4\xc5\xc6\xc7\xc8\xc9\xca"),
    "serial_all_plain_tokens": seed(SERIAL, PLAIN),
    "serial_zero_hides_tokens": seed(SERIAL, b"OK\0BUSY CLOSED"),
    "serial_debug_echo": seed(SERIAL | DEBUG, b"OK\r\n\xcf\xf0\xe8\xe2\xe5\xf2\x98"),
    "serial_bootloader_chunk": seed(SERIAL | BOOT, b">\0<\0CONFW"),
    "serial_oversized_chunk": seed(SERIAL, b"A" * 1500),
    "serial_empty_chunks": seed(SERIAL, b"", b"", b"ADD"),
    "serial_internet_device_replies": seed(SERIAL | INTERNET, b"CHPASS APN ERASE"),
    # Internet link analyser
    "tcp_connect": seed(TCP, b"CONNECT"),
    "tcp_packet_end": seed(TCP, TWO),
    "tcp_packet_254": seed(TCP | NEAR_END, FULL_PACKET, FULL_PACKET),
    "tcp_packet_before_first_row": seed(TCP | BEFORE_FIRST, FULL_PACKET),
    "tcp_packet_oversized": seed(TCP, b"R" + b"1" * 600 + b"@"),
    "tcp_packet_minimal": seed(TCP, b"R@", b"E@", b"@", b"R"),
    "tcp_packet_with_tokens": seed(TCP, packet(b"R", [record(b"ADD1234567", 1)])),
    "tcp_writer_replies": seed(TCP, b"CONFW ERASE FULL ADN ADD svobo Dobavlen"),
    "tcp_password_replies": seed(TCP, b"Not corr", b"New pass", b"CHPASS"),
    "tcp_config_reply": seed(TCP | PENDING, b"CONFR" + BLOCK),
    "tcp_config_reply_cut": seed(TCP, b"CONFR"),
    "tcp_oversized_read": seed(TCP, b"R" + b"\0" * 1400 + b"@"),
    "tcp_serial_only_tokens": seed(TCP | DEBUG, PLAIN + b" +KEY: 1234567890 VELIRAN \x1e#"),
}


def main() -> None:
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    print(f"{len(SEEDS)} seeds in {OUT}")


if __name__ == "__main__":
    main()
