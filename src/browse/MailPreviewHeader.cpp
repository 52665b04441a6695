// The mail header's labels: sender, date, subject and recipients, each fitted to its room.

#include "browse/MailPreview.h"
#include "browse/MailPreviewParts.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/PreviewJob.h"
#include "browse/QPreviewOfItems.h"
#include "browse/ResizeFollower.h"
#include "browse/SafePreviewDocument.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QAbstractTextDocumentLayout>
#include <QBoxLayout>
#include <QBuffer>
#include <QDateTime>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <QVector>
#include <QtMath>

#include <algorithm>
#include <iterator>
#include <memory>

namespace mailpreview {
namespace {

// A word wider than room pixels gets zero-width breaks, so the line breaker may cut it rather
// than let it run past the label's edge: after its '@' when that makes it fit, else after each
// '@', '.', '-' and '_' too, and where a piece is still wider than a line (a long name without
// dots), after every character of it. An empty marks breaks after every character.
QString withBreaksAfter(const QString &word, const QString &marks)
{
    QString out;
    for (int i = 0; i < word.size(); ++i) {
        const QChar c = word.at(i);
        out += c;
        // Never inside a surrogate pair.
        const bool pairStart = c.isHighSurrogate() && i + 1 < word.size() && word.at(i + 1).isLowSurrogate();
        if (marks.isEmpty() ? !pairStart : marks.contains(c))
            out += QChar(0x200B);
    }
    return out;
}

bool piecesFit(const QString &broken, int room, const QFontMetrics &metrics)
{
    for (const QString &part : broken.split(QChar(0x200B))) {
        if (metrics.horizontalAdvance(part) > room)
            return false;
    }
    return true;
}

QString breakableWord(const QString &word, int room, const QFontMetrics &metrics)
{
    if (room <= 0 || metrics.horizontalAdvance(word) <= room)
        return word;
    const QString atSign = withBreaksAfter(word, QStringLiteral("@"));
    if (piecesFit(atSign, room, metrics))
        return atSign;
    const QString marks = withBreaksAfter(word, QStringLiteral("@.-_"));
    if (piecesFit(marks, room, metrics))
        return marks;
    QStringList pieces = marks.split(QChar(0x200B));
    for (QString &piece : pieces) {
        if (metrics.horizontalAdvance(piece) > room)
            piece = withBreaksAfter(piece, QString());
    }
    return pieces.join(QChar(0x200B));
}

// One recipients line: its words made breakable where wider than room (0: as written), escaped.
QString recipientLine(const QString &list, int room, const QFontMetrics &metrics)
{
    QStringList words = MailListForm(list).split(QLatin1Char(' '));
    for (QString &word : words)
        word = breakableWord(word, room, metrics);
    return words.join(QLatin1Char(' ')).toHtmlEscaped();
}

// The To line always, the Cc and Bcc lines when their lists (To, Cc, Bcc) hold any.
QString recipientsHtml(const QStringList &lists, int room, const QFontMetrics &metrics)
{
    QString text = QStringLiteral("<b>To: </b>") + recipientLine(lists.value(0), room, metrics);
    if (!lists.value(1).isEmpty())
        text += QLatin1String("<br><b>Cc: </b>") + recipientLine(lists.value(1), room, metrics);
    if (!lists.value(2).isEmpty())
        text += QLatin1String("<br><b>Bcc: </b>") + recipientLine(lists.value(2), room, metrics);
    return text;
}

// The sender is cut to its label's width whenever that changes (the header's scroll bar comes
// and goes with the tiles, the pane is resized), until the text as drawn fits beside the label's
// padding: a fallback font's glyphs may reach past their advance.
const char kWholeSenderProperty[] = "wholeSender";

// The date stays beside the sender while the whole sender fits beside it; otherwise it goes on
// its own line below the sender, which then has the whole width. Decided on the width of the
// area both share, which the choice does not change.
constexpr int kSenderPadding = 15;  // the label sheet's padding-left

// The width the sender's row may take: the header's view, not the area inside it, which a row
// too wide for the view widens.
int senderRowRoom(const QLabel *sender)
{
    if (const QScrollArea *area = Panes().mailHeaderScroll)
        return area->viewport()->width();
    return sender->parentWidget() ? sender->parentWidget()->width() : sender->width();
}

// The width label needs to show text whole, its sheet's padding included, as its own size hint
// says: measured without a minimum width, below which the hint never goes.
int neededWidth(QLabel *label, const QString &text)
{
    label->setMinimumWidth(0);
    label->setText(text);
    return label->sizeHint().width();
}

void placeDate(QLabel *sender, const QString &whole)
{
    QBoxLayout *row = senderRowOf(sender);
    if (!row || !Panes().dateLabel)
        return;
    const int room = senderRowRoom(sender) - Panes().dateLabel->sizeHint().width();
    const auto direction =
        whole.isEmpty() || neededWidth(sender, whole) <= room ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (row->direction() != direction)
        row->setDirection(direction);
}

void elideSender(QLabel *label)
{
    const QString sender = label->property(kWholeSenderProperty).toString();
    placeDate(label, sender);
    // As wide as the whole name, so the date follows it, or as the room the row leaves it.
    const QBoxLayout *row = senderRowOf(label);
    int room = senderRowRoom(label);
    if (row && row->direction() == QBoxLayout::LeftToRight && Panes().dateLabel)
        room -= Panes().dateLabel->sizeHint().width();
    const int whole = neededWidth(label, sender);
    // A window not yet shown has no room yet: it is fitted again when it is laid out.
    const int width = label->window()->isVisible() ? qMax(0, qMin(whole, room)) : whole;
    int textRoom = width - kSenderPadding;
    QString shown = sender;
    while (textRoom > 0 && neededWidth(label, shown) > width) {
        shown = label->fontMetrics().elidedText(sender, Qt::ElideRight, textRoom);
        textRoom -= 4;
    }
    label->setText(shown);
    if (label->width() != width || label->minimumWidth() != width || label->maximumWidth() != width)
        label->setFixedWidth(width);
    // A cut made in another script (a lone "…" or the whole name) may need another height.
    if (label->height() != label->sizeHint().height())
        label->setFixedHeight(label->sizeHint().height());
}

// Fits a header label's text again whenever the label is resized; installed once per label.
class RefitOnResize : public QObject {
public:
    using Fit = void (*)(QLabel *);

    static void install(QLabel *label, Fit fit)
    {
        const QString name = QStringLiteral("refitOnResize");
        if (label->findChild<QObject *>(name, Qt::FindDirectChildrenOnly))
            return;
        auto *refit = new RefitOnResize(label, fit);
        refit->setObjectName(name);
        label->installEventFilter(refit);
        // A label of fixed width is not resized with the area it lies in, nor that area with a
        // view it is too wide for.
        if (label->parentWidget())
            label->parentWidget()->installEventFilter(refit);
        if (Panes().mailHeaderScroll && Panes().mailHeaderScroll->isAncestorOf(label))
            Panes().mailHeaderScroll->viewport()->installEventFilter(refit);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            m_fit(static_cast<QLabel *>(parent()));
        return QObject::eventFilter(watched, event);
    }

private:
    RefitOnResize(QLabel *label, Fit fit) : QObject(label), m_fit(fit) {}
    Fit m_fit;
};

void showSender(QLabel *label, const MailMessageFields &fields)
{
    RefitOnResize::install(label, elideSender);
    label->setProperty(kWholeSenderProperty, MailSenderHeader(fields));
    elideSender(label);
}

// A one-line label as tall as its text as drawn, fallback fonts included.
void fitHeight(QLabel *label)
{
    label->setFixedHeight(label->sizeHint().height());
}

// The subject wraps onto at most three lines as they are drawn: taller scripts get taller lines.
// A longer subject shows the lines that fit whole, the last one ending in "…", and is whole in the
// tooltip; no line is cut through.
constexpr int kSubjectLines = 3;
const char kWholeSubjectProperty[] = "wholeSubject";

void fitSubject(QLabel *label)
{
    const QString subject = label->property(kWholeSubjectProperty).toString();
    label->setText(subject);
    label->setToolTip(QString());
    const int room = label->maximumHeight();
    if (subject.isEmpty() || label->width() <= 0 || label->heightForWidth(label->width()) <= room)
        return;
    // The longest start that fits with its ellipsis, found by halving.
    int fits = 0;
    int tooLong = subject.size();
    while (tooLong - fits > 1) {
        const int middle = (fits + tooLong) / 2;
        label->setText(subject.left(middle) + QChar(0x2026));
        (label->heightForWidth(label->width()) <= room ? fits : tooLong) = middle;
    }
    if (fits > 0 && subject.at(fits - 1).isHighSurrogate())
        --fits;
    label->setText(subject.left(fits).trimmed() + QChar(0x2026));
    label->setToolTip(subject);
}

void showSubject(QLabel *label, const QString &subject)
{
    RefitOnResize::install(label, fitSubject);
    label->setText(subject);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->ensurePolished();
    const int oneLine = label->heightForWidth(QWIDGETSIZE_MAX);
    const int lineHeight = DrawnTextHeight(label->font(), subject, label);
    label->setMaximumHeight(oneLine + (kSubjectLines - 1) * lineHeight);
    label->setProperty(kWholeSubjectProperty, subject);
    fitSubject(label);
}
// The recipients wrap at the width of the header's view: the label never widens the view's
// area, and an address wider than a line gets places to break after its dots and at-sign.
const char kRecipientListsProperty[] = "recipientLists";

void fitRecipients(QLabel *label)
{
    // An emptied label (a new scan, a reset) stays empty.
    const QStringList lists = label->property(kRecipientListsProperty).toStringList();
    if (lists.size() != 3 || label->text().isEmpty())
        return;
    const int padding = label->width() - label->contentsRect().width();
    const QScrollArea *area = Panes().mailHeaderScroll;
    const int width = area && area->isAncestorOf(label) ? area->viewport()->width() : label->width();
    // The label lays its rich text out inside a text document's own margin.
    const int margins = 2 * qCeil(QTextDocument().documentMargin());
    // A window not yet shown has no width yet: it is fitted again when it is laid out.
    const int room = label->window()->isVisible() ? width - padding - margins : 0;
    const QString html = recipientsHtml(lists, room, label->fontMetrics());
    if (label->text() != html)
        label->setText(html);
}

void showRecipients(QLabel *label, const MailMessageFields &f)
{
    label->setMinimumWidth(1);
    RefitOnResize::install(label, fitRecipients);
    label->setTextFormat(Qt::RichText);
    label->setProperty(kRecipientListsProperty, QStringList{f.strToList, f.strCcList, f.strBccList});
    label->setText(MailRecipientsHtml(f));
    fitRecipients(label);
}
}  // namespace

// Labels, recipients block and the (hidden) header view with its To, date, Cc, Bcc and
// Attachments lines.
void showHeader(const MailMLRC &mail, const MailMessageFields &f)
{
    QTextBrowser *header = Panes().mailHeaderText;
    const QString date = MailPreviewDate(mail, f.strEntryName);
    Panes().dateLabel->setText(date);
    fitHeight(Panes().dateLabel);
    // The sender gets what the date leaves of the shown row; its text is cut to that width.
    QLayout *row = Panes().senderLabel->parentWidget()->layout();
    if (row && Panes().senderLabel->isVisible())
        row->activate();
    showSender(Panes().senderLabel, f);
    fitHeight(Panes().senderLabel);
    showSubject(Panes().subjectLabel, MailSubjectLine(mail.pSubject));
    const auto line = [](const char *label, const QString &list) {
        return QLatin1String(label) + MailListForm(list).toHtmlEscaped();
    };
    if (!f.strToList.isEmpty())
        header->append(line("<b>To: </b>", f.strToList));
    if (!date.isEmpty())
        header->append(date);
    if (!f.strCcList.isEmpty())
        header->append(line("<b>Cc: </b>", f.strCcList));
    if (!f.strBccList.isEmpty())
        header->append(line("<b>Bcc: </b>", f.strBccList));
    if (!f.strAttachmentNames.isEmpty())
        header->append(line("<b>Attachments: </b>", f.strAttachmentNames));
    ShowAttachmentTiles(f);
    showRecipients(Panes().recipientsLabel, f);
    // Recipients wrap and tiles move to other rows when the width changes: fitted again once the
    // tiles have been placed for the new width.
    if (QScrollArea *area = Panes().mailHeaderScroll) {
        // The view's own width changes as its bar comes and goes.
        FollowResize(area->viewport(), QStringLiteral("headerHeightFollower"), [area](const QResizeEvent &event) {
            if (event.oldSize().width() != event.size().width())
                QTimer::singleShot(0, area, [] { fitHeaderHeight(); });
        });
        keepHeaderScrollOnLines(area);
        fitHeaderHeight();
        QTimer::singleShot(0, area, [] { padHeaderBottom(); });
        // Each message starts at its first line, whatever the previous one was scrolled to.
        area->verticalScrollBar()->setValue(0);
    }
    header->moveCursor(QTextCursor::Start);
    header->ensureCursorVisible();
    header->hide();
}

}  // namespace mailpreview

using namespace mailpreview;

QString MailRecipientsHtml(const MailMessageFields &fields)
{
    return recipientsHtml({fields.strToList, fields.strCcList, fields.strBccList}, 0, QFontMetrics(QFont()));
}

void ClearItemPreview()
{
    const BrowsePanes &p = Panes();
    if (!p.htmlPreview)
        return;
    CancelPreviewJob();
    ClearAttachmentTiles();
    // The sender is cut again from its whole text whenever its label resizes: that text goes too.
    p.senderLabel->setProperty(kWholeSenderProperty, QVariant());
    p.subjectLabel->setProperty(kWholeSubjectProperty, QVariant());
    p.recipientsLabel->setProperty(kRecipientListsProperty, QVariant());
    for (QLabel *label : {p.subjectLabel, p.recipientsLabel, p.dateLabel, p.senderLabel}) {
        label->clear();
        label->setToolTip(QString());
    }
    for (QTextBrowser *view : {p.mailHeaderText, p.textPreview, p.htmlPreview})
        view->clear();
    // An empty pane has nothing to scroll.
    for (QTextBrowser *view : {p.textPreview, p.htmlPreview})
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}
