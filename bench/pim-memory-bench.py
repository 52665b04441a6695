#!/usr/bin/env python3
"""Peak memory and time of saving one item whose long text is large: an event's description, a
note's text, a task's note and its plain note.

    python3 bench/pim-memory-bench.py BUILD_DIR [MEGABYTES ...] [--only WORD]

For each size (default 50 MB) and each kind an archive with one such item (words of many scripts,
entities, line breaks; HTML for the notes of the second round) is written, then scanned and saved
by olmbench as the package (type 1) and for Apple Mail (type 2); prints the resident memory when
the save starts, its peak while it runs, what the save adds per byte of the text and how long it
took. A task's notes are also written in lines of 7 bytes, with LF and with CR LF breaks: many
short lines are the costly case for the line-break escapes. --only keeps the rows whose name
holds WORD ("plain", "7-byte").
"""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
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
    # The plain note the exporter writes beside the HTML one (here alone: it is what is saved).
    'task plain note': ('Local/Tasks/Tasks.xml', 'tasks', 'task', 'OPFTaskCopyNotePlain',
                        {'OPFTaskCopyName': 'Long task'}),
}

# How the lines of a task's note are made: (name, one line of plain text, one line of HTML).
LINE_FORMS = [
    ('long lines, CR LF', None, None),
    ('long lines, LF', 'LF', None),
    ('7-byte lines, LF', 'abcdef\n', 'ab<br>\n'),
    ('7-byte lines, CR LF', 'abcde\r\n', 'a<br>\r\n'),
]


def write_archive(path, kind, megabytes, html, form=LINE_FORMS[0]):
    maker = load_maker()
    store, root, name, element, fields = KINDS[kind]
    # Escaped markup too ("&amp;nbsp;"), as notes hold it.
    line = maker.text(' '.join(maker.WORDS) + ' &nbsp;&lt;') + ', done; \\ next\r\n'
    if html:
        # A note as the exporter writes it: an HTML document, escaped, with named references.
        line = '&lt;p&gt;' + maker.text(' '.join(maker.WORDS)) + ' caf&amp;eacute; &amp;rsquo;&lt;/p&gt;\r\n'
    if form[1] == 'LF':
        line = line.replace('\r\n', '\n')
    elif form[1]:
        line = maker.text(form[2] if html else form[1])
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


def rows():
    """(kind, html, line form) of each archive measured."""
    for kind in KINDS:
        if kind == 'description':
            yield kind, False, LINE_FORMS[0]
        elif kind == 'note':
            yield kind, False, LINE_FORMS[0]
            yield kind, True, LINE_FORMS[0]
        else:
            for html in (False, True) if kind == 'task note' else (False,):
                for form in LINE_FORMS:
                    yield kind, html, form


def main():
    args = sys.argv[1:]
    only = ''
    if '--only' in args:
        at = args.index('--only')
        only = args[at + 1] if at + 1 < len(args) else ''
        del args[at:at + 2]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    bench = os.path.join(args[0], 'bench', 'olmbench')
    sizes = [int(s) for s in args[1:]] or [50]
    work = tempfile.mkdtemp(prefix='pim-memory-')
    try:
        for megabytes in sizes:
            for kind, html, form in rows():
                label = '%s%s (%s)' % ('HTML ' if html else '', kind, form[0])
                if only not in label:
                    continue
                archive = os.path.join(work, 'long.olm')
                size = write_archive(archive, kind, megabytes, html, form)
                for save_type in ('1', '2'):
                    dest = os.path.join(work, 'out')
                    os.makedirs(dest)
                    started = time.monotonic()
                    saved = run([bench, 'save', archive, dest, '--type', save_type])
                    seconds = time.monotonic() - started
                    before, peak = saved['rss_before_save_kb'], saved['save_peak_rss_kb']
                    print('type %s, %s %.1f MB: resident %.1f MB before the save, %.1f MB at its peak: '
                          'the save adds %.2f x its size, %.1f s (written %d, failed %d)'
                          % (save_type, label, size / 1e6, before / 1024, peak / 1024,
                             (peak - before) * 1024 / size, seconds, saved['written'], saved['failed']), flush=True)
                    shutil.rmtree(dest)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
