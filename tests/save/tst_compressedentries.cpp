// An archive a common zip tool packed again, every entry deflated: the scan counts the entries it
// cannot read, every save type names each of them and never takes them for saved, and the new
// archive keeps every one of them whole.

#include "ArchiveFile.h"
#include "SaveTestUtil.h"
#include "ScanTestUtil.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// Packs the sample again with every entry deflated, as a zip tool would.
const char kRepack[] = R"PY(
import sys, zipfile
src = zipfile.ZipFile(sys.argv[1])
with zipfile.ZipFile(sys.argv[2], 'w', zipfile.ZIP_DEFLATED) as out:
    for info in src.infolist():
        out.writestr(info.filename, src.read(info), compress_type=zipfile.ZIP_DEFLATED)
)PY";

// The file entries of an archive, and whether each inflates to its checksum.
const char kList[] = R"PY(
import sys, json, zipfile
z = zipfile.ZipFile(sys.argv[1])
print(json.dumps({'files': [i.filename for i in z.infolist() if not i.is_dir()], 'bad': z.testzip()}))
)PY";

QJsonObject RunPython(const char *script, const QStringList &args)
{
    QProcess py;
    py.start(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), QString::fromLatin1(script)} + args);
    if (!py.waitForFinished(60000) || py.exitCode() != 0)
        return QJsonObject();
    return QJsonDocument::fromJson(py.readAllStandardOutput()).object();
}

QStringList Names(const QJsonValue &list)
{
    QStringList names;
    for (const QJsonValue &v : list.toArray())
        names << v.toString();
    return names;
}

}  // namespace

class CompressedEntriesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void scanCounts();
    void everySaveType_data();
    void everySaveType();

private:
    QTemporaryDir m_dir;
    QByteArray m_repacked;
    QStringList m_files;  // the file entries of the sample, in order
    std::unique_ptr<ArchiveFile> m_archive;
};

void CompressedEntriesTest::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("python3 is needed to pack the sample again");
    const QString path = m_dir.filePath(QStringLiteral("repacked.olm"));
    RunPython(kRepack, {QStringLiteral(OLM_SAMPLE_ARCHIVE), path});
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    m_repacked = f.readAll();
    m_files = Names(RunPython(kList, {QStringLiteral(OLM_SAMPLE_ARCHIVE)}).value(QStringLiteral("files")));
    QCOMPARE(m_files.size(), 22);
}

void CompressedEntriesTest::init()
{
    ResetRunFlags();
}

void CompressedEntriesTest::cleanup()
{
    m_archive.reset();
    FreeScanState();
}

void CompressedEntriesTest::scanCounts()
{
    scanBytes(m_repacked);
    // Nothing is read, every file entry is counted (its deflated folder entries are none), and
    // each keeps what a save needs to name and copy it.
    QCOMPARE(MailItemCount + ContactItemCount + CalendarItemCount + TaskItemCount + NotesItemCount, qint64(0));
    QCOMPARE(CompressedEntryCount, qint64(m_files.size()));
    QStringList names;
    for (const FileOffsetNode *node : attachmentNodes()) {
        QVERIFY(node->bCompressed && !node->bSizeCut);
        QCOMPARE(node->wMethod, quint16(8));
        QVERIFY(node->llStoredSize > 0 && node->llDataOffset + node->llStoredSize <= m_repacked.size());
        names << QString::fromUtf8(node->pEntryName);
    }
    QCOMPARE(names, m_files);
    CleanScanResults();
    QCOMPARE(CompressedEntryCount, qint64(0));
}

void CompressedEntriesTest::everySaveType_data()
{
    QTest::addColumn<int>("index");
    for (int index = 0; index < 6; ++index) {
        if (SaveTypeForIndex(index) != SaveTypeInvalid)
            QTest::newRow(qPrintable(QStringLiteral("Save As %1").arg(index))) << index;
    }
}

void CompressedEntriesTest::everySaveType()
{
    QFETCH(int, index);
    const SaveType type = SaveTypeForIndex(index);
    QTemporaryDir dest;
    m_archive.reset(new ArchiveFile(m_repacked));
    scanBytes(m_repacked);
    QString error;
    QVERIFY2(StartTestSave(type, dest.path(), &error), qPrintable(error));
    QMailSavingThread thread;
    QVERIFY(thread.SetInitialSettings(QString(), index));
    QVERIFY(thread.wait(120000));
    const SaveOutcome outcome = thread.outcome();
    // Never a silent success: every entry counted and named once, with why.
    QCOMPARE(outcome.unreadEntries, qint64(m_files.size()));
    QCOMPARE(outcome.unread.size(), m_files.size());
    for (const QString &name : qAsConst(m_files)) {
        const QStringList lines = outcome.unread.filter(QStringLiteral("\"%1\"").arg(name));
        QVERIFY2(lines.size() == 1 && lines.first().contains(QLatin1String("compressed")), qPrintable(name));
    }
    QCOMPARE(outcome.written, qint64(0));
    if (type != SaveTypeOLM)
        return;
    // The new archive holds every file entry of the source, each still inflating to its checksum.
    const QJsonObject list = RunPython(kList, {WriterOutputFor(type, saveDir, strTime)});
    QVERIFY(!list.isEmpty());
    QVERIFY(list.value(QStringLiteral("bad")).isNull());
    const QStringList copied = Names(list.value(QStringLiteral("files")));
    for (const QString &name : qAsConst(m_files))
        QVERIFY2(copied.count(name) == 1, qPrintable(name + QStringLiteral(" in ") + copied.join(QLatin1Char(' '))));
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.join(QLatin1Char('\n'))));
    // Other readers inflate every entry too.
    const QString output = WriterOutputFor(type, saveDir, strTime);
    for (const QStringList &tool : {QStringList{QStringLiteral("unzip"), QStringLiteral("-tqq"), output},
                                    QStringList{QStringLiteral("7z"), QStringLiteral("t"), output},
                                    QStringList{QStringLiteral("bsdtar"), QStringLiteral("-xOf"), output}}) {
        if (QStandardPaths::findExecutable(tool.first()).isEmpty())
            continue;
        QProcess p;
        p.start(tool.first(), tool.mid(1));
        QVERIFY(p.waitForFinished(60000));
        QVERIFY2(p.exitCode() == 0, qPrintable(tool.first() + QLatin1Char(' ') + p.readAllStandardError()));
    }
}

QTEST_GUILESS_MAIN(CompressedEntriesTest)
#include "tst_compressedentries.moc"
