// Filling the item list for a clicked folder: contacts, calendar items, tasks and notes in one
// go, mails in time slices on the GUI thread.

#include "browse/ItemListFill.h"

#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/ContactFields.h"
#include "browse/FolderTree.h"
#include "browse/ItemListMailRow.h"
#include "browse/ItemTexts.h"
#include "browse/QPreviewOfItems.h"
#include "platform/WorkerGlobals.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPointer>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTimer>
#include <QTreeWidget>

#include <sys/stat.h>

quint64 g_itemListFillSerial = 0;
quint64 dwFolderIdSelected = 0;

namespace {

// Rows are built for this long, then the event loop gets its turn.
constexpr qint64 kSliceMs = 8;
// Built rows go into the list in batches of at least this many rows and a quarter of those
// listed: each insertion lays out the whole list, so a folder of many mails is laid out a few
// dozen times, not once per slice.
constexpr int kLeastBatch = 200;

const char kPeakRowsProperty[] = "olmPeakRows";

qint64 archiveSize()
{
    struct stat st {};
    if (fileDescriptor < 0 || fstat(fileDescriptor, &st) != 0)
        return 0;
    return qint64(st.st_size);
}

// The list of the previous fill goes first; its row widgets take their header handlers along.
void clearItemList(QTreeWidget *list)
{
    list->clear();
    list->setAlternatingRowColors(true);
}

void notePeakRows(QTreeWidget *list)
{
    if (list->topLevelItemCount() > ItemListPeakRows(list))
        list->setProperty(kPeakRowsProperty, list->topLevelItemCount());
}

// The current cell is put in the shown text column: in a hidden column the view moves the
// current row with the keys but leaves the highlight behind.
void makeCurrentRow(QTreeWidget *list, QTreeWidgetItem *row)
{
    list->setCurrentItem(row, ItemColumnText);
}

// The first row is selected and previewed once: the selection's own signal is held back.
void showFirstRow(QTreeWidget *list, QTreeWidgetItem *row)
{
    {
        const QSignalBlocker block(list);
        makeCurrentRow(list, row);
        row->setSelected(true);
    }
    if (m_pPreview)
        m_pPreview->OnMessageSubjectClicked(row);
}

// ---- contacts, calendar items, tasks, notes ----

struct KindRow {
    QString text;
    const char *uuid;
    bool priority;
};

// A contact without a first or last name reads the head of its element for another name.
KindRow rowOf(const ContactInformation &r)
{
    QByteArray head;
    if (!r.pFirstName && !r.pLastName && r.dwItemLength != 0)
        head = ReadArchiveBytes(r.llItemOffset, qMin<qint64>(r.dwItemLength, kListNameReadBound), kListNameReadBound);
    const QString name =
        ContactShownName(r.pFirstName, r.pLastName, std::string_view(head.constData(), size_t(head.size())));
    return {name.left(kListNameChars), r.szUuid, false};
}
KindRow rowOf(const CalenderInformation &r)
{
    return {QString::fromUtf8(r.pSummary ? r.pSummary : ""), r.szUuid, false};
}
// Of a task or a note: a name the scan kept, or one too long for it read from the item's element,
// before and after its long text: the row shows its start rather than a blank.
KindRow rowOf(const TasksInformation &r)
{
    const QString name = r.pName ? QString::fromUtf8(r.pName)
                                 : ItemElementName(r.llItemOffset, r.dwItemLength, "<OPFTaskCopyName",
                                                   kListNameReadBound, r.dwNoteOffset, r.dwNoteLength);
    return {name.left(kListNameChars), r.szUuid, r.cPriority == '2'};
}
KindRow rowOf(const NotesInformation &r)
{
    const QString title = r.pTitle ? QString::fromUtf8(r.pTitle)
                                   : ItemElementName(r.llItemOffset, r.dwItemLength, "<OPFNoteCopyTitle",
                                                     kListNameReadBound, r.dwTextOffset, r.dwTextLength);
    return {title.left(kListNameChars), r.szUuid, false};
}

bool listed(const ContactInformation &r)
{
    return r.pFirstName || r.pLastName || r.dwItemLength != 0;
}
template <typename T>
bool listed(const T &)
{
    return true;
}

const char *kindIcon(int kind)
{
    switch (kind) {
    case FolderKindContacts:
        return ":/images/img_AddressBookIcon.png";
    case FolderKindCalendar:
        return ":/images/img_CalendarIcon.png";
    case FolderKindTasks:
        return ":/images/img_TaskIcon.png";
    default:
        return ":/images/img_NotesIcon.png";
    }
}

template <typename Record>
void fillKind(QTreeWidget *list, Record *head, qint64 folderId, int kind)
{
    clearItemList(list);
    const QFont font(QStringLiteral("Lucida Grande"), 11);
    const QIcon icon(QLatin1String(kindIcon(kind)));
    const QString kindText = QString::number(kind);
    QList<QTreeWidgetItem *> made;
    qint64 position = 0;
    for (Record *r = head; r; r = r->pNext, ++position) {
        if (r->llFolderId != folderId || !listed(*r))
            continue;
        const KindRow k = rowOf(*r);
        auto *row = new QTreeWidgetItem;
        for (int c = ItemColumnKey; c <= ItemColumnText; ++c) {
            row->setSizeHint(c, QSize(20, 20));
            row->setFont(c, font);
        }
        row->setText(ItemColumnText, k.text);
        row->setText(ItemColumnUuid, QString::fromLatin1(k.uuid, int(qstrnlen(k.uuid, 32))));
        row->setIcon(ItemColumnKindIcon, icon);
        row->setData(ItemColumnKindIcon, kItemIconRole, QLatin1String(kindIcon(kind)));
        row->setText(ItemColumnKind, kindText);
        row->setData(ItemColumnKey, ItemKindRole, kind);
        row->setData(ItemColumnKey, ItemIndexRole, qlonglong(position));
        row->setData(ItemColumnKey, ItemFillSerialRole, qulonglong(g_itemListFillSerial));
        if (k.priority) {
            row->setIcon(ItemColumnPriority, QIcon(QStringLiteral(":/images/img_Priority.png")));
            row->setData(ItemColumnPriority, kItemIconRole, QStringLiteral(":/images/img_Priority.png"));
        }
        made.append(row);
    }
    // Rows are complete before they go in: a row changed inside a shown list costs a layout walk.
    list->addTopLevelItems(made);
    notePeakRows(list);
    if (!made.isEmpty())
        showFirstRow(list, made.first());
}

// ---- mails ----

// Walks the mail list a slice at a time. Between slices the event loop runs, and anything may
// happen there: a newer fill, a clean-up that frees the records, the list being cleared or
// destroyed. The fill goes on only while the serial is its own and the stop flag is clear; the
// record it stands on is touched only after that check.
class MailListFiller : public QObject {
public:
    explicit MailListFiller(QTreeWidget *list) : QObject(list), m_list(list)
    {
        m_timer.setSingleShot(true);
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, &MailListFiller::slice);
        // Row widgets follow the rows into view, during the fill and after it.
        connect(list->verticalScrollBar(), &QScrollBar::valueChanged, this, &MailListFiller::makeVisibleRows);
        list->viewport()->installEventFilter(this);
        list->installEventFilter(this);
    }

    ~MailListFiller() override { qDeleteAll(m_pending); }

    void start(qint64 folderId)
    {
        dropPending();
        m_serial = g_itemListFillSerial;
        m_folderId = folderId;
        m_next = TmpMlrcPtrStart;
        m_position = 0;
        m_shownFirst = false;
        m_endPressed = false;
        m_fileSize = archiveSize();
        m_timer.start();
    }

    bool running() const { return m_timer.isActive() && current(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // The type first: a list being destroyed still sends events, and is no list by then.
        if (event->type() == QEvent::KeyPress && watched == m_list) {
            // End means the folder's last mail, also before all its rows are in the list.
            m_endPressed = static_cast<QKeyEvent *>(event)->key() == Qt::Key_End && running();
            return false;
        }
        if (event->type() == QEvent::Resize || event->type() == QEvent::Show)
            QTimer::singleShot(0, this, &MailListFiller::makeVisibleRows);
        return QObject::eventFilter(watched, event);
    }

private:
    void makeVisibleRows()
    {
        if (m_list)
            MakeVisibleMailRowWidgets(m_list);
    }

    bool current() const { return m_serial == g_itemListFillSerial && !stoploopFlag; }

    void dropPending()
    {
        qDeleteAll(m_pending);
        m_pending.clear();
    }

    void insertPending()
    {
        // After End the last row stays current as rows come in, until the user moves away.
        const int count = m_list->topLevelItemCount();
        m_endPressed = m_endPressed && count > 0 && m_list->currentItem() == m_list->topLevelItem(count - 1);
        m_list->addTopLevelItems(m_pending);
        m_pending.clear();
        notePeakRows(m_list);
        if (m_endPressed && m_list->topLevelItemCount() > count) {
            QTreeWidgetItem *last = m_list->topLevelItem(m_list->topLevelItemCount() - 1);
            makeCurrentRow(m_list, last);
            m_list->scrollToItem(last);
        }
        MakeVisibleMailRowWidgets(m_list);
    }

    void slice()
    {
        if (!current() || !m_list) {
            dropPending();
            return;
        }
        QElapsedTimer clock;
        clock.start();
        while (m_next) {
            MailMLRC *mail = m_next;
            m_next = mail->pNext;
            const qint64 position = m_position++;
            if (mail->llFolderId == m_folderId) {
                QTreeWidgetItem *row = MakeMailRow(*mail, position, m_fileSize, m_list);
                if (m_shownFirst) {
                    m_pending.append(row);
                } else {
                    m_shownFirst = true;
                    m_list->addTopLevelItem(row);
                    showFirstRow(m_list, row);
                    // The preview may have let the event loop run.
                    if (!current() || !m_list) {
                        dropPending();
                        return;
                    }
                }
            }
            if (clock.elapsed() >= kSliceMs)
                break;
        }
        if (!m_next || m_pending.size() >= qMax(kLeastBatch, m_list->topLevelItemCount() / 4))
            insertPending();
        if (m_next)
            m_timer.start();
    }

    QPointer<QTreeWidget> m_list;
    QTimer m_timer;
    quint64 m_serial = 0;
    qint64 m_folderId = 0;
    MailMLRC *m_next = nullptr;
    qint64 m_position = 0;
    qint64 m_fileSize = 0;
    bool m_shownFirst = false;
    bool m_endPressed = false;           // End was the last key, during this fill
    QList<QTreeWidgetItem *> m_pending;  // built, not yet in the list
};

QPointer<MailListFiller> g_mailFiller;

void fillMails(QTreeWidget *list, qint64 folderId)
{
    clearItemList(list);
    list->header()->setSectionResizeMode(4, QHeaderView::Interactive);
    stoploopFlag = false;
    if (!g_mailFiller || g_mailFiller->parent() != list) {
        delete g_mailFiller.data();
        g_mailFiller = new MailListFiller(list);
    }
    g_mailFiller->start(folderId);
}

}  // namespace

bool ItemListFillRunning()
{
    return g_mailFiller && g_mailFiller->running();
}

int ItemListPeakRows(const QTreeWidget *list)
{
    return list ? list->property(kPeakRowsProperty).toInt() : 0;
}

void FillItemListForFolder(QTreeWidgetItem *folder)
{
    // Whatever was being listed stops here, before any record is looked at again.
    ++g_itemListFillSerial;
    if (!folder || !Panes().itemList)
        return;
    QTreeWidget *list = Panes().itemList;
    const quint64 id = folder->text(FolderColumnId).toULongLong();
    if (id == 0)
        return;
    const qint64 recordFolder = RecordFolderId(qint64(id));
    switch (folder->text(FolderColumnKind).toUInt()) {
    case FolderKindContacts:
        fillKind(list, TmpCTRCPtrStart, recordFolder, FolderKindContacts);
        break;
    case FolderKindCalendar:
        fillKind(list, TmpCLRCPtrStart, recordFolder, FolderKindCalendar);
        break;
    case FolderKindTasks:
        fillKind(list, TmpTSRCPtrStart, recordFolder, FolderKindTasks);
        break;
    case FolderKindNotes:
        fillKind(list, TmpNTRCPtrStart, recordFolder, FolderKindNotes);
        break;
    default:
        dwFolderIdSelected = id;
        fillMails(list, recordFolder);
        break;
    }
}
