// Speed benchmark of the readers the item preview runs on the window's thread, each on a hostile
// input at two sizes, the second twice the first: sender lists of many empty entries before one
// long entry, sender lists of many start tags never closed (at three sizes, each four times the last), bodies dense in entity references, a contact item that is mostly '<', and a mail
// whose body names one picture at the size limit over and over. Prints one line per reader and
// size with the seconds taken; doubling the input should at most about double the time. The
// picture lines also give the growth of the peak resident memory while the picture is inlined.
//   olmpreviewbench
// Run it with QT_QPA_PLATFORM=offscreen where there is no display.

#include "browse/ContactFields.h"
#include "browse/MailPreview.h"
#include "browse/PreviewArchive.h"
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
#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>

#include <cstdio>
#include <functional>
#include <malloc.h>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr int kMiB = 1 << 20;

double seconds(const std::function<void()> &run)
{
    QElapsedTimer timer;
    timer.start();
    run();
    return double(timer.nsecsElapsed()) / 1e9;
}

void report(const char *reader, const QString &size, double s)
{
    printf("%-28s %-34s %8.3f s\n", reader, qPrintable(size), s);
    fflush(stdout);
}

// Empty entries, then one long entry: without an address marker, or with a long address that a
// written list would repeat once per entry.
QByteArray fromList(int emptyEntries, int lastBytes, bool address)
{
    QByteArray list = "<emails><email><OPFMessageCopyFromAddresses xml:space=\"preserve\">";
    for (int i = 0; i < emptyEntries; ++i)
        list += "</emailAddress>";
    const QByteArray last = QByteArray(lastBytes, 'x');
    list += address ? "<emailAddress OPFContactEmailAddressAddress=\"" + last + "\" OPFContactEmailAddressType=\"0\">"
                    : "<emailAddress " + last + ">";
    list += "</emailAddress>";
    return list + "</OPFMessageCopyFromAddresses></email></emails>";
}

void benchSenders()
{
    const struct {
        int entries, bytes;
    } sizes[] = {{10000, kMiB}, {20000, 2 * kMiB}, {40000, kMiB}, {40000, 2 * kMiB}};
    for (bool address : {false, true}) {
        for (const auto &s : sizes) {
            const QByteArray xml = fromList(s.entries, s.bytes, address);
            const QString size = QStringLiteral("%1 entries, %2 MiB %3")
                                     .arg(s.entries)
                                     .arg(s.bytes / kMiB)
                                     .arg(address ? QStringLiteral("address") : QStringLiteral("last"));
            report("senders (preview)", size, seconds([&] { ParseMessageXml(xml); }));
            report("senders (save)", size,
                   seconds([&] { ParseMessageXml(xml, MessageIdForm::AngleBrackets, AddressListLimit::Unlimited); }));
        }
    }
}

// Start tags of sender entries that are never closed, then one "/>": each tag's reading must end
// at the next one, so the time grows with the count, not its square.
void benchUnclosedTags()
{
    for (int count : {10000, 40000, 160000}) {
        const QByteArray xml = "<emails><email><OPFMessageCopyFromAddresses xml:space=\"preserve\">"
            + QByteArray("<emailAddress ").repeated(count) + "/></OPFMessageCopyFromAddresses></email></emails>";
        report("unclosed start tags", QStringLiteral("%1 tags").arg(count), seconds([&] { ParseMessageXml(xml); }));
    }
}

void benchEntities()
{
    for (int mib : {5, 10, 20}) {
        const QString size = QStringLiteral("%1 MiB").arg(mib);
        const QByteArray lt = QByteArray("&lt;").repeated(mib * kMiB / 4);
        const QString text = QString::fromLatin1(lt);
        report("entities &lt; (long text)", size, seconds([&] { UnescapeXmlEntities(text, EntityForm::Four); }));
        bool html = false;
        report("entities &lt; (mail body)", size, seconds([&] { MailPreviewBody(lt, &html); }));
        const QString amp = QString::fromLatin1(QByteArray("&amp;").repeated(mib * kMiB / 5));
        report("entities &amp; (long text)", size, seconds([&] { UnescapeXmlEntities(amp, EntityForm::Four); }));
    }
}

void benchContact()
{
    for (int mib : {4, 8}) {
        const QByteArray item = "<contacts><contact>" + QByteArray(mib * kMiB, '<') + "</contact></contacts>";
        report("contact fields, all '<'", QStringLiteral("%1 MiB").arg(mib),
               seconds([&] { ExtractContactFields(std::string_view(item.constData(), size_t(item.size()))); }));
    }
    for (int count : {10000, 40000, 160000}) {
        const QByteArray item = "<contacts><contact>" + QByteArray("<OPFContactCopyHomePhone a=\"x").repeated(count)
            + "/></contact></contacts>";
        report("contact unclosed start tags", QStringLiteral("%1 tags").arg(count),
               seconds([&] { ExtractContactFields(std::string_view(item.constData(), size_t(item.size()))); }));
    }
}

void addEntry(QByteArray &archive, const QByteArray &name, const QByteArray &data)
{
    const quint32 crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    archive += LocalEntryHeader(name, crc, quint64(data.size()), 0x4CD08ED8);
    archive += data;
}

QByteArray pictureAtTheLimit()
{
    QImage image(300, 300, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    // A PNG decoder stops at the image's end chunk: the padding is read, never drawn.
    return bytes + QByteArray(int(kMaxInlinePictureBytes) - bytes.size(), '\0');
}

qint64 residentKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// The archive is scanned from memory and read through an anonymous file, as the window reads it.
void benchPictures()
{
    const QByteArray inbox = "Local/com.microsoft.__Messages/Inbox/";
    const QByteArray url = inbox + "com.microsoft.__Attachments/a_0000";
    QByteArray archive;
    addEntry(archive, url, pictureAtTheLimit());
    addEntry(archive, inbox + "message_00000.xml", "<emails><email></email></emails>");
    const int fd = memfd_create("olmpreviewbench", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, archive.constData(), size_t(archive.size())) != archive.size())
        return;
    fileDescriptor = fd;
    lSize = archive.size();
    {
        QFolderInformationThread scanner;
        scanner.setSource(std::make_shared<MemoryArchiveSource>(archive));
        scanner.CreateFile();
    }
    archive.clear();
    MailMessageFields fields;
    fields.attachments.append({QStringLiteral("1.0E7"), QStringLiteral("a"), QStringLiteral("image/png"),
                               QStringLiteral("a.png"), QString::fromLatin1(url)});
    for (int references : {100, 200}) {
        QString body = QStringLiteral("<html><body>");
        for (int i = 0; i < references; ++i)
            body += QStringLiteral("<img src=\"cid:a\" width=\"20\">");
        body += QStringLiteral("</body></html>");
        SafePreviewDocument document;
        // What the run before freed goes back to the system, so this run's pages are counted.
        malloc_trim(0);
        const qint64 before = residentKiB("VmRSS:");
        resetPeak();
        const double s = seconds([&] {
            AddInlinePictures(&document, InlinePicturesOf(body, fields, AttachmentIndex(tmpAtFOStart)),
                              *PreviewArchive::OfOpenArchive());
            document.setHtml(body);
            document.setTextWidth(800);
            document.documentLayout()->documentSize();
        });
        const qint64 growth = residentKiB("VmHWM:") - before;
        report("inline pictures, 10 MiB",
               QStringLiteral("%1 references, peak +%2 MiB").arg(references).arg(growth / 1024), s);
    }
    CleanScanResults();
    ::close(fd);
    fileDescriptor = -1;
    lSize = 0;
}

}  // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchSenders();
    benchUnclosedTags();
    benchEntities();
    benchContact();
    benchPictures();
    return 0;
}
