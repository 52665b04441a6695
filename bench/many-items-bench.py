#!/usr/bin/env python3
"""Saving time of one message entry that holds many <email> items.

    python3 bench/many-items-bench.py BUILD_DIR [COUNT ...]

Recovered stretches of damaged archives look like this. For each count (default 1,000, 2,000,
4,000, 8,000 and 50,000) an archive with one such entry is written, then scanned and saved as
Apple Mail mailboxes by olmbench; prints seconds per count and per thousand items, which stay
flat when saving is linear in the items.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

from olm_maker import ROOT, load_maker


def write_archive(path, count):
    maker = load_maker()
    items = []
    for i in range(count):
        items.append(maker.item('email', {
            'OPFMessageCopyBody': maker.text('<p>Body of message %d with some words in it</p>' % i),
            'OPFMessageCopyFromAddresses': '<emailAddress xml:space="preserve" OPFContactEmailAddressAddress='
                                           '"a%d@example.com" OPFContactEmailAddressName="A %d" '
                                           'OPFContactEmailAddressType="0"></emailAddress>' % (i, i),
            'OPFMessageCopyMessageID': 'm%d@example.com' % i,
            'OPFMessageCopySentTime': '2020-01-02T03:04:05',
            'OPFMessageCopySubject': 'Subject %d' % i,
        }))
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
        zf.writestr(maker.MESSAGES_ROOT + 'Inbox/message_00000.xml', maker.root('emails', items))


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    bench = os.path.join(sys.argv[1], 'bench', 'olmbench')
    counts = [int(c) for c in sys.argv[2:]] or [1000, 2000, 4000, 8000, 50000]
    work = tempfile.mkdtemp(prefix='many-items-')
    try:
        for count in counts:
            archive = os.path.join(work, 'items-%d.olm' % count)
            write_archive(archive, count)
            dest = os.path.join(work, 'out-%d' % count)
            os.makedirs(dest)
            done = subprocess.run([bench, 'save', archive, dest, '--type', '2'], capture_output=True, text=True)
            result = json.loads(done.stdout)
            print('%6d items: saved %d, failed %d in %.2f s (%.3f s per 1,000)'
                  % (count, result['written'], result['failed'], result['seconds'],
                     result['seconds'] * 1000 / count), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
