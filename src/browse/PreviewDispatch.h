#pragma once
// From an item-list row to the record it stands for, and the preview of its kind that the record
// is handed to: a click looks its item up, reads and writes it in one pass.
//
// A row carries its record's kind, its position in that kind's record list and the serial of
// the fill that made it (browse/ItemListFill.h). A row made before the records were freed or
// listed again carries an older serial and leads to no record: the list it points into may be
// gone.

#include <QtGlobal>

class QTreeWidgetItem;
struct MailMLRC;
struct ContactInformation;
struct CalenderInformation;
struct TasksInformation;
struct NotesInformation;

// The record at a 0-based position of a list, or null past its end. The walk is bounded by the
// list itself, so a position from a stale or damaged row can never run off it.
template <typename Record>
Record *RecordAtPosition(Record *head, qint64 position)
{
    if (position < 0)
        return nullptr;
    for (Record *r = head; r; r = r->pNext, --position) {
        if (position == 0)
            return r;
    }
    return nullptr;
}

// The row's kind code (a FolderKind), or -1 for a row
// without a key or of an earlier fill.
int CurrentRowKind(const QTreeWidgetItem *row);

// The record of a current row of that kind; null for any other row. The record's own key must
// still agree with the row's texts (the uuid in column 5; for mails the body offset and length
// in columns 5 and 6), so a row never shows another item's record.
MailMLRC *MailRecordOfRow(const QTreeWidgetItem *row);
ContactInformation *ContactRecordOfRow(const QTreeWidgetItem *row);
CalenderInformation *CalendarRecordOfRow(const QTreeWidgetItem *row);
TasksInformation *TaskRecordOfRow(const QTreeWidgetItem *row);
NotesInformation *NoteRecordOfRow(const QTreeWidgetItem *row);

// Shows the item of a current row in the preview of its kind: a mail in the mail panes (header
// labels, body, attachment tiles), any other item in the text preview. A row whose record cannot
// be found (stale, of no kind, its key not the record's) leaves the panes as they are; the
// dispatcher itself touches no pane.
void PreviewRowItem(const QTreeWidgetItem *row);
