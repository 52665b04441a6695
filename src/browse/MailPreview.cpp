// The mail preview: header labels, attachment tiles and body of one mail. The fields come from
// the shared message parse, so the preview lists what a save writes for the same message.

#include "browse/MailPreview.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/PreviewBody.h"
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

QString g_mailPreviewMarkerLine;

namespace {

// Opening and closing texts of the HTML test, each tested exactly as written.
const char *const kHtmlPairs[][2] = {
    {"<html", "</html>"},
    {"<HTML", "</HTML>"},
    {"<table", "</table>"},
    {"<TABLE", "</TABLE>"},
    {"<body", "</body>"},
    {"<BODY", "</BODY>"},
    {"<tbody", "</tbody>"},
    {"<TBODY", "</TBODY>"},
    {"<td", "</td>"},
    {"<TD", "</TD>"},
    {"<tr", "</tr>"},
    {"<TR", "</TR>"},
    {"<div", "</div>"},
    {"<DIV", "</DIV>"},
    {"<br", "</br>"},
    {"<BR", "</BR>"},
    {"<small", "</small>"},
    {"<SMALL", "</SMALL>"},
    {"<strong", "</strong>"},
    {"<STRONG", "</STRONG>"},
    {"<map", "</map>"},
    {"<MAP", "</MAP>"},
    {"<head", "</head>"},
    {"<HEAD", "</HEAD>"},
    {"<title", "</title>"},
    {"<TITLE", "</TITLE>"},
    {"<b", "</b>"},
    {"<B", "</B>"},
    {"<a", "</a>"},
    {"<A", "</A>"},
    {"<br><font size=", "</font>"},
};

// The list without one ';' at its very end.
QString withoutFinalSemicolon(QString text)
{
    if (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    return text;
}

// The addresses the body names after "cid:", each up to the first character that ends a URL
// in markup or a style sheet. The next one is looked for after it, so each character is seen once.
QSet<QString> referencedContentIds(const QString &body)
{
    static const QString kEnds = QStringLiteral("\"'<>()\\");
    QSet<QString> ids;
    const QLatin1String scheme("cid:");
    for (int at = body.indexOf(scheme); at >= 0;) {
        const int start = at + scheme.size();
        int end = start;
        while (end < body.size() && !body.at(end).isSpace() && !kEnds.contains(body.at(end)))
            ++end;
        ids.insert(body.mid(start, end - start));
        at = body.indexOf(scheme, end);
    }
    return ids;
}

// The picture of an attachment's entry, decoded once, when its stored bytes are within the
// limit and its decoded form within what the mail's pictures may still take; null otherwise.
QImage inlinePicture(const AttachmentInfo &a, const AttachmentIndex &index, qint64 room)
{
    const FileOffsetNode *node = index.find(a.url);
    if (!node || node->bCompressed || node->llSize <= 0 || node->llSize > kMaxInlinePictureBytes)
        return QImage();
    QByteArray bytes = ReadArchiveBytes(node->llDataOffset, node->llSize, kMaxInlinePictureBytes);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The header tells the decoded size: a small file may claim a huge picture.
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() * 4 > room)
        return QImage();
    const QImage picture = reader.read();
    return picture.sizeInBytes() > room ? QImage() : picture;
}

// A word wider than room pixels gets zero-width breaks, so the line breaker may cut it rather
// than let it run past the label's edge: after its '@' when that makes it fit, else after each
// '@', '.', '-' and '_' too.
QString withBreaksAfter(const QString &word, const QString &marks)
{
    QString out;
    for (const QChar c : word) {
        out += c;
        if (marks.contains(c))
            out += QChar(0x200B);
    }
    return out;
}

QString breakableWord(const QString &word, int room, const QFontMetrics &metrics)
{
    if (room <= 0 || metrics.horizontalAdvance(word) <= room)
        return word;
    const QString atSign = withBreaksAfter(word, QStringLiteral("@"));
    for (const QString &part : atSign.split(QChar(0x200B))) {
        if (metrics.horizontalAdvance(part) > room)
            return withBreaksAfter(word, QStringLiteral("@.-_"));
    }
    return atSign;
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

// The sender's row of the header: the sender and the date beside it.
QBoxLayout *senderRowOf(QLabel *sender)
{
    QLayout *area = sender->parentWidget() ? sender->parentWidget()->layout() : nullptr;
    if (!area)
        return nullptr;
    for (QBoxLayout *row : area->findChildren<QBoxLayout *>()) {
        if (row->indexOf(sender) >= 0)
            return row;
    }
    return nullptr;
}

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

// The header holds its sender row, its recipients and the first row of tiles whole: its height
// follows them, up to half the preview, where its bar then shows. The bar steps a row of tiles at
// a time, so from the top or the bottom a step never stops inside a tile.
constexpr int kLeastHeaderHeight = 110;

int firstTileRowHeight(const QGridLayout *grid)
{
    QLayoutItem *first = grid->itemAtPosition(0, 0);
    if (!first || !first->widget())
        return 0;
    const QWidget *tile = first->widget();
    const int tileHeight = qBound(tile->minimumHeight(), tile->sizeHint().height(), tile->maximumHeight());
    return grid->contentsMargins().top() + tileHeight + grid->verticalSpacing();
}

// The recipients' lines, from the label's top, as the label lays them out at width.
struct LineSpan {
    int top;
    int bottom;
};

QVector<LineSpan> recipientLines(const QLabel *label, int width)
{
    const QRect inner = label->contentsRect();
    QTextDocument document;
    document.setDefaultFont(label->font());
    // Laid out at the label's resolution, as the label lays it out.
    document.documentLayout()->setPaintDevice(const_cast<QLabel *>(label));
    document.setHtml(label->text());
    document.setTextWidth(width - (label->width() - inner.width()));
    QVector<LineSpan> lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const qreal top = document.documentLayout()->blockBoundingRect(block).top();
        const QTextLayout *layout = block.layout();
        for (int i = 0; layout && i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            lines.append({inner.top() + qFloor(top + line.y()), inner.top() + qCeil(top + line.y() + line.height())});
        }
    }
    return lines;
}

// Where each line of the header starts inside its view's area: the sender, the date when it has
// a line of its own, every recipients line and every row of tiles. Scrolling stops only there,
// so the top line shows whole at every font resolution.
QVector<int> headerLineTops()
{
    const BrowsePanes &p = Panes();
    QVector<int> tops{0};
    if (!p.senderLabel || !p.dateLabel || !p.recipientsLabel || !p.attachmentGrid)
        return tops;
    if (p.dateLabel->y() >= p.senderLabel->y() + p.senderLabel->height())
        tops << p.dateLabel->y();
    for (const LineSpan &line : recipientLines(p.recipientsLabel, p.recipientsLabel->width()))
        tops << p.recipientsLabel->y() + line.top;
    const QGridLayout *grid = p.attachmentGrid;
    for (int i = 0; i < grid->count(); ++i) {
        const QWidget *tile = grid->itemAt(i)->widget();
        if (tile && !tile->isHidden())
            tops << qMax(0, tile->y() - grid->verticalSpacing());
    }
    std::sort(tops.begin(), tops.end());
    tops.erase(std::unique(tops.begin(), tops.end()), tops.end());
    return tops;
}

// A scroll (wheel, keys, bar) ends on the nearest line start in its direction: as far as it
// went when it passed one, else the next one.
void snapToLine(QScrollBar *bar)
{
    const int from = bar->value();
    const int to = bar->sliderPosition();
    if (to == from)
        return;
    const QVector<int> tops = headerLineTops();
    int target = to;
    if (to > from) {
        auto passed = std::upper_bound(tops.begin(), tops.end(), to);
        const auto next = std::upper_bound(tops.begin(), tops.end(), from);
        target = passed != tops.begin() && *(passed - 1) > from ? *(passed - 1) : (next != tops.end() ? *next : to);
    } else {
        const auto passed = std::lower_bound(tops.begin(), tops.end(), to);
        const auto previous = std::lower_bound(tops.begin(), tops.end(), from);
        target = passed != tops.end() && *passed < from ? *passed : (previous != tops.begin() ? *(previous - 1) : to);
    }
    bar->setSliderPosition(qBound(bar->minimum(), target, bar->maximum()));
}

// Room below the last line, so that scrolled to the end the view's top is a line start too.
void padHeaderBottom()
{
    QScrollArea *area = Panes().mailHeaderScroll;
    QLayout *layout = area && area->widget() ? area->widget()->layout() : nullptr;
    if (!layout)
        return;
    const int width = area->widget()->width();
    QMargins margins = layout->contentsMargins();
    const int total =
        layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
    const int end = total - margins.bottom() - area->viewport()->height();
    int pad = 0;
    if (end > 0) {
        const QVector<int> tops = headerLineTops();
        const auto top = std::lower_bound(tops.begin(), tops.end(), end);
        pad = top != tops.end() ? *top - end : 0;
    }
    if (margins.bottom() != pad) {
        margins.setBottom(pad);
        layout->setContentsMargins(margins);
    }
}

// Installed once: the view's bar snaps to lines, and the room below the last line follows
// every change of the view's or its area's size.
void keepHeaderScrollOnLines(QScrollArea *area)
{
    const char installed[] = "scrollsByLines";
    if (!area || area->property(installed).toBool())
        return;
    area->setProperty(installed, true);
    QScrollBar *bar = area->verticalScrollBar();
    QObject::connect(bar, &QAbstractSlider::actionTriggered, bar, [bar](int) { snapToLine(bar); });
    auto pending = std::make_shared<bool>(false);
    const auto settle = [area, pending](const QResizeEvent &) {
        if (*pending)
            return;
        *pending = true;
        QTimer::singleShot(0, area, [pending] {
            *pending = false;
            padHeaderBottom();
        });
    };
    FollowResize(area->viewport(), QStringLiteral("linePadViewport"), settle);
    FollowResize(area->widget(), QStringLiteral("linePadArea"), settle);
}

void fitHeaderHeight()
{
    const BrowsePanes &p = Panes();
    QScrollArea *area = p.mailHeaderScroll;
    if (!area || !p.mailHeaderArea || !p.attachmentGrid || !p.senderLabel || !p.recipientsLabel)
        return;
    QBoxLayout *senderRow = senderRowOf(p.senderLabel);
    if (senderRow)
        senderRow->invalidate();  // its labels' heights and its direction may be new
    const int width = area->viewport()->width();
    const int senderHeight = senderRow ? senderRow->sizeHint().height() : 0;
    const int linesHeight = senderHeight + p.recipientsLabel->heightForWidth(width);
    const int tiles = firstTileRowHeight(p.attachmentGrid);
    const int frame = area->height() - area->viewport()->height();
    const int most = qMax(kLeastHeaderHeight, p.previewFrame ? p.previewFrame->height() / 2 : 0);
    int height = qMax(kLeastHeaderHeight, linesHeight + tiles + frame);
    int step = tiles - p.attachmentGrid->contentsMargins().top();
    if (height > most) {
        // Too many recipients: the view ends after the last of their lines that fits, and steps
        // by lines.
        const QVector<LineSpan> lines = recipientLines(p.recipientsLabel, width);
        height = senderHeight + frame + (lines.isEmpty() ? 0 : lines.first().bottom);
        for (const LineSpan &line : lines) {
            if (senderHeight + frame + line.bottom <= most)
                height = senderHeight + frame + line.bottom;
        }
        step = lines.isEmpty() ? step : lines.first().bottom - lines.first().top;
    }
    if (p.mailHeaderArea->height() != height || p.mailHeaderArea->minimumHeight() != height)
        p.mailHeaderArea->setFixedHeight(height);
    if (step > 0)
        area->verticalScrollBar()->setSingleStep(step);
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

// The body in the HTML view, or in the text view when it holds the marker line.
void showBody(const MailMLRC &mail, const MailMessageFields &f)
{
    QTextBrowser *htmlView = Panes().htmlPreview;
    UseSafePreviewDocument(htmlView);
    CancelPreviewBody();
    if (mail.llBodyOffset < 1 || mail.dwBodyLength == 0) {
        htmlView->clear();
        htmlView->show();
        return;
    }
    bool html = false;
    QString body = MailPreviewBody(UpToFirstNul(ReadArchiveBytes(mail.llBodyOffset, mail.dwBodyLength)), &html);
    if (!g_mailPreviewMarkerLine.isEmpty() && body.contains(g_mailPreviewMarkerLine)) {
        htmlView->close();
        QTextBrowser *textView = Panes().textPreview;
        UseSafePreviewDocument(textView);
        if (html)
            ShowPreviewBody(textView, body);
        else
            textView->setPlainText(body);
        textView->show();
        return;
    }
    if (html) {
        InlineMailPictures(htmlView->document(), body, f);
        ShowPreviewBody(htmlView, body);
    } else {
        htmlView->setPlainText(body);
    }
    htmlView->show();
}

}  // namespace

QString MailSenderLine(const QString &fromList)
{
    if (fromList.count(QLatin1Char(';')) < 2) {
        QString one = fromList;
        return one.remove(QLatin1Char(';'));
    }
    const QString list = fromList.chopped(1);
    return list.mid(list.lastIndexOf(QLatin1Char(';')) + 1);
}

QString MailSenderHeader(const MailMessageFields &fields)
{
    const QString address = MailSenderLine(fields.strFromList);
    return address.isEmpty() || fields.lastSenderName.isEmpty() ? address : fields.lastSenderName;
}

QString MailSubjectLine(const char *subject)
{
    if (!subject)
        return QStringLiteral("<no subject>");
    return withoutFinalSemicolon(QString::fromUtf8(subject));
}

QString MailListForm(const QString &list)
{
    return withoutFinalSemicolon(list).replace(QLatin1Char(';'), QLatin1String(";  "));
}

QString MailRecipientsHtml(const MailMessageFields &fields)
{
    return recipientsHtml({fields.strToList, fields.strCcList, fields.strBccList}, 0, QFontMetrics(QFont()));
}

QString MailPreviewDate(const MailMLRC &mail, const QString &entryName)
{
    // A recovered mail has no entry name: its direction and its own times still pick the date.
    const quint32 seconds = MailDateSeconds(mail, entryName);
    if (seconds == 0)
        return QString();
    const QDateTime local = QDateTime::fromSecsSinceEpoch(qint64(seconds), Qt::LocalTime);
    return QLocale::c().toString(local, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss AP"));
}

bool IsPreviewHtmlBody(const QString &body)
{
    // Every text of the test starts with '<': one walk over the body's '<' finds them all, each
    // '<' tried only against the texts whose second character follows it.
    static const QVector<QVector<int>> bySecond = [] {
        QVector<QVector<int>> texts(128);
        for (int k = 0; k < int(std::size(kHtmlPairs)) * 2; ++k)
            texts[uchar(kHtmlPairs[k / 2][k % 2][1])].append(k);
        return texts;
    }();
    QVector<bool> seen(int(std::size(kHtmlPairs)) * 2, false);
    const QChar *c = body.constData();
    const int size = body.size();
    for (int at = body.indexOf(QLatin1Char('<')); at >= 0 && at + 1 < size;
         at = body.indexOf(QLatin1Char('<'), at + 1)) {
        const ushort next = c[at + 1].unicode();
        if (next >= 128)
            continue;
        for (const int k : bySecond.at(next)) {
            const QLatin1String text(kHtmlPairs[k / 2][k % 2]);
            if (seen[k] || size - at < text.size() || QStringView(c + at, text.size()) != text)
                continue;
            seen[k] = true;
            if (seen[k ^ 1])
                return true;
        }
    }
    return false;
}

QString MailPreviewBody(const QByteArray &stored, bool *html)
{
    QString body = UnescapeXmlEntities(QString::fromUtf8(UpToFirstNul(stored)), EntityForm::Preview);
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    *html = IsPreviewHtmlBody(body);
    // The exporter ends a text body with a line end of its own; nothing else is cut.
    if (!*html && body.endsWith(QLatin1Char('\n')))
        body.chop(1);
    return body;
}

int InlineMailPictures(QTextDocument *document, const QString &body, const MailMessageFields &fields)
{
    if (!body.contains(QLatin1String("cid:")) || fields.attachments.isEmpty())
        return 0;
    QSet<QString> wanted = referencedContentIds(body);
    // "no" stands for an attachment without a content id; an empty one names no picture.
    wanted.remove(QString());
    wanted.remove(QStringLiteral("no"));
    const AttachmentIndex index(tmpAtFOStart);
    qint64 room = kMaxInlinePicturesBytes;
    int added = 0;
    for (const AttachmentInfo &a : fields.attachments) {
        // The first attachment of a content id gives its picture.
        if (!wanted.contains(a.contentId))
            continue;
        const QImage picture = inlinePicture(a, index, room);
        if (picture.isNull())
            continue;
        wanted.remove(a.contentId);
        room -= picture.sizeInBytes();
        document->addResource(QTextDocument::ImageResource, QUrl(QLatin1String("cid:") + a.contentId), picture);
        ++added;
    }
    return added;
}

void ClearItemPreview()
{
    const BrowsePanes &p = Panes();
    if (!p.htmlPreview)
        return;
    CancelPreviewBody();
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
}

void QPreviewOfItems::MessageFieldsForThePreview(MailMLRC *pRecord)
{
    if (!Panes().mailHeaderText || !pRecord)
        return;
    Panes().mailHeaderText->clear();
    Panes().mailHeaderText->show();
    Panes().textPreview->clear();
    Panes().textPreview->hide();
    Panes().htmlPreview->clear();
    Panes().mailHeaderText->setTextInteractionFlags(Qt::NoTextInteraction);
    Panes().mailHeaderText->setFontPointSize(11);

    MailMessageFields fields = ParseMessageXml(ReadMessageXml(pRecord->llDataOffset, pRecord->dwDataLength));
    fields.strEntryName = ReadEntryName(pRecord->llNameOffset, pRecord->nNameLength);
    showHeader(*pRecord, fields);
    showBody(*pRecord, fields);
    FinishItemPreview();
}
