#!/usr/bin/env python3
"""Scan time on archives whose directory records cannot be placed, against the same archives intact.

    python3 bench/hostile-directory-bench.py BUILD_DIR [--entries 16000,32000,64000] [--work DIR]
                                             [--runs N]

For each count, writes an archive of that many entries (messages in the Inbox, every one with a small
attachment) and a copy whose directory records each point 7 bytes past their header, state a wrong
CRC-32 and a size that claims most of the file behind them: no record can be placed by its name or
by its data, so every search for it fails. Prints, per count, the archive's size, the intact
scan's and the hostile scan's seconds (best of N runs) and their ratio. A scan in proportion to
the file keeps the ratio about the same at every count; a search that costs the rest of the file
per record makes it grow with the count.
"""

import argparse
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

INBOX = 'Local/com.microsoft.__Messages/Inbox/'


def message(n):
    return ('<emails><email><OPFMessageCopySubject>Message %d</OPFMessageCopySubject>'
            '<OPFMessageCopyMessageID>m%d@example.org</OPFMessageCopyMessageID>'
            '<OPFMessageCopyAttachmentList><messageAttachment OPFAttachmentName="a.bin" '
            'OPFAttachmentURL="%scom.microsoft.__Attachments/m%d@example.org_0000"/>'
            '</OPFMessageCopyAttachmentList></email></emails>' % (n, n, INBOX, n)).encode()


def write_intact(path, entries):
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED) as z:
        for n in range(entries // 2):
            z.writestr(INBOX + 'message_%05d.xml' % n, message(n))
            z.writestr(INBOX + 'com.microsoft.__Attachments/m%d@example.org_0000' % n, bytes([n % 251]) * 40)


def make_hostile(intact, path):
    """Every directory record 7 bytes off, its CRC-32 wrong and its sizes most of the file behind it."""
    data = bytearray(open(intact, 'rb').read())
    end = data.rfind(b'PK\x05\x06')
    count, cd_size, cd_offset = struct.unpack_from('<HII', data, end + 10)
    at = cd_offset
    for _ in range(count):
        assert data[at:at + 4] == b'PK\x01\x02'
        n, m, k = struct.unpack_from('<HHH', data, at + 28)
        crc, = struct.unpack_from('<I', data, at + 16)
        offset, = struct.unpack_from('<I', data, at + 42)
        claim = (cd_offset - offset) * 9 // 10
        struct.pack_into('<III', data, at + 16, crc ^ 0x5A5A5A5A, claim, claim)
        struct.pack_into('<I', data, at + 42, offset + 7)
        at += 46 + n + m + k
    open(path, 'wb').write(data)


def scan_seconds(olmbench, path, runs):
    best = None
    for _ in range(runs):
        start = time.monotonic()
        out = subprocess.run([olmbench, 'scan', path], capture_output=True, text=True, timeout=3600)
        seconds = time.monotonic() - start
        if out.returncode != 0:
            sys.exit('olmbench failed on %s: %s' % (path, out.stderr))
        json.loads(out.stdout.strip().splitlines()[-1])
        best = seconds if best is None else min(best, seconds)
    return best


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('build')
    ap.add_argument('--entries', default='16000,32000,64000')
    ap.add_argument('--work')
    ap.add_argument('--runs', type=int, default=3)
    args = ap.parse_args()
    olmbench = os.path.join(args.build, 'bench', 'olmbench')
    work = args.work or tempfile.mkdtemp(prefix='hostile-directory-')
    print('| entries | MB | intact scan s | hostile directory s | ratio |')
    print('|---:|---:|---:|---:|---:|')
    for entries in (int(x) for x in args.entries.split(',')):
        intact = os.path.join(work, 'intact-%d.olm' % entries)
        hostile = os.path.join(work, 'hostile-%d.olm' % entries)
        write_intact(intact, entries)
        make_hostile(intact, hostile)
        a = scan_seconds(olmbench, intact, args.runs)
        b = scan_seconds(olmbench, hostile, args.runs)
        print('| %d | %.1f | %.3f | %.3f | %.1f |' % (entries, os.path.getsize(intact) / 1e6, a, b, b / a), flush=True)


if __name__ == '__main__':
    main()
