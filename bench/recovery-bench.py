#!/usr/bin/env python3
"""Recovery from damaged archives, compared with general archive tools.

    python3 bench/recovery-bench.py BUILD_DIR [--messages N] [--seed S] [--work DIR] [--sample-only]
                                    [--modes PATTERN] [--tools PATTERN]

Builds an archive in the exporter's layout (messages in several folders, each with an attachment
that is itself a ZIP archive, as every Office document is, and the contacts, calendar, tasks and
notes lists), damages copies of it and of the sample archive in several ways, and counts on each
copy the messages, attachments, contacts, calendar items, tasks and notes that come back intact:
from our save (Apple Mail mailboxes, read back with Python's mailbox module; the other items from
the scan; with the scan's time and peak memory) and from "7z x" (p7zip-full), "bsdtar -x"
(libarchive-tools) and "unzip" when they are installed, and from Python's zipfile member by member.
A message is intact when its XML (for the tools) or its Message-ID, subject and body (for us) are
what was stored; an attachment when its bytes are; a list item when its XML is.
The last column compares each message of the intact archive's save with the damaged one's
(folder, subject, text, attachments, matched by Message-ID): same / changed but named in the
save's report / changed and not named. Prints one table per archive.
"""

import argparse
import collections
import email
import email.policy
import hashlib
import html
import io
import json
import mailbox
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

from olm_maker import ROOT, load_maker
SAMPLE = os.path.join(ROOT, 'tests', 'data', 'outlook_example.olm')
LISTS = (('Contacts.xml', '</contact>'), ('Calendar.xml', '</appointment>'), ('Tasks.xml', '</task>'),
         ('Notes.xml', '</note>'))
FOLDERS = ('Inbox', 'Drafts', 'Deleted Items', 'Sent Items')


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
        g.directory('Local/Address Book/')
        g.put('Local/Address Book/Contacts.xml', maker.root('contacts', [g.contact() for _ in range(50)]))
        g.directory('Local/Calendar/')
        g.put('Local/Calendar/Calendar.xml', maker.root('appointments', [g.event() for _ in range(30)]))
        g.directory('Local/Tasks/')
        g.put('Local/Tasks/Tasks.xml', maker.root('tasks', [g.task() for _ in range(20)]))
        g.directory('Local/Notes/')
        g.put('Local/Notes/Notes.xml', maker.root('notes', [g.note() for _ in range(10)]))
        for k, folder in enumerate(FOLDERS):
            g.directory(maker.MESSAGES_ROOT + folder + '/' + maker.ATTACHMENTS_DIR)
            for i in range(messages // len(FOLDERS) + (k < messages % len(FOLDERS))):
                g.message(folder, i, 3000)
    return stored


def read_archive(path):
    with zipfile.ZipFile(path) as zf:
        return {i.filename: zf.read(i) for i in zf.infolist() if not i.filename.endswith('/')}


# ---- where things are: local headers by walking them, central records by the end records

def u16(data, at):
    return int.from_bytes(data[at:at + 2], 'little')


def u32(data, at):
    return int.from_bytes(data[at:at + 4], 'little')


def u64(data, at):
    return int.from_bytes(data[at:at + 8], 'little')


def central_records(data):
    """[(name, {'usize'|'csize'|'offset': (position, width)}, record offset)] in directory order."""
    eocd = data.rfind(b'PK\x05\x06')
    if data[eocd - 20:eocd - 16] == b'PK\x06\x07':
        z64 = u64(data, eocd - 12)
        count, at = u64(data, z64 + 32), u64(data, z64 + 48)
    else:
        count, at = u16(data, eocd + 10), u32(data, eocd + 16)
    records = []
    for _ in range(count):
        n, m, k = u16(data, at + 28), u16(data, at + 30), u16(data, at + 32)
        z, p = None, at + 46 + n
        while p + 4 <= at + 46 + n + m:
            if u16(data, p) == 1:
                z = p + 4
                break
            p += 4 + u16(data, p + 2)
        fields = {}
        for key, fixed in (('usize', 24), ('csize', 20), ('offset', 42)):
            if u32(data, at + fixed) == 0xFFFFFFFF and z is not None:
                fields[key], z = (z, 8), z + 8
            else:
                fields[key] = (at + fixed, 4)
        records.append((bytes(data[at + 46:at + 46 + n]), fields, at))
        at += 46 + n + m + k
    return records


def get(data, field):
    return int.from_bytes(data[field[0]:field[0] + field[1]], 'little')


def put(data, field, value):
    data[field[0]:field[0] + field[1]] = (value % (1 << (8 * field[1]))).to_bytes(field[1], 'little')


def local_offsets(data):
    return {name.decode('utf-8', 'replace'): get(data, f['offset']) for name, f, _ in central_records(data)}


def is_message(name):
    return '/message_' in name and name.endswith('.xml')


# ---- damage modes: each takes the bytes, the stored entries and a seeded generator

def picked(data, stored, rng, share):
    offsets = local_offsets(data)
    return [offsets[n] for n in stored if n in offsets and rng.random() < share]


def zero_crcs(data, stored, rng):
    for off in picked(data, stored, rng, 0.3):
        data[off + 14:off + 18] = b'\0\0\0\0'


def smash_signatures(data, stored, rng):
    for off in picked(data, stored, rng, 0.3):
        data[off:off + 4] = b'\x11\x11\x11\x11'


def bad_sizes(data, stored, rng):
    for off in picked(data, stored, rng, 0.3):
        at = off + 30 + u16(data, off + 26) + 4   # the ZIP64 extra's sizes
        value = rng.randrange(1, 1 << 20).to_bytes(8, 'little')
        data[at:at + 16] = value + value


def zeroed_runs(data, stored, rng):
    for _ in range(5):
        at = rng.randrange(len(data) * 9 // 10)
        data[at:at + 4096] = bytes(min(4096, len(data) - at))


def flips(data, stored, rng):
    for _ in range(max(1, len(data) // 20000)):
        at = rng.randrange(len(data))
        data[at] ^= rng.randrange(1, 256)


def cut_tail(data, stored, rng):
    del data[len(data) * 3 // 4:]


def no_central_directory(data, stored, rng):
    first_central = data.find(b'PK\x01\x02', max(local_offsets(data).values()))
    del data[first_central:]


def message_records(data, rng, count):
    records = [r for r in central_records(data) if is_message(r[0].decode('utf-8', 'replace'))]
    return rng.sample(records, min(count, len(records)))


def central_size_short(data, stored, rng):
    """Four messages' central sizes 300 bytes short; their local headers intact."""
    for _, fields, _ in message_records(data, rng, 4):
        for key in ('usize', 'csize'):
            put(data, fields[key], max(0, get(data, fields[key]) - 300))


def invalid_utf8_names(data, stored, rng):
    """'mess' of eight message names replaced by bytes that are no UTF-8, in both headers."""
    for name, fields, at in message_records(data, rng, 8):
        i = name.rfind(b'/mess') + 1
        data[at + 46 + i:at + 50 + i] = b'\x6d\xff\xfe\xc0'
        local = get(data, fields['offset'])
        data[local + 30 + i:local + 34 + i] = b'\x6d\xff\xfe\xc0'


def central_offsets_shifted(data, stored, rng):
    """Every central offset 4,096 bytes on; local headers untouched."""
    for _, fields, _ in central_records(data):
        put(data, fields['offset'], get(data, fields['offset']) + 4096)


def central_offsets_swapped(data, stored, rng):
    """Eight messages' central offsets point at each other's local headers."""
    chosen = message_records(data, rng, 8)
    targets = [get(data, f['offset']) for _, f, _ in chosen]
    for (_, fields, _), target in zip(chosen, targets[1:] + targets[:1]):
        put(data, fields['offset'], target)


def rewritten(data, change):
    """The archive written again entry by entry, change(name, bytes) giving each entry's new bytes
    (None drops it, a list of (name, bytes) adds entries after it)."""
    out = io.BytesIO()
    with zipfile.ZipFile(io.BytesIO(bytes(data))) as src, \
            zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED, allowZip64=True) as dst:
        for info in src.infolist():
            got = change(info.filename, src.read(info))
            for name, body in (got if isinstance(got, list) else [(info.filename, got)]):
                if body is not None:
                    dst.writestr(name, body)
    data[:] = out.getvalue()


def first_message(data, rng):
    names = [r for r in central_records(data) if is_message(r[0].decode('utf-8', 'replace'))]
    return names[min(len(names) - 1, 3)]


def cut_xml_passing(data, stored, rng):
    """Four messages cut after their subject, with the sizes and CRC-32 of the cut bytes."""
    chosen = {r[0].decode() for r in message_records(data, rng, 4)}

    def change(name, body):
        if name not in chosen:
            return body
        at = body.find(b'</OPFMessageCopySubject>')
        return body[:at + 24] if at >= 0 else body[:len(body) // 2]
    rewritten(data, change)


def zeroed_header_and_record(data, stored, rng):
    """4 KiB zeroed from a message's local header, and 46 bytes of the directory's second record."""
    records = central_records(data)
    name, fields, _ = first_message(data, rng)
    at = get(data, fields['offset'])
    data[at:at + 4096] = bytes(min(4096, len(data) - at))
    second = records[1][2]
    data[second:second + 46] = bytes(46)


def zeroed_every_mib(data, stored, rng):
    for at in range(1 << 19, len(data), 1 << 20):
        data[at:at + 4096] = bytes(min(4096, len(data) - at))


def stub_before(data, stored, rng):
    """64 KiB of zeros before the archive, with one local-header signature whose name length runs
    over the first real headers; the central offsets left as they were."""
    stub = bytearray(65536)
    at = 65536 - 200
    stub[at:at + 4] = b'PK\x03\x04'
    stub[at + 26:at + 28] = (6600).to_bytes(2, 'little')
    data[:0] = stub


def descriptor_no_dir(data, stored, rng):
    """A message header with the descriptor flag, CRC and sizes 0, and no central directory."""
    _, fields, _ = first_message(data, rng)
    at = get(data, fields['offset'])
    data[at + 6] |= 8
    data[at + 14:at + 26] = bytes(12)
    n, m = u16(data, at + 26), u16(data, at + 28)
    p = at + 30 + n
    while p + 4 <= at + 30 + n + m:
        if u16(data, p) == 1:
            data[p + 4:p + 4 + u16(data, p + 2)] = bytes(u16(data, p + 2))
        p += 4 + u16(data, p + 2)
    no_central_directory(data, stored, rng)


def deleted_header(data, stored, rng):
    """200 bytes removed at a message's local header."""
    _, fields, _ = first_message(data, rng)
    at = get(data, fields['offset'])
    del data[at:at + 200]


def second_record_of_name(data, stored, rng):
    """A central record given the name of the message before it in its folder: two records of one
    name, the second pointing at another message's header."""
    records = [r for r in central_records(data) if is_message(r[0].decode('utf-8', 'replace'))]
    for (a, _, _), (b, _, at) in zip(records, records[1:]):
        if len(a) == len(b) and a.rsplit(b'/', 1)[0] == b.rsplit(b'/', 1)[0]:
            data[at + 46:at + 46 + len(a)] = a
            return


def stretched_sizes(data, stored, rng):
    """Four messages' local and central sizes 500 bytes longer, over the next entry."""
    for _, fields, _ in message_records(data, rng, 4):
        at = get(data, fields['offset'])
        for key in ('usize', 'csize'):
            put(data, fields[key], get(data, fields[key]) + 500)
        n, m = u16(data, at + 26), u16(data, at + 28)
        p = at + 30 + n
        while p + 4 <= at + 30 + n + m:
            if u16(data, p) == 1:
                for k in range(0, u16(data, p + 2), 8):
                    put(data, (p + 4 + k, 8), get(data, (p + 4 + k, 8)) + 500)
            p += 4 + u16(data, p + 2)
        for fixed in (18, 22):
            if u32(data, at + fixed) != 0xFFFFFFFF:
                put(data, (at + fixed, 4), u32(data, at + fixed) + 500)


def contacts_copy(data, stored, rng):
    """Contacts.xml stored again inside a mail folder."""
    def change(name, body):
        if name.endswith('/Contacts.xml'):
            return [(name, body), ('Local/com.microsoft.__Messages/Inbox/Contacts.xml', body)]
        return body
    rewritten(data, change)


def shifted_entries(data, stored, rng, delta, count=20):
    """delta bytes removed (< 0) or added inside each of count entries (messages, attachments and
    the lists): every header behind stands moved from where the directory points."""
    records = [r for r in central_records(data) if get(data, r[1]['csize']) > 200]
    records = rng.sample(records, min(count, len(records)))
    # All places first: each change moves the directory, where the offsets are read.
    places = []
    for _, fields, _ in records:
        at = get(data, fields['offset'])
        places.append(at + 30 + u16(data, at + 26) + u16(data, at + 28) + 100)
    for at in sorted(places, reverse=True):
        if delta < 0:
            del data[at:at - delta]
        else:
            data[at:at] = b' ' * delta


HEADER_FIELDS = (('signature', 2), ('version', 5), ('CRC', 15), ('sizes', 20), ('name', 40), ('extra', -6))


def bytes_in_headers(data, stored, rng):
    """1 to 8 bytes put into 10 entries' local headers, one field each: the signature, the
    version, the CRC-32, the sizes, the name, the ZIP64 extra."""
    offsets = sorted(rng.sample([get(data, f['offset']) for _, f, _ in central_records(data)], 10), reverse=True)
    for k, at in enumerate(offsets):
        _, where = HEADER_FIELDS[k % len(HEADER_FIELDS)]
        # The name's middle, and the extra counted back from the data.
        if where == 40:
            where = 30 + u16(data, at + 26) // 2
        elif where < 0:
            where = 30 + u16(data, at + 26) + u16(data, at + 28) + where
        data[at + where:at + where] = bytes(rng.randrange(256) for _ in range(rng.randrange(1, 9)))


def lf_to_crlf(data, stored, rng):
    """The file copied in text mode: every LF turned into CR LF."""
    data[:] = bytes(data).replace(b'\n', b'\r\n')


def cut_at(data, stored, rng, share):
    del data[int(len(data) * share):]


def name_length_off(data, stored, rng):
    """Four messages' local name lengths one too long or too short."""
    for k, (_, fields, _) in enumerate(message_records(data, rng, 4)):
        at = get(data, fields['offset'])
        put(data, (at + 26, 2), u16(data, at + 26) + (1 if k % 2 else -1))


SIGNATURE_TEXT = b'PK\x03\x04 and PK\x01\x02'


def signatures_in_text(data, stored, rng):
    """Five messages whose bodies hold the bytes of a local-header or central-record signature;
    the archive itself intact."""
    chosen = {r[0].decode() for r in message_records(data, rng, 5)}
    changed = {}

    def change(name, body):
        if name not in chosen:
            return body
        at = body.find(b'</OPFMessageCopyBody>')
        if at >= 0:
            body = changed[name] = body[:at] + SIGNATURE_TEXT + body[at:]
        return body
    rewritten(data, change)
    return changed


def fake_header_run(data, stored, rng):
    """16 MiB of local-header signatures after one message, and no central directory."""
    name, fields, _ = first_message(data, rng)
    at = get(data, fields['offset'])
    end = at + 30 + u16(data, at + 26) + u16(data, at + 28) + get(data, fields['csize'])
    no_central_directory(data, stored, rng)
    shift = rng.randrange(4)
    data[end:end] = (b'PK\x03\x04' * ((16 << 20) // 4 + 1))[shift:shift + (16 << 20)]


MODES = [('intact', lambda *a: None), ('zeroed CRCs', zero_crcs), ('smashed signatures', smash_signatures),
         ('bad sizes', bad_sizes), ('zeroed runs', zeroed_runs), ('flips', flips), ('cut tail', cut_tail),
         ('no central directory', no_central_directory),
         ('zeroed CRCs, no dir.', lambda *a: (zero_crcs(*a), no_central_directory(*a))),
         ('smashed sigs, no dir.', lambda *a: (smash_signatures(*a), no_central_directory(*a))),
         ('central size -300', central_size_short), ('invalid UTF-8 names', invalid_utf8_names),
         ('central offsets +4096', central_offsets_shifted), ('central offsets swapped', central_offsets_swapped),
         ('cut XML, CRC of the cut', cut_xml_passing), ('zeroed header + record', zeroed_header_and_record),
         ('4 KiB zeroed every MiB', zeroed_every_mib), ('deleted local header', deleted_header),
         ('64 KiB stub before', stub_before), ('descriptor flag, no dir.', descriptor_no_dir),
         ('second record of a name', second_record_of_name), ('sizes over next entry', stretched_sizes),
         ('Contacts.xml copied', contacts_copy),
         ('1 byte removed in 20', lambda *a: shifted_entries(*a, -1)),
         ('3 bytes added in 20', lambda *a: shifted_entries(*a, 3)),
         ('4 bytes removed in 1', lambda *a: shifted_entries(*a, -4, 1)),
         ('4 bytes removed in 20', lambda *a: shifted_entries(*a, -4)),
         ('5 bytes removed in 20', lambda *a: shifted_entries(*a, -5)),
         ('8 bytes removed in 20', lambda *a: shifted_entries(*a, -8)),
         ('16 bytes added in 20', lambda *a: shifted_entries(*a, 16)),
         ('64 bytes removed in 20', lambda *a: shifted_entries(*a, -64)),
         ('300 bytes added in 20', lambda *a: shifted_entries(*a, 300)),
         ('bytes in 10 headers', bytes_in_headers), ('LF to CR LF', lf_to_crlf),
         ('cut at 10 %', lambda *a: cut_at(*a, 0.10)), ('cut at 50 %', lambda *a: cut_at(*a, 0.50)),
         ('cut at 90 %', lambda *a: cut_at(*a, 0.90)), ('cut at 99 %', lambda *a: cut_at(*a, 0.99)),
         ('name length off by one', name_length_off), ('signatures in text', signatures_in_text),
         ('fake headers, no dir.', fake_header_run)]


# ---- counting

def list_items(data, close):
    return [p + close for p in data.decode('utf-8', 'replace').split(close)[:-1]]


def count_tool_output(folder, stored):
    """Messages, attachments and list items whose bytes came back, under whatever name."""
    found = collections.Counter()
    texts = []
    for top, _, files in os.walk(folder):
        for f in files:
            with open(os.path.join(top, f), 'rb') as fh:
                data = fh.read()
            found[hashlib.md5(data).digest()] += 1
            if f.endswith('.xml'):
                texts.append(data.decode('utf-8', 'replace'))
    mails = attachments = 0
    for name, data in stored.items():
        if found[hashlib.md5(data).digest()]:
            mails += is_message(name)
            attachments += maker_attachment(name)
    items = []
    for list_name, close in LISTS:
        want = [i for n, d in stored.items() if n.endswith('/' + list_name) for i in list_items(d, close)]
        items.append(sum(any(i in t for t in texts) for i in want))
    return [mails, attachments] + items


def maker_attachment(name):
    return '__Attachments/' in name and not name.endswith('/')


def run_zipfile(archive, folder):
    """Python's zipfile, member by member: a member that fails to read is left out."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    try:
        zf = zipfile.ZipFile(archive)
    except (zipfile.BadZipFile, OSError, ValueError):
        return
    with zf:
        for k, info in enumerate(zf.infolist()):
            if info.filename.endswith('/'):
                continue
            try:
                data = zf.read(info)
            except Exception:   # any damage: the member is not recovered
                continue
            with open(os.path.join(folder, '%d-%s' % (k, os.path.basename(info.filename))), 'wb') as f:
                f.write(data)


def run_tool(argv, folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)


def saved_messages(dest):
    """Message-ID -> [(folder, subject words, body words, attachment digests)] of one save."""
    saved = collections.defaultdict(list)
    for folder, _, files in os.walk(dest):
        for f in files:
            if not f.endswith('.mbox'):
                continue
            where = os.path.relpath(os.path.join(folder, f), dest).split(os.sep, 1)[-1]
            for msg in mailbox.mbox(os.path.join(folder, f), create=False):
                msg = email.message_from_bytes(msg.as_bytes(), policy=email.policy.default)
                found = sorted(hashlib.md5(p.get_payload(decode=True) or b'').hexdigest()
                               for p in msg.iter_attachments())
                body = msg.get_body(preferencelist=('html', 'plain'))
                saved[(msg.get('Message-ID') or '').strip('<> ')].append(
                    (where, words(str(msg.get('Subject') or '')), words(body.get_content() if body else ''),
                     tuple(found)))
    return saved


def run_ours(bench, archive, dest):
    shutil.rmtree(dest, ignore_errors=True)
    os.makedirs(dest)
    done = subprocess.run([bench, 'save', archive, dest, '--type', '2'], capture_output=True, text=True,
                          timeout=600)
    try:
        summary = json.loads(done.stdout)
    except ValueError:
        summary = {}
    # Through a shell that forks it: a child of this process would report this process's own peak
    # memory as its peak (the kernel keeps it across fork and exec).
    scan = subprocess.run(['sh', '-c', '"$0" "$@"; exit $?', bench, 'scan', archive], capture_output=True,
                          text=True, timeout=600)
    try:
        summary['scan'] = json.loads(scan.stdout)
    except ValueError:
        summary['scan'] = {}
    report = ''
    if summary.get('report'):
        with open(summary['report'], encoding='utf-8', errors='replace') as f:
            report = f.read()
    return saved_messages(dest), summary, report


def expected_messages(stored):
    """Message-ID -> (entry name, subject words, body words) as stored."""
    expected = {}
    for name, data in stored.items():
        if is_message(name):
            text = data.decode('utf-8', 'replace')
            expected[element(text, 'OPFMessageCopyMessageID')] = (
                name, words(html.unescape(element(text, 'OPFMessageCopySubject'))),
                words(html.unescape(html.unescape(element(text, 'OPFMessageCopyBody')))))
    return expected


def references(mid, intact, changed):
    """What the save of an intact archive shows of a message: subject and text words; for one
    whose text the damage added to, with the added text after it."""
    if mid in changed:
        # The words of the text before it may or may not have ended in a blank.
        added = SIGNATURE_TEXT.decode('latin-1')
        return {(c[1], words(c[2] + gap + added)) for c in intact.get(mid, []) for gap in ('', ' ')}
    return {c[1:3] for c in intact.get(mid, [])}


def count_ours(saved, summary, stored, intact, changed=()):
    """A message counts when its subject and text are as stored, or (where the stored HTML does
    not compare as text) as in the intact archive's save."""
    digests = {hashlib.md5(d).hexdigest() for n, d in stored.items() if maker_attachment(n)}
    mails = attachments = 0
    for mid, copies in saved.items():
        want = EXPECTED.get(mid)
        reference = references(mid, intact, changed)
        for _, subject, body, found in copies:
            attachments += sum(d in digests for d in found)
            mails += want is not None and ((subject, body) == want[1:] or (subject, body) in reference)
    scan = summary.get('scan', {})
    return [mails, attachments] + [scan.get(k, 0) for k in ('contacts', 'calendar', 'tasks', 'notes')]


EXPECTED = {}
ONLY = None


def compare_with_intact(intact, damaged, report, expected, changed=()):
    """Messages of the intact save: same in the damaged one, changed but named, changed unnamed.
    A message the damage rewrote is the same when its subject and text are the new ones."""
    same = named = unnamed = 0
    for mid, copies in intact.items():
        if damaged.get(mid) == copies or (
                mid in changed and any(c[1:3] in references(mid, intact, changed) | {expected[mid][1:]}
                                       for c in damaged.get(mid, []))):
            same += 1
            continue
        name = expected.get(mid, ('', '', ''))[0]
        subject = copies[0][1]
        tail = name.rsplit('/', 1)[-1][-9:]   # "00012.xml": what survives a damaged name
        if (tail and tail in report and name.rsplit('/', 2)[-2] in report) or (subject and subject in report):
            named += 1
        else:
            unnamed += 1
    return '%d/%d/%d' % (same, named, unnamed)


def cells(values):
    return '/'.join(str(v) for v in values)


def bench_archive(label, base, stored, bench, work, seed, tools):
    global EXPECTED
    EXPECTED = expected_messages(stored)
    total = [sum(is_message(n) for n in stored), sum(maker_attachment(n) for n in stored)]
    for list_name, close in LISTS:
        total.append(sum(len(list_items(d, close)) for n, d in stored.items() if n.endswith('/' + list_name)))
    print('%s: %s messages/attachments/contacts/calendar items/tasks/notes stored; intact ones recovered'
          % (label, cells(total)))
    header = '%-24s %22s %7s %6s' % ('damage', 'ours', 'scan', 'peak') + ''.join(' %22s' % t for t in tools) + '  same/named/unnamed'
    print(header)
    print('-' * len(header))
    intact = None
    for k, (mode, damage) in enumerate(MODES):
        if ONLY and k and not re.search(ONLY, mode):
            continue
        data = bytearray(open(base, 'rb').read())
        # A damage that rewrites entries gives their new bytes: they are what must come back.
        changed = damage(data, stored, random.Random(seed * 100 + k))
        changed = changed if isinstance(changed, dict) else {}
        row_stored = dict(stored, **changed)
        EXPECTED = expected_messages(row_stored)
        changed_ids = {mid for mid, v in EXPECTED.items() if v[0] in changed}
        archive = os.path.join(work, '%s-damaged-%d.olm' % (label, k))
        with open(archive, 'wb') as f:
            f.write(data)
        saved, summary, report = run_ours(bench, archive, os.path.join(work, '%s-ours-%d' % (label, k)))
        if intact is None:
            intact = saved
        scan = summary.get('scan', {})
        row = '%-24s %22s %6.3fs %5dM' % (mode, cells(count_ours(saved, summary, row_stored, intact, changed_ids)),
                                          scan.get('seconds', 0), scan.get('peak_rss_kb', 0) // 1024)
        for tool in tools:
            out = os.path.join(work, '%s-%s-%d' % (label, tool, k))
            if tool == '7z':
                run_tool(['7z', 'x', '-y', '-o' + out, archive], out)
            elif tool == 'zipfile':
                run_zipfile(archive, out)
            elif tool == 'unzip':
                run_tool(['unzip', '-o', '-qq', archive, '-d', out], out)
            else:
                run_tool(['bsdtar', '-xf', archive, '-C', out], out)
            row += ' %22s' % cells(count_tool_output(out, row_stored))
        row += '  %s' % compare_with_intact(intact, saved, report, EXPECTED, changed_ids)
        print(row, flush=True)
    print()


def element(text, name):
    start = text.find('<%s xml:space="preserve">' % name)
    if start < 0:
        return ''
    start = text.index('>', start) + 1
    return text[start:text.find('</%s>' % name, start)]


def words(text):
    # Control bytes in mail text need not survive a save: compared without them.
    return ' '.join(re.sub('[\x00-\x08\x0b\x0c\x0e-\x1f]', '', text).split())


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument('build')
    p.add_argument('--messages', type=int, default=300)
    p.add_argument('--seed', type=int, default=3)
    p.add_argument('--work')
    p.add_argument('--sample-only', action='store_true')
    p.add_argument('--modes', help='only the damage modes whose names match this pattern')
    p.add_argument('--tools', help='only the tools whose names match this pattern (7z, bsdtar, unzip, zipfile)')
    args = p.parse_args()
    global ONLY
    ONLY = args.modes
    bench = os.path.join(args.build, 'bench', 'olmbench')
    work = args.work or tempfile.mkdtemp(prefix='recovery-bench-')
    os.makedirs(work, exist_ok=True)
    tools = [t for t in ('7z', 'bsdtar', 'unzip') if shutil.which(t)] + ['zipfile']
    tools = [t for t in tools if not args.tools or re.search(args.tools, t)]
    if not args.sample_only:
        base = os.path.join(work, 'base.olm')
        stored = build(base, args.messages, args.seed)
        bench_archive('generated', base, stored, bench, work, args.seed, tools)
    bench_archive('sample', SAMPLE, read_archive(SAMPLE), bench, work, args.seed, tools)
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
