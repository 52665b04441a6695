#!/usr/bin/env python3
"""Time and peak memory of saving as pages (.htm) messages whose markup makes an HTML parser work
far beyond its size.

    python3 bench/page-filter-bench.py BUILD_DIR [NAME ...]

For each input (default: all) an archive holding one message with that markup as its body is
saved as pages by olmbench; prints the CPU and wall seconds, the peak memory, the page's size and
whether the body shows as markup or as its source text. Then archives of 16 costly inputs are
saved and stopped at six points: the seconds from the stop to the end of the save. Last, a mix
of 36 messages (ordinary ones and three of each costly kind) is saved as types 3, 4 and 5 under
address-space limits of 1,000,000 and 2,000,000 KiB (as `ulimit -v`): each must end with exit 0
or 1, never a signal.
"""

import json
import os
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import zipfile

from olm_maker import ROOT, load_maker
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
    # Text under deep or re-opened elements: the parser walks its stack at every character.
    ('option/span 35k, text 1.3 MB', lambda: repeat('<option><span>', 35000) + '<i>' * 3 + '<b>' + 'x' * 1300000),
    ('option/span 60k, text 4.5 MB', lambda: repeat('<option><span>', 60000) + '<b>' + 'x' * 4500000),
    ('divs 19k, text 1.5 MB', lambda: repeat('<div>', 19000) + '<b>' + 'x' * 1500000),
    ('articles 19k, text 1.5 MB', lambda: repeat('<article>', 19000) + '<b>' + 'x' * 1500000),
    ('select storm', lambda: repeat('<select><option>x', 100000)),
    # A formatting element with a 1 MB style, copied by the parser into every paragraph: the walk
    # after the parse reads each copy's style.
    ('copied style 1.9 MB', lambda: copied_style(900000, 200)),
    ('copied style 4.9 MB', lambda: copied_style(3900000, 500)),
    # Ordinary markup that must stay markup.
    ('table 2 MB without </td>', lambda: table_rows(2000000, False)),
    ('table 5 MB without </td>', lambda: table_rows(5000000, False)),
    ('table 5 MB with end tags', lambda: table_rows(5000000, True)),
]

# The inputs a save of 16 messages is stopped in.
STOPPED_INPUTS = ['option/span 35k, text 1.3 MB', 'copied style 4.9 MB']


def copied_style(comment, paragraphs):
    return '<!--' + 'p' * comment + '-->' + '<p><b style="' + '@import a;' * 100000 + '">' + '<p>x' * paragraphs


def table_rows(size, end_tags):
    cell = '<td>%d</td>' if end_tags else '<td>%d'
    row = '<tr>' + ''.join(cell % (i * 7 % 1000) for i in range(10)) + ('</tr>' if end_tags else '')
    return '<table>' + row * (size // len(row)) + '</table>'


def write_archive(path, bodies):
    """An archive of one message for each markup in bodies (a string: one message)."""
    maker = load_maker()
    bodies = [bodies] if isinstance(bodies, str) else bodies
    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
        for i, markup in enumerate(bodies):
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


def run_save(bench, archive, dest, extra=(), limit_kib=None, save_type=5):
    def limit():
        if limit_kib:
            resource.setrlimit(resource.RLIMIT_AS, (limit_kib * 1024, limit_kib * 1024))
    os.makedirs(dest)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    run = subprocess.run([bench, 'save', archive, dest, '--type', str(save_type), *extra], capture_output=True,
                         preexec_fn=limit)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    lines = run.stdout.decode().strip().splitlines()
    result = json.loads(lines[-1]) if lines and lines[-1].startswith('{') else {}
    result['cpu'] = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
    return run.returncode, result


def describe(code):
    return 'signal %s' % signal.Signals(-code).name if code < 0 else 'exit %d' % code


def mix():
    """36 messages: ordinary ones, tables without </td>, and three of each costly kind."""
    ordinary = '<p>Hello <b>there</b>, see the <a href="https://example.com/">list</a>.</p>' * 50
    costly = ['formatting re-opened, doubled', 'option/span 35k, text 1.3 MB', 'divs 19k, text 1.5 MB',
              'select storm', 'foreign stack 100k', '15k spans, 200k end tags', 'attributes 200k',
              'table 2 MB without </td>']
    bodies = [ordinary] * 6 + ['<img src="data:image/png;base64,' + 'A' * 6000000 + '">'] * 3
    bodies += [dict(INPUTS)[name]() for name in costly for _ in range(3)]
    return bodies[:36] + [ordinary] * (36 - len(bodies))


def print_row(name, size, code, result, shown, page_bytes=''):
    print('%-32s %9s %7.2f %7.2f %8.1f %11s  %s%s' % (
        name, size, result.get('cpu', -1), result.get('seconds', -1), result.get('peak_rss_kb', 0) / 1024,
        page_bytes, shown, '' if code == 0 else ' (%s)' % describe(code)))


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    bench = os.path.join(sys.argv[1], 'bench', 'olmbench')
    wanted = sys.argv[2:]
    work = tempfile.mkdtemp(prefix='page-filter-')
    try:
        print('%-32s %9s %7s %7s %8s %11s  %s' % ('input', 'markup', 'cpu s', 'wall s', 'peak MB', 'page bytes',
                                                 'body'))
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
            print_row(name, len(markup), code, result, shown, len(page))
            shutil.rmtree(dest, ignore_errors=True)
        if wanted:
            return 0
        for n, name in enumerate(STOPPED_INPUTS):
            archive = os.path.join(work, 'many-%d.olm' % n)
            write_archive(archive, [dict(INPUTS)[name]()] * 16)
            for after in ('0.1', '0.3', '0.7', '1.2', '2.0', '5.0'):
                dest = os.path.join(work, 'out-stop-%d-%s' % (n, after))
                code, result = run_save(bench, archive, dest, ['--stop-after', after])
                print('stop %s s into a save of 16 x %s: ended %.3f s after the stop (%s, %d pages)' %
                      (after, name, result.get('stop_lag_seconds', -1), describe(code), result.get('written', 0)))
                shutil.rmtree(dest, ignore_errors=True)
        archive = os.path.join(work, 'mix.olm')
        write_archive(archive, mix())
        for save_type in (3, 4, 5):
            for limit in (1000000, 2000000):
                dest = os.path.join(work, 'out-mix-%d-%d' % (save_type, limit))
                code, result = run_save(bench, archive, dest, limit_kib=limit, save_type=save_type)
                print('type %d save of the 36-message mix under ulimit -v %d: %s, %s written, %s failed, '
                      '%.2f s' % (save_type, limit, describe(code), result.get('written', '?'),
                                  result.get('failed', '?'), result.get('seconds', -1)))
                shutil.rmtree(dest, ignore_errors=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
