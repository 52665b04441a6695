// The archive's zone-less times are UTC instants: under any machine zone the scan, the list and
// preview dates and the written Date and From_ lines must name the same instants.

#include "ArchiveFile.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"
#include "browse/ItemListFill.h"
#include "browse/MailPreview.h"
#include "save/MessageFields.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "save/SaveFlow.h"
#include "save/mail/MailHeaders.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <time.h>

namespace {

QByteArray SampleBytes()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void UseZone(const QByteArray &zone)
{
    qputenv("TZ", zone);
    tzset();
}

// The element's text read by Qt as a UTC time; 0 when absent.
qint64 UtcOf(const QByteArray &xml, const char *tag)
{
    const QRegularExpression re(QStringLiteral("<%1[^>]*>([^<]*)</%1>").arg(QLatin1String(tag)));
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(xml));
    if (!m.hasMatch())
        return 0;
    const QDateTime dt = QDateTime::fromString(m.captured(1).trimmed(), QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    return dt.isValid() ? QDateTime(dt.date(), dt.time(), Qt::UTC).toSecsSinceEpoch() : 0;
}

// A shown or written local time text back to its instant, read in the machine's zone.
qint64 LocalInstant(const QString &text, const QString &format)
{
    const QDateTime dt = QLocale::c().toDateTime(text, format);
    return dt.isValid() ? dt.toSecsSinceEpoch() : -1;
}

// Every "Date:" header and From_ line of the mailboxes below root, as instants.
void WrittenInstants(const QString &root, QSet<qint64> *dates, QSet<qint64> *fromLines, QStringList *bad)
{
    QDirIterator it(root, {QStringLiteral("*.mbox")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly)) {
            *bad << f.fileName();
            continue;
        }
        QByteArray data = f.readAll();
        data.replace("\r\n", "\n").replace('\r', '\n');
        for (const QByteArray &line : data.split('\n')) {
            if (line.startsWith("Date: ")) {
                // A numeric zone names the instant itself; a zone's abbreviation ("CET") goes
                // with the machine's local time.
                const QString value = QString::fromLatin1(line.mid(6));
                const bool numeric = QRegularExpression(QStringLiteral(" [+-]\\d{4}$")).match(value).hasMatch();
                const qint64 t = numeric ? QDateTime::fromString(value, Qt::RFC2822Date).toSecsSinceEpoch()
                                         : LocalInstant(value.left(25), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss"));
                if (t > 0)
                    dates->insert(t);
                else
                    *bad << QString::fromLatin1(line);
            } else if (line.startsWith("From ???@??? ")) {
                // "Wed Jan 11 10:47:59 2006", maybe followed by the zone's abbreviation.
                const QString when = QString::fromLatin1(line.mid(13, 24));
                const qint64 t = LocalInstant(when, QStringLiteral("ddd MMM dd HH:mm:ss yyyy"));
                if (t >= 0)
                    fromLines->insert(t);
                else
                    *bad << QString::fromLatin1(line);
            }
        }
    }
}

// The Date header of each message of the mailboxes below root, by its Subject line; a
// subject written twice maps to -1.
QHash<QByteArray, qint64> DatesBySubject(const QString &root)
{
    QHash<QByteArray, qint64> dates;
    QDirIterator it(root, {QStringLiteral("*.mbox")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        QByteArray data = f.readAll();
        data.replace("\r\n", "\n").replace('\r', '\n');
        QByteArray subject;
        qint64 date = 0;
        const auto keep = [&] {
            if (!subject.isEmpty())
                dates.insert(subject, dates.contains(subject) ? -1 : date);
            subject.clear();
            date = 0;
        };
        bool inSubject = false;
        for (const QByteArray &line : data.split('\n')) {
            // A long subject goes on in folded lines.
            if (inSubject && line.startsWith(' ')) {
                subject += '\n' + line;
                continue;
            }
            inSubject = false;
            if (line.startsWith("From ???@??? "))
                keep();
            else if ((inSubject = line.startsWith("Subject: ") && subject.isEmpty()))
                subject = line.mid(9);
            else if (line.startsWith("Date: ") && date == 0)
                date = QDateTime::fromString(QString::fromLatin1(line.mid(6)), Qt::RFC2822Date).toSecsSinceEpoch();
        }
        keep();
    }
    return dates;
}

} // namespace

class ArchiveTimesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void instantsAgreeWithUtc_data();
    void instantsAgreeWithUtc();

private:
    std::unique_ptr<ArchiveFile> m_archive;
};

void ArchiveTimesTest::init()
{
    ResetRunFlags();
}

void ArchiveTimesTest::cleanup()
{
    FreeScanState();
    m_archive.reset();
    UseZone("UTC");
}

void ArchiveTimesTest::instantsAgreeWithUtc_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("type");
    // Whole-hour, half-hour and negative half-hour offsets, summer and winter.
    QTest::newRow("Berlin, package mailboxes") << QByteArray("Europe/Berlin") << int(SaveTypeRGE);
    QTest::newRow("Kolkata, Apple Mail mailboxes") << QByteArray("Asia/Kolkata") << int(SaveTypeMBOX);
    QTest::newRow("St John's, package mailboxes") << QByteArray("America/St_Johns") << int(SaveTypeRGE);
    QTest::newRow("St John's, Apple Mail mailboxes") << QByteArray("America/St_Johns") << int(SaveTypeMBOX);
}

void ArchiveTimesTest::instantsAgreeWithUtc()
{
    QFETCH(QByteArray, zone);
    QFETCH(int, type);
    UseZone(zone);
    const QByteArray sample = SampleBytes();
    QVERIFY(!sample.isEmpty());
    m_archive.reset(new ArchiveFile(sample));
    QVERIFY(m_archive->isOpen());
    scanBytes(sample);
    QCOMPARE(int(MailItemCount), 7);

    QSet<qint64> expected;
    bool sawMessageIdTime = false;
    for (const MailMLRC *rec = TmpMlrcPtrStart; rec; rec = rec->pNext) {
        const QByteArray xml = ReadMessageXml(rec->llDataOffset, rec->dwDataLength);
        const QString entry = ReadEntryName(rec->llNameOffset, rec->nNameLength);
        QCOMPARE(qint64(rec->dwSentTime), UtcOf(xml, "OPFMessageCopySentTime"));
        QCOMPARE(qint64(rec->dwReceivedTime), UtcOf(xml, "OPFMessageCopyReceivedTime"));
        // The Korean mail's Message-ID is its sent time as hex seconds since 1970.
        const MailMessageFields fields = ParseMessageXml(xml, MessageIdForm::AngleBrackets);
        if (fields.strMessageId.startsWith(QLatin1String("<43C49507."))) {
            QCOMPARE(rec->dwSentTime, quint32(0x43C49507));
            sawMessageIdTime = true;
        }
        const quint32 shown = MailDateSeconds(*rec, entry);
        if (!shown)
            continue;
        expected.insert(shown);
        QCOMPARE(LocalInstant(MailPreviewDate(*rec, entry), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss AP")), qint64(shown));
        const QDate localDate = QDateTime::fromSecsSinceEpoch(shown, Qt::UTC).toLocalTime().date();
        QCOMPARE(MailDateText(*rec, entry), localDate.toString(QStringLiteral("dd/MM/yyyy")));
    }
    QVERIFY(sawMessageIdTime);

    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    QTemporaryDir dest;
    QString error;
    QVERIFY2(StartTestSave(SaveType(type), dest.path(), &error), qPrintable(error));
    QMailSavingThread thread;
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(thread.wait(120000));
    QCOMPARE(thread.outcome().failed, qint64(0));
    QSet<qint64> dates, fromLines;
    QStringList bad;
    WrittenInstants(OutputRootFor(SaveType(type), saveDir, strTime), &dates, &fromLines, &bad);
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(QLatin1Char('\n'))));
    // Every written date is one of the archive's instants, and the Korean mail's (sent, or
    // received five seconds later) is there.
    QVERIFY(!dates.isEmpty() && !fromLines.isEmpty());
    QVERIFY(dates.contains(0x43C49507) || dates.contains(0x43C49507 + 5));
    // Each mail's list and preview date is its written Date header ("Email Test" has only a
    // received time, which its folder words do not pick first).
    if (type == SaveTypeMBOX) {
        const QHash<QByteArray, qint64> bySubject = DatesBySubject(OutputRootFor(SaveType(type), saveDir, strTime));
        int compared = 0;
        for (const MailMLRC *rec = TmpMlrcPtrStart; rec; rec = rec->pNext) {
            const qint64 written = bySubject.value(EncodeSubjectWord(rec->pSubject), -1);
            if (written < 0)
                continue;
            const QString entry = ReadEntryName(rec->llNameOffset, rec->nNameLength);
            QCOMPARE(qint64(MailDateSeconds(*rec, entry)), written);
            ++compared;
        }
        QVERIFY(bySubject.contains(EncodeSubjectWord("Email Test")));
        QCOMPARE(compared, int(MailItemCount));
    }
    for (const QSet<qint64> *set : {&dates, &fromLines}) {
        for (qint64 t : *set) {
            bool known = expected.contains(t);
            for (const MailMLRC *rec = TmpMlrcPtrStart; rec && !known; rec = rec->pNext)
                known = t == rec->dwSentTime || t == rec->dwReceivedTime;
            QVERIFY2(known, qPrintable(QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(Qt::ISODate)));
        }
    }
}

QTEST_GUILESS_MAIN(ArchiveTimesTest)
#include "tst_archivetimes.moc"
