// Saves of an archive whose line ends a copy converted (LF written as CR LF, once or twice): in
// every save type each attachment comes out with the bytes the intact archive stored, counted
// whole, and the report says it was read with its line ends converted back.

#include "ArchiveFile.h"
#include "LineEndArchive.h"
#include "SaveTestUtil.h"
#include "ThreadResults.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// The attachments found in the files under root: a file of their bytes, their bytes inside a
// file (a new archive stores them as they are), or their base64 text with the line ends taken out.
int attachmentsFound(const QString &root, const QVector<QByteArray> &datas)
{
    QVector<bool> found(datas.size(), false);
    for (QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        QFile f(it.next());
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = f.readAll();
        QByteArray flat = bytes;
        flat.replace("\r", "").replace("\n", "");
        for (int i = 0; i < datas.size(); ++i)
            found[i] = found[i] || bytes.contains(datas[i]) || flat.contains(datas[i].toBase64());
    }
    return int(std::count(found.begin(), found.end(), true));
}

}  // namespace

class LineEndSaveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { ResetRunFlags(); }
    void cleanup() { FreeScanState(); }
    void attachmentsAsStored_data();
    void attachmentsAsStored();
};

void LineEndSaveTest::attachmentsAsStored_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("times");
    const QVector<QPair<SaveType, const char *>> types{{SaveTypeOLM, "new archive"},
                                                       {SaveTypeRGE, "package mailboxes"},
                                                       {SaveTypeMBOX, "Apple Mail mailboxes"},
                                                       {SaveTypeEMLX, "Apple Mail messages"},
                                                       {SaveTypeEML, "message files"},
                                                       {SaveTypeHTML, "web pages"}};
    for (const auto &t : types) {
        for (int times : {0, 1, 2})
            QTest::addRow("%s, LF written as CR LF %d times", t.second, times) << int(t.first) << times;
    }
}

void LineEndSaveTest::attachmentsAsStored()
{
    QFETCH(int, type);
    QFETCH(int, times);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    const LineEndArchive a = MakeLineEndArchive(times, true);
    std::unique_ptr<ArchiveFile> opened;
    QTemporaryDir dest;
    QVERIFY(ScanAndStartTestSave(opened, a.bytes, SaveType(type), dest.path()));
    QMailSavingThread thread;
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(EndRun(thread, &thread, 120000));
    const SaveOutcome outcome = thread.outcome();
    // Whole: no line of what was lost or saved incomplete names an attachment. The messages'
    // own texts are not converted back: they are named, as their CRC-32 fails.
    const QString lines = (outcome.failures + outcome.incompletes).join(QLatin1Char('\n'));
    QVERIFY2(!lines.contains(QLatin1String("ttachment")), qPrintable(lines));
    QCOMPARE(attachmentsFound(OutputRootFor(SaveType(type), saveDir, strTime), a.datas), a.datas.size());
    const int converted = outcome.recovered.filter(QLatin1String("read with them converted back")).size();
    QCOMPARE(converted, times == 0 ? 0 : a.datas.size() - 1);
}

QTEST_GUILESS_MAIN(LineEndSaveTest)
#include "tst_lineendsave_e2e.moc"
