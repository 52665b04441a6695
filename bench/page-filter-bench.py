#!/usr/bin/env python3
"""Time and peak memory of saving as pages (.htm) messages whose markup makes an HTML parser work
far beyond its size.

    python3 bench/page-filter-bench.py BUILD_DIR [NAME ...]

For each input (default: all) an archive holding one message with that markup as its body is
saved as pages by olmbench; prints the seconds, the peak memory, the page's size and whether the
body shows as markup or as its source text. The doubled formatting input is also saved under a
2,000,000 KiB address-space limit (as `ulimit -v 2000000`), which must end without a signal.
Last, an archive of 16 such messages is saved and stopped after 0.5 s: the seconds from the stop
to the end of the save.
"""

import importlib.util
import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
AS_TEXT = b'<div style="white-space: pre-wrap">&lt;'


def repeat(text, count):
    return text * count


def attributes(count):
    return '<p ' + ' '.join('a%d=1' % i for i in range(count)) + '>x</p>'


def formatting(bolds, paragraphs):
    return '<p>' + ''.join('<b id=%d>' % i for i in range(bolds)) + '</p>' + repeat('<p>x</p>', paragraphs)


INPUTS = [
    ('foreign stack 40k', lambda: '<svg>' + repeat('<link>', 40000) + repeat('</x>', 40000)),
    ('foreign stack 100k', lambda: '<svg>' + repeat('<link>', 100000) + repeat('</x>', 100000)),
    ('attributes 40k', lambda: attributes(40000)),
    ('attributes 80k', lambda: attributes(80000)),
    ('attributes 200k', lambda: attributes(200000)),
    ('15k spans, 200k end tags', lambda: repeat('<span>', 15000) + repeat('</x>', 200000)),
    ('formatting re-opened', lambda: formatting(1000, 2000)),
    ('formatting re-opened, doubled', lambda: formatting(2000, 4000)),
    ('foster-parented text', lambda: '<table>' + repeat('<span>x', 15000) + '</table>'),
    ('foster-parented formatting', lambda: '<table>' + repeat('<b>x</b>', 100000) + '</table>'),
    ('void elements, deep', lambda: repeat('<span>', 15000) + repeat('<br><img><wbr>', 100000)),
    ('40k table rows (mail-like)', lambda: '<table>' + repeat('<tr><td>a</td><td>b</td></tr>', 40000) + '</table>'),
]


def load_maker():
    spec = importlib.util.spec_from_file_location('make_olm', os.path.join(ROOT, 'tests', 'data', 'make_olm.py'))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def write_archive(path, markup, copies=1):
    maker = load_maker()
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
        for i in range(copies):
            item = maker.item('email', {
                # The frame makes the body read as markup, not as text.
                'OPFMessageCopyBody': maker.text('<html><body>' + markup + '</body></html>'),
                'OPFMessageCopyFromAddresses': '<emailAddress xml:space="preserve" OPFContactEmailAddressAddress='
                                               '"a@example.com" OPFContactEmailAddressName="A" '
                                               'OPFContactEmailAddressType="0"></emailAddress>',
                'OPFMessageCopyMessageID': 'm%d@example.com' % i,
                'OPFMessageCopySentTime': '2020-01-02T03:04:05',
                'OPFMessageCopySubject': 'Markup %d' % i,
            })
            zf.writestr(maker.MESSAGES_ROOT + 'Inbox/message_%05d.xml' % i, maker.root('emails', [item]))


def pages_in(dest):
    found = []
    for folder, _, files in os.walk(dest):
        found += [os.path.join(folder, f) for f in files if f.endswith('.htm')]
    return found


def run_save(bench, archive, dest, extra=(), limit_kib=None):
    def limit():
        if limit_kib:
            resource.setrlimit(resource.RLIMIT_AS, (limit_kib * 1024, limit_kib * 1024))
    os.makedirs(dest)
    run = subprocess.run([bench, 'save', archive, dest, '--type', '5', *extra], capture_output=True,
                         preexec_fn=limit)
    lines = run.stdout.decode().strip().splitlines()
    return run.returncode, json.loads(lines[-1]) if lines else {}


def describe(code):
    return 'signal %s' % signal.Signals(-code).name if code < 0 else 'exit %d' % code


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    bench = os.path.join(sys.argv[1], 'bench', 'olmbench')
    wanted = sys.argv[2:]
    work = tempfile.mkdtemp(prefix='page-filter-')
    try:
        print('%-32s %9s %9s %9s %11s  %s' % ('input', 'markup', 'seconds', 'peak MB', 'page bytes', 'body'))
        for n, (name, make) in enumerate(INPUTS):
            if wanted and name not in wanted:
                continue
            markup = make()
            archive = os.path.join(work, '%d.olm' % n)
            write_archive(archive, markup)
            dest = os.path.join(work, 'out-%d' % n)
            code, result = run_save(bench, archive, dest)
            pages = pages_in(dest)
            page = open(pages[0], 'rb').read() if pages else b''
            shown = 'no page' if not pages else ('text' if AS_TEXT in page else 'markup')
            print('%-32s %9d %9.3f %9.1f %11d  %s%s' % (name, len(markup), result.get('seconds', -1),
                                                       result.get('peak_rss_kb', 0) / 1024, len(page), shown,
                                                       '' if code == 0 else ' (%s)' % describe(code)))
            if name == 'formatting re-opened, doubled':
                code, result = run_save(bench, archive, dest + '-limited', limit_kib=2000000)
                print('%-32s %9s %9.3f %9.1f %11s  %s' % ('  under ulimit -v 2000000', '', result.get('seconds', -1),
                                                         result.get('peak_rss_kb', 0) / 1024, '', describe(code)))
        if not wanted:
            archive = os.path.join(work, 'many.olm')
            write_archive(archive, dict(INPUTS)['foreign stack 100k'](), copies=16)
            code, result = run_save(bench, archive, os.path.join(work, 'out-stop'), ['--stop-after', '0.5'])
            print('stop 0.5 s into a save of 16 such messages: ended %.3f s after the stop (%s, %d pages)' %
                  (result.get('stop_lag_seconds', -1), describe(code), result.get('written', 0)))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
