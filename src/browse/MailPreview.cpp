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
#include <QDateTime>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <QVector>
#include <QtMath>

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

// A content type goes into a data: URL inside an attribute: only the characters a MIME type
// may hold, so a damaged or crafted value cannot end the attribute.
QString safeContentType(const QString &type)
{
    QString out;
    for (const QChar c : type) {
        const ushort u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || QByteArray("!#$&^_.+-/").contains(char(u)))
            out += c;
    }
    return out;
}

// The data: URL of an attachment's bytes, or "" when it has none that may be inlined.
QString pictureDataUrl(const AttachmentInfo &a, const AttachmentIndex &index)
{
    const FileOffsetNode *node = index.find(a.url);
    if (!node || node->bCompressed || node->llSize <= 0 || node->llSize > kMaxInlinePictureBytes)
        return QString();
    const QByteArray bytes = ReadArchiveBytes(node->llDataOffset, node->llSize, kMaxInlinePictureBytes);
    return QStringLiteral("data:%1;base64,%2")
        .arg(safeContentType(a.contentType), QString::fromLatin1(bytes.toBase64()));
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

// The date stays beside the sender while the sender keeps the room its first word needs (cut
// after it at the latest); otherwise it goes on its own line below the sender. Decided on the
// width of the area both share, which the choice does not change.
constexpr int kSenderPadding = 15;  // the label sheet's padding-left

// The width the sender's row may take: the header's view, not the area inside it, which a row
// too wide for the view widens.
int senderRowRoom(const QLabel *sender)
{
    if (const QScrollArea *area = Panes().mailHeaderScroll)
        return area->viewport()->width();
    return sender->parentWidget() ? sender->parentWidget()->width() : sender->width();
}

void placeDate(QLabel *sender, const QString &whole)
{
    QBoxLayout *row = senderRowOf(sender);
    if (!row || !Panes().dateLabel)
        return;
    const QString firstWord = whole.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    const int need = kSenderPadding + sender->fontMetrics().horizontalAdvance(firstWord + QChar(0x2026)) + 4;
    const int room = senderRowRoom(sender) - Panes().dateLabel->sizeHint().width();
    const auto direction = firstWord.isEmpty() || room >= need ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
    if (row->direction() != direction)
        row->setDirection(direction);
}

// The width label needs to show text whole, its sheet's padding included, as its own size hint
// says: measured without a minimum width, below which the hint never goes.
int neededWidth(QLabel *label, const QString &text)
{
    label->setMinimumWidth(0);
    label->setText(text);
    return label->sizeHint().width();
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

// Where the recipients' lines end, from the label's top, as the label lays them out at width.
QVector<int> recipientLineEnds(const QLabel *label, int width)
{
    const QRect inner = label->contentsRect();
    QTextDocument document;
    document.setDefaultFont(label->font());
    // Laid out at the label's resolution, as the label lays it out.
    document.documentLayout()->setPaintDevice(const_cast<QLabel *>(label));
    document.setHtml(label->text());
    document.setTextWidth(width - (label->width() - inner.width()));
    QVector<int> ends;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        const qreal top = document.documentLayout()->blockBoundingRect(block).top();
        const QTextLayout *layout = block.layout();
        for (int i = 0; layout && i < layout->lineCount(); ++i)
            ends << inner.top() + qCeil(top + layout->lineAt(i).y() + layout->lineAt(i).height());
    }
    return ends;
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
    const int lines = senderHeight + p.recipientsLabel->heightForWidth(width);
    const int tiles = firstTileRowHeight(p.attachmentGrid);
    const int frame = area->height() - area->viewport()->height();
    const int most = qMax(kLeastHeaderHeight, p.previewFrame ? p.previewFrame->height() / 2 : 0);
    int height = qMax(kLeastHeaderHeight, lines + tiles + frame);
    int step = tiles - p.attachmentGrid->contentsMargins().top();
    if (height > most) {
        // Too many recipients: the view ends after the last of their lines that fits, and steps
        // by lines.
        const QVector<int> ends = recipientLineEnds(p.recipientsLabel, width);
        height = senderHeight + frame + (ends.isEmpty() ? 0 : ends.first());
        for (int end : ends) {
            if (senderHeight + frame + end <= most)
                height = senderHeight + frame + end;
        }
        step = ends.isEmpty() ? step : ends.first();
    }
    if (p.mailHeaderArea->height() != height || p.mailHeaderArea->minimumHeight() != height)
        p.mailHeaderArea->setFixedHeight(height);
    if (step > 0)
        area->verticalScrollBar()->setSingleStep(step);
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
    Panes().recipientsLabel->setTextFormat(Qt::RichText);
    Panes().recipientsLabel->setText(MailRecipientsHtml(f));
    // Recipients wrap and tiles move to other rows when the width changes: fitted again once the
    // tiles have been placed for the new width.
    QScrollArea *area = Panes().mailHeaderScroll;
    FollowResize(area, QStringLiteral("headerHeightFollower"), [area](const QResizeEvent &event) {
        if (event.oldSize().width() != event.size().width())
            QTimer::singleShot(0, area, [] { fitHeaderHeight(); });
    });
    fitHeaderHeight();
    // Each message starts at its first line, whatever the previous one was scrolled to.
    if (area)
        area->verticalScrollBar()->setValue(0);
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
    body = InlineMailPictures(body, f);
    if (html)
        ShowPreviewBody(htmlView, body);
    else
        htmlView->setPlainText(body);
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
    QString text = QStringLiteral("<b>To: </b>") + MailListForm(fields.strToList).toHtmlEscaped();
    if (!fields.strCcList.isEmpty())
        text += QLatin1String("<br><b>Cc: </b>") + MailListForm(fields.strCcList).toHtmlEscaped();
    if (!fields.strBccList.isEmpty())
        text += QLatin1String("<br><b>Bcc: </b>") + MailListForm(fields.strBccList).toHtmlEscaped();
    return text;
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
    for (const auto &pair : kHtmlPairs) {
        if (body.contains(QLatin1String(pair[0])) && body.contains(QLatin1String(pair[1])))
            return true;
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

QString InlineMailPictures(QString body, const MailMessageFields &fields)
{
    if (!body.contains(QLatin1String("cid:")) || fields.attachments.isEmpty())
        return body;
    const AttachmentIndex index(tmpAtFOStart);
    for (const AttachmentInfo &a : fields.attachments) {
        // "no" stands for an attachment without a content id; an empty one would match every
        // reference of the body.
        if (a.contentId.isEmpty() || a.contentId == QLatin1String("no"))
            continue;
        const QString reference = QLatin1String("cid:") + a.contentId;
        if (!body.contains(reference))
            continue;
        const QString url = pictureDataUrl(a, index);
        if (!url.isEmpty())
            body.replace(reference, url);
    }
    return body;
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
