// The item lists a folder click fills: every folder of the sample lists exactly its items with
// their texts and keys; a folder of 20,000 mails fills while the window stays responsive, and a
// newer click or a clean-up during that fill never touches a freed record.

#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "TestArchiveBuilder.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "browse/ItemListMailRow.h"
#include "save/mail/MailHeaders.h"
#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include "WindowTestUtil.h"

#include <QtTest>

namespace {

constexpr int kBigFolder = 20000;

template <typename T>
T *recordAt(T *head, qint64 position)
{
    for (T *p = head; p; p = p->pNext, --position) {
        if (position == 0)
            return p;
    }
    return nullptr;
}

QList<QTreeWidgetItem *> rows(QTreeWidget *list)
{
    QList<QTreeWidgetItem *> all;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        all << list->topLevelItem(i);
    return all;
}

QString labelText(QTreeWidget *list, QTreeWidgetItem *row, const char *name)
{
    QWidget *widget = EnsureMailRowWidget(list, row);
    QLabel *label = widget ? widget->findChild<QLabel *>(QLatin1String(name)) : nullptr;
    return label ? label->text() : QStringLiteral("<no label>");
}

QByteArray bigArchive()
{
    TestArchiveBuilder b;
    for (int i = 0; i < kBigFolder; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Message %1").arg(i);
        m.body = QStringLiteral("Body %1").arg(i);
        m.from = {{QStringLiteral("s@example.org"), QStringLiteral("Sender")}};
        b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Inbox/message_%1.xml").arg(i, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({m}));
    }
    OlmXml::MailItem d;
    d.subject = QStringLiteral("Draft");
    b.addEntry(QStringLiteral("Local/com.microsoft.__Messages/Drafts/message_00000.xml"), OlmXml::emails({d}));
    return b.finish();
}

MailMLRC mailWith(quint8 outgoing, quint32 sent, quint32 received)
{
    MailMLRC m{};
    m.bOutgoing = outgoing;
    m.dwSentTime = m.dwSentTimeCopy = sent;
    m.dwReceivedTime = m.dwReceivedTimeCopy = received;
    return m;
}

} // namespace

class ItemListsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void senderText_data();
    void senderText();
    void dateSeconds_data();
    void dateSeconds();
    void snippet_data();
    void snippet();
    void sampleFoldersListTheirItems_data();
    void sampleFoldersListTheirItems();
    void everyRecordListedOnce();
    void mailRowTextsFit();
    void headerResizeFollowsRows();
    void contactsWithoutNames();
    void bigFolderKeepsWindowResponsive();
    void newerClickOrCleanUpStopsFill();

private:
    void open(QZovuvozivMainWindow &w, const QString &path);
    void click(QZovuvozivMainWindow &w, QTreeWidgetItem *folder);
    QTreeWidget *sampleInboxList(QZovuvozivMainWindow &w);
    QTemporaryDir m_dir;
    QString m_bigPath;
};

void ItemListsTest::initTestCase()
{
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QVERIFY(m_dir.isValid());
    m_bigPath = m_dir.filePath(QStringLiteral("big.olm"));
    QFile f(m_bigPath);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bigArchive());
}

void ItemListsTest::open(QZovuvozivMainWindow &w, const QString &path)
{
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    startScanInWindow(w, path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 60000);
    peer(w).m_pInformationDlg->close();
    // The log report's times are the scan's own.
    QVERIFY(g_scanStartedAt >= before && g_scanEndedAt >= g_scanStartedAt);
    QVERIFY(g_scanEndedAt <= QDateTime::currentDateTime());
}

void ItemListsTest::click(QZovuvozivMainWindow &w, QTreeWidgetItem *folder)
{
    w.parseDatabase()->ShowindivisualMailItemsInfo(folder, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning(), 20000);
}

// The sample opened and its Inbox shown; null when there is no Inbox or it shows no rows.
QTreeWidget *ItemListsTest::sampleInboxList(QZovuvozivMainWindow &w)
{
    open(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QTreeWidgetItem *inbox = folderNamed(w.panes().folderTree, QStringLiteral("Inbox"));
    if (!inbox)
        return nullptr;
    click(w, inbox);
    QTreeWidget *list = w.panes().itemList;
    return list->topLevelItemCount() > 0 ? list : nullptr;
}

void ItemListsTest::senderText_data()
{
    QTest::addColumn<QByteArray>("names");
    QTest::addColumn<QString>("shown");
    QTest::newRow("absent") << QByteArray() << QString();
    QTest::newRow("one") << QByteArray("Ann Lee;") << QStringLiteral("Ann Lee");
    QTest::newRow("one without end") << QByteArray("Ann") << QStringLiteral("Ann");
    QTest::newRow("two") << QByteArray("Ann;Bob;") << QStringLiteral("Bob");
    QTest::newRow("three") << QByteArray("Ann;Bob;Cy Ng;") << QStringLiteral("Cy Ng");
    // The scan keeps names as single bytes: they read back as Latin-1.
    QTest::newRow("accented") << QByteArray("Ren\xc3\xa9;") << QStringLiteral("Ren\u00e9");
    QTest::newRow("Korean") << QByteArray("\xec\x96\x91\xec\xa0\x95\xec\x84\x9d;") << QString::fromUtf8("양정석");
    QTest::newRow("comma and quotes kept") << QByteArray("O'Brien, Pat;Team \"Core\";") << QStringLiteral("Team \"Core\"");
}

void ItemListsTest::senderText()
{
    QFETCH(QByteArray, names);
    QFETCH(QString, shown);
    QCOMPARE(MailSenderText(names.isNull() ? nullptr : names.constData()), shown);
}

void ItemListsTest::dateSeconds_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<int>("outgoing");
    QTest::addColumn<int>("sent");
    QTest::addColumn<int>("received");
    QTest::addColumn<int>("seconds");
    const QString p = QStringLiteral("Local/com.microsoft.__Messages/");
    // The time the folder words pick, else the other one, as the writers' Date header has it.
    QTest::newRow("outgoing mark") << p + "Inbox/m.xml" << int('-') << 5 << 7 << 5;
    QTest::newRow("outgoing mark without sent time") << p + "Archive/m.xml" << int('-') << 0 << 7 << 7;
    QTest::newRow("sent items") << p + "Sent Items/m.xml" << 0 << 5 << 7 << 5;
    QTest::newRow("sent before inbox") << p + "Sent Items/Inbox/m.xml" << 0 << 5 << 7 << 5;
    QTest::newRow("inbox") << p + "Inbox/m.xml" << 1 << 5 << 7 << 7;
    QTest::newRow("inbox without received time") << p + "Inbox/m.xml" << 1 << 5 << 0 << 5;
    QTest::newRow("deleted outgoing") << p + "Deleted Items/m.xml" << 1 << 5 << 7 << 5;
    QTest::newRow("deleted incoming") << p + "Deleted Items/m.xml" << 0 << 5 << 7 << 7;
    QTest::newRow("deleted other direction") << p + "Deleted Items/m.xml" << 2 << 5 << 7 << 7;
    QTest::newRow("drafts") << p + "Drafts/m.xml" << 0 << 5 << 7 << 5;
    QTest::newRow("drafts without sent time") << p + "Drafts/m.xml" << 0 << 0 << 7 << 7;
    QTest::newRow("other with sent") << p + "Work/m.xml" << 0 << 5 << 7 << 5;
    QTest::newRow("other with received") << p + "Work/m.xml" << 0 << 0 << 7 << 7;
    QTest::newRow("other without times") << p + "Work/m.xml" << 0 << 0 << 0 << 0;
    QTest::newRow("lower case inbox") << p + "inbox/m.xml" << 0 << 5 << 7 << 5;
}

void ItemListsTest::dateSeconds()
{
    QFETCH(QString, entry);
    QFETCH(int, outgoing);
    QFETCH(int, sent);
    QFETCH(int, received);
    QFETCH(int, seconds);
    const MailMLRC m = mailWith(quint8(outgoing), quint32(sent), quint32(received));
    QCOMPARE(MailDateSeconds(m, entry), quint32(seconds));
    QCOMPARE(MailDateText(m, entry), seconds ? QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime)
                                                   .toString(QStringLiteral("dd/MM/yyyy"))
                                             : QString());
    QCOMPARE(MailDateText(m, QString()), QString());
}

void ItemListsTest::snippet_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shown");
    QTest::newRow("escaped html") << QByteArray("&lt;p&gt;Hello&lt;/p&gt;\r\n&lt;p&gt;World &amp;amp; more&lt;/p&gt;")
                                  << QStringLiteral("Hello World & more");
    QTest::newRow("plain lines") << QByteArray("one\r\ntwo\n\n  three") << QStringLiteral("one two three");
    QTest::newRow("cut at nul") << QByteArray("kept\0dropped", 12) << QStringLiteral("kept");
    // The excerpt is what a reader sees: no style sheet, title or comment, references undone,
    // blocks and cells apart; a '<' that starts no tag is text.
    QTest::newRow("markup a reader does not see")
        << QByteArray("&lt;html&gt;&lt;head&gt;&lt;style&gt;p &gt; b {color:red}&lt;/style&gt;&lt;title&gt;T&lt;/title&gt;"
                      "&lt;/head&gt;&lt;body&gt;&lt;!-- c --&gt;&lt;p&gt;Hi&amp;nbsp;there &amp;#x263A; &amp;bogus;&lt;/p&gt;")
        << QString::fromUtf8("Hi there \u263A &bogus;");
    QTest::newRow("cells and blocks part words") << QByteArray("<table><tr><td>a</td><TD>b</td></tr></table>c<br/>d")
                                                 << QStringLiteral("a b c d");
    QTest::newRow("a lone less-than sign") << QByteArray("1 &lt; 2 &lt;") << QStringLiteral("1 < 2 <");
    // Only the start of a costly body is walked: the excerpt ends once it is full.
    QTest::newRow("deep markup before and after the text")
        << QByteArray("<div>").repeated(20000) + QByteArray(200, 'w') + QByteArray("<option><span>").repeated(35000)
        << QString(160, QLatin1Char('w'));
    QTest::newRow("zero-width space") << QByteArray("a\xe2\x80\x8b" "b") << QStringLiteral("ab");
    QTest::newRow("long") << QByteArray(400, 'x') << QString(160, QLatin1Char('x'));
    // A pair that would be split at 160 units is left out whole.
    QTest::newRow("surrogate pair at the cut") << QByteArray(159, 'y') + QByteArray("\xf0\x9f\x98\x80zz")
                                               << QString(159, QLatin1Char('y'));
}

void ItemListsTest::snippet()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, shown);
    QCOMPARE(MailSnippet(body), shown);
}

void ItemListsTest::sampleFoldersListTheirItems_data()
{
    // Folder, which of the folders of that name in tree order, row kind, the rows' texts (the
    // subjects for mails) and, for mails, the snippets ("*" = not compared).
    QTest::addColumn<QString>("folder");
    QTest::addColumn<int>("nth");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QStringList>("snippets");
    QTest::newRow("contacts") << "Address Book" << 0 << 41
                              << QStringList{"tom ", "Jane Doe", "Bart Simpson", "Test Followup", "privatw contact"}
                              << QStringList();
    QTest::newRow("calendar") << "Calendar" << 0 << 42
                              << QStringList{"This is a calendar entry", "Weekly Recurring meeting", "All day meeting",
                                             "Appointment in friends cat", "Daily recurring meeting", "Monthly recurring",
                                             "Yearly recurrence", "Private meeting"}
                              << QStringList();
    QTest::newRow("tasks") << "Tasks" << 0 << 43
                           << QStringList{"task1", "task in category", "recurring task", "recurring task", "task with followup"}
                           << QStringList();
    QTest::newRow("notes") << "Notes" << 0 << 44 << QStringList{"note 1"} << QStringList();
    QTest::newRow("inbox") << "Inbox" << 0 << 0
                           << QStringList{QStringLiteral("[ubuntu-ko] 우분투 시작 안내서의 10. Tips & Trick 의 번역이 일단락되었습니다.")}
                           << QStringList{"*"};
    QTest::newRow("drafts") << "Drafts" << 0 << 0
                            << QStringList{QStringLiteral("パーティーは何時ですか？"), "What time is party?",
                                           QStringLiteral("באיזה שעה המסיבה?")}
                            << QStringList{"*", "*", QStringLiteral("מה עלי להביא למסיבה? יַיִן? חֲטִיפִים?")};
    QTest::newRow("archive") << "Archive" << 0 << 0 << QStringList{"Email Test"} << QStringList{"1 2 3"};
    QTest::newRow("second drafts") << "Drafts" << 1 << 0
                                   << QStringList{"Draft with low priority", "Mail with followup"}
                                   << QStringList{"dfdfdfdfdfdf", ""};
}

void ItemListsTest::sampleFoldersListTheirItems()
{
    QFETCH(QString, folder);
    QFETCH(int, nth);
    QFETCH(int, kind);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, snippets);
    QZovuvozivMainWindow w;
    open(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QTreeWidgetItem *item = nullptr;
    for (QTreeWidgetItemIterator it(w.panes().folderTree); *it && !item; ++it) {
        if ((*it)->text(FolderColumnName) == folder && nth-- == 0)
            item = *it;
    }
    QVERIFY(item);
    click(w, item);
    QTreeWidget *list = w.panes().itemList;
    const QFontMetrics metrics(QFont(QStringLiteral("Lucida Grande"), 11));
    QStringList shown, expected, shownSnippets, expectedSnippets;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = list->topLevelItem(i);
        QCOMPARE(row->data(0, ItemKindRole).toInt(), kind);
        QCOMPARE(row->data(0, ItemFillSerialRole).toULongLong(), g_itemListFillSerial);
        QCOMPARE(row->text(7), kind ? QString::number(kind) : QString());
        if (kind) {
            shown << row->text(4);
            QCOMPARE(row->text(5).size(), 32);
            continue;
        }
        shown << labelText(list, row, "mailSubject");
        if (i < snippets.size() && snippets.at(i) != QLatin1String("*")) {
            shownSnippets << labelText(list, row, "mailSnippet");
            expectedSnippets << metrics.elidedText(snippets.at(i), Qt::ElideRight, 255);
        }
    }
    for (const QString &text : texts)
        expected << (kind ? text : metrics.elidedText(text, Qt::ElideRight, 190));
    QCOMPARE(shown, expected);
    QCOMPARE(shownSnippets, expectedSnippets);
    // The first row is the selected one.
    QCOMPARE(list->selectedItems(), QList<QTreeWidgetItem *>{list->topLevelItem(0)});
}

void ItemListsTest::everyRecordListedOnce()
{
    QZovuvozivMainWindow w;
    open(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QHash<int, QSet<qlonglong>> listed;
    QVector<QTreeWidgetItem *> folders;
    for (QTreeWidgetItemIterator it(w.panes().folderTree); *it; ++it)
        folders << *it;
    for (QTreeWidgetItem *folder : folders) {
        click(w, folder);
        const qint64 recordFolder = RecordFolderId(folder->text(FolderColumnId).toLongLong());
        QTreeWidget *list = w.panes().itemList;
        for (QTreeWidgetItem *row : rows(list)) {
            const int kind = row->data(0, ItemKindRole).toInt();
            const qlonglong at = row->data(0, ItemIndexRole).toLongLong();
            QVERIFY2(!listed[kind].contains(at), qPrintable(folder->text(0)));
            listed[kind].insert(at);
            switch (kind) {
            case FolderKindMail: {
                MailMLRC *m = recordAt(TmpMlrcPtrStart, at);
                QVERIFY(m);
                QCOMPARE(m->llFolderId, recordFolder);
                QCOMPARE(row->text(5), QString::number(m->llBodyOffset));
                QCOMPARE(row->text(6), QString::number(m->dwBodyLength));
                QCOMPARE(labelText(list, row, "mailSender"), MailSenderText(m->pFromNames));
                const QString subject = QString::fromUtf8(m->pSubject ? m->pSubject : "");
                const QString shown = labelText(list, row, "mailSubject");
                QVERIFY2(subject.isEmpty() ? shown == QLatin1String("No Subject")
                                           : subject.startsWith(shown.chopped(1)) || shown == subject,
                         qPrintable(shown));
                break;
            }
            case FolderKindContacts: {
                ContactInformation *c = recordAt(TmpCTRCPtrStart, at);
                QVERIFY(c);
                QCOMPARE(c->llFolderId, recordFolder);
                QCOMPARE(row->text(4), QString::fromUtf8(c->pFirstName ? c->pFirstName : "") + QLatin1Char(' ')
                                           + QString::fromUtf8(c->pLastName ? c->pLastName : ""));
                QCOMPARE(row->text(5), QString::fromLatin1(c->szUuid));
                break;
            }
            case FolderKindCalendar: {
                CalenderInformation *e = recordAt(TmpCLRCPtrStart, at);
                QVERIFY(e);
                QCOMPARE(e->llFolderId, recordFolder);
                QCOMPARE(row->text(4), QString::fromUtf8(e->pSummary ? e->pSummary : ""));
                QCOMPARE(row->text(5), QString::fromLatin1(e->szUuid));
                break;
            }
            case FolderKindTasks: {
                TasksInformation *t = recordAt(TmpTSRCPtrStart, at);
                QVERIFY(t);
                QCOMPARE(t->llFolderId, recordFolder);
                QCOMPARE(row->text(4), QString::fromUtf8(t->pName ? t->pName : ""));
                QCOMPARE(row->data(1, kItemIconRole).toString().isEmpty(), t->cPriority != '2');
                break;
            }
            case FolderKindNotes: {
                NotesInformation *n = recordAt(TmpNTRCPtrStart, at);
                QVERIFY(n);
                QCOMPARE(n->llFolderId, recordFolder);
                QCOMPARE(row->text(4), QString::fromUtf8(n->pTitle ? n->pTitle : ""));
                break;
            }
            default:
                QFAIL("unknown row kind");
            }
        }
    }
    QCOMPARE(listed.value(FolderKindMail).size(), 7);
    QCOMPARE(listed.value(FolderKindContacts).size(), 5);
    QCOMPARE(listed.value(FolderKindCalendar).size(), 8);
    QCOMPARE(listed.value(FolderKindTasks).size(), 5);
    QCOMPARE(listed.value(FolderKindNotes).size(), 1);
}

// Every line of every mail row shows whole at the system's fonts: no cut descender or date.
void ItemListsTest::mailRowTextsFit()
{
    QZovuvozivMainWindow w;
    QTreeWidget *list = sampleInboxList(w);
    QVERIFY(list);
    for (QTreeWidgetItem *row : rows(list)) {
        QWidget *widget = EnsureMailRowWidget(list, row);
        QVERIFY(widget);
        widget->ensurePolished();
        for (const char *name : {"mailSender", "mailSubject", "mailDate"}) {
            auto *label = widget->findChild<QLabel *>(QLatin1String(name));
            QVERIFY2(label, name);
            label->ensurePolished();   // the row's sheet sets the date's size
            QVERIFY2(label->sizeHint().height() <= label->height(), name);
            if (qstrcmp(name, "mailSubject") != 0)   // the subject is cut with an ellipsis instead
                QVERIFY2(label->sizeHint().width() <= label->width(), name);
        }
        QVERIFY(widget->minimumSizeHint().height() <= row->sizeHint(ItemColumnText).height());
    }
}

void ItemListsTest::headerResizeFollowsRows()
{
    QZovuvozivMainWindow w;
    QTreeWidget *list = sampleInboxList(w);
    QVERIFY(list);
    list->header()->resizeSection(4, 400);
    for (QTreeWidgetItem *row : rows(list)) {
        QWidget *widget = EnsureMailRowWidget(list, row);
        QCOMPARE(widget->minimumWidth(), 400);
        QLabel *snippet = widget->findChild<QLabel *>(QStringLiteral("mailSnippet"));
        if (!snippet->text().isEmpty())
            QCOMPARE(snippet->minimumWidth(), 390);
    }
    // A click on a contacts folder drops the rows and their handlers; resizing stays harmless.
    click(w, folderNamed(w.panes().folderTree, QStringLiteral("Address Book")));
    list->header()->resizeSection(4, 300);
    QVERIFY(list->topLevelItemCount() > 0);
}

void ItemListsTest::contactsWithoutNames()
{
    QZovuvozivMainWindow w;
    open(w, QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(TmpCTRCPtrStart && TmpCTRCPtrStart->pNext);
    // First contact: no names kept but an element in the archive -> listed by the name its
    // element holds, as its card is. Second: no names and no element -> not listed, and the next
    // one is the second row.
    for (ContactInformation *c : {TmpCTRCPtrStart, TmpCTRCPtrStart->pNext}) {
        free(c->pFirstName);
        free(c->pLastName);
        c->pFirstName = c->pLastName = nullptr;
    }
    TmpCTRCPtrStart->pNext->dwItemLength = 0;
    click(w, folderNamed(w.panes().folderTree, QStringLiteral("Address Book")));
    QTreeWidget *list = w.panes().itemList;
    QCOMPARE(list->topLevelItemCount(), 4);
    QCOMPARE(list->topLevelItem(0)->text(4), QStringLiteral("tom"));
    QCOMPARE(list->topLevelItem(0)->data(0, ItemIndexRole).toLongLong(), 0);
    QCOMPARE(list->topLevelItem(1)->data(0, ItemIndexRole).toLongLong(), 2);
    QCOMPARE(list->topLevelItem(1)->text(4), QStringLiteral("Bart Simpson"));

    // A folder without items: nothing listed, nothing selected.
    click(w, w.panes().folderTree->topLevelItem(0));
    QCOMPARE(list->topLevelItemCount(), 0);
    QVERIFY(list->selectedItems().isEmpty());
}

void ItemListsTest::bigFolderKeepsWindowResponsive()
{
    QZovuvozivMainWindow w;
    w.show();
    open(w, m_bigPath);
    QTreeWidgetItem *inbox = folderNamed(w.panes().folderTree, QStringLiteral("Inbox"));
    QVERIFY(inbox);

    // The fill gives the event loop its turns between slices: counted as turns, not as times,
    // which a loaded machine stretches (the window bench measures the waits). A faster row
    // build means fewer slices of the same time, so only a few turns are asked for.
    int turns = 0;
    QTimer ticker;
    ticker.setInterval(0);
    connect(&ticker, &QTimer::timeout, [&] { ++turns; });
    ticker.start();
    w.parseDatabase()->ShowindivisualMailItemsInfo(inbox, 0);
    const int turnsAtStart = turns;
    QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning(), 60000);
    ticker.stop();

    QTreeWidget *list = w.panes().itemList;
    QCOMPARE(list->topLevelItemCount(), kBigFolder);
    QVERIFY2(turnsAtStart == 0 && turns >= 3, qPrintable(QString::number(turns)));
    QSet<qlonglong> keys;
    for (QTreeWidgetItem *row : rows(list))
        keys.insert(row->data(0, ItemIndexRole).toLongLong());
    QCOMPARE(keys.size(), kBigFolder);
    // Widgets exist for the rows in view only; scrolling brings them for the others.
    QVERIFY(MailRowWidget(list, list->topLevelItem(0)));
    QTreeWidgetItem *last = list->topLevelItem(kBigFolder - 1);
    QVERIFY(!MailRowWidget(list, last));
    list->scrollToItem(last);
    QTRY_VERIFY(MailRowWidget(list, last));
    QCOMPARE(labelText(list, last, "mailSubject"), QStringLiteral("Message %1").arg(kBigFolder - 1));
    QCOMPARE(labelText(list, last, "mailSender"), QStringLiteral("Sender"));
    QCOMPARE(labelText(list, last, "mailSnippet"), QStringLiteral("Body %1").arg(kBigFolder - 1));
    QCOMPARE(list->findChildren<QWidget *>(QStringLiteral("mailRow")).size() < 200, true);

    // Scrolled through end to end, the list keeps widgets for the rows in view and a margin only.
    QScrollBar *bar = list->verticalScrollBar();
    const int inView = list->viewport()->height() / list->visualItemRect(list->topLevelItem(0)).height() + 1;
    int most = 0;
    // A page at a time over the first screens, then in long jumps to the end.
    for (int value = 0; value <= bar->maximum(); value += value < 10 * bar->pageStep() ? bar->pageStep() : bar->maximum() / 40) {
        bar->setValue(value);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        most = qMax(most, list->viewport()->findChildren<QWidget *>(QStringLiteral("mailRow")).size());
    }
    QVERIFY2(most <= 3 * inView + 12, qPrintable(QStringLiteral("%1 row widgets for %2 rows in view").arg(most).arg(inView)));
    bar->setValue(0);
    QTRY_VERIFY(MailRowWidget(list, list->topLevelItem(0)));
}

void ItemListsTest::newerClickOrCleanUpStopsFill()
{
    QZovuvozivMainWindow w;
    open(w, m_bigPath);
    QTreeWidgetItem *inbox = folderNamed(w.panes().folderTree, QStringLiteral("Inbox"));
    QTreeWidgetItem *drafts = folderNamed(w.panes().folderTree, QStringLiteral("Drafts"));
    QVERIFY(inbox && drafts);
    QTreeWidget *list = w.panes().itemList;

    // A click on another folder queued while the big folder fills: only its row remains.
    w.parseDatabase()->ShowindivisualMailItemsInfo(inbox, 0);
    QTRY_VERIFY(list->topLevelItemCount() > 0);
    QVERIFY(ItemListFillRunning());
    QTimer::singleShot(0, w.parseDatabase(), [&] { w.parseDatabase()->ShowindivisualMailItemsInfo(drafts, 0); });
    QTRY_VERIFY(!ItemListFillRunning());
    QTest::qWait(100);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(labelText(list, list->topLevelItem(0), "mailSubject"), QStringLiteral("Draft"));

    // The clean-up of a new scan during the fill: the records go, the fill adds nothing more.
    w.parseDatabase()->ShowindivisualMailItemsInfo(inbox, 0);
    QTRY_VERIFY(list->topLevelItemCount() > 0);
    QVERIFY(ItemListFillRunning());
    QTimer::singleShot(0, [] { QParseDatabase::CleanListAndHash(); });
    QTRY_VERIFY(!TmpMlrcPtrStart);
    // The rows named the freed records: they go with them.
    QCOMPARE(list->topLevelItemCount(), 0);
    QTest::qWait(100);
    QVERIFY(!ItemListFillRunning());
    QCOMPARE(list->topLevelItemCount(), 0);
}

QTEST_MAIN(ItemListsTest)
#include "tst_itemlists.moc"
