// Start-up: where the bundle's files are found, the install-image refusal, the agreement marker
// in a shared folder, the agreement dialog, and the compiled-in pictures and bundle files.

#include "platform/Edition.h"
#include "shell/QLicenseAgreement.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"
#include "shell/Startup.h"

#include <QImageReader>
#include <QLabel>
#include <QMovie>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QUrl>
#include <QXmlStreamReader>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace Startup;

namespace {

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

// The folder of the program the build made, reached through the link the README starts.
QString BuiltAppDir()
{
    const QFileInfo link(QStringLiteral(OLM_BINARY_DIR) + QLatin1Char('/') + EditionName());
    return QFileInfo(link.symLinkTarget()).absolutePath();
}

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void derivePaths_data();
    void derivePaths();
    void builtBundleIsFound();

    void installImage_data();
    void installImage();

    void markerPath_data();
    void markerPath();
    void markerRead_data();
    void markerRead();
    void markerReadSpecialFiles();
    void markerWrite_data();
    void markerWrite();
    void markerWriteRefusesLinksAndFifos();

    void licenceText();
    void checkAgreement_data();
    void checkAgreement();

    void pictures_data();
    void pictures();
    void scanAnimationPlays();
    void shippedSettingsPointNowhere();
    void shippedAgreementPdf();

private:
    QTemporaryDir m_markerDir;
};

void StartupTest::initTestCase()
{
    QVERIFY(m_markerDir.isValid());
    // Nothing here may read or write the real marker in /var/tmp.
    ShellHooks::markerFolder = m_markerDir.path();
    InitShellResources();
}

void StartupTest::cleanup()
{
    ShellHooks::markerFolder = m_markerDir.path();
    QFile::remove(AgreementMarkerPath());
}

// --- Paths ---------------------------------------------------------------------------------------

void StartupTest::derivePaths_data()
{
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("appDir");
    QTest::addColumn<bool>("store");
    QTest::addColumn<QString>("expectedHelp");
    QTest::addColumn<QString>("expectedPreviewerDir");

    QTest::newRow("bundle inside the outer bundle's Resources")
        << QStringList{"Out.app/Contents/Resources/In.app/Contents/MacOS"}
        << "Out.app/Contents/Resources/In.app/Contents/MacOS" << false << "Out.app/Contents/Resources"
        << "Out.app/Contents/Resources/In.app/Contents/MacOS";
    QTest::newRow("store variant: one bundle")
        << QStringList{"App.app/Contents/MacOS", "App.app/Contents/Resources"}
        << "App.app/Contents/MacOS" << true << "App.app/Contents/Resources" << "App.app/Contents/MacOS";
    QTest::newRow("no Resources four up: the walk ends there") << QStringList{"a/b/c/d/MacOS"}
        << "a/b/c/d/MacOS" << false << "a" << "a/b/c/d/MacOS";
    QTest::newRow("store variant without Resources") << QStringList{"x/MacOS"} << "x/MacOS" << true
                                                     << "x" << "x/MacOS";
    QTest::newRow("Resources beside the executable is not used")
        << QStringList{"p/Contents/MacOS/Resources", "p/Contents/Resources"} << "p/Contents/MacOS"
        << true << "p/Contents/Resources" << "p/Contents/MacOS";
    QTest::newRow("executable folder not called MacOS") << QStringList{"p/bin", "p/Resources"}
        << "p/bin" << true << "p/Resources" << "p";
}

void StartupTest::derivePaths()
{
    QFETCH(QStringList, folders);
    QFETCH(QString, appDir);
    QFETCH(bool, store);
    QFETCH(QString, expectedHelp);
    QFETCH(QString, expectedPreviewerDir);
    QTemporaryDir root;
    for (const QString &folder : folders)
        QVERIFY(QDir(root.path()).mkpath(folder));
    const QString base = QDir(root.path()).canonicalPath() + QLatin1Char('/');

    const StartupPaths paths = DeriveStartupPaths(base + appDir, store);
    QCOMPARE(paths.helpFilePath, base + expectedHelp);
    QCOMPARE(paths.plistPath, base + expectedHelp + "/Corvask.plist");
    QCOMPARE(paths.previewerPath, base + expectedPreviewerDir + "/FileUtil.app");
}

// The build lays out the bundle the start-up expects, and the link the README starts leads to it.
void StartupTest::builtBundleIsFound()
{
    const QString link = QStringLiteral(OLM_BINARY_DIR) + QLatin1Char('/') + EditionName();
    QVERIFY2(QFileInfo(link).isSymLink(), qPrintable(link));
    const QString appDir = BuiltAppDir();
    QCOMPARE(QDir(appDir).dirName(), QStringLiteral("MacOS"));

    const StartupPaths paths = DeriveStartupPaths(appDir, bForappstore);
    QVERIFY2(QFileInfo(paths.plistPath).isFile(), qPrintable(paths.plistPath));
    QVERIFY(QFileInfo(paths.helpFilePath + "/Eula.txt").isFile());
    QVERIFY(QFileInfo(paths.helpFilePath + "/Eula.pdf").isFile());
    QCOMPARE(QFileInfo(paths.previewerPath).absolutePath(), appDir);
}

void StartupTest::installImage_data()
{
    QTest::addColumn<QString>("appDir");
    QTest::addColumn<bool>("refused");
    QTest::newRow("the mounted image") << "/Volumes/Corvask/Corvask.app/Contents/MacOS" << true;
    QTest::newRow("trailing slash") << "/Volumes/Corvask/Corvask.app/Contents/MacOS/" << false;
    QTest::newRow("other volume") << "/Volumes/Corvask 1/Corvask.app/Contents/MacOS" << false;
    QTest::newRow("other case") << "/volumes/corvask/Corvask.app/Contents/MacOS" << false;
    QTest::newRow("converter's name") << "/Volumes/Tillomar/Tillomar.app/Contents/MacOS" << false;
    QTest::newRow("installed copy") << "/Applications/Corvask.app/Contents/MacOS" << false;
    QTest::newRow("empty") << "" << false;
}

void StartupTest::installImage()
{
    QFETCH(QString, appDir);
    QFETCH(bool, refused);
    QCOMPARE(IsRunningFromInstallImage(appDir), refused);
    QCOMPARE(InstallImageMessage(false),
             QStringLiteral("\nKindly copy the Corvask \nexecutable in the Applications folder and run from there."));
    QCOMPARE(InstallImageMessage(true),
             QStringLiteral("\nKindly copy the Tillomar \nexecutable in the Applications folder and run from there."));
}

// --- Agreement marker --------------------------------------------------------------------------

void StartupTest::markerPath_data()
{
    QTest::addColumn<bool>("converter");
    QTest::addColumn<bool>("store");
    QTest::addColumn<QString>("expected");
    QTest::newRow("converter edition") << true << false << "/var/tmp/KWVTCM";
    QTest::newRow("repair edition") << false << false << "/var/tmp/KWVTRM";
    QTest::newRow("store, repair") << false << true << QDir::tempPath() + "/KWVTRM";
    QTest::newRow("store, converter") << true << true << QDir::tempPath() + "/KWVTRM";
}

void StartupTest::markerPath()
{
    QFETCH(bool, converter);
    QFETCH(bool, store);
    QFETCH(QString, expected);
    ShellHooks::markerFolder.clear();
    QCOMPARE(AgreementMarkerPath(converter, store), expected);
    ShellHooks::markerFolder = QStringLiteral("/elsewhere");
    QCOMPARE(AgreementMarkerPath(converter, store),
             QStringLiteral("/elsewhere/") + QFileInfo(expected).fileName());
}

void StartupTest::markerRead_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("agreed");
    QTest::newRow("as written") << QByteArray("Agree\r\n") << true;
    QTest::newRow("LF") << QByteArray("Agree\n") << true;
    QTest::newRow("no line end") << QByteArray("Agree") << true;
    QTest::newRow("further lines") << QByteArray("Agree\r\nX\nY") << true;
    QTest::newRow("lower case") << QByteArray("agree\r\n") << false;
    QTest::newRow("upper case") << QByteArray("AGREE\r\n") << false;
    QTest::newRow("trailing blank") << QByteArray("Agree \r\n") << false;
    QTest::newRow("leading blank") << QByteArray(" Agree\r\n") << false;
    QTest::newRow("more letters") << QByteArray("Agreed\n") << false;
    QTest::newRow("cut short") << QByteArray("Agre") << false;
    QTest::newRow("second line only") << QByteArray("\nAgree\n") << false;
    QTest::newRow("NUL inside") << QByteArray("Agr\0ee\n", 7) << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void StartupTest::markerRead()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, agreed);
    const QString marker = AgreementMarkerPath();
    WriteFile(marker, content);
    QCOMPARE(MarkerSaysAgreed(marker), agreed);
}

void StartupTest::markerReadSpecialFiles()
{
    const QString marker = AgreementMarkerPath();
    QVERIFY(!MarkerSaysAgreed(marker)); // missing

    // A link to an agreeing file is not followed: someone else may have planted it.
    const QString elsewhere = m_markerDir.filePath(QStringLiteral("elsewhere"));
    WriteFile(elsewhere, "Agree\r\n");
    QVERIFY(QFile::link(elsewhere, marker));
    QVERIFY(!MarkerSaysAgreed(marker));
    QVERIFY(QFile::remove(marker));

    // A FIFO must neither block the start nor count as agreement; nor a folder.
    QCOMPARE(::mkfifo(QFile::encodeName(marker).constData(), 0600), 0);
    QVERIFY(!MarkerSaysAgreed(marker));
    QVERIFY(QFile::remove(marker));
    QVERIFY(QDir().mkdir(marker));
    QVERIFY(!MarkerSaysAgreed(marker));
    QVERIFY(QDir().rmdir(marker));
}

void StartupTest::markerWrite_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("exists");
    QTest::newRow("no marker yet") << QByteArray() << false;
    QTest::newRow("empty marker") << QByteArray() << true;
    QTest::newRow("longer marker is cut") << QByteArray("Disagree, and more text after it\n") << true;
}

void StartupTest::markerWrite()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, exists);
    const QString marker = AgreementMarkerPath();
    if (exists)
        WriteFile(marker, before);
    QVERIFY(WriteAgreementMarker(marker));
    QCOMPARE(ReadAll(marker), QByteArray("Agree\r\n"));
    QVERIFY(MarkerSaysAgreed(marker));
}

void StartupTest::markerWriteRefusesLinksAndFifos()
{
    const QString marker = AgreementMarkerPath();
    const QString victim = m_markerDir.filePath(QStringLiteral("victim"));
    WriteFile(victim, "precious");
    QVERIFY(QFile::link(victim, marker));
    QVERIFY(!WriteAgreementMarker(marker));
    QCOMPARE(ReadAll(victim), QByteArray("precious"));
    QVERIFY(QFileInfo(marker).isSymLink());
    QVERIFY(QFile::remove(marker));

    const QString target = m_markerDir.filePath(QStringLiteral("not-created"));
    QVERIFY(QFile::link(target, marker)); // dangling
    QVERIFY(!WriteAgreementMarker(marker));
    QVERIFY(!QFileInfo::exists(target));
    QVERIFY(QFile::remove(marker));

    QCOMPARE(::mkfifo(QFile::encodeName(marker).constData(), 0600), 0);
    QVERIFY(!WriteAgreementMarker(marker)); // returns at once: nobody reads the FIFO
    QVERIFY(QFile::remove(marker));

    QVERIFY(!WriteAgreementMarker(m_markerDir.filePath(QStringLiteral("no/such/folder/KWVTRM"))));
}

// --- Agreement dialog --------------------------------------------------------------------------

void StartupTest::licenceText()
{
    QTemporaryDir help;
    const QString text = QStringLiteral("Licence \u00e9t\u00e9 \u2014 \u65e5\u672c\nsecond line\n");
    WriteFile(help.filePath(QStringLiteral("Eula.txt")), text.toUtf8());
    HelpFilePath = help.path();
    QLicenseAgreement withText;
    QCOMPARE(withText.AgreementTextEdit->toPlainText(), text);

    HelpFilePath = help.filePath(QStringLiteral("missing"));
    QLicenseAgreement withoutText;
    QVERIFY(withoutText.AgreementTextEdit->toPlainText().trimmed().isEmpty());
    QVERIFY(withoutText.AgreeButton->isEnabled());
    QVERIFY(withoutText.DisagreeButton->isEnabled());
}

void StartupTest::checkAgreement_data()
{
    QTest::addColumn<QString>("answer"); // "agree", "disagree", "escape"
    QTest::addColumn<QByteArray>("markerBefore"); // "-" for no marker, "link" for a link
    QTest::addColumn<bool>("store");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("markerAfter");

    const int already = int(AgreementResult::AlreadyGiven), now = int(AgreementResult::GivenNow),
              refused = int(AgreementResult::Refused);
    QTest::newRow("first start, I Agree") << "agree" << QByteArray("-") << false << true << now
                                          << QByteArray("Agree\r\n");
    QTest::newRow("first start, Disagree") << "disagree" << QByteArray("-") << false << true << refused
                                           << QByteArray("-");
    QTest::newRow("first start, Escape") << "escape" << QByteArray("-") << false << true << refused
                                         << QByteArray("-");
    QTest::newRow("Disagree leaves a foreign marker") << "disagree" << QByteArray("agree\n") << false
                                                      << true << refused << QByteArray("agree\n");
    QTest::newRow("I Agree replaces a foreign marker") << "agree" << QByteArray("agree\nmore\n") << false
                                                       << true << now << QByteArray("Agree\r\n");
    QTest::newRow("agreed before") << "disagree" << QByteArray("Agree\n") << false << false << already
                                   << QByteArray("Agree\n");
    QTest::newRow("store variant never asks nor writes") << "disagree" << QByteArray("-") << true
                                                         << false << already << QByteArray("-");
    QTest::newRow("unwritable marker still starts") << "agree" << QByteArray("link") << false << true
                                                    << now << QByteArray("link");
}

void StartupTest::checkAgreement()
{
    QFETCH(QString, answer);
    QFETCH(QByteArray, markerBefore);
    QFETCH(bool, store);
    QFETCH(bool, asked);
    QFETCH(int, result);
    QFETCH(QByteArray, markerAfter);

    const QString marker = AgreementMarkerPath();
    const QString victim = m_markerDir.filePath(QStringLiteral("victim"));
    QFile::remove(victim);
    if (markerBefore == "link") {
        WriteFile(victim, "precious");
        QVERIFY(QFile::link(victim, marker));
    } else if (markerBefore != "-") {
        WriteFile(marker, markerBefore);
    }

    bool ran = false;
    bool logoShown = false;
    const auto answerDialog = [&](QLicenseAgreement &dialog) {
        ran = true;
        logoShown = !dialog.labellogo->pixmap(Qt::ReturnByValue).isNull();
        dialog.show();
        if (answer == QLatin1String("agree"))
            QTest::mouseClick(dialog.AgreeButton, Qt::LeftButton);
        else if (answer == QLatin1String("disagree"))
            QTest::mouseClick(dialog.DisagreeButton, Qt::LeftButton);
        else
            QTest::keyClick(&dialog, Qt::Key_Escape);
        return dialog.isVisible() ? 0 : dialog.result(); // still open: no button closed it
    };
    QCOMPARE(int(CheckAgreement(marker, store, bforQConverterFO, answerDialog)), result);
    QCOMPARE(ran, asked);
    if (asked)
        QVERIFY2(logoShown, "the edition's logo is missing from the resources");

    if (markerAfter == "link") {
        QVERIFY(QFileInfo(marker).isSymLink());
        QCOMPARE(ReadAll(victim), QByteArray("precious"));
    } else if (markerAfter == "-") {
        QVERIFY(!QFileInfo::exists(marker));
    } else {
        QCOMPARE(ReadAll(marker), markerAfter);
    }
}

// --- Pictures and bundle files -----------------------------------------------------------------

void StartupTest::pictures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size"); // checked when valid: the forms stretch these exactly
    const QStringList names = {
        "Help.png", "Info.png", "Mark.png", "all Small-1.png", "all Small-2.png", "OK- Normal.png",
        "Preview-Normal.png", "stop.png", "TreeCheck_N.png", "TreeCheck_blue.png", "TreeCheck_p.png",
        "OLM-Repair3.png", "OLM_Converter.png", "img_About1.png", "img_AboutDlg.png",
        "img_openenable.png", "img_opendisable.png", "img_saveenable.png", "img_savedisable.png",
        "mailopen.png", "mailclose.png", "contactopen.png", "contactclose.png", "calenopen.png",
        "calenclose.png", "taskopen.png", "taskclose.png", "notesopen.png", "notesclose.png",
        "img_AddressBookIcon.png", "img_CalendarIcon.png", "img_TaskIcon.png", "img_NotesIcon.png",
        "img_Folder.png", "img_InboxFolderIcon.png", "img_SentFolderIcon.png",
        "img_DraftsFolderIcon.png", "img_DeletedFolderIcon.png", "img_Attachment.png",
        "img_Priority.png", "img_FileType.png", "img_Line.png", "img_Start.png",
        "img_StartSymbol.png", "img_Hsplitter.png", "img_Vsplitter.png", "img_Scan.gif"};
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << name << QSize();
    QTest::newRow("img_SoftwareUpdate.png") << "img_SoftwareUpdate.png" << QSize(493, 364);
    QTest::newRow("img_SoftwareUpdateConverter.png") << "img_SoftwareUpdateConverter.png" << QSize(493, 364);
    QTest::newRow("img_ActiveSmall.png") << "img_ActiveSmall.png" << QSize(103, 20);
    QTest::newRow("Normal.png") << "Normal.png" << QSize(101, 25);
    QTest::newRow("Rectangle_605.png") << "Rectangle_605.png" << QSize(194, 42);
    QTest::newRow("Rectangle_606.png") << "Rectangle_606.png" << QSize(194, 42);
    QTest::newRow("Rectangle_607.png") << "Rectangle_607.png" << QSize(194, 42);
}

void StartupTest::pictures()
{
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QString path = QStringLiteral(":/images/") + name;
    QVERIFY2(QFile::exists(path), qPrintable(path));
    QImageReader reader(path);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(path + ": " + reader.errorString()));
    if (size.isValid())
        QCOMPARE(image.size(), size);
    if (name.endsWith(QLatin1String(".png")))
        QVERIFY(image.hasAlphaChannel());
    // The splitter's style sheet names its pictures without the slash after the colon.
    if (name.endsWith(QLatin1String("splitter.png")))
        QVERIFY(QFile::exists(QStringLiteral(":images/") + name));
}

void StartupTest::scanAnimationPlays()
{
    QMovie movie(QStringLiteral(":/images/img_Scan.gif"));
    QVERIFY(movie.isValid());
    QVERIFY(movie.frameCount() > 1);
    QImage first;
    for (int i = 0; i < movie.frameCount(); ++i) {
        QVERIFY2(movie.jumpToFrame(i), qPrintable(QString::number(i)));
        const QImage frame = movie.currentImage();
        QCOMPARE(frame.size(), QSize(30, 30));
        if (i == 0)
            first = frame;
        else
            QVERIFY2(frame != first, "the animation does not move");
    }
}

// Every key the program reads is there, and no address leads to a real site.
void StartupTest::shippedSettingsPointNowhere()
{
    QFile plist(DeriveStartupPaths(BuiltAppDir(), bForappstore).plistPath);
    QVERIFY(plist.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&plist);
    QMap<QString, QString> values;
    QString key;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("key"))
            key = xml.readElementText();
        else if (xml.isStartElement() && xml.name() == QLatin1String("string"))
            values.insert(key, xml.readElementText());
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    const QStringList keys = {"SubmitEnquiryLink", "EmailToSupport", "ViewSupportLink", "KBLink",
                              "CopyrightText", "SupportName_EN", "SupportLink_EN", "UpdateLink_EN",
                              "WhatsNewLink_EN"};
    QCOMPARE(values.size(), keys.size());
    for (const QString &k : keys)
        QVERIFY2(!values.value(k).isEmpty(), qPrintable(k));
    QVERIFY(values.value("EmailToSupport").section('@', 1).endsWith(".invalid"));
    for (const char *k : {"SubmitEnquiryLink", "ViewSupportLink", "KBLink", "SupportLink_EN",
                          "UpdateLink_EN", "WhatsNewLink_EN"}) {
        const QUrl url(values.value(QLatin1String(k)));
        QVERIFY2(url.scheme() == QLatin1String("https") && url.host().endsWith(".invalid"), k);
    }
    QVERIFY(values.value("UpdateLink_EN").endsWith('/')); // file names are appended to it
}

void StartupTest::shippedAgreementPdf()
{
    const QString help = DeriveStartupPaths(BuiltAppDir(), bForappstore).helpFilePath;
    const QByteArray pdf = ReadAll(help + "/Eula.pdf");
    QVERIFY(pdf.startsWith("%PDF-1."));
    QVERIFY(pdf.right(16).contains("%%EOF"));
    QVERIFY(ReadAll(help + "/Eula.txt").contains(EditionName().toUtf8()));
}

QTEST_MAIN(StartupTest)
#include "tst_startup.moc"
