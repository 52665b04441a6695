#pragma once
// Where a folder click hands over to the item list. The click slot has by then emptied the
// list and the preview pane, applied any check change and switched the view (contacts,
// calendar, tasks, notes, or mail for every other kind); this fills the item list pane with the
// folder's items.
//
// The folder's id is column 1 of the item, its kind column 6. Records are matched through
// RecordFolderId (scanner/FolderKinds.h): a per-kind "Folder1" lists the records of its kind that
// carry the dummy id 4294967294. A null item or id 0 never reaches here.
//
// Contacts, calendar items, tasks and notes are listed in one go. Mails are listed in time
// slices from a zero timer on the GUI thread, so a folder of many mails never freezes the
// window; the first slice runs after the click's slot has returned.

#include "browse/ItemRoles.h"
#include "scanner/FolderKinds.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QTreeWidget;
class QTreeWidgetItem;
struct MailMLRC;

void FillItemListForFolder(QTreeWidgetItem *folder);

// Bumped by every fill start and by the clean-up that frees the records: a mail fill that finds
// another value after the event loop has run stops before it touches a record again.
extern quint64 g_itemListFillSerial;
// The mail folder whose mails are being listed (the clicked folder's id).
extern quint64 dwFolderIdSelected;

// True while a mail fill has slices left to run.
bool ItemListFillRunning();

// The most rows the list has held since it was made (0 for null).
int ItemListPeakRows(const QTreeWidget *list);

// What a mail row shows, apart from its widget.
// The shown sender: the names are "name;" each; of several the last one is shown.
QString MailSenderText(const char *fromNames);
// The date the writers give the message's Date header, in seconds since 1970 (1900 to 9999);
// false when it has none. Reads at most 48 KiB of the message, and only for a time its record
// could not hold.
bool MailShownSeconds(const MailMLRC &mail, const QString &entryName, qint64 *seconds);
// "dd/MM/yyyy" in local time of that date; "" without an entry name.
QString MailDateText(const MailMLRC &mail, const QString &entryName);
// The grey line: the text a reader sees at the start of the body (markup or text), on one line,
// at most 160 characters. Costs what the start of the body does, whatever follows it.
QString MailSnippet(const QByteArray &body);
