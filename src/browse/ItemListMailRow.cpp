// One mail row of the item list: the texts it shows and the small widget that shows them.

#include "browse/ItemListMailRow.h"
#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/ItemListMailRowParts.h"
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
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPixmapCache>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QVector>

namespace {

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

// The rows' three lines and their date, measured once per font resolution as they are drawn
// with the scripts mail is written in (fallback fonts included), so that no descender, digit or
// taller script is cut whatever fonts the system has. Every mail row has that one height: the
// list can then lay out and page a folder of any size at the cost of one row. The widths and the
// 60-pixel row are the least they get.
constexpr int kRowMargin = 3;
constexpr int kRowLineSpacing = 1;
constexpr int kLeastRowHeight = 60;
constexpr int kLeastDateWidth = 60;
constexpr int kSubjectWidth = 190;
constexpr int kIconSpacing = 5;
constexpr int kDateSpacing = 5;
constexpr int kListIconSize = 16;  // the small icons a list draws

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

// Latin with accents and descenders, Korean, Chinese, Japanese, Greek, Hebrew, Arabic, Thai and
// Devanagari: the tallest line any of them draws is the line every row gets.
const QString &scriptsLine()
{
    static const QString line =
        QString::fromUtf8("ÅÉgjpqy|0123456789 김민준 李雷 日本語 Ωμέγα עברית العربية ไทย हिन्दी");
    return line;
}

// The lines of every row as drawn on list, measured once per resolution.
LineHeights lineHeights(const QWidget *list)
{
    static QHash<int, LineHeights> measured;
    const int dpi = list ? list->logicalDpiY() : 0;
    auto it = measured.constFind(dpi);
    if (it == measured.constEnd()) {
        const QFont font11 = listFont(11);
        const QString &line = scriptsLine();
        it = measured.insert(dpi,
                             {DrawnTextHeight(listFont(11, true), line, list), DrawnTextHeight(font11, line, list),
                              DrawnTextHeight(dateFont(), line, list), DrawnTextHeight(font11, line, list)});
    }
    return it.value();
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

// A mail row keeps its values in members and answers the roles a row filled with setData() would
// hold: a folder of 10^5 mails cannot afford a row's generic per-column role tables, which cost
// more than its texts. A value set afterwards is kept as usual and takes precedence.
class MailRowItem : public QTreeWidgetItem {
public:
    MailRowItem(const MailMLRC &mail, const MailRowTexts &texts, qint64 position, int height)
        : m_sender(texts.sender), m_subject(texts.subject), m_date(texts.date), m_snippet(texts.snippet),
          m_position(position), m_bodyOffset(mail.llBodyOffset), m_serial(g_itemListFillSerial),
          m_bodyLength(mail.dwBodyLength), m_height(height), m_hasSnippet(texts.hasSnippet),
          m_priority(mail.cPriority == '2'), m_attachment(mail.bHasAttachment != 0)
    {
    }

    QVariant data(int column, int role) const override
    {
        const QVariant set = QTreeWidgetItem::data(column, role);
        return set.isValid() ? set : own(column, role);
    }

private:
    // The picture from the application's cache at the list's icon size, looked up when drawn: no
    // row holds an icon.
    static QVariant icon(int role, const char *path)
    {
        if (role == Qt::DecorationRole)
            return cachedPixmap(path, QSize(kListIconSize, kListIconSize));
        return role == kItemIconRole ? QVariant(QString::fromLatin1(path)) : QVariant();
    }

    static QVariant flag(bool on) { return on ? QVariant(true) : QVariant(); }

    QVariant keyRole(int role) const
    {
        switch (role) {
        case ItemKindRole:
            return int(FolderKindMail);
        case ItemIndexRole:
            return qlonglong(m_position);
        case ItemFillSerialRole:
            return qulonglong(m_serial);
        default:
            return QVariant();
        }
    }

    QVariant textRole(int role) const
    {
        switch (role) {
        case SenderRole:
            return m_sender;
        case SubjectRole:
            return m_subject;
        case DateRole:
            return m_date;
        case SnippetRole:
            return m_hasSnippet ? QVariant(m_snippet) : QVariant();
        case PriorityRole:
            return flag(m_priority);
        case AttachmentRole:
            return flag(m_attachment);
        case Qt::SizeHintRole:
            return QSize(60, m_height);
        default:
            return QVariant();
        }
    }

    QVariant own(int column, int role) const
    {
        const bool shown = role == Qt::DisplayRole || role == Qt::EditRole;
        switch (column) {
        case ItemColumnKey:
            return keyRole(role);
        case ItemColumnPriority:
            return m_priority ? icon(role, kPriorityIcon) : QVariant();
        case ItemColumnKindIcon:
            return icon(role, kInboxIcon);
        case ItemColumnAttachment:
            return m_attachment ? icon(role, kAttachmentIcon) : QVariant();
        case ItemColumnText:
            return textRole(role);
        case ItemColumnUuid:
            return shown ? QVariant(QString::number(m_bodyOffset)) : QVariant();
        case ItemColumnBodyLength:
            return shown ? QVariant(QString::number(m_bodyLength)) : QVariant();
        default:
            return QVariant();
        }
    }

    QString m_sender;
    QString m_subject;
    QString m_date;
    QString m_snippet;
    qint64 m_position;
    qint64 m_bodyOffset;
    quint64 m_serial;
    quint32 m_bodyLength;
    int m_height;
    bool m_hasSnippet;
    bool m_priority;
    bool m_attachment;
};

}  // namespace

namespace mailrow {

namespace {

// The snippet and the sender take their line's width less kRowTextLess (the row's margins, and
// beside the sender its icons) and are cut to it with an ellipsis; the subject takes what the
// date leaves, at most kSubjectWidth.
constexpr int kSnippetWidth = 255;
constexpr int kRowTextLess = 10;
// The whole text of a label that shows it cut to its width.
const char kWholeTextProperty[] = "wholeText";

// Cut until the text as drawn fits: a fallback font's glyphs may reach past their advance.
void elideTo(QLabel *label, int width)
{
    const QString text = label->property(kWholeTextProperty).toString();
    label->setFixedWidth(qMax(0, width));
    int room = label->contentsRect().width();
    QString shown = text;
    while (room > 0 && LabelLineWidth(label, shown) > label->width()) {
        shown = label->fontMetrics().elidedText(text, Qt::ElideRight, room);
        room -= 4;
    }
    // The size hint is measured again only for a new text, and holds a fixed width it had then.
    if (label->text() == shown)
        label->clear();
    label->setText(shown);
}

struct RowLabels {
    QLabel *sender;
    QLabel *priority;
    QLabel *attachment;
    QLabel *subject;
    QLabel *date;
    QLabel *snippet;
};

RowLabels rowLabels(const QWidget *widget)
{
    const auto child = [widget](const char *name) { return widget->findChild<QLabel *>(QLatin1String(name)); };
    return {child("mailSender"),  child("mailPriority"), child("mailAttachment"),
            child("mailSubject"), child("mailDate"),     child("mailSnippet")};
}

// Cuts the row's texts to a row width.
void fitRowTexts(QWidget *widget, int width)
{
    widget->setFixedWidth(width);
    const RowLabels l = rowLabels(widget);
    int senderLess = kRowTextLess;
    for (const QLabel *icon : {l.priority, l.attachment}) {
        if (!icon->isHidden())
            senderLess += icon->width() + kIconSpacing;
    }
    elideTo(l.sender, width - senderLess);
    // The date keeps its room; the subject is cut before it.
    elideTo(l.subject, qMin(kSubjectWidth, width - kRowTextLess - kDateSpacing - l.date->width()));
    if (l.snippet->property(kWholeTextProperty).isValid())
        elideTo(l.snippet, width - kRowTextLess);
    else
        l.snippet->clear();
}

QLabel *rowLabel(const char *name, const QSize &size, const QFont &font = QFont())
{
    QLabel *label = plainLabel();
    label->setObjectName(QLatin1String(name));
    label->setFixedSize(size);
    if (font != QFont())
        label->setFont(font);
    return label;
}
}  // namespace

// The widget of a mail row without its texts. It follows the text column's width for as long
// as it lives, whichever row it shows then.
QWidget *newRowWidget(QTreeWidget *list)
{
    const LineHeights heights = lineHeights(list);
    const QFont font11 = listFont(11);
    auto *line1 = new QHBoxLayout;
    line1->setSpacing(kIconSpacing);
    line1->addWidget(rowLabel("mailSender", QSize(kSnippetWidth, heights.sender), listFont(11, true)));
    line1->addStretch();
    QLabel *priority = rowLabel("mailPriority", QSize(15, 12));
    priority->setPixmap(cachedPixmap(kPriorityIcon));
    line1->addWidget(priority);
    QLabel *attachment = rowLabel("mailAttachment", QSize(30, 12));
    attachment->setPixmap(cachedPixmap(kAttachmentIcon, QSize(30, 12)));
    line1->addWidget(attachment);

    auto *line2 = new QHBoxLayout;
    line2->addWidget(rowLabel("mailSubject", QSize(kSubjectWidth, heights.subject), font11));
    line2->addStretch();
    QLabel *date = rowLabel("mailDate", QSize(kLeastDateWidth, heights.date));
    line2->addWidget(date);
    line2->setSpacing(kDateSpacing);

    QLabel *snippet = rowLabel("mailSnippet", QSize(kSnippetWidth, heights.snippet), font11);
    snippet->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto *line3 = new QHBoxLayout;
    line3->addWidget(snippet);

    auto *widget = new QWidget;
    widget->setObjectName(QLatin1String(kRowWidgetName));
    widget->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    auto *lines = new QVBoxLayout(widget);
    lines->setContentsMargins(kRowMargin, kRowMargin, kRowMargin, kRowMargin);
    lines->setSpacing(kRowLineSpacing);
    lines->addLayout(line1);
    lines->addLayout(line2);
    lines->addLayout(line3);
    widget->setStyleSheet(RowSheet());
    // The sheet gives the date its font: measured in it from here on.
    date->ensurePolished();
    // Header handlers live as long as the widget they resize: the widget is their context object.
    QObject::connect(
        list->header(), &QHeaderView::sectionResized, widget,
        [widget](int section, int, int size) {
            if (section == ItemColumnText)
                fitRowTexts(widget, size);
        },
        Qt::DirectConnection);
    return widget;
}

// Shows row's texts on a row widget, new or one a row further away gave up.
void showRowTexts(QWidget *widget, const QTreeWidgetItem *row, const QTreeWidget *list)
{
    const RowLabels l = rowLabels(widget);
    l.sender->setProperty(kWholeTextProperty, row->data(ItemColumnText, SenderRole).toString());
    l.subject->setProperty(kWholeTextProperty, shownSubject(row->data(ItemColumnText, SubjectRole).toString()));
    l.snippet->setProperty(kWholeTextProperty, row->data(ItemColumnText, SnippetRole));
    l.priority->setVisible(row->data(ItemColumnText, PriorityRole).toBool());
    l.attachment->setVisible(row->data(ItemColumnText, AttachmentRole).toBool());
    l.date->setText(row->data(ItemColumnText, DateRole).toString());
    l.date->setFixedWidth(qMax(kLeastDateWidth, l.date->sizeHint().width()));
    l.date->setFixedHeight(qMax(lineHeights(list).date, l.date->sizeHint().height()));
    // As wide as the text column now is; the header handler keeps it so.
    fitRowTexts(widget, list->header()->sectionSize(ItemColumnText));
}

}  // namespace mailrow

int MailRowHeight(const QWidget *list)
{
    return rowHeight(lineHeights(list));
}

QTreeWidgetItem *MakeMailRow(const MailMLRC &mail, qint64 position, qint64 fileSize, const QWidget *list)
{
    return new MailRowItem(mail, MailRowTextsFor(mail, fileSize), position, MailRowHeight(list));
}
