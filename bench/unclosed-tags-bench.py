#!/usr/bin/env python3
"""Cost of hostile and unusual XML in one message: scan, type 2 and type 4 save, time and peak memory.

    python3 bench/unclosed-tags-bench.py BUILD_DIR [MIB ...] [--only NAME]

For each construct and each size (default 1, 4, 16 and 64 MiB of it in one message) an archive is
written, scanned, and saved as mbox (type 2) and .eml files (type 4) by olmbench, each in its own
process. Prints one row per construct and size: seconds and peak resident memory of each run. The
seconds must grow in proportion to the size (four times the size, about four times the time) and
the memory stay within about three times the message.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

from olm_maker import load_maker

MIB = 1 << 20


def repeat(piece, size):
    return piece * max(1, size // len(piece))


# Each construct: the message's fields, given the size in bytes of the hostile part.
CONSTRUCTS = {
    'unclosed start tags': lambda n: {'OPFMessageCopyFromAddresses': repeat('<emailAddress ', n) + '/>'},
    'references never ended, subject': lambda n: {'OPFMessageCopySubject': repeat('&#12345678', n)},
    'references never ended, body': lambda n: {'OPFMessageCopyBody': repeat('&#12345678', n)},
    'bare & in the body': lambda n: {'OPFMessageCopyBody': repeat('& ', n)},
    'unclosed comments': lambda n: {'OPFMessageCopyBody': 'a' + repeat('<!-- ', n)},
    'unclosed CDATA sections': lambda n: {'OPFMessageCopyBody': 'a' + repeat('<![CDATA[', n)},
    'unclosed instructions': lambda n: {'OPFMessageCopyBody': 'a' + repeat('<?p ', n)},
    'unterminated quotes': lambda n: {'OPFMessageCopyFromAddresses': repeat('<emailAddress a="', n)},
    'deep nesting': lambda n: {'OPFMessageCopyBody': '<a>' * (n // 7) + '</a>' * (n // 7)},
    'many attributes': lambda n: {
        'OPFMessageCopyFromAddresses': '<emailAddress ' + ''.join('a%d="1" ' % i for i in range(n // 10)) + '/>'},
    'one long attribute value': lambda n: {
        'OPFMessageCopyFromAddresses':
            '<emailAddress OPFContactEmailAddressAddress="a@example.com" OPFContactEmailAddressName="'
            + 'x' * n + '"/>'},
    'blanks in close tags': lambda n: {'OPFMessageCopyBody': repeat('<b>x</b \n\t>', n)},
}


def write_archive(path, fields):
    maker = load_maker()
    base = {
        'OPFMessageCopyBody': maker.text('Body'),
        'OPFMessageCopySentTime': '2020-01-02T03:04:05',
        'OPFMessageCopySubject': 'Hostile XML',
    }
    base.update(fields)
    message = maker.item('email', base)
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
        zf.writestr(maker.MESSAGES_ROOT + 'Inbox/message_00000.xml', maker.root('emails', [message]))


def run(args):
    # Peak memory as /usr/bin/time sees it: the bench's own figure would carry this script's,
    # which a child keeps across exec.
    done = subprocess.run(['/usr/bin/time', '-f', 'peak %M'] + args, capture_output=True, text=True)
    try:
        result = json.loads(done.stdout.strip().splitlines()[-1])
    except (ValueError, IndexError):
        result = {'seconds': float('nan')}
    peaks = [line for line in done.stderr.splitlines() if line.startswith('peak ')]
    result['peak_rss_kb'] = int(peaks[-1].split()[1]) if peaks else 0
    return result


def main():
    argv = sys.argv[1:]
    only = None
    if '--only' in argv:
        at = argv.index('--only')
        only = argv[at + 1]
        del argv[at:at + 2]
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    bench = os.path.join(argv[0], 'bench', 'olmbench')
    sizes = [int(s) for s in argv[1:]] or [1, 4, 16, 64]
    work = tempfile.mkdtemp(prefix='xml-cost-')
    print('%-34s %5s %12s %12s %12s   (seconds / peak MiB)' % ('construct', 'MiB', 'scan', 'type 2', 'type 4'))
    try:
        for name, make in CONSTRUCTS.items():
            if only and only != name:
                continue
            for mib in sizes:
                archive = os.path.join(work, 'x.olm')
                write_archive(archive, make(mib * MIB))
                row = []
                scan = run([bench, 'scan', archive])
                row.append(scan)
                for save_type in (2, 4):
                    dest = os.path.join(work, 'out')
                    shutil.rmtree(dest, ignore_errors=True)
                    os.makedirs(dest)
                    row.append(run([bench, 'save', archive, dest, '--type', str(save_type)]))
                size = os.path.getsize(archive) / MIB
                print('%-34s %5d %s   (archive %.1f MiB; written %s, incomplete %s)' % (
                    name, mib, ' '.join('%6.2f/%5d' % (r['seconds'], r.get('peak_rss_kb', 0) // 1024) for r in row),
                    size, '/'.join(str(r.get('written', '-')) for r in row[1:]),
                    '/'.join(str(r.get('incomplete', '-')) for r in row[1:])), flush=True)
                os.remove(archive)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
