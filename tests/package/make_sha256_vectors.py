#!/usr/bin/env python3
"""Writes the SHA-256 digests, as `openssl dgst -sha256` makes them, of a test message of
every length from 0 to 200 bytes (every position of the padding's bound in the first three
blocks) and of a few lengths of several MiB. The output is checked in.

  tests/package/make_sha256_vectors.py [OUTPUT]   (default: standard output)
"""
import subprocess
import sys

LENGTHS = list(range(201)) + [1 << 20, (3 << 20) + 17, (5 << 20) - 1]


def message(n):
    # Every byte value turns up, NUL included; the pattern repeats only every 256 bytes.
    return bytes((0x35 + 97 * i + (i >> 8)) % 256 for i in range(n))


def openssl_sha256(data):
    out = subprocess.run(["openssl", "dgst", "-sha256", "-r"], input=data,
                         stdout=subprocess.PIPE, check=True).stdout
    return out.split()[0].decode()


def main():
    lines = [
        "// Made by tests/package/make_sha256_vectors.py with openssl dgst; do not edit.",
        "// Message of length n: bytes (0x35 + 97 * i + i / 256) mod 256 for i = 0 .. n - 1.",
    ]
    for n in LENGTHS:
        lines.append('{%d, "%s"},' % (n, openssl_sha256(message(n))))
    text = "\n".join(lines) + "\n"
    if len(sys.argv) > 1:
        with open(sys.argv[1], "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
