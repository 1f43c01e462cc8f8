#!/usr/bin/env python3
"""Writes the MD5 digests, as Python's hashlib makes them, of a test message of every length
from 0 to 130 bytes: every position of the padding's bound in the first and the second
block, and a third block. The output is checked in; the test md5_vectors_current runs this
again and compares.

  tests/custom/make_md5_vectors.py [OUTPUT]   (default: standard output)
"""
import hashlib
import sys

MAX_LEN = 130


def message(n):
    # Every byte value turns up, NUL included.
    return bytes((0x35 + 97 * i) % 256 for i in range(n))


def main():
    lines = [
        "// Made by tests/custom/make_md5_vectors.py with Python's hashlib; do not edit.",
        "// Message of length n: bytes (0x35 + 97 * i) mod 256 for i = 0 .. n - 1.",
    ]
    for n in range(MAX_LEN + 1):
        lines.append('{%d, "%s"},' % (n, hashlib.md5(message(n)).hexdigest()))
    text = "\n".join(lines) + "\n"
    if len(sys.argv) > 1:
        with open(sys.argv[1], "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
