#!/usr/bin/env python3
"""Writes a small seed corpus for fuzz_scan into the directory given as the only argument
(with --messages: message XML for fuzz_save; with --items: item entries for fuzz_preview; with
--int64-max: the archive the tests keep).

The seeds are archives in the exporter's form (ZIP64, every entry STORED with a 20-byte ZIP64
extra in its local header, items with xml:space="preserve"), and damaged copies of them: the
shapes the scanner has to walk through. Each seed stays under ~8 KB so the fuzzer mutates fast.
Standard library only.
"""

import io
import os
import struct
import sys
import zipfile

MAX_SEED = 8 * 1024
PRESERVE = ' xml:space="preserve"'


def esc(text):
    return (text.replace("&", "&amp;").replace("<", "&lt;")
            .replace(">", "&gt;").replace('"', "&quot;"))


def el(name, text):
    return "<%s%s>%s</%s>" % (name, PRESERVE, text, name)


def item(name, children):
    return "<%s%s>%s</%s>" % (name, PRESERVE, "".join(children), name)


def root(name, items):
    return '<%s%s elementCount="%d">%s</%s>' % (name, PRESERVE, len(items), "".join(items), name)


def address(addr, name):
    return ('<emailAddress%s OPFContactEmailAddressAddress="%s" OPFContactEmailAddressName="%s"'
            ' OPFContactEmailAddressType="0"></emailAddress>' % (PRESERVE, esc(addr), esc(name)))


def attachment(name, url):
    ext = name.rsplit(".", 1)[-1]
    return ('<messageAttachment%s OPFAttachmentContentExtension="%s"'
            ' OPFAttachmentContentType="application/octet-stream" OPFAttachmentName="%s"'
            ' OPFAttachmentURL="%s"></messageAttachment>' % (PRESERVE, ext, esc(name), esc(url)))


def email(subject, body, sent="2006-01-11T05:17:59", received="2006-01-11T05:18:02",
          sender=("a@b.c", "Name"), outgoing="0E0", priority="3", attachments=()):
    children = []
    if attachments:
        children.append(item("OPFMessageCopyAttachmentList",
                             [attachment(n, u) for n, u in attachments]))
    children.append(el("OPFMessageCopyBody", body))
    if sender:
        children.append(item("OPFMessageCopyFromAddresses", [address(*sender)]))
    children.append(el("OPFMessageCopyReceivedTime", received))
    children.append(el("OPFMessageCopySentTime", sent))
    children.append(el("OPFMessageCopySubject", subject))
    children.append(el("OPFMessageGetPriority", priority))
    children.append(el("OPFMessageIsOutgoing", outgoing))
    return item("email", children)


def contact(first, last, notes="", picture=""):
    children = [el("OPFContactCopyFirstName", first), el("OPFContactCopyLastName", last)]
    if notes:
        children.append(el("OPFContactCopyNotesPlain", notes))
    if picture:
        children.append(el("OPFContactAddPicture", picture))
    return item("contact", sorted(children))


def appointment(summary, location, description):
    return item("appointment", [el("OPFCalendarEventCopyDescriptionPlain", description),
                                el("OPFCalendarEventCopyLocation", location),
                                el("OPFCalendarEventCopySummary", summary)])


def task(name, note, priority="3"):
    return item("task", [el("OPFTaskCopyName", name), el("OPFTaskCopyNote", note),
                         el("OPFTaskGetPriority", priority)])


def note(title, text):
    return item("note", [el("OPFNoteCopyText", text), el("OPFNoteCopyTitle", title)])


def categories(names):
    cats = "".join('<category%s OPFCategoryCopyBackgroundColor="#FF0000" OPFCategoryCopyName="%s">'
                   '</category>' % (PRESERVE, esc(n)) for n in names)
    return '<categories elementCount="%d">%s</categories>' % (len(names), cats)


MSG = "Local/com.microsoft.__Messages/"
ATT = MSG + "Inbox/com.microsoft.__Attachments/"


class Archive:
    """Entries written the exporter's way; remembers where each local header lies."""

    def __init__(self):
        self.buf = io.BytesIO()
        self.zf = zipfile.ZipFile(self.buf, "w", zipfile.ZIP_STORED, allowZip64=True)
        self.offsets = {}

    def add(self, name, data, method=zipfile.ZIP_STORED):
        if isinstance(data, str):
            data = data.encode("utf-8")
        info = zipfile.ZipInfo(name, date_time=(2018, 6, 16, 18, 44, 58))
        info.compress_type = method
        with self.zf.open(info, "w", force_zip64=True) as out:
            out.write(data)
        self.offsets[name] = info.header_offset
        return self

    def directory(self, name):
        # Folder entries: no data, CRC 0.
        return self.add(name if name.endswith("/") else name + "/", b"")

    def finish(self):
        self.zf.close()
        return bytearray(self.buf.getvalue())


def header_at(data, name, archive):
    """Offset of the ZIP64 extra of the named entry's local header."""
    pos = archive.offsets[name]
    name_len, extra_len = struct.unpack_from("<HH", data, pos + 26)
    assert extra_len >= 20, "ZIP64 extra expected"
    return pos, pos + 30 + name_len


def small_archive():
    a = Archive()
    a.add("Categories.xml", categories(["Red", "Blue & Green"]))
    a.directory("Local/Address Book")
    a.add("Local/Address Book/Contacts.xml", root("contacts", [
        contact("tom", "Smith", notes="Met at the fair.\r\nCall back.", picture="iVBORw0KGgo="),
        contact("  ", "O&apos;Brien"),
    ]))
    a.directory("Local/Calendar")
    a.add("Local/Calendar/Calendar.xml", root("appointments", [
        appointment("Review", "Room 4", "Bring the &lt;draft&gt;."),
    ]))
    a.directory("Local/Tasks")
    a.add("Local/Tasks/Tasks.xml", root("tasks", [task("Pay &amp; file", "Before Friday", "2")]))
    a.directory("Local/Notes")
    a.add("Local/Notes/Notes.xml", root("notes", [note("Shopping", "milk\neggs")]))
    a.directory(MSG + "Inbox")
    a.directory(ATT)
    a.add(ATT + "2A09A102@example.com_0000", b"\x89PNG\r\n\x1a\n" + bytes(range(64)))
    a.add(MSG + "Inbox/message_00000.xml", root("emails", [
        email("Hello", "Body &lt;b&gt;text&lt;/b&gt;\r\nline two",
              attachments=[("pic.png", "com.microsoft.__Attachments/2A09A102@example.com_0000")]),
    ]))
    a.directory(MSG + "Sent Items")
    a.add(MSG + "Sent Items/message_00001.xml", root("emails", [
        email("Re: Hello", "", outgoing="1E0", priority="4", sender=("x@y.z", "Ann, B")),
    ]))
    return a


def mail_only():
    a = Archive()
    a.directory(MSG + "Inbox/Sub")
    a.add(MSG + "Inbox/Sub/message_00000.xml", root("emails", [
        email("One", "first body", received="2020-02-30T00:00:00"),
        email("Two", "  \r\n ", sent="bad", sender=None),
    ]))
    a.add("Accounts/x@y.z/com.microsoft.__Messages/Inbox/message_00002.xml",
          root("emails", [email("Account", "body", received="2038-01-19T03:14:08Z")]))
    a.add(ATT + "ABC_0000", b"deflate me " * 20, method=zipfile.ZIP_DEFLATED)
    return a


def exporter_archive(entries, central_csize=None):
    """Entries (name, bytes) in the exporter's own form: every local header with a 20-byte ZIP64
    extra, every central record with 0xFFFFFFFF sizes and offset and a 28-byte ZIP64 extra.
    central_csize, when given, replaces the first file's compressed size in its central record."""
    import zlib
    local, central = bytearray(), bytearray()
    stamp = (0x8ED8, 0x4CD0)
    for i, (name, data) in enumerate(entries):
        raw = name.encode("utf-8")
        crc = zlib.crc32(data) & 0xFFFFFFFF
        offset = len(local)
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 45, 0, 0, stamp[0], stamp[1], crc,
                             0xFFFFFFFF, 0xFFFFFFFF, len(raw), 20)
        local += raw + struct.pack("<HHQQ", 1, 16, len(data), len(data)) + data
        csize = central_csize if central_csize is not None and i == 0 else len(data)
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 45, 45, 0, 0, stamp[0], stamp[1], crc,
                               0xFFFFFFFF, 0xFFFFFFFF, len(raw), 28, 0, 0, 0, 0, 0xFFFFFFFF)
        central += raw + struct.pack("<HHQQQ", 1, 24, len(data), csize, offset)
    count, at = len(entries), len(local)
    tail = struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, len(central), at)
    tail += struct.pack("<IIQI", 0x07064B50, 0, at + len(central), 1)
    tail += struct.pack("<IHHHHIIH", 0x06054B50, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return bytes(local + central + tail)


def int64_max_csize():
    """A message whose central record claims INT64_MAX compressed bytes, before its attachment."""
    message = root("emails", [email("Huge size", "body",
                                    attachments=[("a.bin", ATT + "big_0000")])])
    return exporter_archive([(MSG + "Inbox/message_00000.xml", message.encode()),
                             (ATT + "big_0000", b"attachment bytes\n" * 8)], central_csize=0x7FFFFFFFFFFFFFFF)


def seeds():
    out = {}
    out["central_int64_max_csize"] = int64_max_csize()

    base = small_archive()
    data = base.finish()
    out["archive"] = bytes(data)
    out["cut_tail"] = bytes(data[: len(data) * 2 // 3])
    out["cut_in_header"] = bytes(data[: base.offsets[MSG + "Inbox/message_00000.xml"] + 40])

    zeroed = bytearray(data)
    mid = len(zeroed) // 2
    zeroed[mid - 300: mid + 300] = bytes(600)
    out["zeroed_middle"] = bytes(zeroed)

    # No 'P', 'K' or '<' in the overwritten header, so only block recovery finds the mail.
    smashed = bytearray(data)
    pos = base.offsets[MSG + "Inbox/message_00000.xml"]
    smashed[pos: pos + 30] = b"\x11" * 30
    out["smashed_header"] = bytes(smashed)

    smashed_contacts = bytearray(data)
    pos = base.offsets["Local/Address Book/Contacts.xml"]
    smashed_contacts[pos: pos + 4] = b"XXXX"
    out["smashed_contacts_header"] = bytes(smashed_contacts)

    # Bare XML lists between entries; the central directory offsets after it go stale, which the
    # walk never reads anyway.
    pos = base.offsets["Local/Tasks/Tasks.xml"]
    bare = (root("contacts", [contact("Bare", "Block")]).replace(
        '<contacts xml:space="preserve" elementCount="1">', '<contacts a="1">')
            + root("notes", [note("Lost", "found again")])
            + '<tasks xml:space="preserve" elementCount="1">'
            + task("Cut short", "no close tag")[:-12]).encode()
    out["bare_xml_between"] = bytes(data[:pos] + bare + data[pos:])
    out["bare_xml_only"] = bare + root("appointments", [appointment("S", "L", "D")]).encode()
    out["bare_emails"] = root("emails", [email("Lost mail", "recovered body"),
                                         email("Second", "x")]).encode()

    # ZIP64 sizes far past the end, and negative ones.
    for label, usize, csize in (("huge_sizes", 0x7FFFFFFFFFFF0000, 0x7FFFFFFFFFFF0000),
                                ("negative_sizes", 0xFFFFFFFFFFFFFFFF, 0xFFFFFFFFFFFFFFFF),
                                ("usize_past_end", 0x10000, 0x40),
                                ("zero_csize", 0x200, 0)):
        damaged = bytearray(data)
        _, extra = header_at(damaged, MSG + "Inbox/message_00000.xml", base)
        struct.pack_into("<QQ", damaged, extra + 4, usize, csize)
        _, extra = header_at(damaged, "Local/Notes/Notes.xml", base)
        struct.pack_into("<QQ", damaged, extra + 4, usize, csize)
        out[label] = bytes(damaged)

    # A list file whose header CRC is 0: its data is looked at as a recovered block.
    crc_zero = bytearray(data)
    pos = base.offsets["Local/Calendar/Calendar.xml"]
    struct.pack_into("<I", crc_zero, pos + 14, 0)
    out["crc_zero_list"] = bytes(crc_zero)

    # A ZIP signature inside entry text: the sizes lie, the text ends at the signature.
    sig_inside = bytearray(data)
    pos = base.offsets["Local/Address Book/Contacts.xml"]
    _, extra = header_at(sig_inside, "Local/Address Book/Contacts.xml", base)
    at = sig_inside.index(b"<contact ", extra) + 200
    sig_inside[at: at + 4] = b"PK\x03\x04"
    out["signature_in_text"] = bytes(sig_inside)

    mail = mail_only()
    mdata = mail.finish()
    out["mail_folders"] = bytes(mdata)
    out["mail_no_central"] = bytes(mdata[: mail.offsets[ATT + "ABC_0000"]])
    return out


# fuzz_save puts its input in an archive beside these two attachment entries.
SAVE_ATT = [ATT + "a_0000", ATT + "b;v2 & c_0001"]


def message_seeds():
    """Message XML for fuzz_save: address lists with names, both attachments, bodies that need
    quoting or encoding, the fields a header encoder must fold or clean."""
    def addresses(tag, pairs):
        return item(tag, [address(a, n) for a, n in pairs])

    plain = email("Hello", "Body &lt;b&gt;text&lt;/b&gt;\r\nFrom here on\n>From there\r.\r\n",
                  attachments=[("pic.png", SAVE_ATT[0]), ("notes; v2 &amp; c.txt", SAVE_ATT[1])])
    rich = ("<email%s>" % PRESERVE
            + addresses("OPFMessageCopyToAddresses", [("x@y.z", "Doe, John"), ("q@r.s", "\"Q\" &lt;q&gt;")])
            + addresses("OPFMessageCopyCCAddresses", [("c@d.e", "\u00c9milie M\u00fcller \u65e5\u672c")])
            + addresses("OPFMessageCopyBCCAddresses", [("", ""), ("no-at-sign", "=?UTF-8?B?QQ==?=")])
            + el("OPFMessageCopyMessageID", "&lt;id@host&gt;")
            + el("OPFMessageCopySubject", "\u30d1\u30fc\u30c6\u30a3\u30fc " + "long words " * 12 + "\r\nBcc: x@y.z")
            + el("OPFMessageCopyHTMLBody", "&lt;p&gt;caf\u00e9 &amp;amp; &lt;script&gt;x&lt;/script&gt;&lt;/p&gt;")
            + el("OPFMessageCopySentTime", "2038-01-19T03:14:08")
            + "</email>")
    return {
        "plain": root("emails", [plain]),
        "rich": root("emails", [rich]),
        "two_mails": root("emails", [email("One", "1"), email("Two", "2", sender=None)]),
        "no_close": root("emails", [plain])[:-20],
        "bare": plain,
    }


# fuzz_preview puts its input in an archive beside these two attachment entries, of content ids
# "a" (a picture) and "b".
PREVIEW_ATT = [ATT + "a_0000", ATT + "b_0001"]
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "outlook_example.olm")


def inline_attachment(name, url, cid, ctype):
    return ('<messageAttachment%s OPFAttachmentContentFileSize="1.0E3" OPFAttachmentContentID="%s"'
            ' OPFAttachmentContentType="%s" OPFAttachmentName="%s" OPFAttachmentURL="%s">'
            '</messageAttachment>' % (PRESERVE, cid, ctype, esc(name), esc(url)))


def item_seeds():
    """Whole entries of each kind for fuzz_preview: the sample archive's own, and items whose
    fields the preview's readers treat one by one (pictures named by content id, sender lists of
    both forms, contact lists and dates, entities escaped more than once)."""
    out = {}
    with zipfile.ZipFile(SAMPLE) as sample:
        for info in sample.infolist():
            if info.filename.endswith(".xml"):
                name = info.filename.replace("/", "_").replace(" ", "_")
                out["sample_" + name] = sample.read(info)[:128 * 1024]
    senders = (address("p@x", "P") + '<emailAddress%s OPFContactEmailAddressAddress="a,b@x"'
               ' OPFContactEmailAddressType="0"></emailAddress>' % PRESERVE + address("r@x", "R, S"))
    body = ("&lt;html&gt;&lt;body&gt;&lt;img src=\"cid:a\"&gt;&lt;p style=\"background: url(cid:b)\"&gt;"
            "&amp;amp;lt;b&amp;amp;gt; &amp;nbsp;&lt;img src='cid:a'&gt;&lt;/body&gt;&lt;/html&gt;")
    pictures = ("<email%s>" % PRESERVE
                + item("OPFMessageCopyAttachmentList",
                       [inline_attachment("a.png", PREVIEW_ATT[0], "a", "image/png"),
                        inline_attachment("b.txt", PREVIEW_ATT[1], "b", "text/plain"),
                        inline_attachment("c.png", PREVIEW_ATT[0], "no", "image/png")])
                + el("OPFMessageCopyBody", body)
                + "<OPFMessageCopyFromAddresses%s>%s</OPFMessageCopyFromAddresses>" % (PRESERVE, senders)
                + item("OPFMessageCopyToAddresses", [address("t@x", "T"), address("u@x", "")])
                + item("OPFMessageCopyCCAddresses", [address("c@x", "C")])
                + el("OPFMessageCopySentTime", "2018-06-21T03:26:46")
                + el("OPFMessageCopySubject", "Pictures;")
                + "</email>")
    out["mail_pictures"] = root("emails", [pictures]).encode()
    person = item("contact", [
        el("OPFContactCopyBirthday", "1980-02-29T00:00:00"),
        el("OPFContactCopyBusinessDepartment", "R&amp;amp;D"),
        el("OPFContactCopyBusinessStreetAddress", "1 Main St\nSuite 2"),
        item("OPFContactCopyChildren", ['<string%s>Ann</string>' % PRESERVE, '<string%s>Bo</string>' % PRESERVE]),
        item("OPFContactCopyEmailAddressList", [
            '<contactEmailAddress%s OPFContactEmailAddressAddress="a@x" OPFContactEmailAddressType="0">'
            'a@x</contactEmailAddress>' % PRESERVE]),
        el("OPFContactCopyAge", "42"),
        el("OPFContactCopyFirstName", "Tom"),
        "<OPFContactCopyTitle/>",
    ])
    out["contact_fields"] = root("contacts", [person]).encode()
    out["task_dates"] = root("tasks", [item("task", [
        el("OPFTaskCopyDueDateTime", "2018-06-22T10:00:00"), el("OPFTaskCopyName", "Due"),
        el("OPFTaskCopyNotePlain", "&amp;amp;gt; &lt;&lt;&amp;"),
        el("OPFTaskCopyStartDateTime", "2018-06-21T10:00:00")])]).encode()
    out["note_entities"] = root("notes", [note("Escaped", "&amp;amp;amp;lt; &amp;nbsp;&#65;")]).encode()
    return out


def main(argv):
    if len(argv) == 3 and argv[1] == "--items":
        os.makedirs(argv[2], exist_ok=True)
        for name, data in sorted(item_seeds().items()):
            with open(os.path.join(argv[2], name), "wb") as f:
                f.write(data)
        return 0
    if len(argv) == 3 and argv[1] == "--messages":
        os.makedirs(argv[2], exist_ok=True)
        for name, text in sorted(message_seeds().items()):
            with open(os.path.join(argv[2], name + ".xml"), "wb") as f:
                f.write(text.encode("utf-8"))
        return 0
    if len(argv) == 3 and argv[1] == "--int64-max":
        # The archive the tests keep (tests/data/zip64-int64max.olm).
        with open(argv[2], "wb") as f:
            f.write(int64_max_csize())
        return 0
    if len(argv) != 2:
        sys.stderr.write("usage: make_seeds.py OUTPUT_DIR | --messages OUTPUT_DIR | --items OUTPUT_DIR"
                         " | --int64-max FILE\n")
        return 2
    os.makedirs(argv[1], exist_ok=True)
    for name, data in sorted(seeds().items()):
        if len(data) > MAX_SEED:
            sys.stderr.write("seed %s is %d bytes, over %d\n" % (name, len(data), MAX_SEED))
            return 1
        with open(os.path.join(argv[1], name + ".olm"), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
