#include "browse/PreviewDispatch.h"

#include "browse/ItemListFill.h"
#include "browse/QPreviewOfItems.h"
#include "scanner/ScanGlobals.h"

#include <QTreeWidgetItem>

#include <cstring>

namespace {

qint64 positionOf(const QTreeWidgetItem *row)
{
    bool ok = false;
    const qlonglong position = row->data(ItemColumnKey, ItemIndexRole).toLongLong(&ok);
    return ok ? qint64(position) : -1;
}

// The uuid column holds the 32 hexadecimal digits of the record's uuid, compared exactly.
bool uuidMatches(const char *uuid, const QTreeWidgetItem *row)
{
    const QByteArray key = row->text(ItemColumnUuid).toLatin1();
    return key.size() == int(qstrnlen(uuid, 32)) && std::memcmp(key.constData(), uuid, size_t(key.size())) == 0;
}

template <typename Record>
Record *keyedRecord(const QTreeWidgetItem *row, int kind, Record *head)
{
    if (CurrentRowKind(row) != kind)
        return nullptr;
    Record *record = RecordAtPosition(head, positionOf(row));
    return record && uuidMatches(record->szUuid, row) ? record : nullptr;
}

}  // namespace

int CurrentRowKind(const QTreeWidgetItem *row)
{
    if (!row)
        return -1;
    const QVariant kind = row->data(ItemColumnKey, ItemKindRole);
    const QVariant serial = row->data(ItemColumnKey, ItemFillSerialRole);
    if (!kind.isValid() || !serial.isValid() || serial.toULongLong() != g_itemListFillSerial)
        return -1;
    return kind.toInt();
}

MailMLRC *MailRecordOfRow(const QTreeWidgetItem *row)
{
    if (CurrentRowKind(row) != FolderKindMail)
        return nullptr;
    MailMLRC *mail = RecordAtPosition(TmpMlrcPtrStart, positionOf(row));
    if (!mail)
        return nullptr;
    bool okOffset = false, okLength = false;
    const qint64 offset = row->text(ItemColumnUuid).toLongLong(&okOffset);
    const quint64 length = row->text(ItemColumnBodyLength).toULongLong(&okLength);
    return okOffset && okLength && offset == qint64(mail->llBodyOffset) && length == quint64(mail->dwBodyLength)
        ? mail
        : nullptr;
}

ContactInformation *ContactRecordOfRow(const QTreeWidgetItem *row)
{
    return keyedRecord(row, FolderKindContacts, TmpCTRCPtrStart);
}

CalenderInformation *CalendarRecordOfRow(const QTreeWidgetItem *row)
{
    return keyedRecord(row, FolderKindCalendar, TmpCLRCPtrStart);
}

TasksInformation *TaskRecordOfRow(const QTreeWidgetItem *row)
{
    return keyedRecord(row, FolderKindTasks, TmpTSRCPtrStart);
}

NotesInformation *NoteRecordOfRow(const QTreeWidgetItem *row)
{
    return keyedRecord(row, FolderKindNotes, TmpNTRCPtrStart);
}

void PreviewRowItem(const QTreeWidgetItem *row)
{
    switch (CurrentRowKind(row)) {
    case FolderKindMail:
        if (MailMLRC *mail = MailRecordOfRow(row))
            QPreviewOfItems::MessageFieldsForThePreview(mail);
        break;
    case FolderKindContacts:
        if (ContactInformation *contact = ContactRecordOfRow(row))
            QPreviewOfItems::writePreviewItemsForContact(contact);
        break;
    case FolderKindCalendar:
        if (CalenderInformation *event = CalendarRecordOfRow(row))
            QPreviewOfItems::writePreviewItemsForCalendar(event);
        break;
    case FolderKindTasks:
        if (TasksInformation *task = TaskRecordOfRow(row))
            QPreviewOfItems::writePreviewItemsForTask(task);
        break;
    case FolderKindNotes:
        if (NotesInformation *note = NoteRecordOfRow(row))
            QPreviewOfItems::writePreviewItemsForNotes(note);
        break;
    default:
        break;
    }
}
