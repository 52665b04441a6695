#!/usr/bin/env python3
"""Scan time on archives holding runs of stray local header signatures, against the same archive intact.

    python3 bench/signature-run-bench.py BUILD_DIR [--mib 4,16,64] [--gaps 4,32,200] [--work DIR]
                                         [--runs N]

Writes an archive of 2,000 messages, each with a small attachment (as the hostile directory bench), and copies of it with MIB MiB of
local header signatures put between two of its entries, each signature GAP bytes after the one
before (the bytes between random, never another signature), once with the directory kept and once
cut off, and a copy with as many random bytes and no signature. Every signature is a header that
fails to read, so the walk looks for a damaged header's name behind each. Prints per copy the
scan's seconds (best of N runs), its processor seconds, the messages found and the ratio to the
copy without signatures: the time must grow with the bytes put in, not with the bytes looked at
per signature. A second table puts in runs of the other marks the walk looks behind where no
header stands (an attachments folder's name, a ZIP64 record's id and length), the directory cut
off, against as many random bytes.
"""

import argparse
import importlib.util
import json
import os
import random
import struct
import subprocess
import sys
import tempfile
import zipfile

MESSAGES = 2000


def hostile_directory_bench():
    """The hostile directory bench's archive writer: messages with a small attachment each."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'hostile-directory-bench.py')
    spec = importlib.util.spec_from_file_location('hostile_directory_bench', path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def signatures(size, gap, rng):
    if gap == 0:
        return os.urandom(size).replace(b'PK', b'pk')
    out = bytearray()
    while len(out) < size:
        filler = bytes(rng.randrange(256) for _ in range(gap - 4)) if gap > 4 else b''
        out += b'PK\x03\x04' + filler.replace(b'PK', b'pk')
    return bytes(out[:size])


# Marks looked behind in bytes no entry took, each repeated back to back.
MARKS = [('attachments folder', b'__Attachments/'), ('folder and attachments folder', b'Local/a__Attachments/'),
         ('ZIP64 record', b'\x01\x00\x10\x00'), ('name rest and ZIP64 record', b'x_0001\x01\x00\x10\x00')]


def marks(size, mark):
    return (mark * (size // len(mark) + 1))[:size]


def directory_offset(data):
    end = data.rfind(b'PK\x05\x06')
    offset, = struct.unpack_from('<I', data, end + 16)
    return offset


def scan(olmbench, path, runs):
    best = None
    for _ in range(runs):
        before = os.times()
        out = subprocess.run([olmbench, 'scan', path, '--threads', '1'], capture_output=True, text=True,
                             check=True).stdout
        after = os.times()
        j = json.loads(out.strip().splitlines()[-1])
        cpu = (after.children_user - before.children_user) + (after.children_system - before.children_system)
        if best is None or j['seconds'] < best[0]:
            best = (j['seconds'], cpu, j['mails'])
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('build')
    ap.add_argument('--mib', default='4,16,64')
    ap.add_argument('--gaps', default='4,32,200')
    ap.add_argument('--work')
    ap.add_argument('--runs', type=int, default=3)
    a = ap.parse_args()
    olmbench = os.path.join(a.build, 'bench', 'olmbench')
    work = a.work or tempfile.mkdtemp(prefix='sigrun-')
    intact = os.path.join(work, 'intact.olm')
    hostile_directory_bench().write_intact(intact, 2 * MESSAGES)
    base = open(intact, 'rb').read()
    cut = directory_offset(base)
    with zipfile.ZipFile(intact) as z:
        middle = sorted(i.header_offset for i in z.infolist())[MESSAGES]
    s, cpu, mails = scan(olmbench, intact, a.runs)
    print('intact: %.1f MB, scan %.3f s (processor %.2f s), %d messages' % (len(base) / 1e6, s, cpu, mails))
    print('| MiB put in | gap | directory | scan s | processor s | messages | scan / without signatures |')
    print('|---:|---:|---|---:|---:|---:|---:|')
    rng = random.Random(1)
    for mib in [int(x) for x in a.mib.split(',')]:
        plain = {}
        for gap in [0] + [int(x) for x in a.gaps.split(',')]:
            run = signatures(mib << 20, gap, rng)
            for kept in (True, False):
                path = os.path.join(work, 'sig-%d-%d-%s.olm' % (mib, gap, 'dir' if kept else 'nodir'))
                with open(path, 'wb') as f:
                    f.write(base[:middle] + run + (base[middle:] if kept else base[middle:cut]))
                t, c, m = scan(olmbench, path, a.runs)
                plain.setdefault(kept, t)
                print('| %d | %s | %s | %.3f | %.2f | %d | %.1f |' % (mib, gap or 'none', 'kept' if kept else 'cut off',
                                                                   t, c, m, t / max(plain[kept], 0.001)))
                os.remove(path)
                sys.stdout.flush()
    print()
    print('| MiB put in | mark | scan s | processor s | messages | scan / random bytes |')
    print('|---:|---|---:|---:|---:|---:|')
    for mib in [int(x) for x in a.mib.split(',')]:
        plain = None
        for label, mark in [('random bytes', None)] + MARKS:
            run = signatures(mib << 20, 0, rng) if mark is None else marks(mib << 20, mark)
            path = os.path.join(work, 'mark-%d.olm' % mib)
            with open(path, 'wb') as f:
                f.write(base[:middle] + run + base[middle:cut])
            t, c, m = scan(olmbench, path, a.runs)
            plain = plain or t
            print('| %d | %s | %.3f | %.2f | %d | %.1f |' % (mib, label, t, c, m, t / max(plain, 0.001)))
            os.remove(path)
            sys.stdout.flush()


if __name__ == '__main__':
    main()
