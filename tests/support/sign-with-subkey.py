# SPDX-FileCopyrightText: 2026 The Tessaro installer developers
#
# SPDX-License-Identifier: GPL-2.0-or-later

"""Signs FILE with an Ed25519 subkey whatever that subkey may be used for,
which gpg refuses to do: a detached binary OpenPGP signature on standard
output, the subkey's unprotected secret (gpg --export-secret-subkeys) on
standard input.

    sign-with-subkey.py FILE SUBKEY_FINGERPRINT < secret > signature
"""
import hashlib
import struct
import sys
import time

from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey


def packets(data):
    """(tag, body) of every OpenPGP packet in data."""
    i = 0
    while i < len(data):
        first = data[i]
        i += 1
        if first & 0x40:
            tag = first & 0x3F
            length = data[i]
            i += 1
            if 192 <= length < 224:
                length = ((length - 192) << 8) + data[i] + 192
                i += 1
            elif length == 255:
                length = struct.unpack('>I', data[i:i + 4])[0]
                i += 4
        else:
            tag = (first >> 2) & 0xF
            size = [1, 2, 4][first & 3]
            length = int.from_bytes(data[i:i + size], 'big')
            i += size
        yield tag, data[i:i + length]
        i += length


def read_mpi(body, at):
    bits = struct.unpack('>H', body[at:at + 2])[0]
    end = at + 2 + (bits + 7) // 8
    return body[at + 2:end], end


def as_mpi(value):
    value = value.lstrip(b'\0')
    return struct.pack('>H', (len(value) - 1) * 8 + value[0].bit_length()) + value


def main():
    path, fingerprint = sys.argv[1], bytes.fromhex(sys.argv[2])
    key = None
    for tag, body in packets(sys.stdin.buffer.read()):
        if tag != 7:  # a secret subkey
            continue
        # Version, creation time, algorithm, curve, public point: the part
        # the fingerprint is made of.
        _, end = read_mpi(body, 7 + body[6])
        if hashlib.sha1(b'\x99' + struct.pack('>H', end) + body[:end]).digest() != fingerprint:
            continue
        if body[end] != 0:
            sys.exit('the subkey is protected')
        seed, _ = read_mpi(body, end + 1)
        key = Ed25519PrivateKey.from_private_bytes(seed.rjust(32, b'\0'))
    if key is None:
        sys.exit('no such subkey')
    with open(path, 'rb') as data:
        signed = data.read()
    subpackets = bytes([5, 2]) + struct.pack('>I', int(time.time())) + bytes([22, 33, 4]) + fingerprint
    hashed = bytes([4, 0x00, 22, 8]) + struct.pack('>H', len(subpackets)) + subpackets
    digest = hashlib.sha256(signed + hashed + b'\x04\xff' + struct.pack('>I', len(hashed))).digest()
    signature = key.sign(digest)
    unhashed = bytes([9, 16]) + fingerprint[-8:]
    body = (hashed + struct.pack('>H', len(unhashed)) + unhashed + digest[:2] + as_mpi(signature[:32]) +
            as_mpi(signature[32:]))
    sys.stdout.buffer.write(b'\xc2\xff' + struct.pack('>I', len(body)) + body)


main()
