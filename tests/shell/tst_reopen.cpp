// Archives opened one after another in one window: each open shows the new archive only, and
// what the archives before it held (records, rows, progress sheets) is given back. CI runs this
// under the leak checker, which reports whatever an open leaves behind unreachable.

#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "TestArchiveBuilder.h"
#include "WindowTestUtil.h"
#include "browse/ItemListFill.h"
#include "browse/MyButton1.h"
#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/QProgressInfo.h"
#include "shell/ShellResources.h"

#include <QGridLayout>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char kMessages[] = "Local/com.microsoft.__Messages/";

// An Inbox of `mails` mails, each with one attachment, whose subjects start with `tag`.
QByteArray inboxArchive(const QString &tag, int mails)
{
    TestArchiveBuilder b;
    for (int i = 0; i < mails; ++i) {
        OlmXml::MailItem mail;
        mail.subject = QStringLiteral("%1 %2").arg(tag).arg(i);
        mail.body = QStringLiteral("Body of ") + mail.subject;
        mail.sent = QStringLiteral("2006-01-11T17:17:59");
        mail.from = {{QStringLiteral("sender@example.org"), tag}};
        mail.to = {{QStringLiteral("to@example.org"), QStringLiteral("To")}};
        const QString url =
            QLatin1String(kMessages) + QStringLiteral("Inbox/com.microsoft.__Attachments/%1_%2").arg(tag).arg(i);
        b.addEntry(url, QByteArray(500, 'a'));
        mail.attachmentNames << QStringLiteral("%1.pdf").arg(tag);
        mail.attachmentUrls << url;
        b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({mail}));
    }
    return b.finish();
}

}  // namespace

class ReopenTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void threeArchivesInTurn();

private:
    QTemporaryDir m_dir;
};

void ReopenTest::initTestCase()
{
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QVERIFY(m_dir.isValid());
}

// Each archive's Inbox lists its own mails, previews its own tiles, and leaves one progress sheet
// and one summary behind it at most, however many archives were opened before. A list that held
// many rows is replaced by a fresh one in its place when the next archive opens, and goes.
void ReopenTest::threeArchivesInTurn()
{
    const ItemListRenewRows renewPast(10);
    const struct {
        const char *tag;
        int mails;
        bool renewed;  // the list the archive before it filled had 10 rows or more
    } archives[] = {{"First", 40, false}, {"Second", 7, true}, {"Third", 25, false}};
    QZovuvozivMainWindow w;
    w.resize(1050, 640);
    w.show();
    QPointer<QTreeWidget> before = w.panes().itemList;
    for (const auto &a : archives) {
        const QString tag = QLatin1String(a.tag);
        const QString path = m_dir.filePath(tag + QStringLiteral(".olm"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(inboxArchive(tag, a.mails));
        f.close();

        startScanInWindow(w, path);
        QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 30000);
        QTRY_VERIFY(!bProcessRunning);
        peer(w).m_pInformationDlg->close();
        QCOMPARE(MailItemCount, qint64(a.mails));
        QTreeWidgetItem *inbox = folderNamed(w.panes().folderTree, QStringLiteral("Inbox"));
        QVERIFY(inbox);
        w.parseDatabase()->ShowindivisualMailItemsInfo(inbox, 0);
        QTRY_VERIFY(!ItemListFillRunning());
        QTreeWidget *list = w.panes().itemList;
        QCOMPARE(list != before, a.renewed);
        QCOMPARE(list->parentWidget(), w.panes().folderTree->parentWidget());
        QVERIFY(list->isVisible());
        QCOMPARE(list->topLevelItemCount(), a.mails);
        list->setCurrentItem(list->topLevelItem(a.mails - 1));
        QTRY_VERIFY(w.panes().subjectLabel->text().startsWith(tag));
        QCOMPARE(w.panes().attachmentGrid->count(), 1);
        auto *tile = qobject_cast<MyButton1 *>(w.panes().attachmentGrid->itemAt(0)->widget());
        QVERIFY(tile);
        QCOMPARE(tile->m_pNameLabel->text(), tag + QStringLiteral(".pdf"));

        // Sheets of earlier runs are gone once the event loop has run.
        QTest::qWait(20);
        QCOMPARE(w.findChildren<QProgressInfo *>().size(), 1);
        QVERIFY(w.findChildren<InformationDlg *>().size() <= 1);
        QCOMPARE(w.findChildren<QTreeWidget *>(QStringLiteral("itemList")).size(), 1);
        if (a.renewed)
            QVERIFY(!before);
        before = list;
    }
}

QTEST_MAIN(ReopenTest)
#include "tst_reopen.moc"
