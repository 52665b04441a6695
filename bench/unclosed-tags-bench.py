#!/usr/bin/env python3
"""Scan and save time of one message whose sender list holds many start tags never closed.

    python3 bench/unclosed-tags-bench.py BUILD_DIR [COUNT ...]

For each count (default 10,000, 40,000 and 160,000) an archive with one such message (the tags,
then one "/>") is written, scanned and saved as .eml files (save type 4) by olmbench; prints the
seconds of each, which grow with the count when reading a tag ends at the next one. The preview's
read of the same lists is timed by olmpreviewbench ("unclosed start tags").
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
    message = maker.item('email', {
        'OPFMessageCopyBody': maker.text('Body'),
        'OPFMessageCopyFromAddresses': '<emailAddress ' * count + '/>',
        'OPFMessageCopySentTime': '2020-01-02T03:04:05',
        'OPFMessageCopySubject': 'Unclosed tags',
    })
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
        zf.writestr(maker.MESSAGES_ROOT + 'Inbox/message_00000.xml', maker.root('emails', [message]))


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    bench = os.path.join(sys.argv[1], 'bench', 'olmbench')
    counts = [int(c) for c in sys.argv[2:]] or [10000, 40000, 160000]
    work = tempfile.mkdtemp(prefix='unclosed-tags-')
    try:
        for count in counts:
            archive = os.path.join(work, 'tags-%d.olm' % count)
            write_archive(archive, count)
            scan = json.loads(subprocess.run([bench, 'scan', archive], capture_output=True, text=True).stdout)
            dest = os.path.join(work, 'out-%d' % count)
            os.makedirs(dest)
            save = json.loads(subprocess.run([bench, 'save', archive, dest, '--type', '4'],
                                             capture_output=True, text=True).stdout)
            print('%7d tags: scan %.3f s, type 4 save %.3f s (written %d)'
                  % (count, scan['seconds'], save['seconds'], save['written']), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
