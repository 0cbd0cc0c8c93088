#!/usr/bin/env python3
"""Writes crypto_fixtures.h for the CNG tests: two P-256 key pairs made by
openssl, a release manifest, openssl's DER signature of it under the first
key, and the SHA-256 (by Python's hashlib) of the patterned file the tests
stream. Usage: make_crypto_fixtures.py OUTPUT_HEADER"""
import hashlib
import os
import subprocess
import sys
import tempfile

MANIFEST = (b"format 1\nversion 1.7.18\nexpires 2099-12-31\n"
            b"package ORBITQuarry64n.zip 3 " + hashlib.sha256(b"abc").hexdigest().encode() + b"\n")
STREAMED_SIZE = 5 * 1024 * 1024 + 123  # several MiB, not a whole number of any buffer


def streamed_byte(i):
    return (i * 7 + (i >> 12)) & 0xFF


def openssl(*args):
    return subprocess.run(["openssl", *args], check=True, capture_output=True).stdout


def c_bytes(data):
    return ", ".join("0x%02x" % b for b in data)


def main(out):
    with tempfile.TemporaryDirectory() as tmp:
        points = []
        for name in ("a", "b"):
            key = os.path.join(tmp, name + ".pem")
            openssl("ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", key)
            der = openssl("ec", "-in", key, "-pubout", "-outform", "DER")
            points.append(der[-64:])  # the uncompressed point's X and Y
        manifest = os.path.join(tmp, "release.txt")
        with open(manifest, "wb") as f:
            f.write(MANIFEST)
        signature = openssl("dgst", "-sha256", "-sign", os.path.join(tmp, "a.pem"), manifest)

    pattern = bytes(streamed_byte(i) for i in range(STREAMED_SIZE))
    with open(out + ".tmp", "w") as f:
        f.write("// Made by make_crypto_fixtures.py at build time; not in the repository.\n#pragma once\n")
        f.write("inline constexpr unsigned char kKeyA[64] = {%s};\n" % c_bytes(points[0]))
        f.write("inline constexpr unsigned char kKeyB[64] = {%s};\n" % c_bytes(points[1]))
        f.write("inline constexpr unsigned char kManifest[] = {%s};\n" % c_bytes(MANIFEST))
        f.write("inline constexpr unsigned char kSignatureA[] = {%s};\n" % c_bytes(signature))
        f.write("inline constexpr unsigned kStreamedSize = %d;\n" % STREAMED_SIZE)
        f.write('inline constexpr char kStreamedSha256[] = "%s";\n' % hashlib.sha256(pattern).hexdigest())
        f.write("inline unsigned char StreamedByte(unsigned i) { return (i * 7 + (i >> 12)) & 0xFF; }\n")
    os.replace(out + ".tmp", out)


if __name__ == "__main__":
    main(sys.argv[1])
