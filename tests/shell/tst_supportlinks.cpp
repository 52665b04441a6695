// The Help menu's links: each reads its settings key afresh and hands the address, as it stands,
// to the desktop; what cannot be opened is named in a message.

#include "platform/DesktopOpener.h"
#include "platform/Edition.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "shell/SupportLinks.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

bool writePlist(const QString &path, const QString &key, const QString &value)
{
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>"
        + key.toUtf8() + "</key>\n\t<string>" + value.toHtmlEscaped().toUtf8() + "</string>\n</dict>\n</plist>\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(xml) == xml.size();
}

struct Link {
    std::function<QString()> getter;
    std::function<void()> open;
};

Link linkFor(const QString &key)
{
    if (key == QLatin1String("SubmitEnquiryLink"))
        return {GetGenerateTicket, OnGenerateTicket};
    if (key == QLatin1String("EmailToSupport"))
        return {GetEmailSupport, OnEmailSupport};
    if (key == QLatin1String("ViewSupportLink"))
        return {GetViewSupport, OnViewSupport};
    return {GetKnowledgebase, OnKnowledgeBase};
}

} // namespace

class SupportLinksTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void opensSettingsAddress_data();
    void opensSettingsAddress();
    void rereadsAfterEdit();
    void missingSettingsFileOpensNothing();
    void refusedOpenIsNamed();
    void openerFailureIsNamed();
    void helpPages();

private:
    QTemporaryDir m_dir;
    QList<QUrl> m_opened;
    QStringList m_messages;
    bool m_openerWorks = true;
};

void SupportLinksTest::init()
{
    QVERIFY(m_dir.isValid());
    strPlistPath = m_dir.filePath(QStringLiteral("Corvask.plist"));
    QFile::remove(strPlistPath);
    m_opened.clear();
    m_messages.clear();
    m_openerWorks = true;
    DesktopOpener::hook = [this](const QUrl &url) {
        m_opened << url;
        return m_openerWorks;
    };
    ShellHooks::messageBox = [this](const QString &text, const QString &) { m_messages << text; };
}

void SupportLinksTest::cleanup()
{
    DesktopOpener::hook = nullptr;
    DesktopOpener::program.clear();
    ShellHooks::messageBox = nullptr;
}

void SupportLinksTest::opensSettingsAddress_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("opened");   // empty: nothing is opened

    QTest::newRow("enquiry form") << "SubmitEnquiryLink" << "https://support.corvask.invalid/enquiry"
                                  << "https://support.corvask.invalid/enquiry";
    QTest::newRow("mail to support") << "EmailToSupport" << "help@corvask.invalid" << "mailto:help@corvask.invalid";
    QTest::newRow("empty mail address still opens mailto:") << "EmailToSupport" << "" << "mailto:";
    QTest::newRow("support section") << "ViewSupportLink" << "https://support.corvask.invalid/olm"
                                     << "https://support.corvask.invalid/olm";
    QTest::newRow("knowledge base with a query") << "KBLink" << "https://kb.corvask.invalid/?q=olm&lang=en"
                                                 << "https://kb.corvask.invalid/?q=olm&lang=en";
    QTest::newRow("non-ASCII passes unchanged") << "KBLink" << QStringLiteral("https://kb.corvask.invalid/artikel/größe")
                                                << QStringLiteral("https://kb.corvask.invalid/artikel/größe");
    QTest::newRow("empty address opens nothing") << "ViewSupportLink" << "" << "";
    QTest::newRow("address that is no URL opens nothing") << "SubmitEnquiryLink" << "http://[broken" << "";
}

void SupportLinksTest::opensSettingsAddress()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, opened);
    QVERIFY(writePlist(strPlistPath, key, value));
    const Link link = linkFor(key);
    QCOMPARE(link.getter(), value);
    link.open();
    if (opened.isEmpty()) {
        // Nothing opens, and the user is told which address failed.
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(m_messages, QStringList{QString::fromLatin1(kOpenAddressFailedText)
                                             .arg(value.isEmpty() ? QString::fromLatin1(kNoAddressText) : value)});
        return;
    }
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().toString(), opened);
    QVERIFY(m_messages.isEmpty());
}

void SupportLinksTest::refusedOpenIsNamed()
{
    m_openerWorks = false;
    QVERIFY(writePlist(strPlistPath, QStringLiteral("KBLink"), QStringLiteral("https://kb.corvask.invalid/a")));
    OnKnowledgeBase();
    QCOMPARE(m_messages, QStringList{"\nThis address could not be opened:\nhttps://kb.corvask.invalid/a"});
    m_messages.clear();
    OpenHelp();
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages.first().endsWith(HelpPageAddress(bforQConverterFO, bForappstore)));
    // A file that is not there is never handed to the desktop, whose viewer would fail unseen.
    m_openerWorks = true;
    m_messages.clear();
    m_opened.clear();
    const QString missing = m_dir.filePath(QStringLiteral("none/Eula.pdf"));
    QVERIFY(!OpenFileOrTell(missing));
    QVERIFY(m_opened.isEmpty());
    QCOMPARE(m_messages, QStringList{QString::fromLatin1(kOpenFileFailedText).arg(missing)});
}

// The opener starts but finds nothing to open with (xdg-open's status 3): the help page and the
// licence file are named once it has ended.
void SupportLinksTest::openerFailureIsNamed()
{
    const QString opener = m_dir.filePath(QStringLiteral("opener"));
    const QString licence = m_dir.filePath(QStringLiteral("Eula.pdf"));
    for (const QString &path : {opener, licence}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\nexit 3\n") > 0);
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    DesktopOpener::hook = nullptr;
    DesktopOpener::program = opener;
    const QString help = HelpPageAddress(false, false);
    QVERIFY(OpenAddressOrTell(QUrl(help), help));
    QTRY_COMPARE(m_messages, QStringList{QString::fromLatin1(kOpenAddressFailedText).arg(help)});
    m_messages.clear();
    QVERIFY(OpenFileOrTell(licence));
    QTRY_COMPARE(m_messages, QStringList{QString::fromLatin1(kOpenFileFailedText).arg(licence)});
}

void SupportLinksTest::rereadsAfterEdit()
{
    QVERIFY(writePlist(strPlistPath, QStringLiteral("KBLink"), QStringLiteral("https://kb.corvask.invalid/a")));
    OnKnowledgeBase();
    QVERIFY(writePlist(strPlistPath, QStringLiteral("KBLink"), QStringLiteral("https://kb.corvask.invalid/changed")));
    OnKnowledgeBase();
    QCOMPARE(m_opened.size(), 2);
    QCOMPARE(m_opened.at(0).toString(), QStringLiteral("https://kb.corvask.invalid/a"));
    QCOMPARE(m_opened.at(1).toString(), QStringLiteral("https://kb.corvask.invalid/changed"));
}

void SupportLinksTest::missingSettingsFileOpensNothing()
{
    OnGenerateTicket();
    OnViewSupport();
    OnKnowledgeBase();
    QVERIFY(m_opened.isEmpty());
    QCOMPARE(m_messages.size(), 3);   // each says it had no address
    OnEmailSupport();
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().toString(), QStringLiteral("mailto:"));
}

void SupportLinksTest::helpPages()
{
    const QStringList pages{HelpPageAddress(true, false), HelpPageAddress(false, false), HelpPageAddress(false, true)};
    QCOMPARE(HelpPageAddress(true, true), pages.at(0));   // the converter has one page, store or not
    QCOMPARE(QSet<QString>(pages.begin(), pages.end()).size(), 3);
    for (const QString &page : pages) {
        const QUrl url(page);
        QVERIFY2(url.isValid() && url.host().endsWith(QLatin1String(".invalid")), qPrintable(page));
    }
    OpenHelp();
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().toString(), HelpPageAddress(bforQConverterFO, bForappstore));
}

QTEST_MAIN(SupportLinksTest)
#include "tst_supportlinks.moc"
