// Output folder names: every archive folder gets one of its own in every save type (names made
// safe, cut, in another Unicode form, nested deeper than a path may be), and each renamed one
// is named in a line. A mailbox that cannot take its name back counts none of its messages.

#include "ArchiveFile.h"
#include "OlmXml.h"
#include "SaveTestUtil.h"
#include "TestArchiveBuilder.h"
#include "save/BidiControls.h"
#include "save/FolderNames.h"
#include "save/OutputLayout.h"
#include "save/QMailSavingThread.h"

#include <QDirIterator>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <unistd.h>

namespace {

const QString kMessages = QStringLiteral("Local/com.microsoft.__Messages/");

// Sibling folders that one careless rule would merge, and names that lose their folder.
QStringList ClashingFolders()
{
    const QString shared(250, QLatin1Char('s'));
    return {QStringLiteral("Box/."),
            QStringLiteral("Box/_"),
            QStringLiteral("Box/.."),
            QStringLiteral("Box/__"),
            QStringLiteral("Box/"),
            QStringLiteral("Box/c\x01"),
            QStringLiteral("Box/c_"),
            QStringLiteral("Box/") + shared + QLatin1Char('1'),
            QStringLiteral("Box/") + shared + QLatin1Char('2'),
            QStringLiteral("Box/caf\u00e9"),
            QStringLiteral("Box/cafe\u0301"),
            QStringLiteral("Box/a\\b"),
            QStringLiteral("Box/a_b"),
            QStringLiteral("Box/d\u0085\u009b"),
            QStringLiteral("Box/d__"),
            QStringLiteral("Box/invoice\u202Efdp.exe"),
            QStringLiteral("Box/invoicefdp.exe"),
            QStringLiteral("Box/\u2067\u200F"),
            QStringLiteral("Box/In") + QChar(0) + QStringLiteral("box")};
}

// Folders named as the writers name their own files beside them (a folder's mailbox, message
// files, a page's attachments) or as the item lists are named.
QStringList WriterNamedFolders()
{
    return {QStringLiteral("W"),          QStringLiteral("W/1.eml"),      QStringLiteral("W/1.emlx"),
            QStringLiteral("W/1.htm"),    QStringLiteral("W/1_attachments"), QStringLiteral("W/W.mbox"),
            QStringLiteral("Contacts.xml"), QStringLiteral("Calendar.xml"),  QStringLiteral("W/Tasks.xml"),
            QStringLiteral("W/Notes.xml"),  QStringLiteral("Categories.xml")};
}

// Folders whose names differ only in bytes that are no UTF-8 character.
QByteArrayList InvalidByteFolders()
{
    return {"V/a\xff", "V/a\xfe", "V/a\xc3", "V/a_", "V/\xe2\x82", "V/ok\xed\xa0\x80"};
}

QByteArrayList Utf8(const QStringList &names)
{
    QByteArrayList out;
    for (const QString &name : names)
        out << name.toUtf8();
    return out;
}

// Folder paths below the messages: a chain depth deep.
QStringList Chain(int depth)
{
    QStringList folders;
    QString path = QStringLiteral("D");
    for (int i = 0; i < depth; ++i, path += QStringLiteral("/D"))
        folders << path;
    return folders;
}

OlmXml::MailItem Mail(int n)
{
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Message %1").arg(n);
    m.body = QStringLiteral("Body %1").arg(n);
    m.received = QStringLiteral("2026-12-06T13:26:23Z");
    m.from = {{QStringLiteral("sender@example.org"), QStringLiteral("Sender")}};
    return m;
}

bool IsMessageFile(const QString &name)
{
    for (const char *suffix : {".mbox", ".emlx", ".eml", ".htm", ".xml"}) {
        if (name.endsWith(QLatin1String(suffix)))
            return !name.startsWith(QLatin1String("Save Report"));
    }
    return false;
}

// Messages in the file: a mailbox holds one per From_ line (CR or LF line ends).
int MessagesIn(const QString &path)
{
    if (!path.endsWith(QLatin1String(".mbox")))
        return 1;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray data = f.readAll();
    return int(data.startsWith("From ")) + data.count("\nFrom ") + data.count("\rFrom ");
}

// Messages per folder below root, by the folder's path from root.
QHash<QString, int> MessagesByFolder(const QString &root)
{
    QHash<QString, int> folders;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (IsMessageFile(it.fileName()))
            folders[QDir(root).relativeFilePath(it.fileInfo().path())] += MessagesIn(path);
    }
    return folders;
}

}  // namespace

class FolderNamesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { ResetRunFlags(); }
    void cleanup()
    {
        FreeScanState();
        m_archive.reset();
    }
    void siblingsKeptApart_data();
    void siblingsKeptApart();
    void everyTypeKeepsEveryFolder_data();
    void everyTypeKeepsEveryFolder();
    void mailboxCannotTakeItsName_data();
    void mailboxCannotTakeItsName();
    void extensionSplit_data();
    void extensionSplit();

private:
    std::unique_ptr<ArchiveFile> m_archive;
};

void FolderNamesTest::siblingsKeptApart_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::newRow("names that meet once made safe, cut or normalized") << ClashingFolders();
    QTest::newRow("a chain deeper than a path may be") << Chain(2000);
}

// Each folder its own output path, none over the limit, each that differs named once.
void FolderNamesTest::siblingsKeptApart()
{
    QFETCH(QStringList, folders);
    MailOutputFolders map;
    map.setRootBytes(100);
    QSet<QString> paths;
    QStringList lines;
    for (const QString &folder : folders) {
        const QString path = map.relativePath((kMessages + folder + QStringLiteral("/m.xml")).toUtf8(), &lines);
        QVERIFY2(!paths.contains(path), qPrintable(path));
        QVERIFY(100 + path.toUtf8().size() < 4096 - 255);
        paths.insert(path);
        // The same folder again: the same path, and no second line.
        const int before = lines.size();
        QCOMPARE(map.relativePath((kMessages + folder + QStringLiteral("/n.xml")).toUtf8(), &lines), path);
        QCOMPARE(lines.size(), before);
        if (path != folder)
            QVERIFY2(!lines.filter(QStringLiteral("saved as \"%1\"").arg(path)).isEmpty(), qPrintable(path));
        for (const QString &part : path.split(QLatin1Char('/'))) {
            QVERIFY(part.toUtf8().size() <= 250 && part != QLatin1String(".") && part != QLatin1String(".."));
            for (const QChar ch : part)
                QVERIFY(ch.unicode() >= 0x20 && ch.unicode() != 0x7F && !(ch.unicode() >= 0x80 && ch.unicode() <= 0x9F)
                        && !IsBidiControl(ch.unicode()));
        }
    }
    // A line shows a control character as its code, so a name never reads as another.
    for (const QChar ch : lines.join(QString()))
        QVERIFY(ch.unicode() >= 0x20 && ch.unicode() != 0x7F && !(ch.unicode() >= 0x80 && ch.unicode() <= 0x9F));
}

void FolderNamesTest::everyTypeKeepsEveryFolder_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArrayList>("folders");
    QTest::addColumn<bool>("renames");
    for (SaveType type : {SaveTypeOLM, SaveTypeRGE, SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML, SaveTypeHTML})
        QTest::addRow("type %d, clashing names", int(type)) << int(type) << Utf8(ClashingFolders()) << true;
    // The new archive writes no file of its own beside a folder.
    for (SaveType type : {SaveTypeOLM, SaveTypeRGE, SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML, SaveTypeHTML})
        QTest::addRow("type %d, the writers' own names", int(type))
            << int(type) << Utf8(WriterNamedFolders()) << (type != SaveTypeOLM);
    // The new archive keeps a name's bytes as they are (its listing here reads them as text).
    for (SaveType type : {SaveTypeRGE, SaveTypeMBOX, SaveTypeEMLX, SaveTypeEML, SaveTypeHTML})
        QTest::addRow("type %d, names of bytes that are no characters", int(type))
            << int(type) << InvalidByteFolders() << true;
    // The deep chain costs the file system seconds per save: the archive and one save type of
    // each kind (a mailbox per folder, a file per message).
    for (SaveType type : {SaveTypeOLM, SaveTypeMBOX, SaveTypeEML})
        QTest::addRow("type %d, a chain of 2000", int(type)) << int(type) << Utf8(Chain(2000)) << true;
}

// One message per archive folder: every output folder that holds messages holds one, as many
// as the archive has folders, and each that is not an archive folder's own path is named.
void FolderNamesTest::everyTypeKeepsEveryFolder()
{
    QFETCH(int, type);
    QFETCH(QByteArrayList, folders);
    QFETCH(bool, renames);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    if (type == SaveTypeOLM && QStandardPaths::findExecutable(QStringLiteral("bsdtar")).isEmpty())
        QSKIP("bsdtar lists the new archive");
    TestArchiveBuilder b;
    int n = 0;
    for (const QByteArray &folder : folders) {
        b.addRawName(kMessages.toUtf8() + folder + QStringLiteral("/message_%1.xml").arg(n, 5, 10, QLatin1Char('0')).toUtf8(),
                     OlmXml::emails({Mail(n)}));
        ++n;
    }
    // Names that give their folder after a leading "/" or "./".
    b.addEntry(QStringLiteral("./") + kMessages + QStringLiteral("Dot/message_90001.xml"), OlmXml::emails({Mail(n++)}));
    b.addEntry(QStringLiteral("/") + kMessages + QStringLiteral("Slash/message_90002.xml"), OlmXml::emails({Mail(n++)}));
    QTemporaryDir dest;
    QVERIFY(ScanAndStartTestSave(m_archive, b.finish(), SaveType(type), dest.path()));
    QMailSavingThread thread;
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(thread.wait(300000));
    const SaveOutcome outcome = thread.outcome();
    QVERIFY2(outcome.failures.isEmpty(), qPrintable(outcome.failures.mid(0, 5).join(QLatin1Char('\n'))));
    QHash<QString, int> byFolder;
    if (type == SaveTypeOLM) {
        // As bsdtar extracts it: names in one Unicode form.
        QProcess tar;
        tar.start(QStringLiteral("bsdtar"), {QStringLiteral("-tf"), dest.filePath(QLatin1String(kRepairedOlmFileName))});
        QVERIFY(tar.waitForFinished(120000) && tar.exitCode() == 0);
        for (const QByteArray &line : tar.readAllStandardOutput().split('\n')) {
            const QString name = QString::fromUtf8(line).normalized(QString::NormalizationForm_C);
            if (name.startsWith(kMessages) && name.endsWith(QLatin1String(".xml")) && name.contains(QLatin1String("/message_")))
                ++byFolder[name.mid(kMessages.size()).section(QLatin1Char('/'), 0, -2)];
        }
    } else {
        byFolder = MessagesByFolder(OutputRootFor(SaveType(type), saveDir, strTime) + QStringLiteral("/Mail"));
    }
    QStringList merged;
    for (auto it = byFolder.cbegin(); it != byFolder.cend(); ++it) {
        if (it.value() != 1)
            merged << QStringLiteral("%1 holds %2").arg(it.key()).arg(it.value());
    }
    QVERIFY2(merged.isEmpty(), qPrintable(merged.mid(0, 5).join(QLatin1Char('\n'))));
    QCOMPARE(byFolder.size(), n);
    // Renamed folders are named: each path that is no archive folder's stands in a line.
    QSet<QString> archiveFolders;
    for (const QByteArray &folder : folders)
        archiveFolders.insert(QString::fromUtf8(folder));
    const QString lines = outcome.recovered.join(QLatin1Char('\n')).normalized(QString::NormalizationForm_C);
    int renamed = 0;
    for (auto it = byFolder.cbegin(); it != byFolder.cend(); ++it) {
        if (archiveFolders.contains(it.key()) || it.key() == QLatin1String("Dot") || it.key() == QLatin1String("Slash"))
            continue;
        ++renamed;
        QVERIFY2(lines.contains(it.key().normalized(QString::NormalizationForm_C)), qPrintable(it.key()));
    }
    QCOMPARE(renamed > 0, renames);
}

void FolderNamesTest::mailboxCannotTakeItsName_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("package mailboxes") << int(SaveTypeRGE);
    QTest::newRow("Apple Mail mailboxes") << int(SaveTypeMBOX);
}

// The folder of the mailbox being written turns read-only part-way through its messages (for the
// superuser, whom permissions do not bind, a file takes the mailbox's name): what is counted
// written is what stands under a mailbox's name, and the hidden file is named.
void FolderNamesTest::mailboxCannotTakeItsName()
{
    QFETCH(int, type);
    if (IndexFor(SaveType(type)) < 0)
        QSKIP("this edition has no such save type");
    constexpr int kPerFolder = 40;
    TestArchiveBuilder b;
    int n = 0;
    for (const char *folder : {"Inbox", "Sent Items", "Archive"}) {
        for (int i = 0; i < kPerFolder; ++i, ++n)
            b.addEntry(kMessages + QLatin1String(folder) + QStringLiteral("/message_%1.xml").arg(n, 5, 10, QLatin1Char('0')),
                       OlmXml::emails({Mail(n)}));
    }
    QTemporaryDir dest;
    QVERIFY(ScanAndStartTestSave(m_archive, b.finish(), SaveType(type), dest.path()));
    QMailSavingThread thread;
    QString blocked;
    int ticks = 0;
    connect(&thread, &QMailSavingThread::OnProgressvalueMainWindow, &thread, [&] {
        if (++ticks != kPerFolder + kPerFolder / 2)
            return;
        QDirIterator it(dest.path(), {QStringLiteral(".*.part")}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        if (!it.hasNext())
            return;
        it.next();
        blocked = it.fileInfo().path();
        if (::geteuid() == 0) {
            QFile name(blocked + QLatin1Char('/') + QFileInfo(blocked).fileName() + QStringLiteral(".mbox"));
            name.open(QIODevice::WriteOnly);
        } else {
            QFile::setPermissions(blocked, QFile::ReadOwner | QFile::ExeOwner);
        }
    }, Qt::DirectConnection);
    QVERIFY(thread.SetInitialSettings(QString(), IndexFor(SaveType(type))));
    QVERIFY(thread.wait(120000));
    if (!blocked.isEmpty())
        QFile::setPermissions(blocked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!blocked.isEmpty());
    const SaveOutcome outcome = thread.outcome();
    int named = 0;
    QDirIterator it(dest.path(), {QStringLiteral("*.mbox")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        named += MessagesIn(it.next());
    QCOMPARE(outcome.written, qint64(named));
    QCOMPARE(outcome.written + outcome.failed, qint64(n));
    QVERIFY(outcome.failed >= kPerFolder / 2);
    const QStringList hidden = outcome.failures.filter(QStringLiteral(".part"));
    QCOMPARE(hidden.size(), int(outcome.failed) + 1);
}

QTEST_GUILESS_MAIN(FolderNamesTest)
void FolderNamesTest::extensionSplit_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<bool>("lettersAndDigits");
    QTest::addColumn<QByteArray>("extension");
    QTest::newRow("last dot") << QByteArray("a.tar.gz") << 16 << false << QByteArray(".gz");
    QTest::newRow("hidden file") << QByteArray(".profile") << 16 << false << QByteArray();
    QTest::newRow("no dot") << QByteArray("README") << 16 << false << QByteArray();
    QTest::newRow("dot last") << QByteArray("a.") << 16 << true << QByteArray(".");
    QTest::newRow("at the limit") << QByteArray("a.12345") << 6 << true << QByteArray(".12345");
    QTest::newRow("past the limit") << QByteArray("a.123456") << 6 << true << QByteArray();
    QTest::newRow("not a word") << QByteArray("a.b-c") << 6 << true << QByteArray();
    QTest::newRow("not a word, any allowed") << QByteArray("a.b-c") << 6 << false << QByteArray(".b-c");
}

// The one rule every writer splits a file's type off by: names stored by earlier saves keep it.
void FolderNamesTest::extensionSplit()
{
    QFETCH(QByteArray, name);
    QFETCH(int, maxLength);
    QFETCH(bool, lettersAndDigits);
    QFETCH(QByteArray, extension);
    QCOMPARE(FileExtension(name, maxLength, lettersAndDigits), extension);
    if (!lettersAndDigits)
        QCOMPARE(FileExtension(QString::fromUtf8(name), maxLength), QString::fromUtf8(extension));
}

#include "tst_foldernames.moc"
