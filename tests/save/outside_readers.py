"""Reads a save's output with the mail and calendar readers people use and checks it against the
archive it came from. argv: archive, output root per save type (1-5, "-" when not saved).
Prints one problem per line; no output means every check held."""
import codecs, concurrent.futures, threading, datetime, json, shutil, struct, urllib.parse, zoneinfo, email, email.policy, email.utils, glob, html, os, re, subprocess, sys, tempfile, zipfile, zlib

import icalendar
import recurring_ical_events

archive_path, roots = sys.argv[1], dict(zip(range(1, 6), sys.argv[2:7]))
archive = zipfile.ZipFile(archive_path)
problems = []
# Readers run on worker threads: each job's problems go to its own list first.
local = threading.local()


def problem(text):
    getattr(local, 'problems', problems).append(text)


def unescape(text):
    return html.unescape(text or '')


def element(xml, name):
    m = re.search(r'<%s\b[^>]*>(.*?)</%s>' % (name, name), xml, re.S)
    return m.group(1) if m else None


def attributes(tag):
    """A start tag's attributes by name, in either quote, as XML reads them: each literal tab and
    line break a blank (a CR LF pair one); NULs from damage dropped."""
    return {k: re.sub(r'\r\n|[\t\r\n]', ' ', a or b).replace('\0', '')
            for k, a, b in re.findall(r'(\w+)\s*=\s*(?:"([^"]*)"|\'([^\']*)\')', tag)}


def addresses(xml, name, header=True):
    """(name, address) of each entry; header: as a mail header must show it."""
    block = element(xml, name) or ''
    out = []
    for entry in re.findall(r'<emailAddress\b((?:[^>"\']|"[^"]*"|\'[^\']*\')*)>', block):
        attrs = attributes(entry)
        address = unescape(unescape(attrs.get('OPFContactEmailAddressAddress', '')))
        address = re.sub(r'[\x00-\x1f\x7f]', ' ', address).strip().strip('<>')
        shown = unescape(attrs.get('OPFContactEmailAddressName', ''))
        # A domain holds no blank: the text after one is shown in the name, not the address.
        at = address.rfind('@')
        blank = address.find(' ', at) if at >= 0 else -1
        if header and blank > at + 1:
            shown = '%s (%s)' % (shown, address) if shown else address
            address = address[:blank]
        out.append((shown, address))
    return out


def clamped(when):
    """Mail dates hold the years 1900 to 9999, in the local date too: a time outside is shown at the
    nearest second inside."""
    utc, zone = datetime.timezone.utc, zoneinfo.ZoneInfo(os.environ.get('TZ') or 'UTC')
    first = max(datetime.datetime(1900, 1, 1, tzinfo=utc), datetime.datetime(1900, 1, 1, tzinfo=zone))
    last = min(datetime.datetime(9999, 12, 31, 23, 59, 59, tzinfo=utc),
               datetime.datetime(9999, 12, 31, 23, 59, 59, tzinfo=zone))
    return min(max(when, first), last)


def archive_time(text):
    """The instant of a time text; None when it is no date."""
    try:
        return clamped(datetime.datetime.strptime(text.strip()[:19], '%Y-%m-%dT%H:%M:%S').replace(tzinfo=datetime.timezone.utc))
    except ValueError:
        return None


def declared_utf8(text):
    """Markup as a UTF-8 part holds it: every charset its meta tags declare is UTF-8."""
    return re.sub(r'(?i)(<meta\b[^>]*?charset\s*=\s*["\']?)([\w.:-]+)',
                  lambda m: m.group(1) + (m.group(2) if m.group(2).lower() == 'utf-8' else 'UTF-8'), text)


def body_text(xml):
    """The text a message's body part must hold: its body, else its HTML form, entities decoded
    once, NULs left out, line ends as LF."""
    raw = element(xml, 'OPFMessageCopyBody') or element(xml, 'OPFMessageCopyHTMLBody') or ''
    return declared_utf8(unescape(raw).replace('\0', '').replace('\r\n', '\n').replace('\r', '\n').strip())


# The five bytes Windows-1252 leaves undefined read as the C1 controls of the same number, as
# browsers read them.
codecs.register_error('c1', lambda e: (''.join(chr(b) for b in e.object[e.start:e.end]), e.end))


def decoded_xml(raw):
    """A message's text: UTF-8; UTF-8 with a replacement character per damaged byte where its
    characters outweigh those bytes (each by its length in bytes less one); else Windows-1252,
    as mail readers read unlabelled text."""
    try:
        return raw.decode('utf-8'), False
    except UnicodeDecodeError:
        pass
    text = raw.decode('utf-8', 'replace')
    bad = text.count('\ufffd')
    if sum(len(c.encode('utf-8')) - 1 for c in text if ord(c) > 0x7F and c != '\ufffd') > bad:
        return text, True
    return raw.decode('cp1252', 'c1'), False


def saved_name(name):
    """The name a part is saved under: the last '/' component, a line break a blank."""
    return re.sub(r'\r\n|[\r\n\t]', ' ', name.rsplit('/', 1)[-1])


def header_address(address):
    """An address as a reader gives it back: the domain in its ASCII form."""
    local, at, domain = address.rpartition('@')
    if not at:
        return address
    try:
        domain = domain.encode('idna').decode('ascii')
    except UnicodeError:
        # Labels the IDNA rules refuse (emoji) still have their punycode form.
        domain = '.'.join(l if l.isascii() else 'xn--' + l.lower().encode('punycode').decode() for l in domain.split('.'))
    return local + '@' + domain


# ---- what the archive holds
messages = {}
crc_of = {info.filename: info.CRC for info in archive.infolist()}
for name in archive.namelist():
    if not re.search(r'message_\d+\.xml$', name):
        continue
    raw = archive.read(name)
    xml, damaged = decoded_xml(raw)
    subject = unescape(element(xml, 'OPFMessageCopySubject') or '').replace('\0', '').strip()
    times = {archive_time(t) for t in (element(xml, 'OPFMessageCopySentTime'), element(xml, 'OPFMessageCopyReceivedTime')) if t}
    times.discard(None)
    atts = [unescape(u) for u in re.findall(r'OPFAttachmentURL="([^"]*)"', xml)]
    forwarded = [archive.read(unescape(u)) for t, u in
                 re.findall(r'OPFAttachmentContentType="([^"]*)"[^>]*OPFAttachmentURL="([^"]*)"', xml)
                 if t.lower() == 'message/rfc822' and unescape(u) in crc_of]
    names = sorted(saved_name(unescape(n)) for n in re.findall(r'OPFAttachmentName="([^"]*)"', xml))
    messages[subject] = dict(sender=addresses(xml, 'OPFMessageCopyFromAddresses'),
                             to=addresses(xml, 'OPFMessageCopyToAddresses'),
                             page_to=addresses(xml, 'OPFMessageCopyToAddresses', header=False),
                             cc=addresses(xml, 'OPFMessageCopyCCAddresses'), times=times,
                             body=body_text(xml), names=names,
                             exact_body=unescape(element(xml, 'OPFMessageCopyBody') or '').replace('\0', '').replace('\r\n', '\n').replace('\r', '\n'),
                             damaged=damaged,
                             modified=archive_time(element(xml, 'OPFMessageCopyModDate') or ''),
                             html_only=not element(xml, 'OPFMessageCopyBody') and bool(element(xml, 'OPFMessageCopyHTMLBody')),
                             crcs=sorted(crc_of[u] for u in atts if u in crc_of), forwarded=forwarded)
all_times = set().union(*(m['times'] for m in messages.values())) if messages else set()


def named(pairs):
    return sorted((n, header_address(a)) for n, a in pairs if a)


def address_of(a):
    """The address of a parsed mailbox without the quotes its local part needed."""
    return a.username + '@' + a.domain if a.domain else a.username


def same_mailbox(got, want):
    """Python's address parser keeps the blank between two encoded words of a name, which RFC 2047
    (and GMime) drop: a name too long for one word (45 bytes) is compared without blanks."""
    if got == want:
        return True
    return got[1] == want[1] and len(want[0].encode()) > 45 and re.sub(r'\s', '', got[0]) == re.sub(r'\s', '', want[0])


def check_strict(raw, where):
    """Python's strict policy raises on every defect; each header and part is read."""
    try:
        msg = email.message_from_bytes(raw, policy=email.policy.strict)
        for part in msg.walk():
            for _, value in part.items():
                str(value)
            if not part.is_multipart():
                part.get_content()
    except Exception as e:
        problem('%s: strict policy: %s: %s' % (where, type(e).__name__, str(e)[:200]))


def check_lines(path, line_end):
    """No line over 998 octets (RFC 5322), lines taken at the file's own line end (a pattern):
    a part in other line ends is one long line to a reader that splits at it."""
    data = open(path, 'rb').read()
    longest = max((len(line) for line in re.split(line_end, data)), default=0)
    if longest > 998:
        problem('%s: a line of %d octets' % (path, longest))


def check_base64_lines(msg, where):
    for part in msg.walk():
        if str(part.get('content-transfer-encoding', '')).lower() == 'base64':
            longest = max((len(line) for line in part.get_payload().splitlines()), default=0)
            if longest > 76:
                problem('%s: a base64 line of %d characters' % (where, longest))


def check_body(msg, expected, where):
    if not expected['body']:
        return
    part = msg.get_body(preferencelist=('plain', 'html'))
    text = part.get_content().replace('\r\n', '\n').replace('\r', '\n') if part is not None else ''
    if expected['body'] not in text:
        problem('%s: body %r lacks the archive\'s %r' % (where, text[:80], expected['body'][:80]))
    elif expected['damaged']:
        print('damaged prose|%s' % msg['subject'])
    # A text part holds the text and nothing more: no line end of its own at the end.
    if part is not None and part.get_content_type() == 'text/plain' and expected['exact_body'] \
            and text != expected['exact_body']:
        problem('%s: text part %r, archive %r' % (where, text[-40:], expected['exact_body'][-40:]))


def own_parts(msg):
    """The parts of the message itself: an attached message is one part, not entered."""
    yield msg
    if msg.get_content_type() == 'message/rfc822' or not msg.is_multipart():
        return
    for part in msg.get_payload():
        yield from own_parts(part)


def plain_text(msg):
    body = msg.get_body(preferencelist=('plain',))
    return body.get_content().replace('\r\n', '\n').strip() if body is not None else None


def mboxrd_unquoted(raw):
    """Lines that start with '>'s before "From " with one '>' less, whatever the line end."""
    return re.sub(rb'(?:(?<=[\r\n])|\A)>(>*From )', rb'\1', raw)


def check_forwarded_line_ends(raw, msg, expected, line_end, where):
    """Each attached message written as a message is the archive's bytes with the file's own line
    ends: a reader splits the file at one kind, and an inner header block in another kind runs
    into the outer one (or is lost where it splits at CR)."""
    unquoted = mboxrd_unquoted(raw)
    for part in own_parts(msg):
        if part is msg or part.get_content_type() != 'message/rfc822':
            continue
        subject = str(part.get_payload()[0]['subject'])
        for forwarded in expected['forwarded']:
            original = email.message_from_bytes(forwarded, policy=email.policy.default)
            if str(original['subject']) != subject:
                continue
            if re.sub(rb'\r?\n', line_end, forwarded) not in unquoted:
                problem('%s: attached message %r is not in the file\'s line ends %r' % (where, subject, line_end))


def check_attached_messages(msg, where, expected):
    """Each message/rfc822 part reads back as the attached message: its subject and text. Returns
    the CRCs of the archive's attachments so read."""
    found = []
    for part in own_parts(msg):
        if part is msg or part.get_content_type() != 'message/rfc822':
            continue
        inner = part.get_payload()[0]
        match = None
        for raw in expected['forwarded']:
            original = email.message_from_bytes(raw, policy=email.policy.default)
            if str(original['subject']) == str(inner['subject']) and plain_text(original) == plain_text(inner):
                match = raw
        if match is None:
            problem('%s: attached message %r is none of the archive\'s' % (where, str(inner['subject'])))
            continue
        found.append(zlib.crc32(match))
        print('attached message|%s' % inner['subject'])
    return found


def check_message(msg, where, attachments=True):
    """Headers of a message parsed by Python's email package (the default policy)."""
    subject = str(msg['subject'] or '')
    expected = messages.get(subject)
    if expected is None:
        problem('%s: subject %r is not in the archive' % (where, subject))
        return
    for part in msg.walk():
        if part.defects:
            problem('%s: defects %r' % (where, part.defects))
        for header, value in part.items():
            if getattr(value, 'defects', None):
                problem('%s: %s %r: defects %r' % (where, header, str(value), value.defects))
        # RFC 2046: 70 characters; longer ones make mail servers find parts that are not there.
        if part.is_multipart() and len(part.get_boundary() or '') > 70:
            problem('%s: boundary of %d characters' % (where, len(part.get_boundary())))
    check_body(msg, expected, where)
    check_base64_lines(msg, where)
    if (msg['date'] is None) != (not expected['times']):
        problem('%s: Date %r, archive times %r' % (where, msg['date'], expected['times']))
    if msg['date'] is not None:
        when = email.utils.parsedate_to_datetime(str(msg['date']))
        if when.astimezone(datetime.timezone.utc) not in expected['times']:
            problem('%s: Date %s is none of the archive\'s times' % (where, msg['date']))
    for header, key in (('to', 'to'), ('cc', 'cc')):
        got = sorted((a.display_name, address_of(a)) for a in (msg[header].addresses if msg[header] else ()))
        want = named(expected[key])
        if len(got) != len(want) or not all(same_mailbox(g, w) for g, w in zip(got, want)):
            problem('%s: %s %r, archive %r' % (where, header, got, want))
    if expected['sender']:
        sender = msg['from'].addresses[0]
        if not same_mailbox((sender.display_name, address_of(sender)), expected['sender'][-1]):
            problem('%s: From %r, archive %r' % (where, str(msg['from']), expected['sender'][-1]))
    if attachments:
        crcs = sorted(zlib.crc32(p.get_payload(decode=True)) for p in own_parts(msg)
                      if p.get_filename() and p.get_content_type() != 'message/rfc822')
        crcs = sorted(crcs + check_attached_messages(msg, where, expected))
        if crcs != expected['crcs']:
            problem('%s: attachment CRCs %r, archive %r' % (where, crcs, expected['crcs']))
        names = sorted(p.get_filename() for p in own_parts(msg) if p.get_filename())
        if names != expected['names']:
            problem('%s: attachment names %r, archive %r' % (where, names, expected['names']))


def run(args, cwd=None):
    env = dict(os.environ, MAILDIR=cwd or '/nonexistent')
    p = subprocess.run(args, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if p.returncode != 0:
        problem('%s failed: %s' % (' '.join(args[:2]), p.stderr.decode('utf-8', 'replace')[:300]))
    return p.stdout.decode('utf-8', 'replace')


def as_attached_message(data, expected):
    """The archive's forwarded message that data reads back as (its subject and text), or None."""
    inner = email.message_from_bytes(data, policy=email.policy.default)
    for raw in expected['forwarded']:
        original = email.message_from_bytes(raw, policy=email.policy.default)
        if str(original['subject']) == str(inner['subject']) and plain_text(original) == plain_text(inner):
            return raw
    return None


def check_eml_readers(path, msg):
    """mblaze and mu (GMime) see the same message Python does, attached messages included."""
    expected = messages.get(str(msg['subject'] or ''))
    if expected is None:
        return
    # The forwarded messages written as messages: mu lists them inline, not as attachments.
    inline = sorted(zlib.crc32(raw) for raw in expected['forwarded'] for part in own_parts(msg)
                    if part is not msg and part.get_content_type() == 'message/rfc822'
                    and as_attached_message(part.get_payload()[0].as_bytes(), expected) == raw)
    attached = sorted(expected['crcs'])
    for crc in inline:
        attached.remove(crc)
    with tempfile.TemporaryDirectory() as work:
        head = run(['mshow', '-q', path], work)
        for name, address in expected['to'] + expected['cc'] + expected['sender'][-1:]:
            if (name or address) not in head:
                problem('%s: mshow -q does not show %r:\n%s' % (path, name or address, head))
        if str(msg['subject'] or '') not in head:
            problem('%s: mshow -q does not show the subject:\n%s' % (path, head))
        tree = run(['mshow', '-t', path], work)
        if 'multipart/mixed' not in tree and expected['crcs']:
            problem('%s: mshow -t finds no parts:\n%s' % (path, tree))
        # The message's own parts: the children of its outer multipart, not what an attached
        # message holds.
        numbers = re.findall(r'^    (\d+):.*name="', tree, re.M)
        if numbers:
            run(['mshow', '-x', path] + numbers, work)
        got = []
        for f in os.listdir(work):
            data = open(os.path.join(work, f), 'rb').read()
            message = as_attached_message(data, expected) if expected['forwarded'] else None
            got.append(zlib.crc32(message if message is not None else data))
        if sorted(got) != expected['crcs']:
            problem('%s: mshow -x gives CRCs %r, archive %r:\n%s' % (path, sorted(got), expected['crcs'], tree))
    with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as target:
        shown = run(['mu', 'view', '--muhome=' + home, path], home)
        plain = msg.get_body(preferencelist=('plain',))
        if '[No text body found]' in shown and plain is not None and plain.get_content().strip():
            problem('%s: mu view finds no text body' % path)
        for name, address in expected['to'] + expected['cc'] + expected['sender'][-1:]:
            if name and name not in shown:
                problem('%s: mu view does not show the name %r' % (path, name))
        # GMime drops what follows a padded base64 word: the subject must show whole.
        subject = ' '.join(str(msg['subject'] or '').split())
        if subject and subject not in ' '.join(shown.split()):
            problem('%s: mu view does not show the subject %r' % (path, subject[:80]))
        elif len(subject) > 40:
            print('mu subject|%s' % subject[:20])
        # mu saves the inline text part with -a too: the parts it lists as attachments are taken.
        listing = run(['mu', 'extract', '--muhome=' + home, path], home)
        parts = re.findall(r'^\s*(\d+) .*\[attachment\]', listing, re.M)
        if len(parts) != len(attached):
            problem('%s: mu lists %d attachments, archive %d:\n%s' % (path, len(parts), len(attached), listing))
        if inline and len(re.findall(r'message/rfc822', listing)) != len(inline):
            problem('%s: mu lists no attached message:\n%s' % (path, listing))
        if parts:
            run(['mu', 'extract', '--muhome=' + home, '--parts=' + ','.join(parts), '--target-dir=' + target, path], home)
        got = sorted(zlib.crc32(open(os.path.join(target, f), 'rb').read()) for f in os.listdir(target))
        if got != attached:
            problem('%s: mu extract gives CRCs %r, archive %r' % (path, got, attached))


def check_separator_date(line, where, expected):
    """The separator line's date is one of the message's instants in local time, when it has one;
    else its last change, when it has that."""
    if expected is not None and not expected['times'] and expected['modified']:
        expected = dict(expected, times={expected['modified']})
    if expected is None or not expected['times']:
        return
    m = re.match(rb'From \?\?\?@\?\?\? (\w{3} \w{3} +\d+ \d\d:\d\d:\d\d -?\d+)', line)
    if not m:
        problem('%s: separator line %r has no date' % (where, line))
        return
    # The zone by name: the system's conversion of a naive time overflows near the year 9999.
    local = datetime.datetime.strptime(m.group(1).decode(), '%a %b %d %H:%M:%S %Y').replace(
        tzinfo=zoneinfo.ZoneInfo(os.environ.get('TZ') or 'UTC'))
    if local.astimezone(datetime.timezone.utc) not in expected['times']:
        problem('%s: separator date %r is none of the archive\'s times' % (where, line))


def split_mbox(path, line_end):
    """The messages of a mailbox as an mboxrd reader gives them, split at the file's own line
    ends: one '>' less before a 'From '."""
    data = open(path, 'rb').read()
    parts = [p for p in re.split(rb'(?:(?<=%s)|\A)(?=From \?\?\?@\?\?\? )' % re.escape(line_end), data) if p.strip()]
    return [mboxrd_unquoted(p) for p in parts]


def leaf_types(msg):
    """The parts a mail server lists: leaves, and each attached message before what it holds."""
    return [p.get_content_type() for p in msg.walk() if not p.is_multipart() or p.get_content_type() == 'message/rfc822']


MIME_TYPES = ('text', 'image', 'audio', 'video', 'application', 'message', 'font', 'model')


def check_dovecot_files(root, files):
    """The message files of a save imported by the mail server as one maildir."""
    if files:
        check_dovecot(root, [msg for _, msg in files], [raw for raw, _ in files])


def check_dovecot(path, bodies, files=None):
    """A mail server imports the mailbox (or the message files) and finds exactly the parts
    written in each message: doveadm, run as an unprivileged user against a mail location of its
    own, no service. Files go in as a maildir, in an order of the server's own."""
    doveadm = shutil.which('doveadm')
    if not doveadm:
        return
    with tempfile.TemporaryDirectory() as work:
        os.mkdir(os.path.join(work, 'in'))
        if files is None:
            shutil.copy(path, os.path.join(work, 'in', 'in.mbox'))
            source = 'mbox:%s/in:INBOX=%s/in/in.mbox' % (work, work)
        else:
            for sub in ('cur', 'new', 'tmp'):
                os.mkdir(os.path.join(work, 'in', sub))
            for i, raw in enumerate(files):
                with open(os.path.join(work, 'in', 'cur', '%d.M%dP1.test:2,S' % (1000000 + i, i)), 'wb') as f:
                    f.write(raw)
            source = 'maildir:%s/in' % work
        drop = []
        if os.getuid() == 0:
            # Dovecot gives mail access to no root process.
            drop = ['setpriv', '--reuid=65534', '--regid=65534', '--clear-groups']
            uid = gid = 65534
        else:
            uid, gid = os.getuid(), os.getgid()
        conf = os.path.join(work, 'dovecot.conf')
        with open(conf, 'w') as f:
            f.write('base_dir = %s/run\nlog_path = %s/log\nssl = no\nfirst_valid_uid = 0\nfirst_valid_gid = 0\n'
                    'mail_uid = %d\nmail_gid = %d\nmail_location = maildir:%s/Maildir\n' % (work, work, uid, gid, work))
        for root, dirs, files in os.walk(work):
            for name in dirs + files:
                os.chmod(os.path.join(root, name), 0o777)
        os.chmod(work, 0o777)
        env = dict(os.environ, HOME=work, USER='tester')
        base = drop + [doveadm, '-c', conf]
        p = subprocess.run(base + ['import', source, '', 'all'], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if p.returncode != 0:
            problem('%s: doveadm import: %s' % (path, p.stderr.decode('utf-8', 'replace')[:300]))
            return
        p = subprocess.run(base + ['-f', 'json', 'fetch', 'hdr imap.bodystructure', 'mailbox', 'INBOX', 'all'], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        fetched = json.loads(p.stdout.decode('utf-8', 'replace') or '[]')
        if len(fetched) != len(bodies):
            problem('%s: doveadm finds %d messages, the mailbox holds %d' % (path, len(fetched), len(bodies)))
            return
        if files is not None:
            # Matched by subject: the server takes the files in an order of its own.
            subject_of = lambda m: str(m['subject'] or '')
            by_subject = {subject_of(m): m for m in bodies}
            heads = [email.message_from_string(item.get('hdr', ''), policy=email.policy.default) for item in fetched]
            bodies = [by_subject.get(subject_of(h), bodies[0]) for h in heads]
        for i, (item, msg) in enumerate(zip(fetched, bodies)):
            structure = item['imap.bodystructure']
            # An envelope's date and subject look like a type and subtype: only MIME types count.
            got = ['%s/%s' % (t.lower(), s.lower()) for t, s in re.findall(r'\("([^"]+)" "([^"]+)" (?:\(|NIL)', structure)
                   if t.lower() in MIME_TYPES]
            if got != leaf_types(msg):
                problem('%s #%d: doveadm BODYSTRUCTURE parts %r, written %r' % (path, i, got, leaf_types(msg)))
            for part in own_parts(msg):
                if part is not msg and part.get_content_type() == 'message/rfc822':
                    subject = str(part.get_payload()[0]['subject'])
                    if re.search(r'"message" "rfc822" .*"%s"' % re.escape(subject), structure):
                        print('doveadm envelope|%s' % subject)
                    else:
                        problem('%s #%d: doveadm names no attached message %r: %s' % (path, i, subject, structure))
        print('doveadm|%d messages|%d parts' % (len(fetched), sum(len(leaf_types(m)) for m in bodies)))


def check_mu_find(paths):
    """mu (GMime) indexes the message files and finds each by the last word of its subject."""
    with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as maildir:
        for sub in ('cur', 'new', 'tmp'):
            os.mkdir(os.path.join(maildir, sub))
        subjects = {}
        for i, path in enumerate(paths):
            raw = open(path, 'rb').read().split(b'\r\n', 1)[1]
            with open(os.path.join(maildir, 'cur', '%d.eml:2,S' % i), 'wb') as f:
                f.write(raw)
            subjects[i] = str(email.message_from_bytes(raw, policy=email.policy.default)['subject'] or '')
        run(['mu', 'init', '--muhome=' + home, '--maildir=' + maildir], home)
        run(['mu', 'index', '--muhome=' + home], home)
        for subject in set(subjects.values()):
            words = subject.split()
            if len(words) < 3 or not re.fullmatch(r'\w{3,}', words[-1]):
                continue
            found = run(['mu', 'find', '--muhome=' + home, '--fields=s', 'subject:' + words[-1].lower()], home)
            if subject not in found.splitlines():
                problem('mu find subject:%s does not find %r:\n%s' % (words[-1], subject, found))
            else:
                print('mu find|subject:%s' % words[-1].lower())


# mblaze and mu on each message file, as (path, bytes to write there or None, where): run at the
# end, four at a time.
eml_jobs = []


def eml_readers_on(raw, where):
    """mblaze and mu on one message of a mailbox or an .emlx: its bytes as a file of their own."""
    eml_jobs.append((None, raw, where))


def run_eml_readers():
    def one(job):
        path, raw, where = job
        local.problems = []
        with tempfile.TemporaryDirectory() as work:
            if raw is not None:
                path = os.path.join(work, 'message.eml')
                with open(path, 'wb') as f:
                    f.write(raw)
            data = open(path, 'rb').read()
            if raw is None:
                data = data.split(b'\r\n', 1)[1]
            check_eml_readers(path, email.message_from_bytes(data, policy=email.policy.default))
        found = local.problems
        del local.problems
        return ['%s: %s' % (where, p) for p in found] if raw is not None else found

    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for found in pool.map(one, eml_jobs):
            problems.extend(found)


def meta_charsets(markup):
    return [c.lower() for c in re.findall(rb'(?i)<meta\b[^>]*?charset\s*=\s*["\']?([\w.:-]+)', markup)]


# Pages and HTML parts Chromium opens, as (subject, where, path); the pictures a page must show.
chromium_texts = []
chromium_pictures = []
work_dir = tempfile.mkdtemp(prefix='outside_readers.')


def check_html_part(msg, where):
    """The HTML part declares the charset it is written in; one of the charset cases is kept for
    Chromium to open as a file, as a reader that saves the part and shows it does."""
    subject = str(msg['subject'] or '')
    for part in msg.walk():
        if part.get_content_type() != 'text/html' or part.get_filename():
            continue
        data = part.get_payload(decode=True)
        charset = (part.get_content_charset() or '').lower()
        for declared in meta_charsets(data):
            if declared.decode() != charset:
                problem('%s: the HTML part is %s but declares %s' % (where, charset, declared.decode()))
        if subject.startswith('HTML declaring'):
            path = os.path.join(work_dir, '%d.html' % len(chromium_texts))
            with open(path, 'wb') as f:
                f.write(data)
            chromium_texts.append((subject, where, path))


def chromium(path, *flags):
    with tempfile.TemporaryDirectory() as profile:
        p = subprocess.run(['chromium', '--headless', '--no-sandbox', '--disable-gpu', '--user-data-dir=' + profile,
                            '--virtual-time-budget=3000', '--hide-scrollbars'] + list(flags)
                           + ['file://' + urllib.parse.quote(os.path.abspath(path))],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=240)
        return p.stdout.decode('utf-8', 'replace')


def png_rows(data):
    """The rows of an 8-bit RGB or RGBA PNG without interlacing, as Chromium writes screenshots."""
    width, height, depth, kind, _, _, interlace = struct.unpack('>IIBBBBB', data[16:29])
    if depth != 8 or kind not in (2, 6) or interlace:
        return 0, []
    idat, at = b'', 8
    while at < len(data):
        n, = struct.unpack('>I', data[at:at + 4])
        if data[at + 4:at + 8] == b'IDAT':
            idat += data[at + 8:at + 8 + n]
        at += 12 + n
    raw, bpp = zlib.decompress(idat), 3 if kind == 2 else 4
    stride, rows, prev, pos = width * bpp, [], bytearray(width * bpp), 0
    for _ in range(height):
        kind_of_row, line = raw[pos], bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for x in range(stride):
            a = line[x - bpp] if x >= bpp else 0
            b, c = prev[x], prev[x - bpp] if x >= bpp else 0
            if kind_of_row == 1:
                line[x] = (line[x] + a) & 255
            elif kind_of_row == 2:
                line[x] = (line[x] + b) & 255
            elif kind_of_row == 3:
                line[x] = (line[x] + (a + b) // 2) & 255
            elif kind_of_row == 4:
                pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
                line[x] = (line[x] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    return bpp, rows


def check_chromium():
    """Chromium shows each HTML body's text as the archive holds it, and the page's picture with
    its own pixels (red, 60 by 60) between the texts around it."""
    # Parts of the same bytes (the types differ in their line ends, not in their markup) are
    # opened once.
    shown_of = {}

    def text(path):
        dom = chromium(path, '--dump-dom')
        body = re.sub(r'\s+', ' ', html.unescape(re.sub(r'<[^>]*>', ' ', dom)))
        return 'Grüße aus München – 12 €' in body, body[:200]

    def picture(path):
        shot = os.path.join(work_dir, 'shot%d.png' % abs(hash(path)))
        chromium(path, '--screenshot=' + shot, '--window-size=400,450')
        dom = chromium(path, '--dump-dom')
        if not os.path.exists(shot):
            return path, 0, dom
        bpp, rows = png_rows(open(shot, 'rb').read())
        red = sum(1 for row in rows for x in range(0, len(row), bpp) if row[x] > 200 and row[x + 1] < 60 and row[x + 2] < 60)
        return path, red, dom

    first = {}
    for _, _, path in chromium_texts:
        first.setdefault(open(path, 'rb').read(), path)
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        shown_of = dict(zip(first.values(), pool.map(text, first.values())))
        for subject, where, path in chromium_texts:
            shown, body = shown_of[first[open(path, 'rb').read()]]
            if shown:
                print('chromium text|%s' % subject)
            else:
                problem('%s: Chromium shows %r' % (where, body))
        for (path, red, dom), subject in zip(pool.map(picture, [p for _, p in chromium_pictures]),
                                             [s for s, _ in chromium_pictures]):
            texts = 'BEFORE text' in dom and 'AFTER text' in dom and 'data:image/png;base64,' in dom
            if red >= 60 * 60 * 0.9 and texts:
                print('page picture|%s|shown' % subject)
            else:
                problem('%s: Chromium shows %d picture pixels: %s' % (path, red, dom[-400:]))


def check_mailbox(kind, path):
    # The package's mailboxes are read CR-aware: a CR ends a line, and so does an LF (its texts'
    # lines end in LF). Its attached messages take CR, checked on the file's bytes; then the
    # message is read as such a reader reads it, each line end one LF.
    line_end = b'\r' if kind == 1 else b'\n'
    check_lines(path, rb'\r|\n' if kind == 1 else rb'\n')
    parsed = []
    for i, raw in enumerate(split_mbox(path, line_end)):
        separator, body = raw.split(line_end, 1)
        where = '%s #%d' % (path, i)
        expected = messages.get(str(email.message_from_bytes(body, policy=email.policy.default)['subject'] or ''))
        if expected is not None:
            check_forwarded_line_ends(body, email.message_from_bytes(body, policy=email.policy.default), expected,
                                      line_end, where)
        if kind == 1:
            body = body.replace(b'\r\n', b'\n').replace(b'\r', b'\n')
        msg = email.message_from_bytes(body, policy=email.policy.default)
        parsed.append(msg)
        check_message(msg, where)
        check_strict(body, where)
        check_html_part(msg, where)
        check_separator_date(separator, where, messages.get(str(msg['subject'] or '')))
        # The package's header lines end in CR alone, which mblaze, mu and mail servers do not
        # read: Python's reader, which does, reads it.
        if kind == 2:
            eml_readers_on(body, where)
    if kind == 2:
        check_dovecot(path, parsed)


def check_mail():
    for kind in (1, 2):
        if roots[kind] == '-':
            continue
        for path in glob.glob(os.path.join(roots[kind], '**', '*.mbox'), recursive=True):
            check_mailbox(kind, path)
    if roots[3] != '-':
        files = []
        for path in glob.glob(os.path.join(roots[3], '**', '*.emlx'), recursive=True):
            raw = open(path, 'rb').read()
            length, rest = raw.split(b'\n', 1)
            check_lines(path, rb'\n')
            msg = email.message_from_bytes(rest[:int(length)], policy=email.policy.default)
            check_message(msg, path)
            check_strict(rest[:int(length)], path)
            check_html_part(msg, path)
            if messages.get(str(msg['subject'] or '')) is not None:
                check_forwarded_line_ends(rest[:int(length)], msg, messages[str(msg['subject'])], b'\n', path)
            eml_readers_on(rest[:int(length)], path)
            files.append((rest[:int(length)], msg))
        check_dovecot_files(roots[3], files)
    if roots[4] != '-':
        check_mu_find(glob.glob(os.path.join(roots[4], '**', '*.eml'), recursive=True))
        files = []
        for path in glob.glob(os.path.join(roots[4], '**', '*.eml'), recursive=True):
            raw = open(path, 'rb').read()
            # Every line, attached messages' too, ends in CR LF.
            if re.search(rb'\r(?!\n)|(?<!\r)\n', raw):
                problem('%s: a line does not end in CR LF' % path)
            msg = email.message_from_bytes(raw.split(b'\r\n', 1)[1], policy=email.policy.default)
            check_lines(path, rb'\r\n')
            check_message(msg, path)
            check_strict(raw.split(b'\r\n', 1)[1], path)
            check_html_part(msg, path)
            check_separator_date(raw.split(b'\r\n', 1)[0], path, messages.get(str(msg['subject'] or '')))
            if messages.get(str(msg['subject'] or '')) is not None:
                check_forwarded_line_ends(raw, msg, messages[str(msg['subject'])], b'\r\n', path)
            eml_jobs.append((path, None, path))
            files.append((raw.split(b'\r\n', 1)[1], msg))
        check_dovecot_files(roots[4], files)
    if roots[5] != '-':
        for path in glob.glob(os.path.join(roots[5], '**', '*.htm'), recursive=True):
            page = open(path, encoding='utf-8-sig').read()
            subject = html.unescape(re.search(r'<B>Subject: </B>(.*?)<BR>', page).group(1))
            expected = messages.get(subject)
            if expected is None:
                problem('%s: subject %r is not in the archive' % (path, subject))
                continue
            # A message with only its HTML form shows that form's text.
            words = re.sub(r'<[^>]*>', ' ', expected['body']).split()
            shown_text = ' '.join(html.unescape(re.sub(r'<[^>]*>', ' ', page)).split())
            if (subject.startswith('Prose ') or expected['damaged']) and ' '.join(words) not in shown_text:
                problem('%s: the page lacks the body %r' % (path, ' '.join(words)[:80]))
            elif expected['damaged']:
                print('damaged prose|%s' % subject)
            if expected['html_only'] and words and ' '.join(words) not in ' '.join(re.sub(r'<[^>]*>', ' ', html.unescape(page)).split()):
                problem('%s: the page lacks the body %r' % (path, ' '.join(words)[:80]))
            if subject.startswith('HTML declaring'):
                chromium_texts.append((subject, path, path))
            if subject.startswith('Inline picture'):
                chromium_pictures.append((subject, path))
            shown = ' '.join(html.unescape(re.search(r'<B>To: </B>(.*?)<BR>', page, re.S).group(1)).split())
            for name, address in expected['page_to']:
                if ' '.join((name + ' <' + address + '>' if name else address).split()) not in shown:
                    problem('%s: To %r lacks %r <%r>' % (path, shown, name, address))
            date = re.search(r'<B>Date: </B>(.*?)<BR>', page).group(1)
            if date:
                when = datetime.datetime.strptime(date, '%a, %d %b %Y %I:%M:%S %p %z')
                if when.astimezone(datetime.timezone.utc) not in expected['times']:
                    problem('%s: Date %s is none of the archive\'s times' % (path, date))
    run_eml_readers()
    check_chromium()
    shutil.rmtree(work_dir, ignore_errors=True)


# ---- calendars
def recurrences(xml, tag):
    out = {}
    for item in re.findall(r'<%s\b.*?</%s>' % (tag, tag), xml, re.S):
        title = unescape(element(item, 'OPFCalendarEventCopySummary') or element(item, 'OPFTaskCopyName') or '')
        rec = element(item, 'OPFCalendarEventCopyRecurrence') or element(item, 'OPFTaskCopyRecurrence')
        count = element(rec, 'OPFRecurrenceGetOccurenceCount') if rec else None
        numbered = rec and element(rec, 'OPFRecurrenceIsNumbered') == '1'
        delta = element(item, 'OPFCalendarEventCopyReminderDelta')
        has_alarm = element(item, 'OPFCalendarEventGetHasReminder') == '1' or bool(element(item, 'OPFTaskCopyReminderTime'))
        out.setdefault(title, []).append(dict(count=int(float(count)) if numbered else (1 if not rec else None),
                                              alarm=has_alarm, delta=int(delta) if delta and has_alarm else None,
                                              categories=sorted(set(map(unescape, re.findall(r'OPFCategoryCopyName="([^"]*)"', item))))))
    return out


def check_calendar(root, stamped):
    """stamped: every VEVENT and VTODO must carry DTSTAMP, as RFC 5545 asks (the mail type)."""
    expected = {}
    for name in archive.namelist():
        if name.endswith('Calendar.xml') or name.endswith('Tasks.xml'):
            xml = archive.read(name).decode('utf-8', 'replace')
            for title, items in list(recurrences(xml, 'appointment').items()) + list(recurrences(xml, 'task').items()):
                expected.setdefault(title, []).extend(items)
    seen = {}
    for path in glob.glob(os.path.join(root, '**', '*.ics'), recursive=True) + glob.glob(os.path.join(root, 'Tasks', '*'), recursive=False):
        if os.path.isdir(path) or path in seen:
            continue
        cal = icalendar.Calendar.from_ical(open(path, 'rb').read())
        for comp in cal.walk():
            if comp.name not in ('VEVENT', 'VTODO'):
                continue
            title = str(comp.get('SUMMARY', ''))
            seen[path] = title
            if stamped and comp.get('DTSTAMP') is None:
                problem('%s: %s %r has no DTSTAMP' % (path, comp.name, title))
            if title not in expected:
                continue
            want = None
            for key in ('DTSTART', 'DUE', 'DTEND'):
                value = comp.get(key)
                if value is not None and isinstance(value.dt, datetime.datetime) and value.dt.tzinfo is None:
                    problem('%s: %s %s is a floating time' % (path, key, value.to_ical()))
            one = icalendar.Calendar()
            one.add_component(comp)
            for tz in cal.walk('VTIMEZONE'):
                one.add_component(tz)
            found = recurring_ical_events.of(one, components=[comp.name]).between((1990, 1, 1), (2100, 1, 1))
            # Items may share a title: the one whose pattern gives this many occurrences.
            candidates = expected[title]
            want = next((c for c in candidates if c['count'] == len(found)), candidates[0])
            if want['count'] is not None and len(found) != want['count']:
                problem('%s: %r occurs %d times, the archive\'s pattern %d' % (path, title, len(found), want['count']))
            starts = [o.get('DTSTART').dt for o in found if o.get('DTSTART') is not None]
            clocks = {(s.hour, s.minute) for s in starts if isinstance(s, datetime.datetime)}
            if len(clocks) > 1:
                problem('%s: %r moves in local time: %r' % (path, title, sorted(clocks)))
            alarms = [a for a in comp.walk('VALARM')]
            if want['alarm'] != bool(alarms):
                problem('%s: %r reminder %r, archive %r' % (path, title, bool(alarms), want['alarm']))
            if want['delta'] is not None and alarms and alarms[0]['TRIGGER'].dt != -datetime.timedelta(seconds=want['delta']):
                problem('%s: %r reminder %r before the start, archive %ds' % (path, title, alarms[0]['TRIGGER'].dt, want['delta']))
            cats = comp.get('CATEGORIES')
            got = sorted(str(c) for c in (cats.cats if cats is not None else []))
            if got != want['categories']:
                problem('%s: %r categories %r, archive %r' % (path, title, got, want['categories']))
            print('%s|%d|%s' % (title, len(found), ','.join(s.isoformat() for s in starts[:1] + starts[-1:])))
    missing = set(expected) - set(seen.values())
    if missing:
        problem('%s: no calendar item for %r' % (root, sorted(missing)))


check_mail()
for kind in (1, 2):
    if roots[kind] != '-':
        check_calendar(roots[kind], kind == 2)
for p in problems:
    print('PROBLEM ' + p)
