// The About box: what it shows of the edition, the system and the settings file, the support link
// built from settings values of any content, and the licence button.

#include "platform/DesktopOpener.h"
#include "platform/Edition.h"
#include "shell/AboutDlg.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"

#include <QLabel>
#include <QPushButton>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QtTest>

namespace {

bool writePlist(const QString &path, const QList<QPair<QString, QString>> &values)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto &value : values)
        xml += "\t<key>" + value.first.toHtmlEscaped().toUtf8() + "</key>\n\t<string>"
            + value.second.toHtmlEscaped().toUtf8() + "</string>\n";
    xml += "</dict>\n</plist>\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(xml) == xml.size();
}

QString labelText(const QDialog &dialog, const char *name)
{
    auto *label = dialog.findChild<QLabel *>(QLatin1String(name));
    return label ? label->text() : QStringLiteral("<missing>");
}

// The first anchor of an HTML text: its href and its visible text, as a browser would read them.
QPair<QString, QString> firstAnchor(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.charFormat().isAnchor())
                return {fragment.charFormat().anchorHref(), fragment.text()};
        }
    }
    return {};
}

} // namespace

class AboutDlgTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void showsEditionAndSystem();
    void noticeLine_data();
    void noticeLine();
    void supportLinkIsEscaped_data();
    void supportLinkIsEscaped();
    void licenseOpensEulaPdf();
    void escapeAndLanguageChangeKeepIt();

private:
    QTemporaryDir m_dir;
    QList<QUrl> m_opened;
};

void AboutDlgTest::init()
{
    QVERIFY(m_dir.isValid());
    strPlistPath = m_dir.filePath(QStringLiteral("Corvask.plist"));
    HelpFilePath = m_dir.filePath(QStringLiteral("Help Files #1"));
    QFile::remove(strPlistPath);
    m_opened.clear();
    DesktopOpener::hook = [this](const QUrl &url) {
        m_opened << url;
        return true;
    };
}

void AboutDlgTest::cleanup()
{
    DesktopOpener::hook = nullptr;
}

void AboutDlgTest::showsEditionAndSystem()
{
    AboutDlg about;
    QCOMPARE(about.windowTitle(), EditionName());
    QCOMPARE(labelText(about, "label_18"), EditionName());
    QCOMPARE(labelText(about, "label"), QStringLiteral("About"));
    QCOMPARE(labelText(about, "label_17"), bForappstore ? QStringLiteral("3.0.0") : QStringLiteral("3.0.0.0"));
    QCOMPARE(labelText(about, "OSLabel"), QSysInfo::prettyProductName());
    const QString version = QSysInfo::productVersion();
    QCOMPARE(labelText(about, "VersionLabel"), version == QLatin1String("unknown") ? QString() : version);
    // The form's size is the least; the size the texts need is fixed.
    QVERIFY(about.width() >= 602 && about.height() >= 368);
    QCOMPARE(about.maximumSize(), about.size());
    QVERIFY(about.windowFlags() & Qt::FramelessWindowHint);
    auto *license = about.findChild<QPushButton *>(QStringLiteral("LicenseButton"));
    auto *close = about.findChild<QPushButton *>(QStringLiteral("CloseButton"));
    QVERIFY(license && close);
    QCOMPARE(license->isHidden(), bForappstore);
    const QRect closeForm(bForappstore ? 23 : 200, 282, 83, 26);
    QVERIFY(close->x() >= closeForm.x() && close->y() >= closeForm.y());
    QVERIFY(close->width() >= closeForm.width() && close->height() >= closeForm.height());
}

void AboutDlgTest::noticeLine_data()
{
    QTest::addColumn<bool>("writeSettings");
    QTest::addColumn<QString>("copyright");
    QTest::addColumn<bool>("builtIn");
    QTest::newRow("from the settings file") << true << QStringLiteral("© Someone <b>bold</b>") << false;
    QTest::newRow("empty value gives the built-in notice") << true << QString() << true;
    QTest::newRow("no settings file gives the built-in notice") << false << QString() << true;
}

void AboutDlgTest::noticeLine()
{
    QFETCH(bool, writeSettings);
    QFETCH(QString, copyright);
    QFETCH(bool, builtIn);
    if (writeSettings)
        QVERIFY(writePlist(strPlistPath, {{QStringLiteral("CopyrightText"), copyright}}));
    AboutDlg about;
    auto *notice = about.findChild<QLabel *>(QStringLiteral("label_12"));
    QVERIFY(notice);
    if (builtIn) {
        QVERIFY(!notice->text().isEmpty());
    } else {
        QCOMPARE(notice->text(), copyright);
        QCOMPARE(notice->textFormat(), Qt::PlainText);
    }
}

void AboutDlgTest::supportLinkIsEscaped_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("link");
    QTest::newRow("ordinary") << "Corvask Support" << "https://support.corvask.invalid/olm";
    QTest::newRow("quote in the address cannot end the attribute")
        << "Support" << "https://support.corvask.invalid/\" onclick=\"x";
    QTest::newRow("markup in the name shows as text") << "<b>Support</b> & <i>more</i>"
                                                      << "https://support.corvask.invalid/";
    QTest::newRow("ampersands in the query") << "Help" << "https://support.corvask.invalid/?a=1&b=2&amp;c";
    QTest::newRow("non-ASCII") << QStringLiteral("Unterstützung") << QStringLiteral("https://support.corvask.invalid/hilfe/ü");
    QTest::newRow("closing anchor in the name") << "x</a><a href=\"evil\">y" << "https://support.corvask.invalid/";
}

void AboutDlgTest::supportLinkIsEscaped()
{
    QFETCH(QString, name);
    QFETCH(QString, link);
    QVERIFY(writePlist(strPlistPath, {{QStringLiteral("SupportName_EN"), name}, {QStringLiteral("SupportLink_EN"), link}}));
    AboutDlg about;
    auto *support = about.findChild<QLabel *>(QStringLiteral("SupportBtn"));
    QVERIFY(support);
    QCOMPARE(support->textFormat(), Qt::RichText);
    const auto anchor = firstAnchor(support->text());
    QCOMPARE(anchor.first, link);
    QCOMPARE(anchor.second, name);
    // Activating the link hands exactly that address to the desktop.
    Q_EMIT support->linkActivated(anchor.first);
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().toString(), QUrl(link, QUrl::TolerantMode).toString());
}

void AboutDlgTest::licenseOpensEulaPdf()
{
    QStringList messages;
    ShellHooks::messageBox = [&messages](const QString &text, const QString &) { messages << text; };
    AboutDlg about;
    const QString eula = HelpFilePath + QStringLiteral("/Eula.pdf");
    // Missing: the user is told which file, and nothing is handed to the desktop.
    about.OpenLicense();
    QVERIFY(m_opened.isEmpty());
    QCOMPARE(messages, QStringList{QStringLiteral("\nThis file could not be opened:\n") + eula});
    messages.clear();
    QVERIFY(QDir().mkpath(HelpFilePath));
    QFile file(eula);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    about.OpenLicense();
    ShellHooks::messageBox = nullptr;
    QVERIFY(messages.isEmpty());
    QCOMPARE(m_opened.size(), 1);
    QVERIFY(m_opened.first().isLocalFile());
    QCOMPARE(m_opened.first().toLocalFile(), eula);
}

void AboutDlgTest::escapeAndLanguageChangeKeepIt()
{
    QVERIFY(writePlist(strPlistPath, {{QStringLiteral("SupportName_EN"), QStringLiteral("Support")},
                                      {QStringLiteral("SupportLink_EN"), QStringLiteral("https://s.corvask.invalid/")}}));
    AboutDlg about;
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QTest::keyClick(&about, Qt::Key_Escape);
    QVERIFY(about.isVisible());
    const QStringList names{QStringLiteral("label"), QStringLiteral("label_18"), QStringLiteral("label_17"),
                            QStringLiteral("OSLabel"), QStringLiteral("VersionLabel"), QStringLiteral("SupportBtn"),
                            QStringLiteral("label_12"), QStringLiteral("label_20")};
    QStringList before;
    for (const QString &name : names)
        before << labelText(about, name.toLatin1().constData());
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(&about, &change);
    QStringList after;
    for (const QString &name : names)
        after << labelText(about, name.toLatin1().constData());
    QCOMPARE(after, before);
    QCOMPARE(about.windowTitle(), EditionName());
    QTest::mouseClick(about.findChild<QPushButton *>(QStringLiteral("CloseButton")), Qt::LeftButton);
    QVERIFY(!about.isVisible());
}

QTEST_MAIN(AboutDlgTest)
#include "tst_aboutdlg.moc"
