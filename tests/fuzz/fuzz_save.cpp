// libFuzzer target over the message writers: the input is one message entry's XML. It is put in
// a small archive beside two attachment entries its list may name, scanned, and every message the
// scan finds is parsed and written into memory in each message format (mailbox, package mailbox,
// .emlx, .eml, .htm), through the same writer a save uses. The field parse, the address lists,
// the body conversion, the header encoder and the attachment parts all read the hostile bytes;
// the sanitizers report what goes wrong, and a few invariants of the output trap.

#include "platform/ArchiveSource.h"
#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/mail/MailFormatStyle.h"
#include "save/mail/MailWriter.h"
#include "save/mail/MessageFiles.h"
#include "save/olm/OlmArchiveWriter.h"
#include "save/olm/OlmZipRecords.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"

#include <QByteArray>
#include <QCoreApplication>

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
    fprintf(stderr, "fuzz_save: invariant violated: %s (%lld)\n", what, a);
    fflush(stderr);
    __builtin_trap();
}

const QByteArray kInbox("Local/com.microsoft.__Messages/Inbox/");
// The seeds' attachment lists name these entries.
const QByteArray kAttachments[2] = {kInbox + "com.microsoft.__Attachments/a_0000",
                                    kInbox + "com.microsoft.__Attachments/b;v2 & c_0001"};

void addEntry(QByteArray &archive, const QByteArray &name, const QByteArray &data)
{
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    archive += LocalEntryHeader(name, crc, quint64(data.size()), 0x4CD08ED8);
    archive += data;
}

QByteArray archiveAround(const uint8_t *data, size_t size)
{
    QByteArray archive;
    addEntry(archive, kAttachments[0], QByteArray("\x89PNG\r\n\x1a\n", 8) + QByteArray(61, 'x'));
    addEntry(archive, kAttachments[1], QByteArray("From the attachment\r\n.\r\n", 24));
    addEntry(archive, kInbox + "message_00000.xml", QByteArray(reinterpret_cast<const char *>(data), int(size)));
    return archive;
}

// The writers read through the archive descriptor: the bytes go into an anonymous file.
int memoryFile(const QByteArray &bytes)
{
    const int fd = memfd_create("fuzz_save", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, bytes.constData(), size_t(bytes.size())) != bytes.size())
        fail("memory file", fd);
    return fd;
}

void checkOutput(const MailFormatStyle &style, const QByteArray &bytes)
{
    if (!style.writesFromLine || !style.oneFilePerFolder)
        return;
    // A mailbox message starts with its From_ line and never holds another one at a line start
    // unquoted: that would split it in two for every mailbox reader.
    if (!bytes.startsWith("From "))
        fail("mailbox message without its From_ line", bytes.size());
    for (int at = bytes.indexOf("\nFrom ", 0); at >= 0; at = bytes.indexOf("\nFrom ", at + 1))
        fail("unquoted From_ line inside a message", at);
}

void writeEveryFormat(const MailMLRC &record, const AttachmentIndex &index)
{
    const QByteArray xml = ReadMessageXml(record.llDataOffset, record.dwDataLength);
    const MailFormatStyle *styles[] = {&AppleMailStyle(), &RgePackageStyle(), &EmlxStyle(), &EmlStyle(), &HtmlStyle()};
    for (const MailFormatStyle *style : styles) {
        MailMessageFields fields = ParseMessageXml(xml, style->messageIdForm, AddressListLimit::Unlimited);
        fields.strEntryName = ReadEntryName(record.llNameOffset, record.nNameLength);
        MailFolderRelativePath(fields.strEntryName);
        MailOutput out;
        out.openMemory(qint64(64) << 20, 4096);
        MailMessage message{record, fields, *style, out, index};
        message.xml = &xml;
        if (style->oneFilePerFolder)
            WriteMailSteps(message);
        else
            WriteMessageFile(message);
        if (!out.failed())
            checkOutput(*style, out.takeMemory());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_save";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    (void)app;
    qInstallMessageHandler(quietMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    // The archive writer's own reading of the attachment list, on the raw bytes.
    MessageAttachmentUrls(QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    const QByteArray archive = archiveAround(data, size);
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
    {
        const AttachmentIndex index(tmpAtFOStart);
        for (const MailMLRC *r = TmpMlrcPtrStart; r; r = r->pNext)
            writeEveryFormat(*r, index);
    }
    CleanScanResults();
    ::close(fd);
    fileDescriptor = -1;
    lSize = 0;
    return 0;
}
