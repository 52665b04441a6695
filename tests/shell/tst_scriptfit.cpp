// Names in every script fit where the window shows them: the mail rows, the preview header and
// the attachment tiles take their heights from the text as drawn, fallback fonts included (CI
// installs a CJK font, as on any desktop that reads such mail). CTest runs this program twice:
// at the system's font resolution and, through QT_FONT_DPI, at fonts 25% larger. At the window's
// default sizes the preview shows its date whole and reaches its third tile through a visible
// scroll bar.

#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "TestArchiveBuilder.h"
#include "browse/BrowsePanes.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "browse/DrawnText.h"
#include "browse/ItemListMailRow.h"
#include "browse/MyButton1.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QProgressInfo.h"
#include "shell/SaveAsWindow.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include "WindowTestUtil.h"

#include <QtTest>

namespace {

struct ScriptMail {
    const char *script;
    const char *sender;
    const char *subject;
    const char *attachment;  // three attachments: this name with 1, 2 and 3 before the extension
    int ccCount = 0;         // recipients copied, each on its own address
};

const ScriptMail kMails[] = {
    {"Korean", "양정석 (홍길동)", "우분투 시작 안내서의 번역", "번역 안내서"},
    {"Chinese", "王小明", "會議記錄與預算審查", "會議記錄"},
    {"Japanese", "佐藤陽菜", "パーティーは何時ですか？", "見積書ファイル"},
    {"Hebrew", "דוד כהן", "באיזה שעה המסיבה?", "חשבונית"},
    {"Greek", "Γιώργος Παπαδόπουλος", "Ελληνικά: προϋπολογισμός", "έκθεση"},
    {"Greek, five lines", "Αικατερίνη Παπαδοπούλου-Καραγιάννη",
     "Ελληνικά: προϋπολογισμός του επόμενου έτους, συνάντηση της επιτροπής, έγκριση των δαπανών και των "
     "νέων έργων της περιφέρειας Αττικής, ενημέρωση των μελών και των συνεργατών για το πρόγραμμα",
     "πρόγραμμα"},
    {"Latin, long name", "Maximiliane-Wilhelmine von Hohenzollern", "Quarterly budget review", "budget", 3},
};

// The header shows a subject this long on more lines than it has.
const char kLongSubjectScript[] = "Greek, five lines";

const char kMessages[] = "Local/com.microsoft.__Messages/";

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QString attachmentName(const ScriptMail &m, int n)
{
    return text(m.attachment) + QString::number(n) + QStringLiteral(".pdf");
}

QByteArray scriptArchive()
{
    TestArchiveBuilder b;
    int index = 0;
    for (const ScriptMail &m : kMails) {
        OlmXml::MailItem mail;
        mail.subject = text(m.subject);
        mail.body = text(m.subject) + QStringLiteral(" ") + text(m.sender);
        mail.sent = QStringLiteral("2006-01-11T17:17:59");
        mail.from = {{QStringLiteral("sender%1@example.org").arg(index), text(m.sender)}};
        mail.to = {{QStringLiteral("to@example.org"), text(m.sender)}};
        for (int c = 0; c < m.ccCount; ++c)
            mail.cc << OlmXml::Address{QStringLiteral("copy%1.recipient@example.org").arg(c), QString()};
        for (int n = 1; n <= 3; ++n) {
            const QString url = QLatin1String(kMessages)
                                + QStringLiteral("Inbox/com.microsoft.__Attachments/a%1_%2").arg(index).arg(n);
            b.addEntry(url, QByteArray(1000 * n, 'x'));
            mail.attachmentNames << attachmentName(m, n);
            mail.attachmentUrls << url;
        }
        b.addEntry(QLatin1String(kMessages) + QStringLiteral("Inbox/message_%1.xml").arg(index++, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({mail}));
    }
    return b.finish();
}

// Mails of twelve recipients and two attachments, from senders that fit beside the date or not.
const char *const kManySenders[] = {"王小明 张伟 李娜 刘洋 陈静 杨帆",
                                    "Maximiliane-Wilhelmine von Hohenzollern-Sigmaringen", "Kari Nordmann", ""};
// A sender without a name, whose address of 90 characters has no dot to break after.
const char kLongAddress[] = "maximilianewilhelminevonhohenzollernsigmaringenundandereverwandte"
                            "ausdemhauseimwesten@localhost";
const char *const kManyTo[] = {
    "avraham.bendavid@example.co.il", "giorgos.papadopoulos@example.gr",
    "kari.nordmann@example.no",       "wang.xiaoming@example.cn",
    "sato.hina@example.jp",           "maximiliane-wilhelmine.hohenzollern-sigmaringen@example.de"};
const char *const kManyCc[] = {"ingrid.bjornstad@example.no", "eleni.georgiou@example.gr",
                               "david.cohen@example.co.il",   "li.na@example.cn",
                               "tanaka.yuki@example.jp",      "jeongseok.yang@example.kr"};

QByteArray manyRecipientsArchive()
{
    TestArchiveBuilder b;
    int index = 0;
    for (const char *sender : kManySenders) {
        OlmXml::MailItem mail;
        mail.subject = QStringLiteral("Budget review %1").arg(index);
        mail.body = mail.subject;
        mail.sent = QStringLiteral("2006-01-11T17:17:59");
        mail.from = {{QStringLiteral("sender@example.org"), text(sender)}};
        if (!*sender) {
            mail.from = {{QLatin1String(kLongAddress), QString()}};
            mail.to << OlmXml::Address{QLatin1String(kLongAddress), QString()};
        }
        for (const char *to : kManyTo)
            mail.to << OlmXml::Address{QLatin1String(to), QString()};
        for (const char *cc : kManyCc)
            mail.cc << OlmXml::Address{QLatin1String(cc), QString()};
        for (int n = 1; n <= 2; ++n) {
            const QString url =
                QLatin1String(kMessages) + QStringLiteral("Inbox/com.microsoft.__Attachments/m%1_%2").arg(index).arg(n);
            b.addEntry(url, QByteArray(2000 * n, 'x'));
            mail.attachmentNames << QStringLiteral("Budget review %1.pdf").arg(n);
            mail.attachmentUrls << url;
        }
        b.addEntry(QLatin1String(kMessages)
                       + QStringLiteral("Inbox/message_%1.xml").arg(index++, 5, 10, QLatin1Char('0')),
                   OlmXml::emails({mail}));
    }
    return b.finish();
}

// A label shows its text whole: as tall as the text as drawn, and as wide unless it elides.
QString labelFault(const QLabel *label, bool checkWidth = true)
{
    const QSize need = label->wordWrap() ? QSize(label->width(), label->heightForWidth(label->width()))
                                         : label->sizeHint();
    if (need.height() > label->height() || (checkWidth && need.width() > label->width()))
        return QStringLiteral("%1 \"%2\" needs %3x%4, has %5x%6")
            .arg(label->objectName(), label->text())
            .arg(need.width())
            .arg(need.height())
            .arg(label->width())
            .arg(label->height());
    return QString();
}

// The text whole, or its start with an ellipsis where the label cuts it to its width.
bool shownAs(const QString &shown, const QString &whole)
{
    return shown == whole || (shown.endsWith(QChar(0x2026)) && whole.startsWith(shown.chopped(1)));
}

// rect of widget inside ancestor's own rectangle.
QRect rectIn(const QWidget *widget, const QWidget *ancestor)
{
    return QRect(widget->mapTo(ancestor, QPoint(0, 0)), widget->size());
}

} // namespace

class ScriptFitTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void scriptsFit_data();
    void scriptsFit();
    void defaultWindowShowsDateAndEveryTile_data();
    void defaultWindowShowsDateAndEveryTile();
    void rowAndHeaderTextsApart_data();
    void rowAndHeaderTextsApart();
    void namesWholeWhereTheyFit_data();
    void namesWholeWhereTheyFit();
    void manyRecipientsInsideTheView_data();
    void manyRecipientsInsideTheView();
    void toolBarCaptionsClearOfIcons();
    void saveSheetsHoldTheirTexts();

private:
    void openInbox(QZovuvozivMainWindow &w);
    QTreeWidgetItem *rowOf(QZovuvozivMainWindow &w, const ScriptMail &m);
    QTemporaryDir m_dir;
    QString m_path;
    QString m_manyPath;
};

// Runs events until shape() gives the same rectangles for a few passes in a row (20 s at most).
template <typename Shape>
void settleShape(const Shape &shape)
{
    QElapsedTimer waited;
    waited.start();
    QVector<QRect> last = shape();
    for (int same = 0; same < 3 && waited.elapsed() < 20000;) {
        QTest::qWait(20);
        QCoreApplication::sendPostedEvents();
        const QVector<QRect> now = shape();
        same = now == last ? same + 1 : 0;
        last = now;
    }
}

// Runs events until the geometry of every widget under root stays the same for a few passes.
void settleGeometry(const QWidget *root)
{
    const auto shape = [root] {
        QVector<QRect> rects{root->geometry()};
        for (const QWidget *child : root->findChildren<QWidget *>())
            rects << child->geometry();
        return rects;
    };
    settleShape(shape);
}

// Runs events until the header's geometry stays the same for a few passes: on a loaded machine
// one pass of a fixed wait can leave its queued fits for the next scroll to run.
void settleHeader(const BrowsePanes &p)
{
    const auto shape = [&] {
        QVector<QRect> rects{p.senderLabel->geometry(),
                             p.dateLabel->geometry(),
                             p.subjectLabel->geometry(),
                             p.recipientsLabel->geometry(),
                             p.mailHeaderScroll->geometry(),
                             p.mailHeaderScroll->widget()->geometry(),
                             QRect(0, 0, p.mailHeaderScroll->verticalScrollBar()->maximum(),
                                   p.mailHeaderScroll->verticalScrollBar()->isVisible())};
        for (int i = 0; i < p.attachmentGrid->count(); ++i) {
            if (const QWidget *tile = p.attachmentGrid->itemAt(i)->widget())
                rects << tile->geometry();
        }
        return rects;
    };
    settleShape(shape);
}

void ScriptFitTest::initTestCase()
{
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    // Without a font for these scripts every name would be drawn as boxes in the Latin font,
    // and the fit would prove nothing.
    const QFontDatabase fonts;
    for (auto system : {QFontDatabase::Korean, QFontDatabase::Japanese, QFontDatabase::SimplifiedChinese})
        QVERIFY2(!fonts.families(system).isEmpty(), "no CJK font: install fonts-noto-cjk (.ci/install-deps)");
    QVERIFY(m_dir.isValid());
    m_path = m_dir.filePath(QStringLiteral("scripts.olm"));
    QFile f(m_path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(scriptArchive());
    f.close();
    m_manyPath = m_dir.filePath(QStringLiteral("many.olm"));
    QFile many(m_manyPath);
    QVERIFY(many.open(QIODevice::WriteOnly));
    many.write(manyRecipientsArchive());
    many.close();
    // The larger run must really draw larger.
    const int forced = qEnvironmentVariableIntValue("QT_FONT_DPI");
    if (forced > 0) {
        QWidget probe;
        QCOMPARE(probe.logicalDpiY(), forced);
    }
}

// The scan's summary lies on this window, centred on what the screen shows of it.
void summaryOnWindow(QZovuvozivMainWindow &w)
{
    const QRect shown = w.frameGeometry() & w.screen()->availableGeometry();
    const QRect summary = peer(w).m_pInformationDlg->frameGeometry();
    const QString where = QStringLiteral("summary %1,%2 %3x%4 on %5,%6 %7x%8")
                              .arg(summary.x()).arg(summary.y()).arg(summary.width()).arg(summary.height())
                              .arg(shown.x()).arg(shown.y()).arg(shown.width()).arg(shown.height());
    QVERIFY2(shown.contains(summary), qPrintable(where));
    QVERIFY2((summary.center() - shown.center()).manhattanLength() <= 2, qPrintable(where));
}

void ScriptFitTest::openInbox(QZovuvozivMainWindow &w)
{
    startScanInWindow(w, m_path);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 60000);
    summaryOnWindow(w);
    if (QTest::currentTestFailed())
        return;
    peer(w).m_pInformationDlg->close();
    QTreeWidgetItem *inbox = folderNamed(w.panes().folderTree, QStringLiteral("Inbox"));
    QVERIFY(inbox);
    w.parseDatabase()->ShowindivisualMailItemsInfo(inbox, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning(), 20000);
    QCOMPARE(w.panes().itemList->topLevelItemCount(), int(std::size(kMails)));
}

QTreeWidgetItem *ScriptFitTest::rowOf(QZovuvozivMainWindow &w, const ScriptMail &m)
{
    QTreeWidget *list = w.panes().itemList;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = list->topLevelItem(i);
        if (row->data(ItemColumnText, SubjectRole).toString() == text(m.subject))
            return row;
    }
    return nullptr;
}

void ScriptFitTest::scriptsFit_data()
{
    QTest::addColumn<int>("mail");
    for (int i = 0; i < int(std::size(kMails)); ++i)
        QTest::newRow(kMails[i].script) << i;
}

void ScriptFitTest::scriptsFit()
{
    QFETCH(int, mail);
    const ScriptMail &m = kMails[mail];
    QZovuvozivMainWindow w;
    w.resize(1050, 640);
    w.show();
    openInbox(w);
    QTreeWidget *list = w.panes().itemList;
    QTreeWidgetItem *row = rowOf(w, m);
    QVERIFY(row);
    QStringList faults;

    // The mail row: each line whole (the subject and snippet elide at their width), the row as
    // tall as its lines.
    QWidget *rowWidget = EnsureMailRowWidget(list, row);
    QVERIFY(rowWidget);
    rowWidget->ensurePolished();
    for (const char *name : {"mailSender", "mailSubject", "mailDate", "mailSnippet"}) {
        auto *label = rowWidget->findChild<QLabel *>(QLatin1String(name));
        QVERIFY2(label, name);
        label->ensurePolished();
        const bool elides = qstrcmp(name, "mailSubject") == 0 || qstrcmp(name, "mailSnippet") == 0;
        faults << labelFault(label, !elides);
    }
    QVERIFY(shownAs(rowWidget->findChild<QLabel *>(QStringLiteral("mailSender"))->text(), text(m.sender)));
    if (rowWidget->minimumSizeHint().height() > row->sizeHint(ItemColumnText).height())
        faults << QStringLiteral("row %1 high for lines of %2")
                      .arg(row->sizeHint(ItemColumnText).height())
                      .arg(rowWidget->minimumSizeHint().height());

    // The preview header: sender, date, subject and recipients whole.
    list->setCurrentItem(row);
    QTRY_VERIFY(shownAs(w.panes().subjectLabel->text(), text(m.subject)));
    settleHeader(w.panes());  // the header's layouts settle
    QVERIFY(shownAs(w.panes().senderLabel->text(), text(m.sender)));
    faults << labelFault(w.panes().senderLabel) << labelFault(w.panes().dateLabel)
           << labelFault(w.panes().subjectLabel) << labelFault(w.panes().recipientsLabel);

    // The tiles: name and size lines whole, the tile as tall as they are.
    QGridLayout *grid = w.panes().attachmentGrid;
    QCOMPARE(grid->count(), 3);
    for (int n = 0; n < 3; ++n) {
        auto *tile = qobject_cast<MyButton1 *>(grid->itemAt(n)->widget());
        QVERIFY(tile);
        QVERIFY(shownAs(tile->m_pNameLabel->text(), attachmentName(m, n + 1)));
        faults << labelFault(tile->m_pNameLabel) << labelFault(tile->m_pSizeLabel);
        if (tile->height() < tile->layout()->totalMinimumSize().height())
            faults << QStringLiteral("tile %1 high for lines of %2")
                          .arg(tile->height())
                          .arg(tile->layout()->totalMinimumSize().height());
    }
    faults.removeAll(QString());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void ScriptFitTest::defaultWindowShowsDateAndEveryTile_data()
{
    // The window's sizes as the program opens it: just after the licence was agreed, and later.
    QTest::addColumn<int>("least");
    QTest::newRow("after the agreement") << 900;
    QTest::newRow("later starts") << 1050;
}

void ScriptFitTest::defaultWindowShowsDateAndEveryTile()
{
    QFETCH(int, least);
    QZovuvozivMainWindow w;
    w.setMinimumSize(least, 640);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    openInbox(w);
    QTreeWidget *list = w.panes().itemList;
    list->setCurrentItem(rowOf(w, kMails[0]));
    QTRY_COMPARE(w.panes().subjectLabel->text(), text(kMails[0].subject));
    settleHeader(w.panes());  // the header's layouts settle

    // The date whole, inside the header's view and inside the window.
    const QLabel *date = w.panes().dateLabel;
    QScrollArea *area = w.panes().mailHeaderScroll;
    const QDateTime sent = QDateTime::fromSecsSinceEpoch(1136999879, Qt::LocalTime);  // 2006-01-11T17:17:59Z
    QCOMPARE(date->text(), QLocale::c().toString(sent, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss AP")));
    QVERIFY2(labelFault(date).isEmpty(), qPrintable(labelFault(date)));
    QVERIFY2(area->viewport()->rect().contains(rectIn(date, area->viewport())), qPrintable(QStringLiteral("%1,%2 %3x%4 in %5x%6").arg(rectIn(date, area->viewport()).x()).arg(rectIn(date, area->viewport()).y()).arg(date->width()).arg(date->height()).arg(area->viewport()->width()).arg(area->viewport()->height())));
    QVERIFY(w.rect().contains(rectIn(date, &w)));

    // The third tile, below the first row or two, through a bar the window shows.
    QScrollBar *bar = area->verticalScrollBar();
    QTRY_VERIFY(bar->isVisible());
    QVERIFY(w.rect().contains(rectIn(bar, &w)));
    QVERIFY(bar->maximum() > 0);
    QWidget *third = w.panes().attachmentGrid->itemAt(2)->widget();
    QVERIFY(third);
    QVERIFY(!area->viewport()->rect().contains(rectIn(third, area->viewport())));
    bar->setValue(bar->maximum());
    QCoreApplication::processEvents();
    QVERIFY(area->viewport()->rect().contains(rectIn(third, area->viewport())));
    QVERIFY(w.rect().contains(rectIn(third, &w)));
}

void ScriptFitTest::rowAndHeaderTextsApart_data()
{
    QTest::addColumn<int>("mail");
    QTest::addColumn<int>("width");
    for (int width : {902, 1050}) {
        for (int i = 0; i < int(std::size(kMails)); ++i)
            QTest::addRow("%s, %d px", kMails[i].script, width) << i << width;
    }
}

// At the first start's width and a wider one: in the list row the subject ends before the date;
// in the header the sender keeps at least its first word beside the date or above it, and a
// subject longer than the header's lines ends in an ellipsis, whole in its tooltip. No text is
// cut through a line.
void ScriptFitTest::rowAndHeaderTextsApart()
{
    QFETCH(int, mail);
    QFETCH(int, width);
    const ScriptMail &m = kMails[mail];
    QZovuvozivMainWindow w;
    w.resize(width, 640);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    openInbox(w);
    QTreeWidget *list = w.panes().itemList;
    QTreeWidgetItem *row = rowOf(w, m);
    QVERIFY(row);
    list->scrollToItem(row);
    QWidget *rowWidget = EnsureMailRowWidget(list, row);
    QVERIFY(rowWidget);
    QCoreApplication::processEvents();
    const auto *subject = rowWidget->findChild<QLabel *>(QStringLiteral("mailSubject"));
    const auto *date = rowWidget->findChild<QLabel *>(QStringLiteral("mailDate"));
    QStringList faults;
    if (rectIn(subject, rowWidget).right() >= rectIn(date, rowWidget).left())
        faults << QStringLiteral("row subject ends at %1, date starts at %2")
                      .arg(rectIn(subject, rowWidget).right())
                      .arg(rectIn(date, rowWidget).left());
    faults << labelFault(subject) << labelFault(date);
    if (!rowWidget->rect().contains(rectIn(date, rowWidget)))
        faults << QStringLiteral("row date outside its row");

    list->setCurrentItem(row);
    QTRY_VERIFY(shownAs(w.panes().subjectLabel->text(), text(m.subject)));
    settleHeader(w.panes());  // the header's layouts settle
    const QLabel *sender = w.panes().senderLabel;
    const QLabel *headerDate = w.panes().dateLabel;
    const QString firstWord = text(m.sender).section(QLatin1Char(' '), 0, 0);
    if (!sender->text().startsWith(firstWord))
        faults << QStringLiteral("header sender \"%1\" lacks its first word").arg(sender->text());
    const QRect senderRect = rectIn(sender, sender->parentWidget());
    const QRect dateRect = rectIn(headerDate, sender->parentWidget());
    if (senderRect.intersects(dateRect))
        faults << QStringLiteral("header sender and date overlap");
    faults << labelFault(sender) << labelFault(headerDate) << labelFault(w.panes().subjectLabel);
    const QLabel *headerSubject = w.panes().subjectLabel;
    if (qstrcmp(m.script, kLongSubjectScript) == 0) {
        QVERIFY2(headerSubject->text().endsWith(QChar(0x2026)), qPrintable(headerSubject->text()));
        QCOMPARE(headerSubject->toolTip(), text(m.subject));
    } else {
        QCOMPARE(headerSubject->text(), text(m.subject));
    }
    faults.removeAll(QString());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void ScriptFitTest::namesWholeWhereTheyFit_data()
{
    QTest::addColumn<int>("width");
    QTest::newRow("902 px") << 902;
    QTest::newRow("1050 px") << 1050;
}

namespace {

// The width a header label needs to show text on one line, its sheet's padding included.
int headerWidthNeeded(const QLabel *like, const QString &text)
{
    QLabel probe;
    probe.setFont(like->font());
    probe.setStyleSheet(like->styleSheet());
    probe.setTextFormat(Qt::PlainText);
    probe.setText(text);
    probe.ensurePolished();
    return probe.sizeHint().width();
}

// Whether widget lies within view from its top to its bottom.
bool wholeInHeight(const QWidget *widget, const QWidget *view)
{
    const QRect r = rectIn(widget, view);
    return r.top() >= 0 && r.bottom() < view->height();
}

}  // namespace

// A name that fits is shown whole: in every list row from the list's first paint (no row
// scrolled away and back), and in the header, where the sender has what the date leaves it, or
// the whole width once the date has a line of its own. The header shows its lines and its first
// row of tiles whole at its top.
void ScriptFitTest::namesWholeWhereTheyFit()
{
    QFETCH(int, width);
    QZovuvozivMainWindow w;
    w.resize(width, 640);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    openInbox(w);
    settleGeometry(w.panes().itemList);
    QTreeWidget *list = w.panes().itemList;
    QStringList faults;
    int rowsSeen = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *row = list->topLevelItem(i);
        QWidget *rowWidget = MailRowWidget(list, row);
        if (!rowWidget || !rowWidget->isVisible())
            continue;
        ++rowsSeen;
        const auto *sender = rowWidget->findChild<QLabel *>(QStringLiteral("mailSender"));
        const QString whole = row->data(ItemColumnText, SenderRole).toString();
        // The icons and margins beside it take less than 70 pixels.
        if (sender->width() < rowWidget->width() - 70)
            faults << QStringLiteral("row sender %1 wide in a row of %2").arg(sender->width()).arg(rowWidget->width());
        if (LabelLineWidth(sender, whole) <= sender->width() && sender->text() != whole)
            faults << QStringLiteral("row sender \"%1\" for \"%2\"").arg(sender->text(), whole);
    }
    QVERIFY(rowsSeen >= 3);

    QScrollArea *area = w.panes().mailHeaderScroll;
    for (const ScriptMail &m : kMails) {
        list->setCurrentItem(rowOf(w, m));
        QTRY_VERIFY(shownAs(w.panes().subjectLabel->text(), text(m.subject)));
        settleHeader(w.panes());  // the header's layouts settle
        const QLabel *sender = w.panes().senderLabel;
        const QLabel *date = w.panes().dateLabel;
        const bool dateBelow = date->y() >= sender->y() + sender->height();
        const int room = area->viewport()->width() - (dateBelow ? 0 : date->width());
        if (headerWidthNeeded(sender, text(m.sender)) <= room && sender->text() != text(m.sender))
            faults << QStringLiteral("header sender \"%1\" with %2 px free").arg(sender->text()).arg(room);
        if (sender->text() != text(m.sender) && sender->width() < room - 2)
            faults << QStringLiteral("header sender cut at %1 px of %2").arg(sender->width()).arg(room);
        const QWidget *firstTile = w.panes().attachmentGrid->itemAtPosition(0, 0)->widget();
        for (const QWidget *part : {static_cast<const QWidget *>(sender), static_cast<const QWidget *>(date),
                                    static_cast<const QWidget *>(w.panes().recipientsLabel), firstTile}) {
            if (!wholeInHeight(part, area->viewport()))
                faults << QStringLiteral("%1: %2 cut by the header's bottom at %3")
                              .arg(text(m.script), part->objectName())
                              .arg(area->viewport()->height());
        }
    }
    faults.removeAll(QString());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void ScriptFitTest::manyRecipientsInsideTheView_data()
{
    QTest::addColumn<int>("width");
    for (int width : {902, 1050, 1400})
        QTest::addRow("%d px", width) << width;
}

namespace {

// Where the label draws each of its lines (from the label's top) and how wide, and the width its
// text has: laid out as the label lays out its rich text.
struct DrawnLine {
    int top;
    int bottom;
    qreal width;
};

QVector<DrawnLine> drawnLines(const QLabel *label, qreal *room)
{
    QTextDocument document;
    document.setDefaultFont(label->font());
    // As the label wraps: at word boundaries only, never inside a word too long for a line.
    QTextOption option = document.defaultTextOption();
    option.setWrapMode(label->wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap);
    document.setDefaultTextOption(option);
    document.documentLayout()->setPaintDevice(const_cast<QLabel *>(label));
    document.setHtml(label->text());
    const QRect inner = label->contentsRect();
    document.setTextWidth(inner.width());
    *room = inner.width() - 2 * document.documentMargin();
    QVector<DrawnLine> lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const qreal top = document.documentLayout()->blockBoundingRect(block).top();
        for (int i = 0; i < block.layout()->lineCount(); ++i) {
            const QTextLine line = block.layout()->lineAt(i);
            lines.append({inner.top() + int(top + line.y()), inner.top() + int(top + line.y() + line.height()),
                          line.naturalTextWidth()});
        }
    }
    return lines;
}

// What the header's view cuts through at its top when scrolled to value: a line of the sender,
// date or recipients, or a tile, that starts above the view and ends inside it.
QString cutAtTop(const BrowsePanes &p, int value)
{
    QVector<QPair<QString, QPair<int, int>>> parts;
    for (const QLabel *label : {p.senderLabel, p.dateLabel})
        parts.append({label->objectName(), {label->y(), label->y() + label->height()}});
    qreal room = 0;
    const QLabel *recipients = p.recipientsLabel;
    for (const DrawnLine &line : drawnLines(recipients, &room))
        parts.append({QStringLiteral("recipients line"), {recipients->y() + line.top, recipients->y() + line.bottom}});
    for (int i = 0; i < p.attachmentGrid->count(); ++i) {
        const QWidget *tile = p.attachmentGrid->itemAt(i)->widget();
        parts.append({QStringLiteral("tile %1").arg(i), {tile->y(), tile->y() + tile->height()}});
    }
    for (const auto &part : parts) {
        // Nothing of the line above shows; a stop may pass a line's own start by the pixel or two
        // its line above reaches into it (blank room above its letters).
        if (part.second.first + 2 < value && value < part.second.second)
            return QStringLiteral("%1 (%2..%3) cut at %4")
                .arg(part.first)
                .arg(part.second.first)
                .arg(part.second.second)
                .arg(value);
    }
    return QString();
}

void wheel(QScrollArea *area, int steps)
{
    const QPoint at(20, 20);
    QWheelEvent event(at, area->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120 * steps), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(area->viewport(), &event);
}

}  // namespace

// A mail of twelve recipients and two attachments: every recipients line wraps inside the
// header's view, beside its bar when one shows; tiles lie inside the view, the first row whole
// where it is scrolled to; a sender that does not fit beside the date has a line above it; and
// the wheel, the keys and the bar stop only where the view's top line shows whole.
void ScriptFitTest::manyRecipientsInsideTheView()
{
    QFETCH(int, width);
    QZovuvozivMainWindow w;
    w.resize(width, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    startScanInWindow(w, m_manyPath);
    QTRY_VERIFY_WITH_TIMEOUT(peer(w).m_pInformationDlg != nullptr, 60000);
    summaryOnWindow(w);
    if (QTest::currentTestFailed())
        return;
    peer(w).m_pInformationDlg->close();
    QTreeWidgetItem *inbox = folderNamed(w.panes().folderTree, QStringLiteral("Inbox"));
    QVERIFY(inbox);
    w.parseDatabase()->ShowindivisualMailItemsInfo(inbox, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning(), 20000);
    QTreeWidget *list = w.panes().itemList;
    QCOMPARE(list->topLevelItemCount(), int(std::size(kManySenders)));
    const BrowsePanes &p = w.panes();
    QScrollArea *area = p.mailHeaderScroll;
    QScrollBar *bar = area->verticalScrollBar();
    QStringList faults;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        list->setCurrentItem(list->topLevelItem(i));
        QTRY_COMPARE(p.subjectLabel->text(), QStringLiteral("Budget review %1").arg(i));
        settleHeader(p);
        const QString sender = p.senderLabel->property("wholeSender").toString();
        QString mail = QStringLiteral("%1, %2 px: ").arg(sender).arg(width);
        const QWidget *rowWidget = EnsureMailRowWidget(list, list->topLevelItem(i));
        const QLabel *rowSender = rowWidget ? rowWidget->findChild<QLabel *>(QStringLiteral("mailSender")) : nullptr;
        if (!rowSender || rowSender->text().isEmpty())
            faults << mail + QStringLiteral("list row's sender blank");
        const auto checkLayout = [&] {
            const int view = area->viewport()->width();
            if (area->widget()->width() > view)
                faults << mail
                        + QStringLiteral("header %1 wide in a view of %2").arg(area->widget()->width()).arg(view);
            qreal room = 0;
            for (const DrawnLine &line : drawnLines(p.recipientsLabel, &room)) {
                if (line.width > room + 0.5)
                    faults << mail + QStringLiteral("recipients line %1 wide for %2").arg(line.width).arg(room);
            }
            if (rectIn(p.recipientsLabel, area->viewport()).right() >= view)
                faults << mail + QStringLiteral("recipients past the view's right edge");
            for (int t = 0; t < p.attachmentGrid->count(); ++t) {
                const QRect tile = rectIn(p.attachmentGrid->itemAt(t)->widget(), area->widget());
                if (tile.left() < 0 || tile.right() >= view || tile.bottom() >= area->widget()->height())
                    faults << mail
                            + QStringLiteral("tile %1 at %2..%3 in a view of %4")
                                  .arg(t)
                                  .arg(tile.left())
                                  .arg(tile.right())
                                  .arg(view);
            }

            const bool besideFits = headerWidthNeeded(p.senderLabel, sender) + p.dateLabel->sizeHint().width() <= view;
            const bool dateBelow = p.dateLabel->y() >= p.senderLabel->y() + p.senderLabel->height();
            if (dateBelow == besideFits)
                faults << mail
                        + (dateBelow ? QStringLiteral("date below a sender that fits beside it")
                                     : QStringLiteral("sender \"%1\" cut beside the date").arg(p.senderLabel->text()));
            if (sender.isEmpty() || p.senderLabel->text().isEmpty())
                faults << mail + QStringLiteral("sender line blank");
            if (headerWidthNeeded(p.senderLabel, sender) <= view && p.senderLabel->text() != sender)
                faults << mail + QStringLiteral("sender \"%1\" cut with %2 px").arg(p.senderLabel->text()).arg(view);
        };
        checkLayout();
        // And again after the window is made narrower or wider, and back.
        const int other = width == 1400 ? 902 : 1400;
        for (int size : {other, width}) {
            w.resize(size, 700);
            settleHeader(p);
            mail = QStringLiteral("%1, %2 px: ").arg(sender).arg(size);
            checkLayout();
        }

        // Down by wheel to the end and back, then by keys and the bar.
        const QWidget *firstTile = p.attachmentGrid->itemAtPosition(0, 0)->widget();
        bool firstTileSeen = wholeInHeight(firstTile, area->viewport());
        const auto step = [&](const std::function<void()> &scroll, const QString &how) {
            const int before = bar->value();
            scroll();
            QCoreApplication::processEvents();
            const QString cut = cutAtTop(p, bar->value());
            if (!cut.isEmpty())
                faults << mail + how + QStringLiteral(": ") + cut;
            firstTileSeen = firstTileSeen || wholeInHeight(firstTile, area->viewport());
            return bar->value() != before;
        };
        for (int n = 0; n < 40 && step([&] { wheel(area, 1); }, QStringLiteral("wheel down")); ++n) {
        }
        if (bar->value() != bar->maximum())
            faults << mail + QStringLiteral("wheel stopped at %1 of %2").arg(bar->value()).arg(bar->maximum());
        for (int n = 0; n < 40 && step([&] { wheel(area, -1); }, QStringLiteral("wheel up")); ++n) {
        }
        QCOMPARE(bar->value(), 0);
        for (int n = 0; n < 3; ++n) {
            step([&] { QTest::keyClick(area, Qt::Key_Down); }, QStringLiteral("key down"));
            step([&] { bar->triggerAction(QAbstractSlider::SliderSingleStepAdd); }, QStringLiteral("bar arrow"));
        }
        step([&] { bar->triggerAction(QAbstractSlider::SliderPageStepSub); }, QStringLiteral("bar page up"));
        step([&] { bar->triggerAction(QAbstractSlider::SliderPageStepAdd); }, QStringLiteral("bar page down"));
        if (!firstTileSeen)
            faults << mail + QStringLiteral("first tile never whole in the view");
    }
    faults.removeAll(QString());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

namespace {

// The lowest row of the icon's picture that is not transparent, as the button draws it (centred).
int iconInkBottom(const QToolButton *button)
{
    const QSize size = button->iconSize();
    const QImage image = button->icon().pixmap(size).toImage();
    int last = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0)
                last = y;
        }
    }
    return button->y() + (button->height() - image.height()) / 2 + last;
}

// The top of the caption's letters, as a label centres its line.
int captionInkTop(const QLabel *label)
{
    const QFontMetrics metrics = label->fontMetrics();
    const int lineTop = label->y() + (label->height() - metrics.height()) / 2;
    return lineTop + metrics.ascent() + metrics.tightBoundingRect(label->text()).top();
}

}  // namespace

// Every caption of the tool bar is written below its icon, two blank rows at least between them,
// all in one size, and whole inside the bar, clear of its bottom border.
void ScriptFitTest::toolBarCaptionsClearOfIcons()
{
    QZovuvozivMainWindow w;
    w.resize(902, 640);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *bar = w.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    QVERIFY(bar);
    settleGeometry(bar);  // the captions are placed after the bar's layout
    QStringList faults;
    const struct {
        const char *caption;
        const char *action;  // or the button's name
    } pairs[] = {{"Open", "actionOpenMailbox"},  {"Save", "actionSaveRepaired"}, {"Mail", "mailButton"},
                 {"Calendar", "calendarButton"}, {"People", "peopleButton"},     {"Tasks", "tasksButton"},
                 {"Notes", "notesButton"}};
    QList<qreal> sizes;
    for (const auto &pair : pairs) {
        const QLabel *caption = nullptr;
        for (const QLabel *label : bar->findChildren<QLabel *>()) {
            if (label->text() == QLatin1String(pair.caption))
                caption = label;
        }
        auto *action = w.findChild<QAction *>(QLatin1String(pair.action));
        auto *button = action ? qobject_cast<QToolButton *>(bar->widgetForAction(action))
                              : w.findChild<QToolButton *>(QLatin1String(pair.action));
        QVERIFY2(caption && button, pair.caption);
        sizes << caption->font().pointSizeF();
        if (sizes.first() != sizes.last())
            faults << QStringLiteral("\"%1\" in %2 pt, \"Open\" in %3 pt")
                          .arg(caption->text())
                          .arg(sizes.last())
                          .arg(sizes.first());
        if (captionInkTop(caption) <= iconInkBottom(button) + 2)
            faults << QStringLiteral("\"%1\" starts at %2, its icon ends at %3")
                          .arg(caption->text())
                          .arg(captionInkTop(caption))
                          .arg(iconInkBottom(button));
    }
    for (const QLabel *label : bar->findChildren<QLabel *>()) {
        if (label->text().isEmpty() || !label->isVisible())
            continue;
        faults << labelFault(label);
        // The bar draws a 2-pixel border at its bottom; a blank row keeps the letters off it.
        const int lineBottom = label->y() + (label->height() + label->fontMetrics().height()) / 2;
        if (label->y() + label->height() > bar->height() || lineBottom > bar->height() - 3)
            faults << QStringLiteral("caption \"%1\" ends at %2 in a bar %3 high")
                          .arg(label->text())
                          .arg(lineBottom)
                          .arg(bar->height());
    }
    faults.removeAll(QString());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

// The save progress sheet (its title, its bar's percentage, its status) and the save sheet hold
// their texts whole, clear of their right edges.
void ScriptFitTest::saveSheetsHoldTheirTexts()
{
    QZovuvozivMainWindow w;
    w.resize(902, 640);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *progress = new QProgressInfo(&w, ProgressKind::Save);
    progress->progressBar()->setValue(0);
    auto *save = new SaveAsWindow(&w);
    save->fillList();
    QStringList faults;
    for (QDialog *sheet : {static_cast<QDialog *>(progress), static_cast<QDialog *>(save)}) {
        sheet->show();
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        for (const QLabel *label : sheet->findChildren<QLabel *>()) {
            if (label->text().isEmpty() || !label->isVisible())
                continue;
            faults << labelFault(label);
            const QRect r = rectIn(label, sheet);
            if (r.right() >= sheet->width() - 4 || r.bottom() >= sheet->height())
                faults << QStringLiteral("\"%1\" at %2..%3 in a sheet %4 wide")
                              .arg(label->text())
                              .arg(r.left())
                              .arg(r.right())
                              .arg(sheet->width());
        }
        sheet->hide();
    }
    const QProgressBar *bar = progress->progressBar();
    if (bar->height() < bar->sizeHint().height())
        faults << QStringLiteral("bar %1 high for its \"%2\" of %3")
                      .arg(bar->height())
                      .arg(bar->text())
                      .arg(bar->sizeHint().height());
    faults.removeAll(QString());
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

QTEST_MAIN(ScriptFitTest)
#include "tst_scriptfit.moc"
