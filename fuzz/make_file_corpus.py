#!/usr/bin/env python3
"""Writes the seed inputs of the configuration file and CSV fuzz targets into
corpus/config_file/ and corpus/csv_numbers/.

config_file: the bytes of a file as the open dialog would hand them over.
csv_numbers: one byte (rows filled before the import = byte * 3, at most
650), then the CSV text in code page 1251.

Run it again after changing a seed; files the fuzzer found are kept beside them.
"""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))


def write(folder, name, data):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(data)


def keys(rows, end=b"\r\n", apartments_first=False):
    numbers = b"".join(b"N%d=%s%s" % (i, rows.get(i, (b"", b""))[0], end) for i in range(1, 651))
    apartments = b"".join(b"Kv%d=%s%s" % (i, rows.get(i, (b"", b""))[1], end)
                          for i in range(1, 651))
    if apartments_first:
        return apartments + numbers
    return b"".join(b"N%d=%s%sKv%d=%s%s" % (i, rows.get(i, (b"", b""))[0], end, i,
                                             rows.get(i, (b"", b""))[1], end)
                    for i in range(1, 651))


def fcd(block, rows, **layout):
    head = bytes(block[:68].ljust(68, b"\0")) + bytes(32) + b"\r\n\r\n[Numbers]\r\n"
    return head + keys(rows, **layout)


rng = random.Random(5)
block = bytes(rng.randrange(256) for _ in range(68))
write("config_file", "empty-list", fcd(bytes(68), {}))
full = {i: (b"9%09d" % (i * 7919), b"%d" % i) for i in range(1, 651)}
write("config_file", "full-list", fcd(block, full))
write("config_file", "cyrillic", fcd(block, {3: ("Номер".encode("cp1251"), "кв.5".encode("cp1251"))}))
write("config_file", "hand-made",
      bytes(100) + b"\r\n[nUMBERS]\r\n; comment\r\n  kv5 = \" 12 \" \r\nn5=9161234567\r\nN5=2nd\r\n"
      b"Kv6=\r\nN7=" + b"9" * 3000 + b"\r\n" + keys({}) + b"[Other]\r\nN8=x\r\n")
write("config_file", "cut-short", fcd(block, full)[:5000])
write("config_file", "row-missing", fcd(block, full).replace(b"\r\nKv300=300\r\n", b"\r\n"))
write("config_file", "lf-line-ends", fcd(block, full, end=b"\n"))
write("config_file", "apartments-first", fcd(block, full, apartments_first=True))
write("config_file", "head-traps",
      b"\r\n[Numbers]\nN1=head\0\r=\n[" + bytes(rng.randrange(256) for _ in range(80)) +
      b"\r\n\r\n[Numbers]\r\nN1=\"quoted\"\r\nKv1='x'\r\nN2=a\rb\r\n")
write("config_file", "csv-file", b"12;9161234567\r\n;9169876543\r\n" * 10)
write("config_file", "short", b"\x01\x02[Numbers]\r\nN1=1")
write("config_file", "no-line-ends", bytes(100) + b"[Numbers]N1=5")

write("csv_numbers", "carried-apartment", b"\0" + b"12;9161234567\r\n;9169876543\r\n13;1234567\r\n"
      b"12345678\r\n5;9161234567;" + "слово".encode("cp1251") + b"\r\n-1;9160000007\n\r\n;9160000008")
write("csv_numbers", "captions", b"\0" + "Квартира;Телефон\r\n1;9160000001\r\n".encode("cp1251"))
write("csv_numbers", "bom", b"\0\xef\xbb\xbf1;9160000001\r\n" + "2;Иванов 12345\r\n".encode() +
      b"3;\xff9160000003\r\n")
write("csv_numbers", "utf8-without-bom", b"\0" + "1;Иванов 12345\r\n2;9160000002\r\n".encode())
write("csv_numbers", "not-phones", b"\0" + b"1;ABCDEFGHIJ\r\n;9161234567 x\r\n+79161234567\r\n"
      b"65535;9160000001\r\n65536;9160000002\r\n")
write("csv_numbers", "cr-only", b"\x05" + b"1;9160000001\r2;9160000002\r;9160000003")
write("csv_numbers", "zero-inside", b"\x01" + b"1;9160000001\n2;91600\x0000002\n3;9160000003\n")
write("csv_numbers", "empty", b"\x00")
write("csv_numbers", "full-list", b"\xff" + b"1;9160000001\r\n")
write("csv_numbers", "three-free", b"\xd7" + b"".join(b"%d;%d\r\n" % (i, 8000000000 + i)
                                                      for i in range(700)))
write("csv_numbers", "odd-apartments", b"\x02" + b" 7 ;9160000001\n+8;9160000002\n-0;9160000003\n"
      b"2147483647;9160000004\n-2147483648;9160000005\n2147483648;9160000006\n")
