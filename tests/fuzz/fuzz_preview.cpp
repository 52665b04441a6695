// libFuzzer target over the readers the window's preview runs on an item: the input is one XML
// entry. It is read as it stands (contact fields, task elements, every entity form, the mail
// body, the header fields) and put in a small archive as the contacts, calendar, tasks, notes and
// one message entry, beside two attachment entries its attachment list may name; the scan's
// records are then previewed as the window previews them, inline pictures included. One input in
// sixteen is also read repeated to a mebibyte, so a reader whose cost grows faster than its input
// runs into the per-input time limit.

#include "browse/ContactFields.h"
#include "browse/ItemElements.h"
#include "browse/ItemTexts.h"
#include "browse/MailPreview.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewWriter.h"
#include "browse/SafePreviewDocument.h"
#include "platform/ArchiveSource.h"
#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/olm/OlmZipRecords.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QTextCursor>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

namespace {

void quietMessages(QtMsgType, const QMessageLogContext &, const QString &)
{
}

[[noreturn]] void fail(const char *what, long long a)
{
    fprintf(stderr, "fuzz_preview: invariant violated: %s (%lld)\n", what, a);
    fflush(stderr);
    __builtin_trap();
}

const QByteArray kInbox("Local/com.microsoft.__Messages/Inbox/");
// The seeds' attachment lists name these entries, with content ids "a" and "b".
const QByteArray kAttachments[2] = {kInbox + "com.microsoft.__Attachments/a_0000",
                                    kInbox + "com.microsoft.__Attachments/b_0001"};
const QByteArray kEntries[] = {"Local/Address Book/Contacts.xml", "Local/Calendar/Calendar.xml",
                               "Local/Tasks/Tasks.xml", "Local/Notes/Notes.xml", kInbox + "message_00000.xml"};
const ElementTagTable kTaskTable{"<OPFTaskCopyStartDateTime", "<OPFTaskCopyDueDateTime", "<OPFTaskCopyNotePlain"};
constexpr int kAmplified = 1 << 20;

QByteArray smallPicture()
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void addEntry(QByteArray &archive, const QByteArray &name, const QByteArray &data)
{
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    archive += LocalEntryHeader(name, crc, quint64(data.size()), 0x4CD08ED8);
    archive += data;
}

QByteArray archiveAround(const QByteArray &input)
{
    static const QByteArray picture = smallPicture();
    QByteArray archive;
    addEntry(archive, kAttachments[0], picture);
    addEntry(archive, kAttachments[1], QByteArray("not a picture"));
    for (const QByteArray &name : kEntries)
        addEntry(archive, name, input);
    return archive;
}

// The readers' previews read through the archive descriptor: the bytes go into an anonymous file.
int memoryFile(const QByteArray &bytes)
{
    const int fd = memfd_create("fuzz_preview", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        fail("memory file", fd);
    return fd;
}

std::string_view view(const QByteArray &bytes)
{
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

// The readers that take text as it stands.
void readText(const QByteArray &input)
{
    ExtractContactFields(view(input));
    ExtractItemElements(view(input), "</task>", kTaskTable, [](int, std::string_view raw) { DecodeElementText(raw); });
    const QString text = QString::fromUtf8(input);
    for (EntityForm form : {EntityForm::Three, EntityForm::Four, EntityForm::Six, EntityForm::Preview,
                            EntityForm::Notes, EntityForm::Scanned, EntityForm::Named}) {
        const QString decoded = UnescapeXmlEntities(text, form);
        // Every form only ever shortens a text.
        if (decoded.size() > text.size())
            fail("decoded text longer than the text", decoded.size());
    }
    bool html = false;
    MailPreviewBody(input, &html);
    const MailMessageFields fields = ParseMessageXml(input);
    if (fields.strFromList.size() > kMaxFromListChars)
        fail("sender list past its limit", fields.strFromList.size());
    MailSenderHeader(fields);
    MailRecipientsHtml(fields);
    MailListForm(fields.strToList);
}

void previewMail(const MailMLRC &mail)
{
    MailMessageFields fields = ParseMessageXml(ReadMessageXml(mail.llDataOffset, mail.dwDataLength));
    fields.strEntryName = ReadEntryName(mail.llNameOffset, mail.nNameLength);
    MailPreviewDate(mail, fields.strEntryName);
    MailSubjectLine(mail.pSubject);
    MailSenderHeader(fields);
    MailRecipientsHtml(fields);
    if (mail.llBodyOffset < 1 || mail.dwBodyLength == 0)
        return;
    bool html = false;
    const QString body = MailPreviewBody(UpToFirstNul(ReadArchiveBytes(mail.llBodyOffset, mail.dwBodyLength)), &html);
    if (!html)
        return;
    SafePreviewDocument document;
    // The pictures the body names, from the mail's attachments in the open archive.
    const int added = AddInlinePictures(&document, InlinePicturesOf(body, fields, AttachmentIndex(tmpAtFOStart)),
                                        *PreviewArchive::OfOpenArchive());
    if (added > fields.attachments.size())
        fail("more pictures than attachments", added);
    // Laid out only to draw the pictures from the document: the markup itself is the toolkit's.
    if (added == 0)
        return;
    document.setHtml(body);
    document.setTextWidth(600);
    document.documentLayout()->documentSize();
}

// A task's or note's long text as its preview reads and writes it, into a document of its own.
void writeLongText(qint64 offset, qint64 length)
{
    SafePreviewDocument document;
    PreviewWriter writer{QTextCursor(&document)};
    writer.appendLongText(ItemPreviewLongText(ReadArchiveBytes(offset, length)));
}

void previewTask(const TasksInformation &t)
{
    ExtractItemElements(view(ReadItemXml(t.llItemOffset, t.dwItemLength)), "</task>", kTaskTable,
                        [](int row, std::string_view raw) {
                            if (row == 2)
                                PreviewLongText(QByteArray(raw.data(), int(raw.size())), EntityForm::Scanned);
                            else
                                LocalTimeText(DecodeElementText(raw));
                        });
    if (!t.pName)
        ItemElementName(t.llItemOffset, t.dwItemLength, "<OPFTaskCopyName", kPreviewNameReadBound);
    if (t.dwNoteLength != 0)
        writeLongText(t.dwNoteOffset, t.dwNoteLength);
}

void previewRecords()
{
    for (const MailMLRC *m = TmpMlrcPtrStart; m; m = m->pNext)
        previewMail(*m);
    for (const ContactInformation *c = TmpCTRCPtrStart; c; c = c->pNext) {
        ReadContactPreviewFields(c->llItemOffset, c->dwItemLength);
        if (c->dwNotesLength != 0)
            ReadLongText(c->dwNotesLength, c->dwNotesOffset);
    }
    for (const CalenderInformation *c = TmpCLRCPtrStart; c; c = c->pNext) {
        const QByteArray stored = ReadArchiveBytes(c->dwDescriptionOffset, c->dwDescriptionLength);
        UnescapeXmlEntities(QString::fromUtf8(UpToFirstNul(stored)), EntityForm::Preview);
    }
    for (const TasksInformation *t = TmpTSRCPtrStart; t; t = t->pNext)
        previewTask(*t);
    for (const NotesInformation *n = TmpNTRCPtrStart; n; n = n->pNext) {
        if (!n->pTitle)
            ItemElementName(n->llItemOffset, n->dwItemLength, "<OPFNoteCopyTitle", kPreviewNameReadBound);
        if (n->dwTextLength != 0)
            writeLongText(n->dwTextOffset, n->dwTextLength);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_preview";
    static char *argv[] = {name, nullptr};
    // Documents lay out text and decode pictures: a GUI application without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication *app = new QGuiApplication(argc, argv);
    (void)app;
    qInstallMessageHandler(quietMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 18))
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    readText(input);
    if (size >= 16 && crc32(0, data, uInt(size)) % 16 == 0) {
        QByteArray amplified;
        amplified.reserve(kAmplified + int(size));
        while (amplified.size() < kAmplified)
            amplified += input;
        readText(amplified);
    }
    const QByteArray archive = archiveAround(input);
    const int fd = memoryFile(archive);
    fileDescriptor = fd;
    lSize = archive.size();
    {
        QFolderInformationThread scanner;
        scanner.setSource(std::make_shared<MemoryArchiveSource>(archive));
        bStopFlag = false;
        scanner.CreateFile();
    }
    bProcessRunning = false;
    previewRecords();
    CleanScanResults();
    ::close(fd);
    fileDescriptor = -1;
    lSize = 0;
    return 0;
}
