#!/usr/bin/env python3
"""Peak memory of saving one item whose long text is large: an event's description, a note's
text, a task's note.

    python3 bench/pim-memory-bench.py BUILD_DIR [MEGABYTES ...]

For each size (default 50 MB) and each kind an archive with one such item (words of many scripts,
entities, line breaks; HTML for the notes of the second round) is written, then scanned and saved
by olmbench as the package (type 1) and for Apple Mail (type 2); prints the resident memory when
the save starts, its peak while it runs, and what the save adds per byte of the text.
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

from olm_maker import ROOT, load_maker


# Each kind: its store, root and item elements, the element of its long text, its other fields.
KINDS = {
    'description': ('Local/Calendar/Calendar.xml', 'appointments', 'appointment',
                    'OPFCalendarEventCopyDescriptionPlain',
                    {'OPFCalendarEventCopyStartTime': '2018-06-18T16:30:00',
                     'OPFCalendarEventCopyEndTime': '2018-06-18T17:00:00',
                     'OPFCalendarEventCopySummary': 'Long description'}),
    'note': ('Local/Notes/Notes.xml', 'notes', 'note', 'OPFNoteCopyText', {'OPFNoteCopyTitle': 'Long note'}),
    'task note': ('Local/Tasks/Tasks.xml', 'tasks', 'task', 'OPFTaskCopyNote', {'OPFTaskCopyName': 'Long task'}),
}


def write_archive(path, kind, megabytes, html):
    maker = load_maker()
    store, root, name, element, fields = KINDS[kind]
    # Escaped markup too ("&amp;nbsp;"), as notes hold it.
    line = maker.text(' '.join(maker.WORDS) + ' &nbsp;&lt;') + ', done; \\ next\r\n'
    if html:
        # A note as the exporter writes it: an HTML document, escaped, with named references.
        line = '&lt;p&gt;' + maker.text(' '.join(maker.WORDS)) + ' caf&amp;eacute; &amp;rsquo;&lt;/p&gt;\r\n'
    text = line * (megabytes * (1 << 20) // len(line.encode('utf-8')) + 1)
    if html:
        text = '&lt;html&gt;&lt;body&gt;' + text + '&lt;/body&gt;&lt;/html&gt;'

    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
        zf.writestr(store, maker.root(root, [maker.item(name, dict(fields, **{element: text}))]))
    return len(text.encode('utf-8'))


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
            for kind in KINDS:
                for html in (False, True) if kind != 'description' else (False,):
                    archive = os.path.join(work, 'long.olm')
                    size = write_archive(archive, kind, megabytes, html)
                    for save_type in ('1', '2'):
                        dest = os.path.join(work, 'out')
                        os.makedirs(dest)
                        saved = run([bench, 'save', archive, dest, '--type', save_type])
                        before, peak = saved['rss_before_save_kb'], saved['save_peak_rss_kb']
                        print('type %s, %s%s %.1f MB: resident %.1f MB before the save, %.1f MB at its peak: '
                              'the save adds %.2f x its size (written %d, failed %d)'
                              % (save_type, 'HTML ' if html else '', kind, size / 1e6, before / 1024, peak / 1024,
                                 (peak - before) * 1024 / size, saved['written'], saved['failed']), flush=True)
                        shutil.rmtree(dest)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
