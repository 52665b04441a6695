// Every dialog and sheet of the built edition, opened (never waited on) at the default font and
// at one a quarter larger: each visible label, button and list shows its whole text inside its
// own rectangle and inside the window. Also the growing itself on small hand-made windows.

#include "platform/Edition.h"
#include "save/SaveFlow.h"
#include "shell/AboutDlg.h"
#include "shell/CloseApplicationDlg.h"
#include "browse/DemoDlgClass.h"
#include "shell/InformationDlg.h"
#include "shell/QLicenseAgreement.h"
#include "shell/QParseDatabase.h"
#include "shell/QProgressInfo.h"
#include "shell/SaveAsWindow.h"
#include "shell/ShellHooks.h"
#include "shell/StopDlg.h"
#include "shell/SupportLinks.h"
#include "browse/TextFit.h"
#include "shell/finder/QSearchPSTFile.h"
#include "update/QDownloadApp.h"
#include "update/QMinorUpdate.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTextDocument>
#include <QTextOption>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

using Opener = std::function<QWidget *(QWidget *owner)>;

StopDlg *question(QWidget *owner, const QString &title, const QString &line, const QString &detail)
{
    auto *dialog = new StopDlg(owner);
    dialog->setTitle(title);
    dialog->setQuestion(line);
    dialog->setDetail(detail);
    return dialog;
}

DemoDlgClass *message(QWidget *owner, const char *text)
{
    auto *dialog = new DemoDlgClass(owner);
    dialog->setText(QString::fromUtf8(text));
    return dialog;
}

// The question the progress sheet's Stop button opens.
QWidget *abortQuestion(QWidget *owner)
{
    auto *sheet = new QProgressInfo(owner, ProgressKind::Scan);
    sheet->show();
    sheet->findChild<QPushButton *>(QStringLiteral("stopButton"))->click();
    return sheet->findChild<StopDlg *>();
}

QWidget *saveAsSheet(QWidget *owner)
{
    auto *sheet = new SaveAsWindow(owner);
    sheet->fillList();
    return sheet;
}

QList<QPair<const char *, Opener>> openers()
{
    return {
        {"About", [](QWidget *o) { return new AboutDlg(o); }},
        {"exit question", [](QWidget *o) { return new CloseApplicationDlg(o); }},
        {"stop question", [](QWidget *o) { return new StopDlg(o); }},
        {"choose question",
         [](QWidget *o) {
             return question(o, QStringLiteral("Choose OLM Mailbox"), QStringLiteral("Do you want to choose another file?"),
                             QStringLiteral("Choosing another file for scanning will discard the scan information of "
                                            "already selected file."));
         }},
        {"replace question",
         [](QWidget *o) {
             return question(o, QString::fromUtf8(kReplaceTitle), QString::fromUtf8(kReplaceQuestion),
                             ReplaceDetailText(OutputRootFor(SaveTypeRGE, QStringLiteral("/home"),
                                                             MakeSaveTimeStamp(QDateTime::currentDateTime()))));
         }},
        {"abort question", abortQuestion},
        {"message, success", [](QWidget *o) { return message(o, kFilesSavedText); }},
        {"message, long", [](QWidget *o) { return message(o, kSameAsArchiveText); }},
        {"message, long name",
         [](QWidget *o) {
             const QString name = QStringLiteral("Quarterly_report_").repeated(4) + QStringLiteral("final.pdf");
             return message(o, qPrintable(QString::fromUtf8(kOpenFileFailedText).arg(name)));
         }},
        {"scan summary", [](QWidget *o) { return new InformationDlg(o); }},
        {"scan progress", [](QWidget *o) { return new QProgressInfo(o, ProgressKind::Scan); }},
        {"save progress", [](QWidget *o) { return new QProgressInfo(o, ProgressKind::Save); }},
        {"Save As", saveAsSheet},
        {"licence agreement", [](QWidget *o) { return new QLicenseAgreement(o); }},
        {"open sheet", [](QWidget *o) { return new QParseDatabase(o); }},
        {"search", [](QWidget *o) { return new QSearchPSTFile(o); }},
        {"update offer", [](QWidget *o) { return new QMinorUpdate(o, QString()); }},
        {"update download", [](QWidget *o) { return new QDownloadApp(o); }},
    };
}

bool IsTextWidget(const QWidget *widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return !label->text().isEmpty();
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return !button->text().isEmpty();
    if (const auto *combo = qobject_cast<const QComboBox *>(widget))
        return combo->count() > 0;
    return false;
}

// Empty when the widget's text fits; otherwise what is wrong.
QString Misfit(const QWidget *window, const QWidget *widget)
{
    const QRect inWindow(widget->mapTo(window, QPoint(0, 0)), widget->size());
    if (!window->rect().contains(inWindow))
        return QStringLiteral("lies outside the window");
    const auto *label = qobject_cast<const QLabel *>(widget);
    if (label && label->wordWrap()) {
        // No word may run past the label's side either.
        QTextDocument words;
        words.setDefaultFont(label->font());
        words.setDocumentMargin(0);
        QTextOption wordsOnly;
        wordsOnly.setWrapMode(QTextOption::WordWrap);
        words.setDefaultTextOption(wordsOnly);
        words.setPlainText(label->text());
        words.setTextWidth(0);
        if (words.idealWidth() > label->contentsRect().width())
            return QStringLiteral("a word needs %1 px of %2").arg(words.idealWidth()).arg(label->contentsRect().width());
        const int needed = label->heightForWidth(label->width());
        return needed <= label->height() ? QString()
                                         : QStringLiteral("wraps to %1 px in %2").arg(needed).arg(label->height());
    }
    // A push button needs room for its caption inside the style's margins, not the least width
    // the style gives every button.
    if (const auto *button = qobject_cast<const QPushButton *>(widget)) {
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        const QSize caption = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
        if (caption.width() + margin <= button->width() && caption.height() <= button->height())
            return QString();
        return QStringLiteral("caption needs %1x%2, has %3x%4")
            .arg(caption.width() + margin)
            .arg(caption.height())
            .arg(button->width())
            .arg(button->height());
    }
    const QSize hint = widget->sizeHint();
    if (hint.width() <= widget->width() && hint.height() <= widget->height())
        return QString();
    return QStringLiteral("needs %1x%2, has %3x%4")
        .arg(hint.width())
        .arg(hint.height())
        .arg(widget->width())
        .arg(widget->height());
}

QStringList Misfits(const QWidget *window)
{
    QStringList found;
    QList<const QWidget *> texts;
    const auto all = window->findChildren<QWidget *>();
    for (const QWidget *widget : all) {
        if (!widget->isVisibleTo(window) || !IsTextWidget(widget))
            continue;
        const QString why = Misfit(window, widget);
        if (!why.isEmpty())
            found << QStringLiteral("%1 \"%2\": %3")
                         .arg(widget->objectName(), widget->property("text").toString().left(40), why);
        texts << widget;
    }
    // No text is drawn over another.
    for (int i = 0; i < texts.size(); ++i) {
        for (int j = i + 1; j < texts.size(); ++j) {
            const QRect a(texts[i]->mapTo(window, QPoint(0, 0)), texts[i]->size());
            const QRect b(texts[j]->mapTo(window, QPoint(0, 0)), texts[j]->size());
            if (a.intersects(b))
                found << QStringLiteral("%1 overlaps %2").arg(texts[i]->objectName(), texts[j]->objectName());
        }
    }
    return found;
}

} // namespace

class TextFitTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void everyWindowFits_data();
    void everyWindowFits();
    void textChangedWhileShownFits();
    void growing_data();
    void growing();

private:
    QFont m_defaultFont;
    QStringList m_messages;
};

void TextFitTest::initTestCase()
{
    m_defaultFont = QApplication::font();
    // A message box would be modal: its text is taken instead.
    ShellHooks::messageBox = [this](const QString &text, const QString &) { m_messages << text; };
}

void TextFitTest::cleanup()
{
    QApplication::setFont(m_defaultFont);
}

void TextFitTest::everyWindowFits_data()
{
    QTest::addColumn<int>("window");
    QTest::addColumn<qreal>("scale");
    const auto all = openers();
    for (int i = 0; i < all.size(); ++i) {
        QTest::newRow(qPrintable(QStringLiteral("%1, default font").arg(QLatin1String(all[i].first)))) << i << 1.0;
        QTest::newRow(qPrintable(QStringLiteral("%1, font +25%").arg(QLatin1String(all[i].first)))) << i << 1.25;
    }
}

void TextFitTest::everyWindowFits()
{
    QFETCH(int, window);
    QFETCH(qreal, scale);
    QFont font = m_defaultFont;
    font.setPointSizeF(m_defaultFont.pointSizeF() * scale);
    QApplication::setFont(font);

    QWidget owner;
    QWidget *dialog = openers().at(window).second(&owner);
    QVERIFY(dialog);
    dialog->setWindowModality(Qt::NonModal);
    dialog->show();
    QCoreApplication::processEvents();
    const QStringList misfits = Misfits(dialog);
    QVERIFY2(misfits.isEmpty(), qPrintable(misfits.join(QStringLiteral("; "))));
}

void TextFitTest::textChangedWhileShownFits()
{
    DemoDlgClass box;
    box.show();
    const QSize before = box.size();
    box.setText(QString::fromUtf8(kSameAsArchiveText).repeated(4));
    QTRY_VERIFY(Misfits(&box).isEmpty());
    QVERIFY(box.height() > before.height());
    QCOMPARE(box.width(), before.width());   // a wrapped message grows down, not across
}

// A hand-made window 200x110: a frame across the top, a label at the left whose text is set per
// row, and a short label to its right and one below it.
void TextFitTest::growing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("wrap");
    QTest::addColumn<bool>("windowWider");
    QTest::addColumn<bool>("windowTaller");

    QTest::newRow("short text: nothing moves") << "ab" << false << false << false;
    QTest::newRow("long line: the window widens") << QString(60, QLatin1Char('W')) << false << true << false;
    QTest::newRow("long wrapped text: the window grows down")
        << QStringLiteral("word ").repeated(60) << true << false << true;
}

void TextFitTest::growing()
{
    QFETCH(QString, text);
    QFETCH(bool, wrap);
    QFETCH(bool, windowWider);
    QFETCH(bool, windowTaller);

    QWidget window;
    window.setFixedSize(200, 110);
    auto *frame = new QFrame(&window);
    frame->setGeometry(0, 0, 200, 20);
    auto *label = new QLabel(text, &window);
    label->setWordWrap(wrap);
    label->setGeometry(10, 30, 120, 30);
    auto *right = new QLabel(QStringLiteral("R"), &window);
    right->setGeometry(140, 30, 50, 30);
    auto *below = new QLabel(QStringLiteral("B"), &window);
    below->setGeometry(10, 70, 50, 30);
    const QSize rightSize = right->size();

    FitTexts(&window);

    QVERIFY2(Misfits(&window).isEmpty(), qPrintable(Misfits(&window).join(QStringLiteral("; "))));
    QCOMPARE(window.width() > 200, windowWider);
    QCOMPARE(window.height() > 110, windowTaller);
    QCOMPARE(window.minimumSize(), window.size());   // a fixed window stays fixed
    QVERIFY(label->x() == 10 && label->y() == 30);
    // Neighbours make way but keep their size; the frame across the top spans the new width.
    QCOMPARE(right->size(), rightSize);
    QCOMPARE(below->height(), 30);
    QCOMPARE(frame->width(), window.width());
    QVERIFY(!label->geometry().intersects(right->geometry()));
    QVERIFY(!label->geometry().intersects(below->geometry()));
}

QTEST_MAIN(TextFitTest)
#include "tst_textfit.moc"
