// What the preview paints after a click, read back from the window's own drawing (not from the
// document the pane holds): every item clicked as a user does shows ink in its pane.

#include "MainWindowTestPeer.h"
#include "OlmXml.h"
#include "TestArchiveBuilder.h"
#include "TestFiles.h"
#include "browse/BrowsePanes.h"
#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "browse/PreviewDispatch.h"
#include "browse/PreviewJob.h"
#include "shell/InformationDlg.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"

#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QWindow>
#include "WindowTestUtil.h"

#include <QtTest>

namespace {

const char kMessages[] = "Local/com.microsoft.__Messages/";

// Pixels of the pane as the window last drew them: the offscreen platform hands out its backing
// store, so a pane that was never repainted stays as it was.
QImage paintedPixels(QWidget *pane)
{
    QWidget *window = pane->window();
    const QPoint at = pane->mapTo(window, QPoint(0, 0));
    return window->windowHandle()->screen()->grabWindow(window->winId(), at.x(), at.y(), pane->width(),
                                                        pane->height()).toImage();
}

// Pixels that differ clearly from the pane's background: text or a picture.
int inkOf(const QImage &image, QRgb background)
{
    int ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qAbs(qGray(p) - qGray(background)) > 60 || qAbs(qRed(p) - qBlue(p)) > 60)
                ++ink;
        }
    }
    return ink;
}

// The pane as last drawn is what it draws now from its document, and that holds ink.
bool showsItsDocument(QTextBrowser *pane)
{
    QWidget *viewport = pane->viewport();
    const QImage drawn = viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage painted = paintedPixels(viewport).convertToFormat(QImage::Format_RGB32);
    return painted == drawn && inkOf(drawn, viewport->palette().color(QPalette::Base).rgb()) > 20;
}

// Pixels of the blue test picture.
int bluePixels(const QImage &image)
{
    int blue = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            blue += qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60;
        }
    }
    return blue;
}

// The lines the pane draws text in, top down: the leftmost and rightmost ink of each.
QVector<QPair<int, int>> inkedLines(QWidget *viewport)
{
    const QImage image = viewport->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb background = viewport->palette().color(QPalette::Base).rgb();
    QVector<QPair<int, int>> lines;
    bool inLine = false;
    for (int y = 0; y < image.height(); ++y) {
        int left = image.width(), right = -1;
        for (int x = 0; x < image.width(); ++x) {
            if (qAbs(qGray(image.pixel(x, y)) - qGray(background)) > 60) {
                left = qMin(left, x);
                right = x;
            }
        }
        if (right >= 0 && !inLine)
            lines.append({left, right});
        else if (right >= 0)
            lines.last() = {qMin(lines.last().first, left), qMax(lines.last().second, right)};
        inLine = right >= 0;
    }
    return lines;
}

// A typed text of about size bytes in lines of words, ending in its own last line.
QString longText(int size, const QString &last)
{
    QString text;
    for (int line = 0; text.size() < size; ++line)
        text += QStringLiteral("line %1 of a long text with some words in it\n").arg(line);
    return text + last;
}

QTreeWidgetItem *rowNamed(QTreeWidget *list, const QString &name)
{
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->text(ItemColumnText).trimmed() == name)
            return list->topLevelItem(row);
    }
    return nullptr;
}

QString mailEntry(const QString &folder, int i)
{
    return QLatin1String(kMessages) + folder + QStringLiteral("/message_%1.xml").arg(i, 5, 10, QLatin1Char('0'));
}

}  // namespace

class BodyPixelsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void everyClickedMailPaintsItsBody_data();
    void everyClickedMailPaintsItsBody();
    void mailIsReadOffTheWindowThread();
    void itemIsReadOffTheWindowThread_data();
    void itemIsReadOffTheWindowThread();

private:
    QTemporaryDir m_dir;
};

void BodyPixelsTest::initTestCase()
{
    InitShellResources();
    ShellHooks::messageBox = [](const QString &, const QString &) {};
    QVERIFY(m_dir.isValid());
}

void BodyPixelsTest::everyClickedMailPaintsItsBody_data()
{
    QTest::addColumn<QString>("archive");
    // Items shown in the text pane with a document laid out on the preview's worker.
    QTest::addColumn<int>("laidOffThread");
    QTest::newRow("sample") << QStringLiteral(OLM_SAMPLE_ARCHIVE) << 0;

    // Plain short mails, a newsletter of about 100 KB and a picture of 3,000 px between two lines.
    TestArchiveBuilder b;
    for (int i = 0; i < 12; ++i) {
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Hello %1").arg(i);
        m.body = QStringLiteral("hello body %1").arg(i);
        b.addEntry(mailEntry(QStringLiteral("Inbox"), i), OlmXml::emails({m}));
    }
    QString letter = QStringLiteral("<html><body><h1>Weekly letter</h1><table>");
    for (int row = 0; letter.size() < 100 * 1024; ++row)
        letter += QStringLiteral("<tr><td><b>Item %1</b></td><td>Some words about item %1 and more.</td></tr>").arg(row);
    letter += QStringLiteral("</table></body></html>");
    OlmXml::MailItem newsletter;
    newsletter.subject = QStringLiteral("Newsletter");
    newsletter.body = OlmXml::escape(letter);
    b.addEntry(mailEntry(QStringLiteral("Inbox"), 12), OlmXml::emails({newsletter}));
    OlmXml::MailItem picture;
    picture.subject = QStringLiteral("Big picture");
    picture.body = OlmXml::escape(
        QStringLiteral("<html><body><p>BEFORE text</p><img src=\"data:image/png;base64,%1\"><p>AFTER text</p>"
                       "</body></html>")
            .arg(QString::fromLatin1(PngOf(3000, Qt::blue).toBase64())));
    b.addEntry(mailEntry(QStringLiteral("Inbox"), 13), OlmXml::emails({picture}));
    OlmXml::MailItem directions;
    directions.subject = QStringLiteral("Directions");
    directions.body = OlmXml::escape(QStringLiteral(
        "<html><body><div dir=\"rtl\"><p>RIGHT</p></div><p>LEFT text after the block</p></body></html>"));
    b.addEntry(mailEntry(QStringLiteral("Inbox"), 14), OlmXml::emails({directions}));
    b.addEntry(QStringLiteral("Local/Notes/Notes.xml"),
               OlmXml::notes({{QStringLiteral("Plain note"), QStringLiteral("plain typed &lt;b&gt; &amp; x\n    indented")},
                              {QStringLiteral("Long note"), longText(300 * 1024, QStringLiteral("the end"))}}));
    b.addEntry(QStringLiteral("Local/Calendar/Calendar.xml"),
               OlmXml::appointments({{QStringLiteral("Long event"), QStringLiteral("Hall"),
                                      longText(200 * 1024, QStringLiteral("the end")), QString(), QString()}}));
    const QString path = m_dir.filePath(QStringLiteral("clicks.olm"));
    QVERIFY(WriteTestFile(path, b.finish()));
    QTest::newRow("generated") << path << 2;
}

void BodyPixelsTest::everyClickedMailPaintsItsBody()
{
    QFETCH(QString, archive);
    QFETCH(int, laidOffThread);
    QZovuvozivMainWindow w;
    w.resize(1000, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    scanInWindow(w, archive);

    QTreeWidget *tree = w.panes().folderTree;
    QTreeWidget *list = w.panes().itemList;
    QTextBrowser *body = w.panes().htmlPreview;
    int clicked = 0;
    int handedOver = 0;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        QTreeWidgetItem *folder = *it;
        tree->scrollToItem(folder);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(folder).center());
        QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning(), 20000);
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            QTreeWidgetItem *item = list->topLevelItem(row);
            list->scrollToItem(item);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
            QTRY_VERIFY_WITH_TIMEOUT(!PreviewJobPending(), 20000);
            // A mail's body, or the text pane of a note, task, event or contact.
            QTextBrowser *pane = MailRecordOfRow(item) ? body : w.panes().textPreview;
            if (!pane->isVisible()
                || (pane->toPlainText().trimmed().isEmpty() && pane->document()->toHtml().indexOf("<img") < 0))
                continue;  // a mail without a body
            ++clicked;
            if (pane == w.panes().textPreview && pane->property(kPreviewShownAs).isValid())
                ++handedOver;
            // Bounded: the pane is drawn at the next paint after the document is handed over, and
            // then shows what its document draws, ink included.
            QTRY_VERIFY2_WITH_TIMEOUT(showsItsDocument(pane),
                                      qPrintable(folder->text(FolderColumnName) + QLatin1Char(' ')
                                                 + pane->toPlainText().left(80)),
                                      10000);
            // A right-to-left block is drawn at the right, the paragraph after it at the left.
            if (pane->toPlainText().startsWith(QLatin1String("RIGHT"))) {
                const QVector<QPair<int, int>> lines = inkedLines(pane->viewport());
                QVERIFY2(lines.size() >= 2, qPrintable(QString::number(lines.size())));
                const int half = pane->viewport()->width() / 2;
                QVERIFY2(lines[0].first > half && lines[1].first < half,
                         qPrintable(QStringLiteral("%1 %2").arg(lines[0].first).arg(lines[1].first)));
            }
            // The picture is drawn under its text, not only room left for it.
            if (pane->toPlainText().startsWith(QLatin1String("BEFORE"))) {
                QVERIFY(bluePixels(pane->viewport()->grab().toImage()) > 1000);
                // Fitted to the pane beside its vertical bar: nothing to scroll sideways, at every turn.
                for (int turn = 0; turn < 20; ++turn) {
                    QTest::qWait(10);
                    QCOMPARE(pane->horizontalScrollBar()->maximum(), 0);
                }
            }
        }
    }
    QVERIFY(clicked >= 7);
    QCOMPARE(handedOver, laidOffThread);
}

// A selected mail is read and parsed on the preview's worker: when the selection returns, the
// window has not shown it yet; it shows once the worker is done.
void BodyPixelsTest::mailIsReadOffTheWindowThread()
{
    OlmXml::MailItem m;
    m.subject = QStringLiteral("Many senders");
    m.body = QStringLiteral("the body");
    for (int i = 0; i < 2000; ++i)
        m.from.append({QStringLiteral("s%1@example.org").arg(i), QString()});
    TestArchiveBuilder b;
    b.addEntry(mailEntry(QStringLiteral("Inbox"), 0), OlmXml::emails({m}));
    const QString path = m_dir.filePath(QStringLiteral("senders.olm"));
    QVERIFY(WriteTestFile(path, b.finish()));
    QZovuvozivMainWindow w;
    scanInWindow(w, path);
    QTreeWidgetItem *inbox = folderNamed(w.panes().folderTree, QStringLiteral("Inbox"));
    QVERIFY(inbox);
    w.parseDatabase()->ShowindivisualMailItemsInfo(inbox, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!PreviewJobPending(), 20000);
    QTreeWidget *list = w.panes().itemList;
    list->setCurrentItem(nullptr);
    w.panes().subjectLabel->clear();
    list->setCurrentItem(list->topLevelItem(0));
    QVERIFY(PreviewJobPending());
    QVERIFY(w.panes().subjectLabel->text().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!PreviewJobPending(), 20000);
    QCOMPARE(w.panes().subjectLabel->text(), m.subject);
    QVERIFY(w.panes().htmlPreview->toPlainText().contains(m.body));
}

void BodyPixelsTest::itemIsReadOffTheWindowThread_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<QByteArray>("xml");
    const QString text = longText(1024 * 1024, QStringLiteral("the last words"));
    const QString brief = QStringLiteral("a short text");
    QTest::newRow("note") << "Notes" << QByteArray("Local/Notes/Notes.xml")
                          << OlmXml::notes({{QStringLiteral("Long"), text}, {QStringLiteral("Short"), brief}});
    QTest::newRow("event") << "Calendar" << QByteArray("Local/Calendar/Calendar.xml")
                           << OlmXml::appointments({{QStringLiteral("Long"), QString(), text, QString(), QString()},
                                                    {QStringLiteral("Short"), QString(), brief, QString(), QString()}});
    QTest::newRow("task") << "Tasks" << QByteArray("Local/Tasks/Tasks.xml")
                          << OlmXml::tasks({{QStringLiteral("Long"), text, "2"}, {QStringLiteral("Short"), brief, "2"}});
    QTest::newRow("contact") << "Address Book" << QByteArray("Local/Address Book/Contacts.xml")
                             << OlmXml::contacts({{QStringLiteral("Long"), QString(), QString(), text, QString()},
                                                  {QStringLiteral("Short"), QString(), QString(), brief, QString()}});
}

// A note, event, task or contact with a long text is read, written and laid out on the preview's
// worker: when the selection returns, the pane is still empty; it shows the whole text once the
// worker is done. An item selected meanwhile is the one shown, never the earlier one.
void BodyPixelsTest::itemIsReadOffTheWindowThread()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, entry);
    QFETCH(QByteArray, xml);
    TestArchiveBuilder b;
    b.addEntry(QString::fromUtf8(entry), xml);
    const QString path = m_dir.filePath(QStringLiteral("long-item.olm"));
    QVERIFY(WriteTestFile(path, b.finish()));
    QZovuvozivMainWindow w;
    scanInWindow(w, path);
    QTreeWidgetItem *items = folderNamed(w.panes().folderTree, folder);
    QVERIFY(items);
    w.parseDatabase()->ShowindivisualMailItemsInfo(items, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!ItemListFillRunning(), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!PreviewJobPending(), 20000);
    QTreeWidget *list = w.panes().itemList;
    QTextBrowser *pane = w.panes().textPreview;
    QTreeWidgetItem *longRow = rowNamed(list, QStringLiteral("Long"));
    QTreeWidgetItem *shortRow = rowNamed(list, QStringLiteral("Short"));
    QVERIFY(longRow && shortRow);

    list->setCurrentItem(shortRow);
    QVERIFY(!PreviewJobPending());
    QVERIFY(pane->toPlainText().contains(QLatin1String("a short text")));
    list->setCurrentItem(longRow);
    QVERIFY(PreviewJobPending());
    QVERIFY2(pane->toPlainText().isEmpty(), qPrintable(pane->toPlainText().left(200)));
    QTRY_VERIFY_WITH_TIMEOUT(!PreviewJobPending(), 20000);
    QVERIFY(pane->toPlainText().contains(QLatin1String("line 0 of a long text")));
    QVERIFY(pane->toPlainText().contains(QLatin1String("the last words")));
    QCOMPARE(pane->textColor(), QColor(68, 68, 68));

    // The long item asked for and left before it is ready: its finish is dropped.
    list->setCurrentItem(shortRow);
    list->setCurrentItem(longRow);
    QVERIFY(PreviewJobPending());
    list->setCurrentItem(shortRow);
    QVERIFY(!PreviewJobPending());
    WaitForPreviewWorkers();
    QCoreApplication::processEvents();
    QVERIFY(pane->toPlainText().contains(QLatin1String("a short text")));
    QVERIFY(!pane->toPlainText().contains(QLatin1String("long text")));
}

QTEST_MAIN(BodyPixelsTest)
#include "tst_bodypixels.moc"
