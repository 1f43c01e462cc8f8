#!/usr/bin/env python3
"""Writes the stored text form of test passwords of every length from 0 to 87 bytes, as
OpenSSL's DES-ECB (legacy provider, PKCS#5 padding) and Base64 make it, for the cipher
tests to compare against. The output is checked in; the test des_openssl_vectors_current
runs this again and compares.

  tests/gate/cipher/make_des_openssl_vectors.py [OUTPUT]   (default: standard output)
"""
import subprocess
import sys

KEY_HEX = b"vorek293".hex()
MAX_LEN = 87


def password(n):
    # Printable and high bytes alike, never a NUL.
    return bytes((0x21 + 37 * i) % 256 for i in range(n))


def stored_text(data):
    out = subprocess.run(
        ["openssl", "enc", "-des-ecb", "-provider", "legacy", "-provider", "default",
         "-K", KEY_HEX, "-a", "-A"],
        input=data, stdout=subprocess.PIPE, check=True)
    return out.stdout.decode("ascii").strip()


def main():
    lines = [
        "// Made by tests/gate/cipher/make_des_openssl_vectors.py with OpenSSL's des-ecb; do not edit.",
        "// Password of length n: bytes (0x21 + 37 * i) mod 256 for i = 0 .. n - 1.",
    ]
    for n in range(MAX_LEN + 1):
        lines.append('{%d, "%s"},' % (n, stored_text(password(n))))
    text = "\n".join(lines) + "\n"
    if len(sys.argv) > 1:
        with open(sys.argv[1], "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
