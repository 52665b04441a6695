#!/usr/bin/env python3
"""Peak memory of saving one calendar item whose description is large.

    python3 bench/pim-memory-bench.py BUILD_DIR [MEGABYTES ...]

For each size (default 50 MB) an archive with one such item (words of many scripts, entities,
line breaks) is written, then scanned and saved as the package (type 1) by olmbench; prints the
resident memory when the save starts, its peak while it runs, and what the save adds per byte of
the description.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

from olm_maker import ROOT, load_maker


def write_archive(path, megabytes):
    maker = load_maker()
    line = maker.text(' '.join(maker.WORDS)) + ', done; \\ next\r\n'
    description = line * (megabytes * (1 << 20) // len(line.encode('utf-8')) + 1)
    event = maker.item('appointment', {
        'OPFCalendarEventCopyDescriptionPlain': description,
        'OPFCalendarEventCopyStartTime': '2018-06-18T16:30:00',
        'OPFCalendarEventCopyEndTime': '2018-06-18T17:00:00',
        'OPFCalendarEventCopySummary': 'Long description',
    })
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
        zf.writestr('Local/Calendar/Calendar.xml', maker.root('appointments', [event]))
    return len(description.encode('utf-8'))


def run(args):
    done = subprocess.run(args, capture_output=True, text=True)
    if not done.stdout.strip():
        raise SystemExit('%s: %s' % (' '.join(args), done.stderr))
    return json.loads(done.stdout)


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    bench = os.path.join(sys.argv[1], 'bench', 'olmbench')
    sizes = [int(s) for s in sys.argv[2:]] or [50]
    work = tempfile.mkdtemp(prefix='pim-memory-')
    try:
        for megabytes in sizes:
            archive = os.path.join(work, 'long-%d.olm' % megabytes)
            size = write_archive(archive, megabytes)
            dest = os.path.join(work, 'out-%d' % megabytes)
            os.makedirs(dest)
            saved = run([bench, 'save', archive, dest, '--type', '1'])
            before, peak = saved['rss_before_save_kb'], saved['save_peak_rss_kb']
            print('description %.1f MB: resident %.1f MB before the save, %.1f MB at its peak: the save adds '
                  '%.2f x its size (written %d, failed %d)'
                  % (size / 1e6, before / 1024, peak / 1024, (peak - before) * 1024 / size, saved['written'],
                     saved['failed']), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
