#!/usr/bin/env python3
"""Recovery from damaged archives, compared with general archive tools.

    python3 bench/recovery-bench.py BUILD_DIR [--messages N] [--seed S] [--work DIR]

Builds an archive in the exporter's layout whose attachments are themselves ZIP archives (as
every Office document is), damages copies of it in several ways, and counts on each copy the
messages and attachments that come back intact: from our save (Apple Mail mailboxes, read back
with Python's mailbox module) and from "7z x" (p7zip-full) and "bsdtar -x" (libarchive-tools)
when they are installed. A message is intact when its XML (for the tools) or its Message-ID,
subject and body (for us) are what was stored; an attachment when its bytes are.
Prints one table.
"""

import argparse
import email
import email.policy
import hashlib
import html
import importlib.util
import io
import json
import mailbox
import os
import random
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def load_maker():
    spec = importlib.util.spec_from_file_location('make_olm', os.path.join(ROOT, 'tests', 'data', 'make_olm.py'))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def office_document(rng, size):
    """A small stored ZIP, like a .docx: its own local headers, directory and end record."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, 'w', zipfile.ZIP_STORED) as z:
        z.writestr('[Content_Types].xml', '<Types>%d</Types>' % rng.randrange(1 << 30))
        z.writestr('word/document.xml', rng.randbytes(max(16, size)))
    return buf.getvalue()


def build(path, messages, seed):
    maker = load_maker()
    rng = random.Random(seed)
    stored = {}

    class Generator(maker.Generator):
        def put(self, name, data):
            stored[name] = bytes(data)
            super().put(name, data)

        def put_random(self, name, size):
            data = office_document(self.rng, size)
            stored[name] = data
            with self._open(name) as f:
                f.write(data)
            self.attachments += 1

    with zipfile.ZipFile(path, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
        g = Generator(zf, rng)
        folder = 'Inbox'
        g.directory(maker.MESSAGES_ROOT + folder + '/' + maker.ATTACHMENTS_DIR)
        for i in range(messages):
            g.message(folder, i, 3000)
    with zipfile.ZipFile(path) as zf:
        offsets = {i.filename: i.header_offset for i in zf.infolist()}
    return stored, offsets


# ---- damage modes: each takes the bytes, the local header offsets and a seeded generator

def local_headers(data, offsets, names):
    return [offsets[n] for n in names if n in offsets]


def zero_crcs(data, offsets, stored, rng):
    for off in local_headers(data, offsets, [n for n in stored if rng.random() < 0.3]):
        data[off + 14:off + 18] = b'\0\0\0\0'


def smash_signatures(data, offsets, stored, rng):
    for off in local_headers(data, offsets, [n for n in stored if rng.random() < 0.3]):
        data[off:off + 4] = b'\x11\x11\x11\x11'


def bad_sizes(data, offsets, stored, rng):
    for off in local_headers(data, offsets, [n for n in stored if rng.random() < 0.3]):
        n = int.from_bytes(data[off + 26:off + 28], 'little')
        at = off + 30 + n + 4   # the ZIP64 extra's sizes
        value = rng.randrange(1, 1 << 20).to_bytes(8, 'little')
        data[at:at + 16] = value + value


def zeroed_runs(data, offsets, stored, rng):
    for _ in range(5):
        at = rng.randrange(len(data) * 9 // 10)
        data[at:at + 4096] = bytes(min(4096, len(data) - at))


def flips(data, offsets, stored, rng):
    for _ in range(max(1, len(data) // 20000)):
        at = rng.randrange(len(data))
        data[at] ^= rng.randrange(1, 256)


def cut_tail(data, offsets, stored, rng):
    del data[len(data) * 3 // 4:]


def no_central_directory(data, offsets, stored, rng):
    first_central = data.find(b'PK\x01\x02', max(offsets.values()))
    del data[first_central:]


MODES = [('intact', lambda *a: None), ('zeroed CRCs', zero_crcs), ('smashed signatures', smash_signatures),
         ('bad sizes', bad_sizes), ('zeroed runs', zeroed_runs), ('flips', flips), ('cut tail', cut_tail),
         ('no central directory', no_central_directory),
         ('zeroed CRCs, no dir.', lambda *a: (zero_crcs(*a), no_central_directory(*a))),
         ('smashed sigs, no dir.', lambda *a: (smash_signatures(*a), no_central_directory(*a)))]


# ---- counting

def count_tool_output(folder, stored):
    mails = attachments = 0
    for name, data in stored.items():
        path = os.path.join(folder, name)
        try:
            with open(path, 'rb') as f:
                ok = f.read() == data
        except OSError:
            continue
        if ok and name.endswith('.xml') and '/message_' in name:
            mails += 1
        elif ok and maker_attachment(name):
            attachments += 1
    return mails, attachments


def maker_attachment(name):
    return '__Attachments/' in name and not name.endswith('/')


def run_tool(argv, folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)


def count_ours(bench, archive, dest, stored):
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    done = subprocess.run([bench, 'save', archive, dest, '--type', '2'], capture_output=True, text=True,
                          timeout=600)
    try:
        summary = json.loads(done.stdout)
    except ValueError:
        return 0, 0, {}
    digests = {hashlib.md5(d).hexdigest() for n, d in stored.items() if maker_attachment(n)}
    # Message-ID -> (subject, body words, attachment digests) as stored.
    expected = {}
    for name, data in stored.items():
        if '/message_' in name:
            text = data.decode('utf-8')
            mid = element(text, 'OPFMessageCopyMessageID')
            urls = [u.split('"', 1)[0] for u in text.split('OPFAttachmentURL="')[1:]]
            expected[mid] = (words(html.unescape(element(text, 'OPFMessageCopySubject'))),
                             words(html.unescape(html.unescape(element(text, 'OPFMessageCopyBody')))),
                             sorted(hashlib.md5(stored[html.unescape(u)]).hexdigest() for u in urls))
    mails = attachments = 0
    for folder, _, files in os.walk(dest):
        for f in files:
            if not f.endswith('.mbox'):
                continue
            for msg in mailbox.mbox(os.path.join(folder, f), create=False):
                msg = email.message_from_bytes(msg.as_bytes(), policy=email.policy.default)
                found = sorted(hashlib.md5(p.get_payload(decode=True) or b'').hexdigest()
                               for p in msg.iter_attachments())
                attachments += sum(d in digests for d in found)
                want = expected.get((msg.get('Message-ID') or '').strip('<> '))
                body = msg.get_body(preferencelist=('html', 'plain'))
                got = (words(str(msg.get('Subject') or '')), words(body.get_content() if body else ''))
                mails += want is not None and got == want[:2]
    return mails, attachments, summary


def element(text, name):
    start = text.find('<%s xml:space="preserve">' % name)
    if start < 0:
        return ''
    start = text.index('>', start) + 1
    return text[start:text.find('</%s>' % name, start)]


def words(text):
    return ' '.join(text.split())


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument('build')
    p.add_argument('--messages', type=int, default=50)
    p.add_argument('--seed', type=int, default=3)
    p.add_argument('--work')
    args = p.parse_args()
    bench = os.path.join(args.build, 'bench', 'olmbench')
    work = args.work or tempfile.mkdtemp(prefix='recovery-bench-')
    os.makedirs(work, exist_ok=True)
    base = os.path.join(work, 'base.olm')
    stored, offsets = build(base, args.messages, args.seed)
    total_mails = sum('/message_' in n for n in stored)
    total_atts = sum(maker_attachment(n) for n in stored)
    tools = [t for t in ('7z', 'bsdtar') if shutil.which(t)]
    print('%d messages, %d Office-like attachments; intact messages / attachments recovered'
          % (total_mails, total_atts))
    header = '%-22s %12s' % ('damage', 'ours') + ''.join(' %12s' % t for t in tools) + '  our failed'
    print(header)
    print('-' * len(header))
    for k, (label, damage) in enumerate(MODES):
        data = bytearray(open(base, 'rb').read())
        damage(data, offsets, stored, random.Random(args.seed * 100 + k))
        archive = os.path.join(work, 'damaged-%d.olm' % k)
        with open(archive, 'wb') as f:
            f.write(data)
        ours_m, ours_a, summary = count_ours(bench, archive, os.path.join(work, 'ours-%d' % k), stored)
        row = '%-22s %12s' % (label, '%d / %d' % (ours_m, ours_a))
        for tool in tools:
            out = os.path.join(work, '%s-%d' % (tool, k))
            if tool == '7z':
                run_tool(['7z', 'x', '-y', '-o' + out, archive], out)
            else:
                run_tool(['bsdtar', '-xf', archive, '-C', out], out)
            m, a = count_tool_output(out, stored)
            row += ' %12s' % ('%d / %d' % (m, a))
        row += '  %s' % summary.get('failed', '?')
        print(row, flush=True)
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
