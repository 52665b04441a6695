// The scan with its record builders on a second thread, or its messages read on several, gives
// exactly the records and report of the scan on one thread: same order, fields, folders,
// locations and lines, on intact and damaged archives, and a stop still ends it cleanly.

#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "OlmXml.h"
#include "scanner/BuildQueue.h"

#include <QtTest>

namespace {

QString cstr(const char *s) { return s ? QString::fromUtf8(s) : QStringLiteral("<null>"); }

// Every record field but the random UUIDs, folders by name, one line per record.
QStringList describeScan()
{
    QStringList out;
    for (MailMLRC *m : mails())
        out << QStringLiteral("mail %1|%2|%3 %4 %5 %6|%7@%8|%9|%10%11|%12 %13|%14|%15@%16 %17@%18 %19")
                   .arg(cstr(m->pFromNames), cstr(m->pSubject))
                   .arg(m->dwReceivedTime).arg(m->dwSentTime).arg(m->dwSentTimeCopy).arg(m->dwReceivedTimeCopy)
                   .arg(m->dwBodyLength).arg(m->llBodyOffset)
                   .arg(folderKey(m->llFolderId))
                   .arg(m->bOutgoing).arg(QChar(m->cPriority ? m->cPriority : '-'))
                   .arg(m->dwEntrySize).arg(m->dwCrc32)
                   .arg(m->bHasAttachment)
                   .arg(m->nNameLength).arg(m->llNameOffset).arg(m->dwDataLength).arg(m->llDataOffset)
                   .arg(m->bDamaged);
    for (ContactInformation *c : contacts())
        out << QStringLiteral("contact %1|%2|%3@%4|%5@%6|%7|%8@%9")
                   .arg(cstr(c->pFirstName), cstr(c->pLastName))
                   .arg(c->dwNotesLength).arg(c->dwNotesOffset).arg(c->dwPictureLength).arg(c->dwPictureOffset)
                   .arg(folderKey(c->llFolderId)).arg(c->dwItemLength).arg(c->llItemOffset);
    for (CalenderInformation *e : events())
        out << QStringLiteral("event %1|%2|%3@%4|%5|%6@%7")
                   .arg(cstr(e->pSummary), cstr(e->pLocation))
                   .arg(e->dwDescriptionLength).arg(e->dwDescriptionOffset)
                   .arg(folderKey(e->llFolderId)).arg(e->dwItemLength).arg(e->llItemOffset);
    for (TasksInformation *t : tasks())
        out << QStringLiteral("task %1|%2|%3@%4|%5|%6@%7")
                   .arg(cstr(t->pName)).arg(QChar(t->cPriority ? t->cPriority : '-'))
                   .arg(t->dwNoteLength).arg(t->dwNoteOffset)
                   .arg(folderKey(t->llFolderId)).arg(t->dwItemLength).arg(t->llItemOffset);
    for (NotesInformation *n : notes())
        out << QStringLiteral("note %1|%2@%3|%4")
                   .arg(cstr(n->pTitle)).arg(n->dwTextLength).arg(n->dwTextOffset).arg(folderKey(n->llFolderId));
    for (FileOffsetNode *a : attachmentNodes())
        out << QStringLiteral("attachment %1|%2@%3|%4|%5 %6").arg(cstr(a->pEntryName)).arg(a->llSize)
                   .arg(a->llDataOffset).arg(a->dwCrc32).arg(a->bCompressed).arg(a->bSizeCut);
    for (auto it = objMapFID_PID.cbegin(); it != objMapFID_PID.cend(); ++it)
        out << QStringLiteral("folder %1 in %2").arg(folderKey(it.key()), folderKey(it.value()));
    const QList<FileOffsetNode *> lists[] = {records(tmpCoFOStart), records(tmpCaFOStart), records(tmpTaFOStart),
                                             records(tmpNoFOStart)};
    for (const QList<FileOffsetNode *> &list : lists)
        for (FileOffsetNode *n : list)
            out << QStringLiteral("store %1|%2@%3|%4")
                       .arg(cstr(n->pEntryName))
                       .arg(n->llSize)
                       .arg(n->llDataOffset)
                       .arg(n->dwCrc32);
    for (const CategorieInfo &c : categorieCopies)
        out << QStringLiteral("categories %1@%2|%3").arg(c.size).arg(c.dataOffset).arg(c.crc);
    out << QStringLiteral("categories used %1@%2").arg(categorie.size).arg(categorie.dataOffset);
    for (const QString &line : EntriesNotRead)
        out << QStringLiteral("not read: ") + line;
    for (const QString &line : EntriesReadElsewhere)
        out << QStringLiteral("elsewhere: ") + line;
    out << QStringLiteral("counts %1 %2 %3 %4 %5 %6 %7")
               .arg(MailItemCount)
               .arg(ContactItemCount)
               .arg(CalendarItemCount)
               .arg(TaskItemCount)
               .arg(NotesItemCount)
               .arg(AttachmentNodeCount)
               .arg(CompressedEntryCount);
    return out;
}

OlmXml::MailItem message(int i, int bodyBytes)
{
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Subject %1 &amp; more").arg(i);
    m.body = QString(bodyBytes, QLatin1Char('a' + i % 26));
    m.sent = m.received = QStringLiteral("2019-03-0%1T10:00:00").arg(1 + i % 9);
    m.from = {{QStringLiteral("s%1@example.com").arg(i), QStringLiteral("Sender %1").arg(i)}};
    m.outgoing = i % 2 ? QStringLiteral("1E0") : QStringLiteral("0E0");
    m.priority = QString::number(1 + i % 5);
    if (i % 7 == 0)
        m.attachmentNames = QStringList(QStringLiteral("a%1.bin").arg(i));
    return m;
}

// Messages in several folders (runs of many small ones and a few larger than the builders'
// queue holds), every other kind of item, attachments and a category list.
TestArchiveBuilder mixedArchive()
{
    TestArchiveBuilder b;
    b.addEntry(QStringLiteral("Categories.xml"), OlmXml::categories({QStringLiteral("Red")}));
    for (int i = 0; i < 3000; ++i) {
        const int bodyBytes = i % 1000 == 999 ? 3 * 1024 * 1024 : 200 + i % 50;
        b.addEntry(QStringLiteral("Accounts/a@example.com/com.microsoft.__Messages/Folder%1/message_%2.xml")
                       .arg(i / 700).arg(i),
                   OlmXml::emails({message(i, bodyBytes)}));
        if (i % 7 == 0)
            b.addEntry(QStringLiteral("Accounts/a@example.com/com.microsoft.__Attachments/a%1.bin").arg(i),
                       QByteArray(100 + i, 'x'));
    }
    b.addEntry(QStringLiteral("Local/M/Inbox/message_many.xml"),
               OlmXml::emails({message(1, 10), message(2, 20), message(3, 30)}));
    b.addEntry(QStringLiteral("Accounts/a@example.com/Contacts.xml"),
               OlmXml::contacts({{"Ann", "Lee", "", "notes", ""}, {"Bo", "", "", "", ""}}));
    b.addEntry(QStringLiteral("Accounts/a@example.com/Calendar.xml"),
               OlmXml::appointments({{"Meet", "Room", "desc", "2019-01-01T10:00:00", "2019-01-01T11:00:00"}}));
    b.addEntry(QStringLiteral("Accounts/a@example.com/Tasks.xml"), OlmXml::tasks({{"Do", "it", "2"}}));
    b.addEntry(QStringLiteral("Accounts/a@example.com/Notes.xml"), OlmXml::notes({{"Title", "text"}}));
    return b;
}

// Many small messages, several to an entry now and then, and a message entry holding none.
TestArchiveBuilder manySmallArchive(int count)
{
    TestArchiveBuilder b;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("Local/com.microsoft.__Messages/Box%1/message_%2.xml").arg(i % 13).arg(i);
        b.addEntry(name,
                   i % 50 == 7 ? OlmXml::emails({message(i, 40), message(i + 1, 50), message(i + 2, 60)})
                               : OlmXml::emails({message(i, 900 + i % 200)}));
    }
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Box1/message_empty.xml"), "<emails></emails>");
    return b;
}

QByteArray manySmall(int count)
{
    return manySmallArchive(count).finish();
}

// Messages whose texts are of sizes about the bounds of how they are read: the largest the walk
// only looks at, and runs of texts too large to be read together at once.
TestArchiveBuilder manySizesArchive(int count)
{
    const int sizes[] = {1, 64, 4093, 16 * 1024, 31 * 1024, 32 * 1024 - 700, 32 * 1024 + 10, 29000, 30000, 200};
    TestArchiveBuilder b;
    for (int i = 0; i < count; ++i)
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Box%1/message_%2.xml").arg(i % 3).arg(i),
                   OlmXml::emails({message(i, sizes[(i / 3 + i * i) % 10] + i % 7)}));
    return b;
}

QByteArray manySizes(int count)
{
    return manySizesArchive(count).finish();
}

// Mail as most archives hold it: each message followed by its attachment, most of them larger
// than the bytes around them (the walk jumps over those), some small.
TestArchiveBuilder attachedArchive(int count)
{
    TestArchiveBuilder b;
    QByteArray bytes(80 * 1024, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 7919 + i / 251) & 0xFF);  // every byte value, "PK" pairs and NULs too
    for (int i = 0; i < count; ++i) {
        const QString folder = QStringLiteral("Accounts/a@example.com/com.microsoft.__Messages/Box%1/").arg(i % 9);
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i), OlmXml::emails({message(i, 1000 + i % 3000)}));
        const int size = i % 5 == 4 ? 3000 + i : 20 * 1024 + (i * 997) % (60 * 1024);
        b.addEntry(folder + QStringLiteral("com.microsoft.__Attachments/a%1").arg(i), bytes.left(size));
    }
    return b;
}

// A store held twice, the second copy cut inside its second item.
QByteArray storeTwice()
{
    TestArchiveBuilder b = mixedArchive();
    const QByteArray whole = OlmXml::contacts({{"Cy", "Day", "", "n", ""}, {"Di", "Eve", "", "m", ""}});
    b.addEntry(QStringLiteral("Accounts/a@example.com/Contacts.xml"), whole.left(whole.indexOf("</contact>") + 30));
    return b.finish();
}

// Bytes lost (count < 0) or added inside every step-th entry's data.
QByteArray shifted(const TestArchiveBuilder &b, const QByteArray &intact, int step, int count)
{
    QByteArray out = intact;
    for (int i = b.entries().size() - 2; i > 0; i -= step) {
        const qint64 at = b.entries()[i].dataOffset + b.entries()[i].size / 2;
        if (count < 0)
            out.remove(int(at), -count);
        else
            out.insert(int(at), QByteArray(count, 'z'));
    }
    return out;
}

}  // namespace

class ScanThreadsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { CleanScanResults(); }
    void cleanupTestCase() { CleanScanResults(); }
    void sameRecords_data();
    void sameRecords();
    void fileCutUnderTheScan_data();
    void fileCutUnderTheScan();
    void stopWithBuildersBehind_data();
    void stopWithBuildersBehind();
    void workersForTheMachine();
    void readsWhatTheWalkLooksAt_data();
    void readsWhatTheWalkLooksAt();
};

void ScanThreadsTest::sameRecords_data()
{
    QTest::addColumn<QByteArray>("archive");
    QFile sample(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(sample.open(QIODevice::ReadOnly));
    const QByteArray sampleBytes = sample.readAll();
    QTest::newRow("sample") << sampleBytes;
    QByteArray sampleZeroed = sampleBytes;
    Damage::zeroStretch(sampleZeroed, sampleBytes.size() / 3, 3000);
    QTest::newRow("sample, zeroed block") << sampleZeroed;
    QTest::newRow("sample, cut tail") << Damage::cutTail(sampleBytes, sampleBytes.size() * 3 / 4);
    const QByteArray many = manySmall(4000);
    QTest::newRow("many small") << many;
    QByteArray manyZeroed = many;
    for (int at = 100000; at < many.size(); at += 700000)
        Damage::zeroStretch(manyZeroed, at, 5000);
    QTest::newRow("many small, zeroed blocks") << manyZeroed;
    QTest::newRow("many small, cut tail") << Damage::cutTail(many, many.size() / 2 + 333);
    const QByteArray sizes = manySizes(1500);
    QTest::newRow("texts of many sizes") << sizes;
    QTest::newRow("texts of many sizes, cut tail") << Damage::cutTail(sizes, sizes.size() * 4 / 5);
    QTest::newRow("store held twice") << storeTwice();
    const QByteArray attached = attachedArchive(400).finish();
    QTest::newRow("attachments") << attached;
    QTest::newRow("attachments, cut tail") << Damage::cutTail(attached, attached.size() * 3 / 5);
    QByteArray attachedZeroed = attached;
    Damage::zeroStretch(attachedZeroed, attached.size() / 3, 50000);
    QTest::newRow("attachments, zeroed stretch") << attachedZeroed;
    const TestArchiveBuilder b = mixedArchive();
    const QByteArray intact = b.finish();
    QTest::newRow("mixed") << intact;
    QTest::newRow("mixed, no central directory") << b.finish(false);
    QTest::newRow("mixed, cut tail") << Damage::cutTail(intact, intact.size() * 2 / 3);
    QByteArray smashed = intact;
    for (int i = 5; i < b.entries().size(); i += 97)
        Damage::smashHeader(smashed, b.entries()[i].headerOffset);
    QTest::newRow("mixed, smashed headers (blocks recovered)") << smashed;
    QByteArray zeroed = intact;
    Damage::zeroStretch(zeroed, intact.size() / 2, 40000);
    QTest::newRow("mixed, zeroed stretch") << zeroed;
    QByteArray flipped = intact;
    Damage::flipBytes(flipped, 17, 0.0005);
    QTest::newRow("mixed, flipped bytes") << flipped;
    QTest::newRow("mixed, bytes lost inside entries") << shifted(b, intact, 41, -7);
    QTest::newRow("mixed, bytes added inside entries") << shifted(b, intact, 53, 11);
    QTest::newRow("mixed, entries shifted, no central directory") << shifted(b, b.finish(false), 61, 5);
}

void ScanThreadsTest::sameRecords()
{
    QFETCH(QByteArray, archive);
    scanBytes(archive, 0, 1);
    const QStringList one = describeScan();
    QVERIFY(MailItemCount > 0);
    // 3: the fewest that read messages on workers of their own.
    for (int threads : {2, 3, 8}) {
        scanBytes(archive, 0, threads);
        const QStringList more = describeScan();
        for (int i = 0; i < qMin(one.size(), more.size()); ++i)
            QVERIFY2(more[i] == one[i],
                     qPrintable(QStringLiteral("%1 threads: %2\n  one: %3").arg(threads).arg(more[i], one[i])));
        QCOMPARE(more.size(), one.size());
    }
    // Reads that come back short (the source's contract allows it) change nothing, whoever
    // reads: the walk, a worker filling a message's text, the store copies' check.
    for (int threads : {1, 8}) {
        scanBytes(archive, 4093, threads);
        QCOMPARE(describeScan(), one);
    }
}

namespace {
// An archive cut short while the scan reads it: once `after` bytes have been read, nothing past
// cutAt is there any more. Bytes the walk already saw are then gone when a worker reads them.
class CutWhileReadSource : public ArchiveSource {
public:
    CutWhileReadSource(QByteArray data, qint64 cutAt, qint64 after) : m_data(std::move(data)), m_cutAt(cutAt), m_after(after)
    {
    }
    qint64 size() const override { return m_data.size(); }
    qint64 readAt(qint64 offset, void *buffer, qint64 length) override
    {
        const qint64 end = m_read.fetch_add(length) + length > m_after ? m_cutAt : m_data.size();
        if (offset < 0 || offset >= end || length <= 0)
            return 0;
        length = qMin(length, end - offset);
        memcpy(buffer, m_data.constData() + offset, size_t(length));
        return length;
    }

private:
    QByteArray m_data;
    qint64 m_cutAt, m_after;
    std::atomic<qint64> m_read{0};
};
}  // namespace

void ScanThreadsTest::fileCutUnderTheScan_data()
{
    QTest::addColumn<double>("cut");
    QTest::addColumn<double>("after");
    QTest::addColumn<bool>("sizes");  // texts of many sizes: some too large to be read with others
    QTest::newRow("cut behind the walk") << 0.3 << 0.5 << false;
    QTest::newRow("cut at the walk") << 0.5 << 0.5 << false;
    QTest::newRow("cut ahead of the walk") << 0.7 << 0.4 << false;
    QTest::newRow("cut at the start, late") << 0.0 << 0.9 << false;
    QTest::newRow("texts of many sizes, cut at the walk") << 0.5 << 0.5 << true;
    QTest::newRow("texts of many sizes, cut ahead of the walk") << 0.7 << 0.4 << true;
}

void ScanThreadsTest::fileCutUnderTheScan()
{
    // The scan ends (no wait on texts whose bytes never came), lists no more messages than the
    // archive holds, and its threads read nothing past what they were given.
    QFETCH(double, cut);
    QFETCH(double, after);
    QFETCH(bool, sizes);
    const TestArchiveBuilder b = sizes ? manySizesArchive(1500) : manySmallArchive(3000);
    const QByteArray archive = b.finish();
    // Message i stands in entry i (with i + 1 and i + 2 in some): a text read from bytes that are
    // not its own shows up as another entry's subject.
    const auto ownEntry = [&](const MailMLRC *m) {
        const QString subject = cstr(m->pSubject);
        if (!subject.startsWith(QLatin1String("Subject ")))
            return true;
        const int n = subject.section(QLatin1Char(' '), 1, 1).toInt();
        for (int k = 0; k < b.entries().size(); ++k) {
            const TestArchiveBuilder::Entry &e = b.entries()[k];
            if (m->llDataOffset >= e.dataOffset && m->llDataOffset < e.dataOffset + qMax<qint64>(e.size, 1))
                return n >= k && n <= k + 2;
        }
        return false;
    };
    for (int threads : {1, 3, 8}) {
        CleanScanResults();
        bStopFlag = false;
        QFolderInformationThread scanner;
        scanner.SetScanThreads(threads);
        scanner.setSource(std::make_shared<CutWhileReadSource>(archive, qint64(archive.size() * cut),
                                                               qint64(archive.size() * after)));
        scanner.CreateFile();
        bProcessRunning = false;
        QVERIFY2(MailItemCount > 0 && MailItemCount <= 3000 + 60 * 2, qPrintable(QString::number(MailItemCount)));
        for (const MailMLRC *m : mails())
            QVERIFY2(ownEntry(m), qPrintable(QStringLiteral("%1 threads: %2 at %3").arg(threads).arg(cstr(m->pSubject)).arg(m->llDataOffset)));
    }
}

void ScanThreadsTest::stopWithBuildersBehind_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("2") << 2;
    QTest::newRow("8") << 8;
}

void ScanThreadsTest::stopWithBuildersBehind()
{
    // The stop comes from the builders' first status while the walk has queued more texts:
    // the queued ones are dropped, the scan ends, and the next scan starts clean.
    QFETCH(int, threads);
    const QByteArray archive = mixedArchive().finish();
    CleanScanResults();
    bStopFlag = false;
    QFolderInformationThread scanner;
    QCOMPARE(scanner.SetScanThreads(threads), threads);
    scanner.setSource(std::make_shared<MemoryArchiveSource>(archive));
    connect(
        &scanner, &QFolderInformationThread::strInfo, &scanner, [] { bStopFlag = true; }, Qt::DirectConnection);
    scanner.CreateFile();
    QCOMPARE(MailItemCount, qint64(1));
    disconnect(&scanner, &QFolderInformationThread::strInfo, &scanner, nullptr);
    scanBytes(archive, 0, threads);
    QCOMPARE(MailItemCount, qint64(3003));
}

// Never more busy threads than the machine has processors: a worker beyond them only takes the
// walk's processor. The walk, the drain and the reads ahead count as three.
void ScanThreadsTest::workersForTheMachine()
{
    const struct {
        int threads;
        unsigned processors;
        int workers;
    } rows[] = {{1, 8, 0},  {2, 8, 1},    {3, 8, 2}, {4, 8, 3}, {6, 8, 5}, {8, 8, 5}, {16, 8, 5},
                {8, 16, 7}, {16, 16, 13}, {8, 0, 7}, {8, 4, 2}, {8, 1, 2}, {3, 2, 2}, {2, 1, 1}};
    for (const auto &row : rows)
        QVERIFY2(olm::BuildQueue::workersFor(row.threads, row.processors) == row.workers,
                 qPrintable(QStringLiteral("%1 threads, %2 processors").arg(row.threads).arg(row.processors)));
}

namespace {
// Counts the bytes the scan's reads return, and those of them inside the given stretches.
struct CountingSource : MemoryArchiveSource {
    CountingSource(QByteArray data, std::vector<std::pair<qint64, qint64>> skipped)
        : MemoryArchiveSource(std::move(data)), m_skipped(std::move(skipped))
    {
    }
    qint64 readAt(qint64 offset, void *buffer, qint64 length) override
    {
        const qint64 got = MemoryArchiveSource::readAt(offset, buffer, length);
        read += qMax<qint64>(0, got);
        for (const auto &s : m_skipped) {
            const qint64 in = qMax<qint64>(0, qMin(offset + got, s.second) - qMax(offset, s.first));
            if (in > 0 && inSkipped.fetch_add(in) == 0)
                firstSkipped = offset;
        }
        return got;
    }
    std::atomic<qint64> read{0};
    std::atomic<qint64> inSkipped{0};
    std::atomic<qint64> firstSkipped{-1};
    std::vector<std::pair<qint64, qint64>> m_skipped;
};
}  // namespace

void ScanThreadsTest::readsWhatTheWalkLooksAt_data()
{
    QTest::addColumn<int>("archive");
    QTest::newRow("many small") << 0;
    QTest::newRow("attachments") << 1;
    QTest::newRow("mixed") << 2;
}

// Whatever the threads, the scan's reads return each byte about once, and none of the data of an
// attachment the walk jumps over: the reads ahead follow the walk, and the workers take the
// texts the walk read.
void ScanThreadsTest::readsWhatTheWalkLooksAt()
{
    QFETCH(int, archive);
    const TestArchiveBuilder b = archive == 0 ? manySmallArchive(4000) : archive == 1 ? attachedArchive(400) : mixedArchive();
    const QByteArray bytes = b.finish();
    std::vector<std::pair<qint64, qint64>> attachments;
    for (const TestArchiveBuilder::Entry &e : b.entries()) {
        if (e.name.contains("__Attachments") && e.size >= 16 * 1024)
            attachments.emplace_back(e.dataOffset, e.dataOffset + e.size);
    }
    QVERIFY(archive != 1 || attachments.size() > 200);
    for (int threads : {1, 2, 3, 8}) {
        CleanScanResults();
        bStopFlag = false;
        auto source = std::make_shared<CountingSource>(bytes, attachments);
        QFolderInformationThread scanner;
        scanner.SetScanThreads(threads);
        scanner.setSource(source);
        scanner.CreateFile();
        bProcessRunning = false;
        QVERIFY(MailItemCount > 0);
        const QString what = QStringLiteral("%1 threads: %2 of %3 bytes read, %4 of attachments, from %5 on")
                                 .arg(threads).arg(source->read).arg(bytes.size()).arg(source->inSkipped)
                                 .arg(source->firstSkipped);
        QVERIFY2(source->read <= bytes.size() * 105 / 100, qPrintable(what));
        QVERIFY2(source->inSkipped == 0, qPrintable(what));
    }
}

QTEST_GUILESS_MAIN(ScanThreadsTest)
#include "tst_scanthreads.moc"
