#!/usr/bin/env python3
"""Write a large archive in the exporter's layout, for benchmarks and smoke tests.

    python3 make_olm.py OUT.olm --messages N --contacts N --events N --tasks N \
        --notes N --attachment-bytes B --folders F [--subfolder NAME] --seed S \
        [--zip-attachments]

Entries are STORED with a ZIP64 local header (version 45, 20-byte ZIP64 extra),
UTF-8 flagged names and the exporter's item XML. The same seed gives the same file.
Prints a one-line JSON summary on stdout.
"""

import argparse
import io
import json
import os
import random
import sys
import time
import uuid
import zipfile
from xml.sax.saxutils import escape

DATE_TIME = (2018, 6, 21, 18, 12, 24)
MESSAGES_ROOT = 'Local/com.microsoft.__Messages/'
ATTACHMENTS_DIR = 'com.microsoft.__Attachments/'
POOL_BYTES = 8 << 20

WORDS = ('the of and to in is for on that with as this by from at be are report meeting '
         'budget quarter review draft schedule customer invoice project update please '
         'thanks regards attached agenda deadline server backup release notes team '
         'Grüße Straße naïve café Ångström façade Zürich Привет данные 日本語 テキスト '
         '东京 한국어 ελληνικά שלום 😀 €100 R&D <b>bold</b> "quoted" a<b c>d x&y').split()
FIRST_NAMES = ['Anna', 'Björn', 'Chloé', 'Dmitri', 'Eva', 'François', 'Günter', 'Hana',
               'Ivan', 'José', 'Kenji', 'Léa', 'Mia', 'Noah', 'Olga', 'Paul', 'Zoë', '陽菜']
LAST_NAMES = ['Müller', 'Smith', 'García', 'Øvergaard', 'Kowalski', 'Ivanova', 'Tanaka',
              'Nguyen', "O'Brien", 'Dubois', 'Rossi', 'Schmidt & Söhne', '佐藤']
FOLDERS = ['Inbox', 'Sent Items', 'Drafts', 'Archive', 'Inbox/Projects',
           'Inbox/Projects/Entwürfe', 'Clients & Partners', 'Junk E-mail']
CATEGORIES = [('Blue Category', 'r:0.61 g:0.61 b:0.61'), ('Family', 'r:0.63 g:0.26 b:0.80'),
              ('Holiday', 'r:0.89 g:0.15 b:0.15'), ('Personal', 'r:0.26 g:0.60 b:0.00'),
              ('Team', 'r:0.31 g:0.49 b:0.80'), ('Travel', 'r:0.62 g:0.40 b:0.20')]
ATTACHMENT_TYPES = [('pdf', 'application/pdf'), ('docx', 'application/vnd.openxmlformats-'
                    'officedocument.wordprocessingml.document'), ('jpg', 'image/jpeg'),
                    ('xls', 'application/octet-stream'), ('zip', 'application/zip')]


class _Info(zipfile.ZipInfo):
    # The exporter flags every name as UTF-8; zipfile only flags non-ASCII names.
    def _encodeFilenameFlags(self):
        return self.filename.encode('utf-8'), self.flag_bits | 0x800


def text(s):
    return escape(s)


def attr(s):
    return escape(s, {'"': '&quot;'})


def el(name, value):
    return '<%s xml:space="preserve">%s</%s>' % (name, value, name)


def item(name, fields):
    # The exporter writes each item's children sorted by element name.
    body = ''.join(el(k, v) for k, v in sorted(fields.items()) if v)
    return '<%s xml:space="preserve">%s</%s>' % (name, body, name)


def root(name, items):
    return ('<%s xml:space="preserve" elementCount="%d">%s</%s>'
            % (name, len(items), ''.join(items), name)).encode('utf-8')


def float_size(n):
    # Sizes appear as e.g. 5.0614E4 for 50614.
    s = str(n)
    frac = s[1:].rstrip('0')
    return '%s%sE%d' % (s[0], '.' + frac if frac else '', len(s) - 1)


class Generator:
    def __init__(self, zf, rng):
        self.zf = zf
        self.rng = rng
        self.pool = memoryview(rng.randbytes(POOL_BYTES))
        self.dirs = {'Local/'}  # the exporter writes no entry for the top folder
        self.entries = 0
        self.attachments = 0
        self.attachment_bytes = 0
        self.zip_attachments = False

    def _open(self, name):
        info = _Info(name, DATE_TIME)
        # Made on Unix: for MS-DOS-made entries unzip re-encodes the UTF-8 local names
        # zipfile writes and reports them as mismatching the central ones.
        info.create_system = 3
        info.external_attr = ((0o40755 << 16) | 0x10) if name.endswith('/') else (0o100644 << 16)
        self.entries += 1
        return self.zf.open(info, 'w', force_zip64=True)

    def put(self, name, data):
        with self._open(name) as f:
            f.write(data)

    def directory(self, path):
        names = path.rstrip('/').split('/')
        for i in range(1, len(names) + 1):
            d = '/'.join(names[:i]) + '/'
            if d not in self.dirs:
                self.dirs.add(d)
                with self._open(d):
                    pass

    def put_random(self, name, size):
        # Incompressible and unique per entry: a random prefix, then slices of a random pool.
        rng, pool = self.rng, self.pool
        with self._open(name) as f:
            head = rng.randbytes(min(16, size))
            f.write(head)
            left = size - len(head)
            while left > 0:
                n = min(left, len(pool) // 2)
                off = rng.randrange(len(pool) - n + 1)
                f.write(pool[off:off + n])
                left -= n
        self.attachments += 1
        self.attachment_bytes += size

    def zip_document(self, ext):
        # What mail really carries: a .docx (deflated parts) or a .zip (stored text files), each
        # with its own local headers and LF line ends inside.
        rng, out = self.rng, io.BytesIO()
        method = zipfile.ZIP_DEFLATED if ext == 'docx' else zipfile.ZIP_STORED
        with zipfile.ZipFile(out, 'w', method) as z:
            if ext == 'docx':
                z.writestr('[Content_Types].xml', '<?xml version="1.0"?>\n<Types>\n<Default Extension="xml"/>\n</Types>\n')
                z.writestr('_rels/.rels', '<?xml version="1.0"?>\n<Relationships/>\n')
            for k in range(rng.randrange(1, 4)):
                lines = '\n'.join(self.words(rng.randrange(4, 16)) for _ in range(rng.randrange(2, 30)))
                z.writestr('word/document%d.xml' % k if ext == 'docx' else 'notes/part%d.txt' % k,
                           lines + '\n', zipfile.ZIP_STORED if k % 2 and ext == 'docx' else method)
        return out.getvalue()

    def put_document(self, name, ext):
        data = self.zip_document(ext)
        self.put(name, data)
        self.attachments += 1
        self.attachment_bytes += len(data)
        return len(data)

    def date(self):
        t = self.rng.randrange(1420070400, 1704067200)  # 2015..2023
        return time.strftime('%Y-%m-%dT%H:%M:%S', time.gmtime(t))

    def words(self, n):
        return ' '.join(self.rng.choices(WORDS, k=n))

    def person(self):
        first, last = self.rng.choice(FIRST_NAMES), self.rng.choice(LAST_NAMES)
        addr = '%s.%d@example.com' % (first.lower(), self.rng.randrange(1000))
        return first, last, addr

    def address(self, tag='emailAddress'):
        first, last, addr = self.person()
        return ('<%s xml:space="preserve" OPFContactEmailAddressAddress="%s" '
                'OPFContactEmailAddressName="%s" OPFContactEmailAddressType="0"></%s>'
                % (tag, attr(addr), attr(first + ' ' + last), tag))

    def html(self, paragraphs):
        body = ''.join('<p>%s</p>\n' % self.words(self.rng.randrange(40, 120))
                       for _ in range(paragraphs))
        return text('<html><head><meta charset="utf-8"></head><body>\n%s</body></html>' % body)

    def attachment(self, folder, index, mid, k, attachment_bytes):
        rng = self.rng
        url = '%s%s%s%s_%04d' % (MESSAGES_ROOT, folder, '/' + ATTACHMENTS_DIR, mid, k)
        if self.zip_attachments:
            ext, ctype = rng.choice([t for t in ATTACHMENT_TYPES if t[0] in ('docx', 'zip')])
            size = self.put_document(url, ext)
        else:
            size = max(1, int(attachment_bytes * rng.uniform(0.75, 1.25)))
            ext, ctype = rng.choice(ATTACHMENT_TYPES)
            self.put_random(url, size)
        return ('<messageAttachment xml:space="preserve" OPFAttachmentContentExtension="%s" '
                'OPFAttachmentContentFileSize="%s" OPFAttachmentContentType="%s" '
                'OPFAttachmentName="%s" OPFAttachmentURL="%s"></messageAttachment>'
                % (ext, float_size(size), ctype, attr('Bericht %05d «Übersicht» & Co.%s' % (index, ext)),
                   attr(url)))

    def message(self, folder, index, attachment_bytes):
        rng = self.rng
        mid = str(uuid.UUID(int=rng.getrandbits(128), version=4)).upper() + '@example.com'
        attachments = ''
        if attachment_bytes > 0:
            # Zip documents come 0-2 to a message, as mail carries them.
            count = rng.choice([0, 1, 1, 2]) if self.zip_attachments else 1
            attachments = ''.join(self.attachment(folder, index, mid, k, attachment_bytes) for k in range(count))
        subject = text(self.words(rng.randrange(3, 10)))
        sent = self.date()
        outgoing = folder == 'Sent Items'
        fields = {
            'OPFMessageCopyAttachmentList': attachments,
            'OPFMessageCopyBody': self.html(rng.randrange(3, 8)),
            'OPFMessageCopyFromAddresses': self.address(),
            'OPFMessageCopyToAddresses': ''.join(self.address() for _ in range(rng.randrange(1, 4))),
            'OPFMessageCopyMessageID': mid,
            'OPFMessageCopyModDate': sent,
            'OPFMessageCopyReceivedTime': sent,
            'OPFMessageCopySentTime': sent,
            'OPFMessageCopySubject': subject,
            'OPFMessageCopyThreadTopic': subject,
            'OPFMessageGetIsRead': rng.choice(['0E0', '1E0']),
            'OPFMessageGetPriority': str(rng.choice([1, 2, 3, 3, 3, 4, 5])),
            'OPFMessageIsOutgoing': '1E0' if outgoing else '0E0',
        }
        name = '%s%s/message_%05d.xml' % (MESSAGES_ROOT, folder, index)
        self.put(name, root('emails', [item('email', fields)]))

    def contact(self):
        first, last, addr = self.person()
        return item('contact', {
            'OPFContactCopyDisplayName': text(first + ' ' + last),
            'OPFContactCopyEmailAddressList': (
                '<contactEmailAddress xml:space="preserve" OPFContactEmailAddressAddress="%s" '
                'OPFContactEmailAddressIsDefault="1" OPFContactEmailAddressType="0">'
                '</contactEmailAddress>' % attr(addr)),
            'OPFContactCopyFirstName': text(first),
            'OPFContactCopyLastName': text(last),
            'OPFContactCopyModDate': self.date(),
            'OPFContactCopyNotesPlain': text(self.words(self.rng.randrange(0, 30))),
        })

    def event(self):
        start = self.date()
        return item('appointment', {
            'OPFCalendarEventCopyDescriptionPlain': text(self.words(self.rng.randrange(5, 60))),
            'OPFCalendarEventCopyEndTime': start,
            'OPFCalendarEventCopyLocation': text(self.words(2)),
            'OPFCalendarEventCopyModDate': self.date(),
            'OPFCalendarEventCopyStartTime': start,
            'OPFCalendarEventCopySummary': text(self.words(self.rng.randrange(2, 8))),
            'OPFCalendarEventCopyUUID': str(uuid.UUID(int=self.rng.getrandbits(128))).upper(),
        })

    def task(self):
        return item('task', {
            'OPFTaskCopyDueDateTime': self.date(),
            'OPFTaskCopyModDate': self.date(),
            'OPFTaskCopyName': text(self.words(self.rng.randrange(2, 8))),
            'OPFTaskCopyNote': self.html(1),
            'OPFTaskGetPriority': str(self.rng.choice([1, 3, 5])),
        })

    def note(self):
        return item('note', {
            'OPFNoteCopyCreationDate': self.date(),
            'OPFNoteCopyModDate': self.date(),
            'OPFNoteCopyText': self.html(self.rng.randrange(1, 4)),
            'OPFNoteCopyTitle': text(self.words(self.rng.randrange(1, 5))),
        })


def folder_names(count):
    names = FOLDERS[:count]
    names += ['Folder %d' % k for k in range(len(names) + 1, count + 1)]
    return names


def generate(args):
    rng = random.Random(args.seed)
    started = time.monotonic()
    with zipfile.ZipFile(args.output, 'w', zipfile.ZIP_STORED, allowZip64=True) as zf:
        g = Generator(zf, rng)
        g.zip_attachments = args.zip_attachments
        g.put('Categories.xml', (
            '<categories elementCount="%d">%s</categories>' % (len(CATEGORIES), ''.join(
                '<category xml:space="preserve" OPFCategoryCopyBackgroundColor="%s" '
                'OPFCategoryCopyName="%s"></category>' % (c, attr(n)) for n, c in CATEGORIES))
        ).encode('utf-8'))
        g.directory('Local/Address Book/')
        g.put('Local/Address Book/Contacts.xml', root('contacts', [g.contact() for _ in range(args.contacts)]))
        g.directory('Local/Calendar/' + ATTACHMENTS_DIR)
        g.put('Local/Calendar/Calendar.xml', root('appointments', [g.event() for _ in range(args.events)]))
        g.directory('Local/Tasks/')
        g.put('Local/Tasks/Tasks.xml', root('tasks', [g.task() for _ in range(args.tasks)]))
        g.directory('Local/Notes/')
        g.put('Local/Notes/Notes.xml', root('notes', [g.note() for _ in range(args.notes)]))
        g.directory(MESSAGES_ROOT)
        folders = folder_names(max(1, args.folders))
        if args.subfolder:
            # Every folder gets a child of one shared name, as yearly or per-client subfolders do.
            folders = [f for top in folders for f in (top, top + '/' + args.subfolder)]
        for k, folder in enumerate(folders):
            g.directory(MESSAGES_ROOT + folder + '/')
            if args.attachment_bytes > 0:
                g.directory(MESSAGES_ROOT + folder + '/' + ATTACHMENTS_DIR)
            # Spread the messages evenly, the first folders taking the remainder.
            count = args.messages // len(folders) + (1 if k < args.messages % len(folders) else 0)
            for i in range(count):
                g.message(folder, i, args.attachment_bytes)
    summary = {
        'output': args.output, 'bytes': os.path.getsize(args.output), 'entries': g.entries,
        'messages': args.messages, 'folders': len(folders), 'attachments': g.attachments,
        'attachment_bytes': g.attachment_bytes, 'contacts': args.contacts,
        'events': args.events, 'tasks': args.tasks, 'notes': args.notes,
        'seed': args.seed, 'seconds': round(time.monotonic() - started, 2),
    }
    print(json.dumps(summary))


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument('output')
    p.add_argument('--messages', type=int, default=1000)
    p.add_argument('--contacts', type=int, default=100)
    p.add_argument('--events', type=int, default=100)
    p.add_argument('--tasks', type=int, default=50)
    p.add_argument('--notes', type=int, default=20)
    p.add_argument('--attachment-bytes', type=int, default=20000,
                   help='approximate size of the one attachment per message; 0 for none')
    p.add_argument('--folders', type=int, default=5)
    p.add_argument('--subfolder', default='',
                   help='give every folder a subfolder of this name, the messages spread over both')
    p.add_argument('--seed', type=int, default=1)
    p.add_argument('--zip-attachments', action='store_true',
                   help='attachments are small .docx and .zip files (zip containers of their own), 0-2 a message')
    args = p.parse_args(argv)
    for k in ('messages', 'contacts', 'events', 'tasks', 'notes', 'attachment_bytes', 'folders'):
        if getattr(args, k) < 0:
            p.error('--%s must not be negative' % k.replace('_', '-'))
    generate(args)


if __name__ == '__main__':
    sys.exit(main())
