#!/usr/bin/env python3
"""Turns UDF images into inputs of udf_reader_fuzzer: the pages at the fixed
places of the harness, then sector 256 onward (at most MAX_TAIL sectors)."""
import sys

FIXED = [16, 17, 18] + list(range(32, 48)) + [64, 65] + list(range(96, 112)) + [128, 160]
MAX_TAIL = 400

def convert(image, out):
    with open(image, 'rb') as f:
        data = f.read()
    sector = lambda n: data[n * 2048:(n + 1) * 2048].ljust(2048, b'\0')
    pages = [sector(n) for n in FIXED]
    total = len(data) // 2048
    pages += [sector(n) for n in range(256, min(total, 256 + MAX_TAIL))]
    with open(out, 'wb') as f:
        f.write(b''.join(pages))

if __name__ == '__main__':
    if len(sys.argv) != 3:
        sys.exit('usage: make_seed.py IMAGE OUT')
    convert(sys.argv[1], sys.argv[2])
