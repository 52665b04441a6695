// The save start's checks, the output folders and package files, and the log report.

#include "platform/WholeFile.h"
#include "save/QMailSavingThread.h"
#include "save/SaveFlow.h"
#include "scanner/FolderAttributes.h"
#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "SaveTestUtil.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QDateTime kWhen(QDate(2026, 12, 6), QTime(6, 40, 12));
const QString kStamp = QStringLiteral("(6 Dec 2026,06-40-12)");

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QStringList Entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Links records into a list, one per folder id.
template <typename Record, size_t N>
const Record *Chain(Record (&records)[N], std::initializer_list<qint64> folders)
{
    size_t i = 0;
    for (qint64 folder : folders) {
        records[i].llFolderId = folder;
        records[i].pNext = i + 1 < N ? &records[i + 1] : nullptr;
        ++i;
    }
    return records;
}

} // namespace

class SaveFlowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void countCheckedItems_data();
    void countCheckedItems();
    void nothingToSave_data();
    void nothingToSave();
    void writtenText();
    void outputRoots_data();
    void outputRoots();
    void planSaveStart_data();
    void planSaveStart();
    void sameFile();
    void createMailFolder_data();
    void createMailFolder();
    void createMailFolderFails_data();
    void createMailFolderFails();
    void createMailFolderOwnRoot_data();
    void createMailFolderOwnRoot();
    void packageFiles();
    void packageFilesParseAsPlists();
    void removeOutputRoot();
    void earlierSaveParts();
    void clearForReplace_data();
    void clearForReplace();
    void logReport();
    void logReportFailures_data();
    void logReportFailures();

private:
    QTemporaryDir m_dir;
};

void SaveFlowTest::init()
{
    QVERIFY(m_dir.isValid());
    for (const QString &name : Entries(m_dir.path()))
        QVERIFY(RemoveOutputRoot(m_dir.filePath(name), nullptr));
}

void SaveFlowTest::cleanup()
{
    FreeFolderAttributes();
    FoldersKeepingOwnItems.clear();
    ShellHooks::freeSpace = nullptr;
    m_selectedFile.clear();
}

// Tree: root 501, mail folders 502 and 503, contact folders 504 and 505, calendar 506, tasks 507,
// notes 508. One state character per node.
void SaveFlowTest::countCheckedItems_data()
{
    QTest::addColumn<QByteArray>("states");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("everything checked") << QByteArray("11111111") << qint64(2 + 3 + 1 + 2 + 1 + 4 + 1 + 2);
    QTest::newRow("partly checked root counts only checked folders") << QByteArray("21333133") << qint64(3 + 4);
    QTest::newRow("a contact folder adds its own contacts") << QByteArray("23313333") << qint64(2);
    QTest::newRow("the other contact folder") << QByteArray("23331333") << qint64(1);
    QTest::newRow("partly checked folders add nothing themselves") << QByteArray("22222222") << qint64(0);
    QTest::newRow("nothing checked") << QByteArray("33333333") << qint64(0);
    // 'k': the folder's box only follows its subfolders; its own items are kept.
    QTest::newRow("kept own items of folders unchecked only by their subfolders") << QByteArray("2k3k3333")
                                                                                     << qint64(3 + 2);
}

void SaveFlowTest::countCheckedItems()
{
    QFETCH(QByteArray, states);
    QFETCH(qint64, expected);
    const quint32 kinds[] = {0, 7, 0, 41, 41, 42, 43, 44};
    for (int i = 0; i < states.size(); ++i) {
        const bool kept = states.at(i) == 'k';
        AppendFolderAttribute(kept ? 3 : quint8(states.at(i) - '0'), 501 + i, kinds[i]);
        if (kept)
            FoldersKeepingOwnItems.insert(501 + i);
    }
    MailMLRC mails[6] = {};
    ContactInformation contacts[3] = {};
    CalenderInformation events[4] = {};
    TasksInformation tasks[1] = {};
    NotesInformation notes[2] = {};
    SaveItemLists lists;
    lists.mails = Chain(mails, {502, 501, 502, 503, 502, 501});
    lists.contacts = Chain(contacts, {504, 505, 504});
    lists.calendar = Chain(events, {506, 506, 506, 506});
    lists.tasks = Chain(tasks, {507});
    lists.notes = Chain(notes, {508, 508});
    QCOMPARE(CountCheckedItems(StartFldrAtrib, lists), expected);
    QCOMPARE(SelectionHasCheckedFolder(StartFldrAtrib), states.at(0) != '3');
}

// Tree: root 501, mail 502, contacts 503, an empty mail folder 504. One state per node as above.
void SaveFlowTest::nothingToSave_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("states");
    QTest::addColumn<qint64>("attachments");  // attachment entries in the archive
    QTest::addColumn<QString>("before");      // the refusal, "" when the save starts
    QTest::addColumn<QString>("leftOut");     // named at its end
    const QString mailOnly = QStringLiteral("\nEML files hold mail only, and the checked folders hold no messages "
                                            "(they hold 2 contacts).");
    const QString nothing = QString::fromLatin1(kNothingToSaveText);
    QTest::newRow("mail and contacts as eml: the contacts are named")
        << int(SaveTypeEML) << QByteArray("1111") << 0ll << QString()
        << QStringLiteral("\nEML files hold mail only; not saved: 2 contacts.");
    QTest::newRow("contacts only as eml") << int(SaveTypeEML) << QByteArray("2313") << 0ll << mailOnly
                                          << QStringLiteral("\nEML files hold mail only; not saved: 2 contacts.");
    QTest::newRow("an empty mail folder") << int(SaveTypeHTML) << QByteArray("2331") << 0ll << nothing << QString();
    QTest::newRow("an empty mail folder may give lost attachments")
        << int(SaveTypeHTML) << QByteArray("2331") << 3ll << QString() << QString();
    QTest::newRow("not through the root's own items") << int(SaveTypeEML) << QByteArray("k333") << 3ll << nothing
                                                      << QString();
    QTest::newRow("an empty new archive") << int(SaveTypeOLM) << QByteArray("2331") << 3ll << nothing << QString();
}

void SaveFlowTest::nothingToSave()
{
    QFETCH(int, type);
    QFETCH(QByteArray, states);
    QFETCH(qint64, attachments);
    QFETCH(QString, before);
    QFETCH(QString, leftOut);
    const quint32 kinds[] = {0, 0, 41, 0};
    for (int i = 0; i < states.size(); ++i) {
        const bool kept = states.at(i) == 'k';
        AppendFolderAttribute(kept ? 2 : quint8(states.at(i) - '0'), 501 + i, kinds[i]);
        if (kept)
            FoldersKeepingOwnItems.insert(501 + i);
    }
    MailMLRC mails[1] = {};
    ContactInformation contacts[2] = {};
    SaveItemLists lists;
    lists.mails = Chain(mails, {502});
    lists.contacts = Chain(contacts, {503, 503});
    const SaveItemCounts counts = CountChosenItems(StartFldrAtrib, lists);
    QCOMPARE(NothingToSaveText(SaveType(type), StartFldrAtrib, counts, attachments), before);
    QCOMPARE(TypeLeftOutText(SaveType(type), counts), leftOut);
}

// The end of a save names what it wrote and where; nothing written is no success.
void SaveFlowTest::writtenText()
{
    SaveOutcome outcome;
    outcome.output = QStringLiteral("/out/Converted Data(x)");
    QCOMPARE(SaveWrittenText(outcome), QString::fromLatin1(kNothingSavedText));
    outcome.written = 12;
    outcome.writtenByKind.mails = 11;
    outcome.writtenByKind.contacts = 1;
    outcome.writtenByKind.calendar = 8;
    outcome.writtenByKind.notes = 2;
    outcome.written = 22;
    QCOMPARE(SaveWrittenText(outcome),
             QStringLiteral("\n11 messages, 1 contact, 8 calendar items and 2 notes saved in \"/out/Converted Data(x)\"."));
    // A new archive counts its entries.
    outcome.writtenByKind = SaveItemCounts();
    outcome.output = QStringLiteral("/out/RepairedOLMfile.olm");
    QCOMPARE(SaveWrittenText(outcome), QStringLiteral("\n22 items saved in \"/out/RepairedOLMfile.olm\"."));
}

void SaveFlowTest::outputRoots_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QString>("writerOutput");
    QTest::addColumn<QString>("replaceTest");
    const QString d = QStringLiteral("/out dir");
    const QString converted = d + QStringLiteral("/Converted Data") + kStamp;
    const QString rge = d + QStringLiteral("/Main Identity") + kStamp + QStringLiteral(".rge");
    const QString olm = d + QStringLiteral("/RepairedOLMfile.olm");
    QTest::newRow("OLM") << int(SaveTypeOLM) << d << olm << olm;
    QTest::newRow("rge") << int(SaveTypeRGE) << rge << rge << rge;
    QTest::newRow("mbox") << int(SaveTypeMBOX) << converted << converted << converted;
    QTest::newRow("emlx") << int(SaveTypeEMLX) << converted << converted << converted;
    QTest::newRow("eml") << int(SaveTypeEML) << converted << converted << converted;
    const QString repaired = d + QStringLiteral("/Repaired Data") + kStamp;
    QTest::newRow("html") << int(SaveTypeHTML) << repaired << repaired << repaired;
    QTest::newRow("no type") << int(SaveTypeInvalid) << QString() << QString() << QString();
}

void SaveFlowTest::outputRoots()
{
    QFETCH(int, type);
    QFETCH(QString, root);
    QFETCH(QString, writerOutput);
    QFETCH(QString, replaceTest);
    const QString d = QStringLiteral("/out dir");
    QCOMPARE(OutputRootFor(SaveType(type), d, MakeSaveTimeStamp(kWhen)), root);
    QCOMPARE(WriterOutputFor(SaveType(type), d, kStamp), writerOutput);
    QCOMPARE(ReplaceTestRootFor(SaveType(type), d, kStamp), replaceTest);
}

void SaveFlowTest::planSaveStart_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("existing");   // made in the destination first: a folder, a file
                                             // for a name ending in ".olm", "name -> target" a link
    QTest::addColumn<qint64>("spare");       // free bytes beyond the archive's size
    QTest::addColumn<int>("step");
    const QString converted = QStringLiteral("Converted Data") + kStamp;
    const int create = int(SaveStartStep::Create);
    const int ask = int(SaveStartStep::AskReplace);
    QTest::newRow("free space equal to the archive is refused")
        << int(SaveTypeMBOX) << QString() << qint64(0) << int(SaveStartStep::InsufficientSpace);
    QTest::newRow("one byte more is enough") << int(SaveTypeMBOX) << QString() << qint64(1) << create;
    QTest::newRow("existing output folder asks") << int(SaveTypeEMLX) << converted << qint64(1) << ask;
    QTest::newRow("existing package asks")
        << int(SaveTypeRGE) << QStringLiteral("Main Identity") + kStamp + QStringLiteral(".rge") << qint64(1) << ask;
    QTest::newRow("html tests the Repaired Data root")
        << int(SaveTypeHTML) << QStringLiteral("Repaired Data") + kStamp << qint64(1) << ask;
    QTest::newRow("html does not ask about Converted Data") << int(SaveTypeHTML) << converted << qint64(1) << create;
    QTest::newRow("OLM save does not ask about Converted Data") << int(SaveTypeOLM) << converted << qint64(1) << create;
    // A name ending in ".olm" is made as a file, or as a link to nowhere.
    QTest::newRow("OLM save asks about an earlier archive")
        << int(SaveTypeOLM) << QStringLiteral("RepairedOLMfile.olm") << qint64(1) << ask;
    QTest::newRow("OLM save asks about a dangling link of its name")
        << int(SaveTypeOLM) << QStringLiteral("RepairedOLMfile.olm -> gone") << qint64(1) << ask;
    QTest::newRow("OLM save onto the archive being read")
        << int(SaveTypeOLM) << QString() << qint64(1) << int(SaveStartStep::OverwritesArchive);
}

void SaveFlowTest::planSaveStart()
{
    QFETCH(int, type);
    QFETCH(QString, existing);
    QFETCH(qint64, spare);
    QFETCH(int, step);
    const int index = IndexFor(SaveType(type));
    if (index < 0)
        QSKIP("this edition has no such save type");
    const qint64 size = 5000;
    QString askedFor;
    ShellHooks::freeSpace = [&](const QString &path) {
        askedFor = path;
        return size + spare;
    };
    const QString dest = m_dir.filePath(QStringLiteral("dest, with (odd) 'name'"));
    QVERIFY(QDir().mkpath(dest));
    const QStringList link = existing.split(QStringLiteral(" -> "));
    existing = link.first();
    if (link.size() == 2)
        QVERIFY(QFile::link(QDir(dest).filePath(link.last()), QDir(dest).filePath(existing)));
    else if (existing.endsWith(QLatin1String(".olm")))
        WriteFile(QDir(dest).filePath(existing), "PK\x03\x04");
    else if (!existing.isEmpty())
        QVERIFY(QDir(dest).mkdir(existing));
    int fd = -1;
    if (step == int(SaveStartStep::OverwritesArchive)) {
        // The open archive is an earlier output in the chosen folder, reached by another name.
        const QString archive = m_dir.filePath(QStringLiteral("earlier.olm"));
        WriteFile(archive, "PK\x03\x04\x2D");
        QVERIFY(QFile::link(archive, QDir(dest).filePath(QStringLiteral("RepairedOLMfile.olm"))));
        fd = ::open(QFile::encodeName(archive).constData(), O_RDONLY);
    }
    const SaveStartPlan plan = PlanSaveStart(index, dest, kStamp, size, fd);
    if (fd >= 0)
        ::close(fd);
    QCOMPARE(int(plan.step), step);
    QCOMPARE(askedFor, dest);
    if (plan.step == SaveStartStep::AskReplace)
        QCOMPARE(plan.root, QDir(dest).filePath(existing));
    if (plan.step == SaveStartStep::Create)
        QCOMPARE(plan.root, OutputRootFor(SaveType(type), dest, kStamp));
    QCOMPARE(int(PlanSaveStart(index, QString(), kStamp, size, -1).step), int(SaveStartStep::Cancelled));
    QCOMPARE(int(PlanSaveStart(-1, dest, kStamp, 0, -1).step), int(SaveStartStep::InvalidType));
}

void SaveFlowTest::sameFile()
{
    const QString archive = m_dir.filePath(QStringLiteral("a.olm"));
    const QString copy = m_dir.filePath(QStringLiteral("copy.olm"));
    const QString hardLink = m_dir.filePath(QStringLiteral("hard.olm"));
    WriteFile(archive, "same bytes");
    WriteFile(copy, "same bytes");
    QCOMPARE(::link(QFile::encodeName(archive).constData(), QFile::encodeName(hardLink).constData()), 0);
    QVERIFY(QFile::link(archive, m_dir.filePath(QStringLiteral("soft.olm"))));
    const int fd = ::open(QFile::encodeName(archive).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    for (const QString &same : {archive, hardLink, m_dir.filePath(QStringLiteral("soft.olm")),
                                m_dir.path() + QStringLiteral("/./a.olm")})
        QVERIFY2(IsSameFile(fd, same), qPrintable(same));
    for (const QString &other : {copy, m_dir.filePath(QStringLiteral("missing.olm")), QString()})
        QVERIFY2(!IsSameFile(fd, other), qPrintable(other));
    QVERIFY(!IsSameFile(-1, archive));
    ::close(fd);
}

void SaveFlowTest::createMailFolder_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QStringList>("contents");
    const QString converted = QStringLiteral("Converted Data") + kStamp;
    const QStringList items{QStringLiteral("Calendar"), QStringLiteral("Contacts"), QStringLiteral("Notes"),
                            QStringLiteral("Tasks")};
    QTest::newRow("OLM makes nothing") << int(SaveTypeOLM) << QString() << QStringList();
    QTest::newRow("rge package") << int(SaveTypeRGE) << QStringLiteral("Main Identity") + kStamp + QStringLiteral(".rge")
                                 << QStringList{QStringLiteral("Archive.xml"), QStringLiteral("Calendar"),
                                                QStringLiteral("Contacts"), QStringLiteral("Contents"),
                                                QStringLiteral("Notes"), QStringLiteral("Tasks")};
    QTest::newRow("mbox") << int(SaveTypeMBOX) << converted << items;
    QTest::newRow("emlx") << int(SaveTypeEMLX) << converted << QStringList();
    QTest::newRow("eml") << int(SaveTypeEML) << converted << QStringList();
    QTest::newRow("html makes only the Repaired Data root")
        << int(SaveTypeHTML) << QStringLiteral("Repaired Data") + kStamp << QStringList();
}

void SaveFlowTest::createMailFolder()
{
    QFETCH(int, type);
    QFETCH(QString, root);
    QFETCH(QStringList, contents);
    // A destination path well over 128 characters: the root still lands in it.
    const QString dest = m_dir.filePath(QString(70, QLatin1Char('d')) + QLatin1Char('/') + QString(70, QChar(0xE9)));
    QVERIFY(QDir().mkpath(dest));
    QString error;
    QString stamp = kStamp;
    QVERIFY2(CreateMailFolder(SaveType(type), dest, &stamp, &error), qPrintable(error));
    QCOMPARE(stamp, QString(kStamp));
    QCOMPARE(Entries(dest), root.isEmpty() ? QStringList() : QStringList{root});
    if (!root.isEmpty())
        QCOMPARE(Entries(QDir(dest).filePath(root)), contents);
    if (type == SaveTypeRGE)
        QCOMPARE(Entries(QDir(dest).filePath(root + QStringLiteral("/Contents"))),
                 (QStringList{QStringLiteral("Info.plist"), QStringLiteral("PkgInfo")}));
}

void SaveFlowTest::createMailFolderFails_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("blocker");   // a file made at this path below the destination
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("message");
    const QString converted = QStringLiteral("Converted Data") + kStamp;
    const QString created = QLatin1String(kOutputFolderFailedText);
    const QString written = QLatin1String(kPackageFilesFailedText);
    QTest::newRow("destination gone") << int(SaveTypeMBOX) << QStringLiteral("-") << false << created;
    QTest::newRow("OLM into a destination that is gone") << int(SaveTypeOLM) << QStringLiteral("-") << false << created;
    QTest::newRow("no save type") << int(SaveTypeInvalid) << QString() << false << created;
    // A folder that stands but takes no files is named as such, never as one not made.
    QTest::newRow("read-only destination") << int(SaveTypeEML) << QString() << true << written;
    QTest::newRow("OLM into a read-only destination") << int(SaveTypeOLM) << QString() << true << written;
}

void SaveFlowTest::createMailFolderFails()
{
    QFETCH(int, type);
    QFETCH(QString, blocker);
    QFETCH(bool, readOnly);
    if (readOnly && ::geteuid() == 0)
        QSKIP("permissions do not bind the superuser");
    const QString dest = m_dir.filePath(QStringLiteral("dest"));
    if (blocker != QLatin1String("-"))
        QVERIFY(QDir().mkpath(dest));
    if (!blocker.isEmpty() && blocker != QLatin1String("-")) {
        QVERIFY(QDir().mkpath(QFileInfo(QDir(dest).filePath(blocker)).path()));
        WriteFile(QDir(dest).filePath(blocker), "x");
    }
    if (readOnly)
        QVERIFY(QFile::setPermissions(dest, QFile::ReadOwner | QFile::ExeOwner));
    QString error;
    QString stamp = kStamp;
    const bool made = CreateMailFolder(SaveType(type), dest, &stamp, &error);
    if (readOnly)
        QFile::setPermissions(dest, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!made);
    QFETCH(QString, message);
    QCOMPARE(error, message);
}

void SaveFlowTest::createMailFolderOwnRoot_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("taken");    // what stands at the timed root, made below the destination
    QTest::addColumn<QString>("ownRoot");  // the root the save gets
    const QString converted = QStringLiteral("Converted Data") + kStamp;
    const QString rge = QStringLiteral("Main Identity") + kStamp;
    QTest::newRow("a file where the root should be") << int(SaveTypeEMLX) << converted << converted + "_2";
    QTest::newRow("another save's root") << int(SaveTypeEML) << converted + "/" << converted + "_2";
    QTest::newRow("two roots taken") << int(SaveTypeMBOX) << converted + "/|" + converted + "_2/" << converted + "_3";
    QTest::newRow("package") << int(SaveTypeRGE) << rge + ".rge/" << rge + "_2.rge";
}

void SaveFlowTest::createMailFolderOwnRoot()
{
    QFETCH(int, type);
    QFETCH(QString, taken);
    QFETCH(QString, ownRoot);
    const QString dest = m_dir.filePath(QStringLiteral("dest"));
    QVERIFY(QDir().mkpath(dest));
    for (const QString &name : taken.split(QLatin1Char('|'))) {
        if (name.endsWith(QLatin1Char('/')))
            QVERIFY(QDir(dest).mkpath(name + QStringLiteral("Tasks")));
        else
            WriteFile(QDir(dest).filePath(name), "x");
    }
    QString stamp = kStamp, error;
    QVERIFY2(CreateMailFolder(SaveType(type), dest, &stamp, &error), qPrintable(error));
    // Every path of the save follows its stamp, so the report and the writers go there too.
    QCOMPARE(QFileInfo(OutputRootFor(SaveType(type), dest, stamp)).fileName(), ownRoot);
    QVERIFY(QFileInfo(QDir(dest).filePath(ownRoot)).isDir());
    // What stood there is as it was: nothing of this save went into it.
    const QString first = taken.section(QLatin1Char('|'), 0, 0);
    if (first.endsWith(QLatin1Char('/')))
        QCOMPARE(Entries(QDir(dest).filePath(first)), QStringList{QStringLiteral("Tasks")});
}

void SaveFlowTest::packageFiles()
{
    const QByteArray head = "<?xml version=\"1.1\" encoding=\"UTF-8\"?>\n"
                            "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.1//EN\" "
                            "\"http://www.apple.com/DTDs/PropertyList-1.1.dtd\">\n<plist version=\"1.1\">\n<dict>\n";
    const QByteArray info = head + "\t<key>CFBundleDevelopmentRegion</key>\n\t<string>English</string>\n"
                                   "\t<key>CFBundleInfoDictionaryVersion</key>\n\t<string>6.0</string>\n"
                                   "\t<key>CFBundlePackageType</key>\n\t<string>rge </string>\n"
                                   "\t<key>CFBundleSignature</key>\n\t<string>OPIM</string>\n</dict>\n</plist>\n";
    const QByteArray archive = head + "\t<key>Type</key>\n\t<string>All</string>\n"
                                      "\t<key>Version</key>\n\t<integer>1</integer>\n</dict>\n</plist>\n";
    QCOMPARE(info.count('\n'), 14);
    QCOMPARE(archive.count('\n'), 10);

    const QString root = m_dir.filePath(QStringLiteral("Main Identity") + kStamp + QStringLiteral(".rge"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/Contents")));
    // Left from an earlier run of the same second, and a link planted at a package name.
    WriteFile(root + QStringLiteral("/Contents/PkgInfo"), "rge OPIM and more left from before");
    const QString outside = m_dir.filePath(QStringLiteral("outside.txt"));
    WriteFile(outside, "keep me");
    QVERIFY(QFile::link(outside, root + QStringLiteral("/Archive.xml")));
    for (const QString &given : {root, root + QLatin1Char('/')}) {
        QString error;
        QVERIFY2(CreateFilesInMainIdentity(given, &error), qPrintable(error));
        QCOMPARE(ReadAll(root + QStringLiteral("/Contents/PkgInfo")), QByteArray("rge OPIM"));
        QCOMPARE(ReadAll(root + QStringLiteral("/Contents/Info.plist")), info);
        QCOMPARE(ReadAll(root + QStringLiteral("/Archive.xml")), archive);
    }
    QCOMPARE(ReadAll(outside), QByteArray("keep me"));

    QString error;
    QVERIFY(!CreateFilesInMainIdentity(m_dir.filePath(QStringLiteral("no package here")), &error));
    QCOMPARE(error, QLatin1String(kPackageFilesFailedText));
}

void SaveFlowTest::packageFilesParseAsPlists()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    const QString root = m_dir.filePath(QStringLiteral("pkg.rge"));
    QVERIFY(QDir().mkpath(root + QStringLiteral("/Contents")));
    QVERIFY(CreateFilesInMainIdentity(root, nullptr));
    QProcess py;
    py.start(python, {QStringLiteral("-c"),
                      QStringLiteral("import plistlib,sys\ni=plistlib.load(open(sys.argv[1],'rb'))\n"
                                     "a=plistlib.load(open(sys.argv[2],'rb'))\n"
                                     "print(repr(i['CFBundlePackageType']),i['CFBundleSignature'],a['Type'],a['Version'])"),
                      root + QStringLiteral("/Contents/Info.plist"), root + QStringLiteral("/Archive.xml")});
    QVERIFY(py.waitForFinished(30000));
    QCOMPARE(py.readAllStandardOutput().trimmed(), QByteArray("'rge ' OPIM All 1"));
}

void SaveFlowTest::earlierSaveParts()
{
    // An earlier save stopped hard left a cut message file under a hidden part name; another
    // save is writing one right now; a mailbox under a hidden name holds whole messages.
    const QString inbox = m_dir.filePath(QStringLiteral("Converted Data(1 Jan 2025,00-00-00)/Mail/Inbox"));
    QVERIFY(QDir().mkpath(inbox));
    WriteFile(inbox + QStringLiteral("/.4242-7.part"), "From: cut");
    WriteFile(inbox + QStringLiteral("/.4242-m8.part"), "From whole\n");
    WriteFile(m_dir.filePath(QStringLiteral(".4242-9.part")), "not in an output folder");
    WholeFile::setUnnamedFilesAllowed(false);
    WholeFile running;
    QVERIFY(running.open(inbox) >= 0);
    WholeFile::setUnnamedFilesAllowed(true);
    const QStringList lines = RemoveEarlierSaveParts(m_dir.path());
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith(QLatin1String("the unfinished file .4242-7.part (9 bytes) in ")),
             qPrintable(lines.first()));
    const QStringList left = QDir(inbox).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(left.size(), 2);
    QVERIFY(left.contains(QStringLiteral(".4242-m8.part")));
    QVERIFY(QFileInfo::exists(m_dir.filePath(QStringLiteral(".4242-9.part"))));
}

void SaveFlowTest::clearForReplace_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("folder");  // else a file stands at the root
    QTest::addColumn<bool>("stays");   // until the save replaces it
    QTest::newRow("an earlier archive stays until the new one is whole") << int(SaveTypeOLM) << false << true;
    QTest::newRow("a folder under the archive's name goes") << int(SaveTypeOLM) << true << false;
    QTest::newRow("an earlier output folder goes") << int(SaveTypeEML) << true << false;
}

void SaveFlowTest::clearForReplace()
{
    QFETCH(int, type);
    QFETCH(bool, folder);
    QFETCH(bool, stays);
    const QString root = m_dir.filePath(QStringLiteral("root"));
    if (folder)
        QVERIFY(QDir().mkpath(root + QStringLiteral("/inside")));
    else
        WriteFile(root, "earlier");
    QString error;
    QVERIFY2(ClearForReplace(SaveType(type), root, &error), qPrintable(error));
    QCOMPARE(QFileInfo::exists(root), stays);
}

void SaveFlowTest::removeOutputRoot()
{
    // Names a shell would trip over, a read-only file, and a link inside to a folder outside.
    const QString root = m_dir.filePath(QStringLiteral("Converted Data(6 Dec 2026,06-40-12)"));
    const QString outside = m_dir.filePath(QStringLiteral("outside"));
    QVERIFY(QDir().mkpath(outside));
    WriteFile(outside + QStringLiteral("/keep.txt"), "keep");
    QString deep = root;
    for (const char *name : {"a b", "it's \"quoted\"", "$(touch x)", "`y`; rm -rf z", "Ünïcødé, (1)"}) {
        deep += QLatin1Char('/') + QString::fromUtf8(name);
        QVERIFY(QDir().mkpath(deep));
        WriteFile(deep + QStringLiteral("/f ile.txt"), "data");
    }
    QVERIFY(QFile::setPermissions(deep + QStringLiteral("/f ile.txt"), QFile::ReadOwner));
    QVERIFY(QFile::link(outside, root + QStringLiteral("/link to outside")));
    QString error;
    QVERIFY2(RemoveOutputRoot(root, &error), qPrintable(error));
    QVERIFY(!QFileInfo::exists(root));
    QCOMPARE(ReadAll(outside + QStringLiteral("/keep.txt")), QByteArray("keep"));

    // A root that is itself a link: the link goes, its target stays whole. Dangling links go too.
    const QString linkRoot = m_dir.filePath(QStringLiteral("Main Identity(6 Dec 2026,06-40-12).rge"));
    for (const QString &target : {outside, m_dir.filePath(QStringLiteral("gone"))}) {
        QVERIFY(QFile::link(target, linkRoot));
        QVERIFY(RemoveOutputRoot(linkRoot, &error));
        QVERIFY(!QFileInfo(linkRoot).isSymLink());
    }
    QCOMPARE(ReadAll(outside + QStringLiteral("/keep.txt")), QByteArray("keep"));

    // Nothing to do for no path or a missing one; never the file system root.
    const QStringList before = Entries(m_dir.path());
    QVERIFY(RemoveOutputRoot(QString(), &error));
    QVERIFY(RemoveOutputRoot(m_dir.filePath(QStringLiteral("never made")), &error));
    QCOMPARE(Entries(m_dir.path()), before);
    QVERIFY(!RemoveOutputRoot(QStringLiteral("/tmp/.."), &error));
    QCOMPARE(error, QLatin1String(kOldRootNotRemovedText));
}

void SaveFlowTest::logReport()
{
    MailItemCount = 7;
    ContactItemCount = 5;
    CalendarItemCount = 8;
    NotesItemCount = 1;
    TaskItemCount = 12;
    // Longer than the 135 Latin-1 bytes CurrentPath keeps, and not Latin-1 at all.
    m_selectedFile = QStringLiteral("/archives/") + QString(140, QLatin1Char('x')) + QStringLiteral("/Почта.olm");
    qstrncpy(CurrentPath, "/archives/cut", sizeof CurrentPath);
    // A longer report of the same second is there already: it is replaced, not appended to.
    const QString expectedPath = m_dir.filePath(QStringLiteral("logfile(6 Dec 2026,06-40-12).txt"));
    WriteFile(expectedPath, QByteArray(10000, 'o'));

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QString path;
    QString error;
    QVERIFY2(WriteLogReport(m_dir.path(), kWhen, &path, &error), qPrintable(error));
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    QCOMPARE(path, expectedPath);
    const QByteArray bytes = ReadAll(path);
    QVERIFY(bytes.endsWith('\n'));
    const QStringList lines = QString::fromUtf8(bytes.chopped(1)).split(QLatin1Char('\n'));
    const QString rule(44, QLatin1Char('-'));
    const QStringList expected{bforQRepairFO ? QStringLiteral("--------Corvask v3 Log Report----------")
                                             : QStringLiteral("--------Tillomar v3.0.0.0 Log Report----------"),
                               QString(), QStringLiteral("Selected OLM: ") + m_selectedFile, QString(),
                               QStringLiteral("Start"), QString(), rule, QStringLiteral("Number of items found:"),
                               QStringLiteral("Mails: 7"), QStringLiteral("Contacts: 5"),
                               QStringLiteral("Calendar: 8"), QStringLiteral("Notes: 1"),
                               QStringLiteral("Tasks: 12"), rule, QString(), QStringLiteral("End"), rule};
    QCOMPARE(lines.size(), expected.size());
    const QRegularExpression time(QStringLiteral("^(\\w+) date & time: (\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)$"));
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch match = time.match(lines.at(i));
        QCOMPARE(match.hasMatch() ? match.captured(1) : lines.at(i), expected.at(i));
        if (match.hasMatch()) {
            const QDateTime at = QDateTime::fromString(match.captured(2), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
            QVERIFY(at >= before && at <= after);
        }
    }

    // A link planted at the name is replaced, not written through.
    const QString outside = m_dir.filePath(QStringLiteral("victim.txt"));
    WriteFile(outside, "untouched");
    QVERIFY(QFile::remove(path) && QFile::link(outside, path));
    QVERIFY(WriteLogReport(m_dir.path(), kWhen, nullptr, nullptr));
    QCOMPARE(ReadAll(outside), QByteArray("untouched"));
    QCOMPARE(ReadAll(path).count('\n'), 17);
}

void SaveFlowTest::logReportFailures_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("folder missing") << QStringLiteral("missing");
    QTest::newRow("folder is a file") << QStringLiteral("file");
    QTest::newRow("disk full mid-write") << QStringLiteral("full");
    QTest::newRow("read-only folder") << QStringLiteral("readonly");
}

void SaveFlowTest::logReportFailures()
{
    QFETCH(QString, how);
    if (how == QLatin1String("readonly") && ::geteuid() == 0)
        QSKIP("permissions do not bind the superuser");
    const QString folder = m_dir.filePath(QStringLiteral("logs"));
    if (how == QLatin1String("file"))
        WriteFile(folder, "x");
    else if (how != QLatin1String("missing"))
        QVERIFY(QDir().mkpath(folder));
    if (how == QLatin1String("readonly"))
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    m_selectedFile = QStringLiteral("/a.olm");
    // A file-size limit below the report's size fails the write part-way, as a full disk does.
    struct rlimit saved {};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*oldHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    if (how == QLatin1String("full")) {
        struct rlimit small = saved;
        small.rlim_cur = 100;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    QString path;
    QString error;
    const bool written = WriteLogReport(folder, kWhen, &path, &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(!written);
    QCOMPARE(path, QDir(folder).filePath(QStringLiteral("logfile") + kStamp + QStringLiteral(".txt")));
    // The message names the file that could not be written.
    QCOMPARE(error, QLatin1String(kLogFailedText) + QLatin1Char('\n') + QDir::toNativeSeparators(path));
    QVERIFY(!QFileInfo::exists(path));
}

int main(int argc, char **argv)
{
    qputenv("TZ", "UTC");
    ::tzset();
    QCoreApplication app(argc, argv);
    SaveFlowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_saveflow.moc"
