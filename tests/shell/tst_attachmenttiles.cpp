// Attachment tiles and the previewer launcher: a pressed tile hands the previewer a private copy
// with exactly the archive entry's bytes; hostile names stay inert and never leave the private
// folder; entries that must not be handed out (no URL, no entry, compressed, too large) are not;
// a new mail replaces the tiles; the launcher ends only the previewer it started, by its id, and
// never makes the GUI wait.

#include "MainWindowTestPeer.h"
#include "ArchiveFile.h"
#include "OlmXml.h"
#include "ScanTestUtil.h"
#include "TestArchiveBuilder.h"
#include "WindowTestUtil.h"
#include "browse/AttachmentCopy.h"
#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/ItemListFill.h"
#include "browse/MyButton1.h"
#include "browse/QPreviewOfItems.h"
#include "browse/ThreadOLMPreview.h"
#include "platform/DesktopOpener.h"
#include "platform/PreviewerLauncher.h"
#include "save/BidiControls.h"
#include "save/MessageFields.h"
#include "shell/InformationDlg.h"
#include "shell/ShellResources.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QLabel>
#include <QMutex>
#include <QPointer>
#include <QSemaphore>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QSignalSpy>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

namespace {

const QString kAttachmentFolder = QStringLiteral("Local/com.microsoft.__Messages/Inbox/com.microsoft.__Attachments/");
// No process has this id (ids stay below 2^22 on Linux), so "is it still running" is always no.
constexpr qint64 kFakePid = 0x3FFFFFF0;

struct Launch {
    QString program;
    QStringList arguments;
};

// What the stand-ins received; the launcher calls its hook on its own thread.
struct Recorder {
    QMutex mutex;
    QVector<Launch> launches;
    QStringList messages;
    QList<QUrl> opened;
    QVector<Launch> take()
    {
        QMutexLocker lock(&mutex);
        return std::exchange(launches, {});
    }
    int count()
    {
        QMutexLocker lock(&mutex);
        return launches.size();
    }
};
Recorder g_recorder;

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

quint32 crcOfFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? TestArchiveBuilder::crc32(file.readAll()) : 0;
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & 07777) : mode_t(-1);
}

MailMLRC *mailWithSubject(const QString &subject)
{
    for (MailMLRC *m = TmpMlrcPtrStart; m; m = m->pNext) {
        if (m->pSubject && QString::fromUtf8(m->pSubject).startsWith(subject))
            return m;
    }
    return nullptr;
}

MailMessageFields fieldsOf(const MailMLRC *mail)
{
    return ParseMessageXml(ReadMessageXml(mail->llDataOffset, mail->dwDataLength));
}

const FileOffsetNode *entryNamed(const QString &url)
{
    for (const FileOffsetNode *n = tmpAtFOStart; n; n = n->pNext) {
        if (n->pEntryName && QString::fromUtf8(n->pEntryName) == url)
            return n;
    }
    return nullptr;
}

// The tile of the index-th attachment: tiles are laid out in the attachments' order, two or one
// to a row as the pane's width allows.
MyButton1 *tileAt(const QZovuvozivMainWindow &w, int index)
{
    QLayoutItem *item = w.panes().attachmentGrid->itemAt(index);
    return item ? qobject_cast<MyButton1 *>(item->widget()) : nullptr;
}

QByteArray patterned(qint64 size)
{
    QByteArray data(int(size), Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 131 + i / 977) & 0xff);
    return data;
}

} // namespace

class AttachmentTilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void sampleAttachmentCopy_data();
    void sampleAttachmentCopy();
    void doubleClickOpensOnce_data();
    void doubleClickOpensOnce();
    void pressedEntries_data();
    void pressedEntries();
    void newMailReplacesTiles();
    void staleTileOpensNothing();
    void manyTilesAreMadeAsScrolled();
    void sizeText_data();
    void sizeText();
    void copiedBytes_data();
    void copiedBytes();
    void previewerEndedByItsIdOnly();
    void launchNeverWaitsForAnEarlierOne();
    void withoutPreviewerTheDesktopOpens();
    void launchFailuresAreReported_data();
    void launchFailuresAreReported();

private:
    void open(QZovuvozivMainWindow &w, const QString &path);
    QString copyFolder() const { return m_folder; }
    QTemporaryDir m_cache;
    QTemporaryDir m_work;
    QString m_previewer;
    QString m_folder;
};

void AttachmentTilesTest::initTestCase()
{
    QVERIFY(m_cache.isValid() && m_work.isValid());
    // The private folder lives under the cache location: keep it inside the test's own folder.
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
    m_folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/affp");
    QVERIFY(m_folder.startsWith(m_cache.path() + QLatin1Char('/')));
    InitShellResources();
    m_previewer = m_work.filePath(QStringLiteral("FileUtil.app"));
    writeFile(m_previewer, "#!/bin/sh\nexit 0\n");
    QVERIFY(QFile::setPermissions(m_previewer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void AttachmentTilesTest::init()
{
    ShellHooks::messageBox = [](const QString &text, const QString &) { g_recorder.messages << text; };
    PreviewerHooks::programPath = [this] { return m_previewer; };
    PreviewerHooks::startProgram = [](const QString &program, const QStringList &arguments) {
        QMutexLocker lock(&g_recorder.mutex);
        g_recorder.launches.append({program, arguments});
        return kFakePid;
    };
    DesktopOpener::hook = [](const QUrl &url) {
        g_recorder.opened << url;
        return true;
    };
    DesktopOpener::program.clear();
    g_recorder.take();
    g_recorder.messages.clear();
    g_recorder.opened.clear();
    QDir(copyFolder()).removeRecursively();
}

void AttachmentTilesTest::open(QZovuvozivMainWindow &w, const QString &path)
{
    startScanInWindow(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 60000);
    peer(w).m_pInformationDlg->close();
}

void AttachmentTilesTest::sampleAttachmentCopy_data()
{
    // Names, sizes and CRC-32 values as the archive's own directory lists them.
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<quint32>("crc");
    const QString ja = QStringLiteral("パーティーは何時ですか");
    const QString en = QStringLiteral("What time is party?");
    const QString he = QStringLiteral("באיזה שעה המסיבה?");
    QTest::newRow("first of three, docx") << ja << 0 << "017091.docx" << qint64(37440) << quint32(0x3d5fa0aa);
    QTest::newRow("second of three, docx") << ja << 1 << "037025.docx" << qint64(95167) << quint32(0xcac5184a);
    QTest::newRow("third, on the second row") << ja << 2 << "000038.xls" << qint64(71680) << quint32(0x7df0767a);
    QTest::newRow("xls") << en << 0 << "000046.xls" << qint64(74240) << quint32(0x471b0638);
    QTest::newRow("pptx") << en << 1 << "018375.pptx" << qint64(111596) << quint32(0x09541497);
    QTest::newRow("doc") << en << 2 << "000006.doc" << qint64(67584) << quint32(0x95cb9af3);
    QTest::newRow("doc of a right-to-left mail") << he << 0 << "000100.doc" << qint64(58368) << quint32(0x35c63f85);
    QTest::newRow("pdf") << he << 1 << "005227.pdf" << qint64(147455) << quint32(0xe10c4899);
    QTest::newRow("second pdf") << he << 2 << "008708.pdf" << qint64(148328) << quint32(0x6edbc675);
}

void AttachmentTilesTest::sampleAttachmentCopy()
{
    QFETCH(QString, subject);
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QFETCH(quint32, crc);
    QZovuvozivMainWindow w;
    open(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    MailMLRC *mail = mailWithSubject(subject);
    QVERIFY(mail);
    const MailMessageFields fields = fieldsOf(mail);
    QCOMPARE(fields.attachments.size(), 3);
    ShowAttachmentTiles(fields);

    QCOMPARE(w.panes().attachmentGrid->count(), 3);
    MyButton1 *tile = tileAt(w, index);
    QVERIFY(tile);
    QCOMPARE(tile->m_pNameLabel->text(), name);
    QCOMPARE(tile->m_pSizeLabel->text(), QPreviewOfItems::GetSize(fields.attachments.at(index).size));

    QTest::mouseClick(tile, Qt::LeftButton);
    QTRY_COMPARE(g_recorder.count(), 1);
    const Launch launch = g_recorder.take().constFirst();
    QCOMPARE(launch.program, m_previewer);
    QCOMPARE(launch.arguments, QStringList{copyFolder() + QLatin1Char('/') + name});
    const QString copy = launch.arguments.constFirst();
    QCOMPARE(QFileInfo(copy).size(), size);
    QCOMPARE(crcOfFile(copy), crc);
    const FileOffsetNode *entry = entryNamed(fields.attachments.at(index).url);
    QVERIFY(entry);
    QCOMPARE(entry->dwCrc32, crc);
    // Nobody but the user can read the copy or list the folder.
    QCOMPARE(modeOf(copy), mode_t(0600));
    QCOMPARE(modeOf(copyFolder()), mode_t(0700));
    QVERIFY(g_recorder.messages.isEmpty());
}

void AttachmentTilesTest::doubleClickOpensOnce_data()
{
    QTest::addColumn<bool>("starts");  // whether the previewer starts
    QTest::newRow("one copy to the previewer") << true;
    QTest::newRow("nothing opens it: one message") << false;
}

void AttachmentTilesTest::doubleClickOpensOnce()
{
    QFETCH(bool, starts);
    if (!starts)
        PreviewerHooks::startProgram = [](const QString &, const QStringList &) { return qint64(0); };
    QZovuvozivMainWindow w;
    open(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    ShowAttachmentTiles(fieldsOf(mailWithSubject(QStringLiteral("What time is party?"))));
    MyButton1 *tile = tileAt(w, 0);
    QVERIFY(tile);
    // A double-click as the desktop delivers it: press, release, double-click, release, with
    // time for the first open to be handled in between.
    QTest::mousePress(tile, Qt::LeftButton);
    QTest::mouseRelease(tile, Qt::LeftButton);
    QTest::qWait(150);
    QTest::mouseDClick(tile, Qt::LeftButton);
    QTest::mouseRelease(tile, Qt::LeftButton);
    QTest::qWait(150);
    QCOMPARE(g_recorder.count(), starts ? 1 : 0);
    QCOMPARE(g_recorder.messages.size(), starts ? 0 : 1);
    QVERIFY(!tile->isDown());
}

void AttachmentTilesTest::pressedEntries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("url");
    // How the archive's entries are made: "stored", "compressed", "none", "unnamed".
    QTest::addColumn<QString>("entry");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("copyName"); // empty: nothing may be copied or launched
    QTest::addColumn<bool>("tooLarge");
    const QString url = kAttachmentFolder + QStringLiteral("A1@example.org_0000");
    const QString markup = QStringLiteral("<b>Bold</b><img src=\"file:///etc/passwd\">.txt");
    QTest::newRow("markup in the name stays text")
        << markup << url << "stored" << qint64(700) << "bBoldbimg srcfileetcpasswd.txt" << false;
    QTest::newRow("name climbing out of the folder")
        << "../../../../tmp/escape.txt" << url << "stored" << qint64(10) << "........tmpescape.txt" << false;
    QTest::newRow("name of two dots") << ".." << url << "stored" << qint64(10) << "attachment" << false;
    // Names of other scripts keep their own copies, never the hidden ".txt" of another.
    QTest::newRow("Cyrillic name") << QString::fromUtf8("файл.txt") << url << "stored" << qint64(10)
                                   << "attachment-" + QString::fromLatin1(QCryptographicHash::hash(QByteArray("файл.txt"), QCryptographicHash::Sha1).toHex().left(8)) + ".txt" << false;
    QTest::newRow("Chinese name") << QString::fromUtf8("文件.txt") << url << "stored" << qint64(10)
                                  << "attachment-" + QString::fromLatin1(QCryptographicHash::hash(QByteArray("文件.txt"), QCryptographicHash::Sha1).toHex().left(8)) + ".txt" << false;
    QTest::newRow("brackets and dash") << "Report (final)-2.pdf" << url << "stored" << qint64(5) << "Report final2.pdf"
                                       << false;
    QTest::newRow("accented letters") << QStringLiteral("Résumé.doc") << url << "stored" << qint64(5) << "Rsum.doc"
                                      << false;
    QTest::newRow("too long a name keeps its extension") << QString(300, 'x') + ".pdf" << url << "stored" << qint64(5)
                                                         << QString(251, 'x') + ".pdf" << false;
    QTest::newRow("control characters in the name") << "a\tb\r\nc.txt" << url << "stored" << qint64(3) << "abc.txt"
                                                    << false;
    QTest::newRow("bidirectional controls are not shown")
        << QStringLiteral("invoice\u202Efdp.exe") << url << "stored" << qint64(3) << "invoicefdp.exe" << false;
    QTest::newRow("empty URL beside an unnamed entry") << "lost.txt" << "" << "unnamed" << qint64(20) << "" << false;
    QTest::newRow("URL without an entry") << "gone.txt" << url << "none" << qint64(20) << "" << false;
    QTest::newRow("compressed entry") << "packed.txt" << url << "compressed" << qint64(200) << "" << false;
    QTest::newRow("exactly 10 MiB is copied") << "ten.bin" << url << "stored" << kMaxPreviewCopySize << "ten.bin"
                                              << false;
    QTest::newRow("one byte more is refused") << "big.bin" << url << "stored" << kMaxPreviewCopySize + 1 << ""
                                              << true;
}

void AttachmentTilesTest::pressedEntries()
{
    QFETCH(QString, name);
    QFETCH(QString, url);
    QFETCH(QString, entry);
    QFETCH(qint64, size);
    QFETCH(QString, copyName);
    QFETCH(bool, tooLarge);
    const QByteArray data = patterned(size);
    TestArchiveEntryOptions deflated;
    deflated.method = 8;
    TestArchiveBuilder b;
    OlmXml::MailItem m;
    m.subject = QStringLiteral("With attachment");
    // Controls by reference: a literal one in an attribute reads as a blank.
    m.attachmentNames = QStringList{OlmXml::escape(name)
                                        .replace(QLatin1Char('\t'), QLatin1String("&#9;"))
                                        .replace(QLatin1Char('\r'), QLatin1String("&#13;"))
                                        .replace(QLatin1Char('\n'), QLatin1String("&#10;"))};
    m.attachmentUrls = QStringList{OlmXml::escape(url)};
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_00000.xml"), OlmXml::emails({m}));
    if (entry == QLatin1String("stored"))
        b.addEntry(url, data);
    else if (entry == QLatin1String("compressed"))
        b.addEntry(url, data, deflated);
    else if (entry == QLatin1String("unnamed"))
        b.addRawName(QByteArray(), data);
    const QString path = m_work.filePath(QStringLiteral("pressed.olm"));
    writeFile(path, b.finish());
    QZovuvozivMainWindow w;
    open(w, path);
    MailMLRC *mail = mailWithSubject(QStringLiteral("With attachment"));
    QVERIFY(mail);
    if (entry == QLatin1String("unnamed")) {
        // The entry an empty URL must not reach is there.
        bool unnamed = false;
        for (const FileOffsetNode *n = tmpAtFOStart; n; n = n->pNext)
            unnamed = unnamed || !n->pEntryName || !*n->pEntryName;
        QVERIFY(unnamed);
    }
    const MailMessageFields fields = fieldsOf(mail);
    QCOMPARE(fields.attachments.size(), 1);
    ShowAttachmentTiles(fields);
    MyButton1 *tile = tileAt(w, 0);
    QVERIFY(tile);
    // The name is shown as written, never as markup nor reordered by controls, cut to the room
    // beside the icon. (Without its URL attribute the message lists no name either.)
    const QString listed = fields.attachments.at(0).name;
    if (!url.isEmpty())
        QCOMPARE(listed, name);
    QCOMPARE(tile->m_pNameLabel->textFormat(), Qt::PlainText);
    const QString shown = QFontMetrics(tile->m_pNameLabel->font()).elidedText(WithoutBidiControls(listed), Qt::ElideRight, 140);
    QCOMPARE(tile->m_pNameLabel->text(), shown);
    QVERIFY(!tile->toolTip().contains(QLatin1String("<img")));

    QTest::mouseClick(tile, Qt::LeftButton);
    if (copyName.isEmpty()) {
        QTest::qWait(100);
        QCOMPARE(g_recorder.count(), 0);
        QVERIFY(QDir(copyFolder()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden).isEmpty());
        // An attachment that cannot be shown is named to the user.
        const QStringList expected =
            tooLarge ? QStringList{"\nFile size is greater than 10Mb.\n Preview is not available."}
                     : QStringList{QStringLiteral("\nThis attachment could not be opened:\n")
                                   + (listed.isEmpty() ? QStringLiteral("attachment") : listed)};
        QCOMPARE(g_recorder.messages, expected);
        return;
    }
    QTRY_COMPARE(g_recorder.count(), 1);
    const QString copy = g_recorder.take().constFirst().arguments.value(0);
    QCOMPARE(copy, copyFolder() + QLatin1Char('/') + copyName);
    QFile copied(copy);
    QVERIFY(copied.open(QIODevice::ReadOnly));
    QVERIFY(copied.readAll() == data);
    QVERIFY(g_recorder.messages.isEmpty());
}

void AttachmentTilesTest::newMailReplacesTiles()
{
    QZovuvozivMainWindow w;
    open(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    MailMLRC *first = mailWithSubject(QStringLiteral("What time is party?"));
    MailMLRC *second = mailWithSubject(QStringLiteral("パーティーは何時ですか"));
    QVERIFY(first && second);
    ShowAttachmentTiles(fieldsOf(first));
    QList<QPointer<MyButton1>> old;
    for (MyButton1 *tile : w.findChildren<MyButton1 *>())
        old << tile;
    QCOMPARE(old.size(), 3);

    ShowAttachmentTiles(fieldsOf(second));
    QCOMPARE(w.panes().attachmentGrid->count(), 3);
    QCOMPARE(tileAt(w, 0)->property("attachmentname").toString(), QStringLiteral("017091.docx"));
    for (const QPointer<MyButton1> &tile : old) {
        QVERIFY(tile && tile->isHidden());
        QVERIFY(w.panes().attachmentGrid->indexOf(tile) < 0);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const QPointer<MyButton1> &tile : old)
        QVERIFY(!tile);

    // A mail without attachments leaves the strip empty.
    ShowAttachmentTiles(MailMessageFields());
    QCOMPARE(w.panes().attachmentGrid->count(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(w.findChildren<MyButton1 *>().size(), 0);
}

// A mail of a thousand attachments shows a first batch of tiles; scrolling the header to the end
// of those made brings the next, in the attachments' order, until every one has its tile.
void AttachmentTilesTest::manyTilesAreMadeAsScrolled()
{
    QZovuvozivMainWindow w;
    w.resize(1050, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    MailMessageFields fields;
    const int count = 1000;
    for (int i = 0; i < count; ++i) {
        AttachmentInfo a;
        a.name = QStringLiteral("file %1.txt").arg(i);
        a.url = kAttachmentFolder + QString::number(i);
        fields.attachments.append(a);
    }
    ShowAttachmentTiles(fields);
    QGridLayout *grid = w.panes().attachmentGrid;
    const int first = grid->count();
    QVERIFY2(first > 0 && first <= 100, qPrintable(QString::number(first)));
    QScrollBar *bar = w.panes().mailHeaderScroll->verticalScrollBar();
    int end = 0;
    for (int round = 0; round < count && grid->count() < count; ++round) {
        const int made = grid->count();
        // The area grows with the tiles once its layout has run.
        QTRY_VERIFY(bar->maximum() > end);
        end = bar->maximum();
        bar->setValue(end);
        QTRY_VERIFY2(grid->count() > made, qPrintable(QString::number(made)));
    }
    QCOMPARE(grid->count(), count);
    for (int i : {0, first, count - 1})
        QCOMPARE(tileAt(w, i)->property("attachmentname").toString(), QStringLiteral("file %1.txt").arg(i));
}

void AttachmentTilesTest::staleTileOpensNothing()
{
    QZovuvozivMainWindow w;
    open(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    ShowAttachmentTiles(fieldsOf(mailWithSubject(QStringLiteral("What time is party?"))));
    QPointer<MyButton1> tile = tileAt(w, 1);
    QVERIFY(tile);
    // Another folder is listed: the tile's records may be gone by the time a press is handled.
    QTreeWidgetItem *notes = nullptr;
    for (QTreeWidgetItemIterator it(w.panes().folderTree); *it; ++it) {
        if ((*it)->text(0) == QLatin1String("Notes"))
            notes = *it;
    }
    QVERIFY(notes);
    w.parseDatabase()->ShowindivisualMailItemsInfo(notes, 0);
    QVERIFY(tile);
    QTest::mouseClick(tile, Qt::LeftButton);
    QTest::qWait(100);
    QCOMPARE(g_recorder.count(), 0);
    QVERIFY(!tile);
}

void AttachmentTilesTest::sizeText_data()
{
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("whole KB") << "2048" << "2 KB";
    QTest::newRow("one decimal, one blank") << "1536" << "1.5 KB";
    QTest::newRow("two decimals") << "1280" << "1.25 KB";
    QTest::newRow("below one KB in bytes") << "500" << "500 bytes";
    QTest::newRow("a few bytes") << "10" << "10 bytes";
    QTest::newRow("one byte") << "1" << "1 byte";
    QTest::newRow("largest KB, cut not rounded") << "1048575" << "1023.99 KB";
    QTest::newRow("MB") << "5000000" << "4.76 MB";
    QTest::newRow("twelve MB") << "12582912" << "12 MB";
    QTest::newRow("largest MB rounds to 1024") << "1073741823" << "1024 MB";
    QTest::newRow("GB") << "1073741824" << "1 GB";
    QTest::newRow("empty") << "" << "0 bytes";
    QTest::newRow("decimal comma") << "2,5" << "2 bytes";
    QTest::newRow("exponent form of the exporter") << "5.0614E4" << "49.42 KB";
    QTest::newRow("negative is no size") << "-4096" << "0 bytes";
    QTest::newRow("not a number") << "many" << "0 bytes";
}

void AttachmentTilesTest::sizeText()
{
    QFETCH(QString, bytes);
    QFETCH(QString, text);
    QCOMPARE(QPreviewOfItems::GetSize(bytes), text);
}

void AttachmentTilesTest::copiedBytes_data()
{
    // An archive of 3 MiB + 100 bytes; the entry's claimed place and size, and what the copy holds.
    QTest::addColumn<qint64>("offset");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("copiedFrom");
    QTest::addColumn<qint64>("copiedLength");
    const qint64 archive = 3 * (qint64(1) << 20) + 100;
    QTest::newRow("zero bytes give an empty file") << qint64(40) << qint64(0) << qint64(40) << qint64(0);
    QTest::newRow("over several chunks") << qint64(7) << archive - 50 << qint64(7) << archive - 50;
    QTest::newRow("size past the archive's end is cut there") << archive - 10 << qint64(100) << archive - 10
                                                              << qint64(10);
    QTest::newRow("damaged size of a terabyte") << qint64(100) << (qint64(1) << 40) << qint64(100) << archive - 100;
    QTest::newRow("offset past the end gives an empty file") << archive + 5 << qint64(10) << qint64(0) << qint64(0);
}

void AttachmentTilesTest::copiedBytes()
{
    QFETCH(qint64, offset);
    QFETCH(qint64, size);
    QFETCH(qint64, copiedFrom);
    QFETCH(qint64, copiedLength);
    const QByteArray bytes = patterned(3 * (qint64(1) << 20) + 100);
    ArchiveFile archive(bytes);
    QVERIFY(archive.isOpen());
    FileOffsetNode node{};
    node.llDataOffset = offset;
    node.llSize = size;
    const QString copy = m_work.filePath(QStringLiteral("copied.bin"));
    // A file already at the path is replaced, never written into.
    writeFile(copy, QByteArray(int(bytes.size()) + 10, 'x'));
    QVERIFY(CopyEntryToFile(node, copy));
    QFile copied(copy);
    QVERIFY(copied.open(QIODevice::ReadOnly));
    QVERIFY(copied.readAll() == bytes.mid(int(copiedFrom), int(copiedLength)));
    QCOMPARE(modeOf(copy), mode_t(0600));
}

void AttachmentTilesTest::previewerEndedByItsIdOnly()
{
    if (!QFileInfo(QStringLiteral("/bin/sh")).isExecutable())
        QSKIP("needs /bin/sh for the stand-in previewer");
    PreviewerHooks::startProgram = nullptr;
    const QString log = m_work.filePath(QStringLiteral("previewer.log"));
    const QString script = m_work.filePath(QStringLiteral("previewer"));
    writeFile(script, "#!/bin/sh\nlog='" + QFile::encodeName(log) + "'\n"
                      "trap 'echo \"ended $$\" >> \"$log\"; kill $child 2>/dev/null; exit 0' TERM\n"
                      "echo \"started $$ $#:$1\" >> \"$log\"\n"
                      "sleep 30 & child=$!\nwait $child\n");
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const QString first = m_work.filePath(QStringLiteral("first.txt"));
    const QString second = m_work.filePath(QStringLiteral("second copy with blanks.txt"));
    writeFile(first, "1");
    writeFile(second, "2");
    auto lines = [&] {
        QFile file(log);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)
                                              : QStringList();
    };
    ThreadOLMPreview launcher;
    // A folder is not a file: nothing starts.
    launcher.SetInitialSettings(script, m_work.path());
    launcher.start();
    QVERIFY(launcher.wait(5000));
    QVERIFY(lines().isEmpty());

    launcher.SetInitialSettings(script, first);
    launcher.start();
    QTRY_COMPARE(lines().size(), 1);
    const QString firstPid = lines().at(0).section(' ', 1, 1);
    QCOMPARE(lines().at(0), QStringLiteral("started %1 1:%2").arg(firstPid, first));
    // The next file ends that previewer, by its id, and starts one with a file name of blanks
    // as one argument.
    launcher.SetInitialSettings(script, second);
    launcher.start();
    QTRY_COMPARE(lines().size(), 3);
    // The ended previewer writes its line when the signal reaches it, which may be after the
    // next one has started.
    QStringList later = lines().mid(1);
    QVERIFY2(later.removeAll(QStringLiteral("ended ") + firstPid) == 1, qPrintable(lines().join('|')));
    const QString secondPid = later.at(0).section(' ', 1, 1);
    QCOMPARE(later.at(0), QStringLiteral("started %1 1:%2").arg(secondPid, second));
    QVERIFY(launcher.wait(5000));
    ::kill(pid_t(secondPid.toLongLong()), SIGTERM);
    QTRY_COMPARE(lines().size(), 4);
}

void AttachmentTilesTest::launchNeverWaitsForAnEarlierOne()
{
    QSemaphore entered;
    QSemaphore release;
    QStringList files;
    PreviewerHooks::startProgram = [&](const QString &, const QStringList &args) {
        files << args.value(0);
        entered.release();
        release.tryAcquire(1, 10000);
        return kFakePid;
    };
    const QString first = m_work.filePath(QStringLiteral("one.txt"));
    const QString second = m_work.filePath(QStringLiteral("two.txt"));
    writeFile(first, "1");
    writeFile(second, "2");
    {
        ThreadOLMPreview launcher;
        launcher.SetInitialSettings(m_previewer, first);
        launcher.start();
        QVERIFY(entered.tryAcquire(1, 5000));
        // The first launch is still under way: the next request is taken at once, not waited for.
        QElapsedTimer clock;
        clock.start();
        launcher.SetInitialSettings(m_previewer, second);
        launcher.start();
        QVERIFY(clock.elapsed() < 1000);
        release.release();
        QVERIFY(entered.tryAcquire(1, 5000));
        release.release();
        QVERIFY(launcher.wait(5000));
    }
    QCOMPARE(files, (QStringList{first, second}));
}

void AttachmentTilesTest::withoutPreviewerTheDesktopOpens()
{
    const QString file = m_work.filePath(QStringLiteral("plain file.txt"));
    writeFile(file, "text");
    ThreadOLMPreview launcher;
    launcher.SetInitialSettings(QString(), file);
    launcher.start();
    QTRY_COMPARE(g_recorder.opened.size(), 1);
    QCOMPARE(g_recorder.opened.constFirst(), QUrl::fromLocalFile(file));
    QCOMPARE(g_recorder.count(), 0);
}

void AttachmentTilesTest::launchFailuresAreReported_data()
{
    QTest::addColumn<QString>("how");   // what goes wrong
    QTest::newRow("copy gone") << "gone";
    QTest::newRow("previewer does not start") << "no start";
    QTest::newRow("desktop refuses") << "desktop";
    // Real programs started: the desktop's opener finds no viewer (xdg-open's status 3), the
    // previewer cannot show the file.
    QTest::newRow("desktop has no viewer") << "desktop ends 3";
    QTest::newRow("previewer ends with an error") << "previewer ends 1";
}

void AttachmentTilesTest::launchFailuresAreReported()
{
    QFETCH(QString, how);
    const QString file = m_work.filePath(QStringLiteral("shown.txt"));
    writeFile(file, "text");
    if (how == QLatin1String("gone"))
        QFile::remove(file);
    PreviewerHooks::startProgram = [](const QString &, const QStringList &) { return qint64(0); };
    DesktopOpener::hook = [](const QUrl &) { return false; };
    QString previewer = m_previewer;
    if (how.contains(QLatin1String(" ends "))) {
        previewer = m_work.filePath(QStringLiteral("ends-with-error"));
        writeFile(previewer, "#!/bin/sh\nexit " + how.section(QLatin1Char(' '), -1).toLatin1() + "\n");
        QVERIFY(QFile::setPermissions(previewer, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        PreviewerHooks::startProgram = nullptr;
        DesktopOpener::hook = nullptr;
        DesktopOpener::program = previewer;
    }
    ThreadOLMPreview launcher;
    QSignalSpy failed(&launcher, &ThreadOLMPreview::openFailed);
    launcher.SetInitialSettings(how.startsWith(QLatin1String("desktop")) ? QString() : previewer, file);
    launcher.start();
    QTRY_COMPARE(failed.count(), 1);
    QCOMPARE(failed.constFirst().constFirst().toString(), file);
}

QTEST_MAIN(AttachmentTilesTest)
#include "tst_attachmenttiles.moc"
