// One mail row of the item list: the texts it shows and the small widget that shows them.

#include "browse/ItemListMailRow.h"
#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/MailPreview.h"
#include "browse/SelectionPalette.h"
#include "platform/ArchiveSource.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QApplication>
#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPixmapCache>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QVector>

namespace {

constexpr int kSnippetChars = 160;
// A snippet needs the start of the body only; a damaged record may claim gigabytes.
constexpr qint64 kSnippetReadLimit = 1 << 20;
constexpr qint32 kMaxEntryName = 65535;

const char *const kPriorityIcon = ":/images/img_Priority.png";
const char *const kInboxIcon = ":/images/img_InboxFolderIcon.png";
const char *const kAttachmentIcon = ":/images/img_Attachment.png";
// The labels' own sheets ("QLabel { border: none;}", the date's 10pt, the snippet's grey) are
// rules of the row's one sheet: the same look, one style resolution per row instead of seven.
const QString &RowSheet()
{
    static const QString sheet = QStringLiteral("QWidget { border: none;border-bottom: 1px solid grey;}"
                                                "QLabel { border: none;}"
                                                "QLabel#mailDate { border: none;font-size: 10pt;}"
                                                "QLabel#mailSnippet { border: none;color : %1;}")
                                     .arg(SnippetTextColour().name());
    return sheet;
}

QFont listFont(int points, bool bold = false)
{
    QFont f(QStringLiteral("Lucida Grande"), points);
    if (bold)
        f.setWeight(QFont::Bold);
    return f;
}

// The rows' three lines and their date, measured as they are drawn (fallback fonts included), so
// that no descender, digit or taller script is cut whatever fonts the system has. The widths and
// the 60-pixel row are the least they get.
constexpr int kRowMargin = 3;
constexpr int kRowLineSpacing = 1;
constexpr int kLeastRowHeight = 60;
constexpr int kLeastDateWidth = 60;
constexpr int kSubjectWidth = 190;
constexpr int kIconSpacing = 5;

QFont dateFont()
{
    QFont f = QApplication::font();
    f.setPointSize(10);  // the row sheet's size for the date
    return f;
}

QString shownSubject(const QString &subject)
{
    return subject.isEmpty() ? QStringLiteral("No Subject") : subject;
}

struct LineHeights {
    int sender;
    int subject;
    int date;
    int snippet;
};

// The lines of a row as drawn on list.
LineHeights lineHeights(const MailRowTexts &t, const QWidget *list)
{
    const QFont font11 = listFont(11);
    return {DrawnTextHeight(listFont(11, true), t.sender, list), DrawnTextHeight(font11, shownSubject(t.subject), list),
            DrawnTextHeight(dateFont(), t.date, list), DrawnTextHeight(font11, t.snippet, list)};
}

int rowHeight(const LineHeights &h)
{
    const int lines = h.sender + qMax(h.subject, h.date) + h.snippet;
    return qMax(kLeastRowHeight, lines + 2 * kRowMargin + 2 * kRowLineSpacing);
}

// Archive text is never markup here.
QLabel *plainLabel(const QString &text = QString())
{
    auto *label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

// Pictures are decoded once, not per row; the application's pixmap cache holds them, so
// nothing of ours outlives the application.
QPixmap cachedPixmap(const char *path, const QSize &scaledTo = QSize())
{
    const QString key = QLatin1String(path) + QLatin1Char('@') + QString::number(scaledTo.width());
    QPixmap pixmap;
    if (!QPixmapCache::find(key, &pixmap)) {
        pixmap = QPixmap(QLatin1String(path));
        if (scaledTo.isValid() && !pixmap.isNull())
            pixmap = pixmap.scaled(scaledTo, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPixmapCache::insert(key, pixmap);
    }
    return pixmap;
}

void setIconWithName(QTreeWidgetItem *row, int column, const char *path)
{
    row->setIcon(column, QIcon(cachedPixmap(path)));
    row->setData(column, kItemIconRole, QLatin1String(path));
}

}  // namespace

QString MailSenderText(const char *fromNames)
{
    QString text = QString::fromUtf8(fromNames ? fromNames : "");
    if (text.count(QLatin1Char(';')) < 2) {
        text.remove(QLatin1Char(';'));
        return text;
    }
    text.chop(1);
    return text.mid(text.lastIndexOf(QLatin1Char(';')) + 1);
}

QString MailDateText(const MailMLRC &mail, const QString &entryName)
{
    if (entryName.isEmpty())
        return QString();
    // A mail without the time its folder shows has no date, as in the preview: not 1970.
    const quint32 seconds = MailDateSeconds(mail, entryName);
    if (seconds == 0)
        return QString();
    return QDateTime::fromSecsSinceEpoch(qint64(seconds), Qt::LocalTime).toString(QStringLiteral("dd/MM/yyyy"));
}

QString MailSnippet(const QByteArray &body)
{
    QByteArray bytes = body;
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    QString text = QString::fromUtf8(bytes);
    // The preview's order, whose "&amp;lt;" is gone by its turn.
    text = UnescapeXmlEntities(text, EntityForm::Preview);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // A bare document loads no images or style sheets named by the archive.
    QTextDocument doc;
    doc.setHtml(text);
    text = doc.toPlainText();
    text.remove(QChar(0x200B));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text = text.simplified();
    if (text.size() > kSnippetChars) {
        int keep = kSnippetChars;
        if (text.at(keep - 1).isHighSurrogate())
            --keep;
        text.truncate(keep);
    }
    return text;
}

QString MailEntryName(const MailMLRC &mail, qint64 fileSize)
{
    if (mail.nNameLength <= 0 || mail.nNameLength > kMaxEntryName || mail.llNameOffset <= 0)
        return QString();
    QByteArray name = ReadArchiveBytes(mail.llNameOffset, qMin<qint64>(mail.nNameLength, fileSize - mail.llNameOffset));
    const int nul = name.indexOf('\0');
    if (nul >= 0)
        name.truncate(nul);
    return QString::fromUtf8(name);
}

namespace {

// Header handlers live as long as the widget they resize: the widget is their context object.
void followColumnWidth(QHeaderView *header, QWidget *row)
{
    QObject::connect(
        header, &QHeaderView::sectionResized, row,
        [row](int section, int, int size) {
            if (section == 4)
                row->setFixedWidth(size);
        },
        Qt::DirectConnection);
}

// The snippet and the sender take their line's width less `less` (the row's margins, and beside
// the sender its icons) and are cut to it with an ellipsis.
constexpr int kSnippetWidth = 255;
constexpr int kRowTextLess = 10;

void elideTo(QLabel *label, const QString &text, int width)
{
    label->setFixedWidth(qMax(0, width));
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, label->width()));
}

void followTextWidth(QHeaderView *header, QLabel *label, const QString &text, int less)
{
    QObject::connect(
        header, &QHeaderView::sectionResized, label,
        [label, text, less](int section, int, int size) {
            if (section == ItemColumnText)
                elideTo(label, text, size - less);
        },
        Qt::DirectConnection);
}

QWidget *mailRowWidget(const QTreeWidgetItem *row, QTreeWidget *list)
{
    QHeaderView *header = list->header();
    const QFont font11 = listFont(11);
    const QFontMetrics metrics(font11, list);
    const QString subjectText = row->data(ItemColumnText, SubjectRole).toString();
    const QVariant snippetText = row->data(ItemColumnText, SnippetRole);
    MailRowTexts texts;
    texts.sender = row->data(ItemColumnText, SenderRole).toString();
    texts.subject = subjectText;
    texts.date = row->data(ItemColumnText, DateRole).toString();
    texts.snippet = snippetText.toString();
    const LineHeights heights = lineHeights(texts, list);

    QLabel *sender = plainLabel();
    sender->setObjectName(QStringLiteral("mailSender"));
    sender->setFixedHeight(heights.sender);
    sender->setFont(listFont(11, true));
    auto *line1 = new QHBoxLayout;
    line1->setSpacing(kIconSpacing);
    int senderLess = kRowTextLess;
    line1->addWidget(sender);
    line1->addStretch();
    if (row->data(ItemColumnText, PriorityRole).toBool()) {
        QLabel *priority = plainLabel();
        priority->setObjectName(QStringLiteral("mailPriority"));
        priority->setFixedSize(15, 12);
        priority->setPixmap(cachedPixmap(kPriorityIcon));
        line1->addWidget(priority);
        senderLess += priority->width() + kIconSpacing;
    }
    if (row->data(ItemColumnText, AttachmentRole).toBool()) {
        QLabel *attachment = plainLabel();
        attachment->setObjectName(QStringLiteral("mailAttachment"));
        attachment->setFixedSize(30, 12);
        attachment->setPixmap(cachedPixmap(kAttachmentIcon, QSize(30, 12)));
        line1->addWidget(attachment);
        senderLess += attachment->width() + kIconSpacing;
    }

    QLabel *subject = plainLabel();
    subject->setObjectName(QStringLiteral("mailSubject"));
    subject->setFixedSize(kSubjectWidth, heights.subject);
    subject->setFont(font11);
    subject->setText(metrics.elidedText(shownSubject(subjectText), Qt::ElideRight, kSubjectWidth));
    QLabel *date = plainLabel(row->data(ItemColumnText, DateRole).toString());
    date->setObjectName(QStringLiteral("mailDate"));
    date->setFixedSize(kLeastDateWidth, heights.date);
    auto *line2 = new QHBoxLayout;
    line2->addWidget(subject);
    line2->addStretch();
    line2->addWidget(date);
    line2->setSpacing(5);

    QLabel *snippet = plainLabel();
    snippet->setObjectName(QStringLiteral("mailSnippet"));
    snippet->setFixedSize(kSnippetWidth, heights.snippet);
    snippet->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    snippet->setFont(font11);
    auto *line3 = new QHBoxLayout;
    line3->addWidget(snippet);

    auto *widget = new QWidget;
    widget->setObjectName(QStringLiteral("mailRow"));
    widget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    auto *lines = new QVBoxLayout(widget);
    lines->setContentsMargins(kRowMargin, kRowMargin, kRowMargin, kRowMargin);
    lines->setSpacing(kRowLineSpacing);
    lines->addLayout(line1);
    lines->addLayout(line2);
    lines->addLayout(line3);
    widget->setStyleSheet(RowSheet());
    // The sheet gives the date its size: measure it in that font.
    date->ensurePolished();
    date->setFixedSize(qMax(kLeastDateWidth, date->sizeHint().width()),
                       qMax(date->height(), date->sizeHint().height()));
    followColumnWidth(header, widget);
    followTextWidth(header, sender, texts.sender, senderLess);
    if (snippetText.isValid())
        followTextWidth(header, snippet, texts.snippet, kRowTextLess);
    // A row that comes into view after column 4 was resized starts as the others now are.
    const QVariant resized = list->property(kMailRowWidthProperty);
    const int width = resized.isValid() ? resized.toInt() : kSnippetWidth + kRowTextLess;
    if (resized.isValid())
        widget->setFixedWidth(width);
    elideTo(sender, texts.sender, width - senderLess);
    if (snippetText.isValid())
        elideTo(snippet, texts.snippet, width - kRowTextLess);
    return widget;
}

}  // namespace

MailRowTexts MailRowTextsFor(const MailMLRC &mail, qint64 fileSize)
{
    MailRowTexts t;
    t.date = MailDateText(mail, MailEntryName(mail, fileSize));
    t.sender = MailSenderText(mail.pFromNames);
    t.subject = QString::fromUtf8(mail.pSubject ? mail.pSubject : "");
    t.hasSnippet = mail.llBodyOffset > 0 && mail.dwBodyLength != 0;
    if (t.hasSnippet)
        t.snippet = MailSnippet(ReadArchiveBytes(
            mail.llBodyOffset,
            qMin<qint64>(qMin<qint64>(mail.dwBodyLength, kSnippetReadLimit), fileSize - mail.llBodyOffset)));
    return t;
}

QTreeWidgetItem *MakeMailRow(const MailMLRC &mail, qint64 position, qint64 fileSize, const QWidget *list)
{
    const MailRowTexts texts = MailRowTextsFor(mail, fileSize);
    auto *row = new QTreeWidgetItem;
    const QFont font11 = listFont(11);
    const QFont font12 = listFont(12);
    const int height = rowHeight(lineHeights(texts, list));
    for (int c = ItemColumnKey; c <= ItemColumnText; ++c) {
        row->setSizeHint(c, c <= ItemColumnKindIcon ? QSize(20, 20) : QSize(60, height));
        row->setFont(c, c == ItemColumnText ? font12 : font11);
    }
    row->setData(ItemColumnKey, ItemKindRole, int(FolderKindMail));
    row->setData(ItemColumnKey, ItemIndexRole, qlonglong(position));
    row->setData(ItemColumnKey, ItemFillSerialRole, qulonglong(g_itemListFillSerial));
    row->setData(ItemColumnText, SenderRole, texts.sender);
    row->setData(ItemColumnText, SubjectRole, texts.subject);
    row->setData(ItemColumnText, DateRole, texts.date);
    if (texts.hasSnippet)
        row->setData(ItemColumnText, SnippetRole, texts.snippet);
    if (mail.cPriority == '2') {
        setIconWithName(row, ItemColumnPriority, kPriorityIcon);
        row->setData(ItemColumnText, PriorityRole, true);
    }
    if (mail.bHasAttachment != 0) {
        setIconWithName(row, ItemColumnAttachment, kAttachmentIcon);
        row->setData(ItemColumnText, AttachmentRole, true);
    }
    row->setText(ItemColumnUuid, QString::number(mail.llBodyOffset));
    row->setText(ItemColumnBodyLength, QString::number(mail.dwBodyLength));
    setIconWithName(row, ItemColumnKindIcon, kInboxIcon);
    return row;
}

namespace {

// The row a widget was made for, as its place in the list: rows are only appended until the list
// is cleared, and a place is looked up again before its row is touched.
const char kRowPlaceProperty[] = "mailRowPlace";

bool isMailRow(const QTreeWidgetItem *row)
{
    return row && row->data(ItemColumnKey, ItemKindRole) == QVariant(int(FolderKindMail))
        && row->data(ItemColumnText, SubjectRole).isValid();
}

QWidget *ensureRowWidget(QTreeWidget *list, QTreeWidgetItem *row, int place)
{
    if (QWidget *made = list->itemWidget(row, ItemColumnText))
        return made;
    QWidget *widget = mailRowWidget(row, list);
    widget->setProperty(kRowPlaceProperty, place);
    list->setItemWidget(row, ItemColumnText, widget);
    return widget;
}

// Releases the widgets of rows further than margin rows from [first, last]; the view deletes them
// once the event loop runs. A folder of many mails keeps widgets for about three screens of
// rows however far it is scrolled.
void releaseFarRowWidgets(QTreeWidget *list, int first, int last, int margin)
{
    const auto widgets =
        list->viewport()->findChildren<QWidget *>(QStringLiteral("mailRow"), Qt::FindDirectChildrenOnly);
    for (QWidget *widget : widgets) {
        const QVariant place = widget->property(kRowPlaceProperty);
        if (!place.isValid() || (place.toInt() >= first - margin && place.toInt() <= last + margin))
            continue;
        QTreeWidgetItem *row = list->topLevelItem(place.toInt());
        if (row && list->itemWidget(row, ItemColumnText) == widget)
            list->removeItemWidget(row, ItemColumnText);
    }
}

}  // namespace

QWidget *EnsureMailRowWidget(QTreeWidget *list, QTreeWidgetItem *row)
{
    if (!isMailRow(row))
        return nullptr;
    return ensureRowWidget(list, row, list->indexOfTopLevelItem(row));
}

void MakeVisibleMailRowWidgets(QTreeWidget *list)
{
    const QRect area = list->viewport()->rect();
    QTreeWidgetItem *row = list->itemAt(QPoint(0, area.top()));
    if (!row)
        return;
    // The rows in view are found before any widget is made: a widget set asks the view for a
    // new layout, which the next step down would otherwise run over the whole list.
    QVector<QTreeWidgetItem *> inView;
    // Rows are at least 20 pixels high: a bound that a strange geometry cannot stretch.
    for (int left = area.height() / 20 + 2; row && left > 0; --left) {
        if (!list->visualItemRect(row).intersects(area))
            break;
        inView.append(row);
        row = list->itemBelow(row);
    }
    const int first = list->indexOfTopLevelItem(inView.constFirst());
    for (int i = 0; i < inView.size(); ++i) {
        if (isMailRow(inView.at(i)))
            ensureRowWidget(list, inView.at(i), first + i);
    }
    const int last = first + inView.size() - 1;
    releaseFarRowWidgets(list, first, last, qMax(10, int(inView.size())));
}
