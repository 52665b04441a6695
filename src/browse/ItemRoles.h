#pragma once
// The columns of the item list and the data roles that the item list and the folder tree keep on
// their items, in one place so that every reader and writer of a row agrees on them.

#include <qnamespace.h>

// Columns of the item list. Only the kind icon and the text column are shown.
enum ItemListColumn : int {
    ItemColumnKey = 0,         // the roles that find the row's record (ItemListRole)
    ItemColumnPriority = 1,    // the priority mark
    ItemColumnKindIcon = 2,    // the kind's icon
    ItemColumnAttachment = 3,  // the attachment mark
    ItemColumnText = 4,        // the shown text, or the mail row's widget and its MailRowRole data
    ItemColumnUuid = 5,        // the record's uuid; a mail row's body offset in decimal
    ItemColumnBodyLength = 6,  // a mail row's body length in decimal
    ItemColumnKind = 7,        // the kind code in decimal, on contacts, calendar, task and note rows
    ItemColumnCount = 8,
};

// What every row of the item list carries on ItemColumnKey, so the preview finds exactly its record.
enum ItemListRole : int {
    ItemKindRole = Qt::UserRole,            // the row's FolderKind
    ItemIndexRole = Qt::UserRole + 1,       // 0-based position in its kind's record list (qlonglong)
    ItemFillSerialRole = Qt::UserRole + 2,  // g_itemListFillSerial of the fill that made the row
};

// What a mail row keeps on ItemColumnText, so its widget can be made when the row first comes into
// view, from the row alone (the record may be gone by then).
enum MailRowRole : int {
    SenderRole = Qt::UserRole,
    SubjectRole,
    DateRole,
    SnippetRole,     // invalid when the mail has no body
    PriorityRole,    // bool
    AttachmentRole,  // bool
};

// Resource path of the picture on the icon columns, so the marks can be named without pixels.
constexpr int kItemIconRole = Qt::UserRole;
// Data role of the folder tree's column 0 that holds the icon's resource path.
constexpr int kFolderIconRole = Qt::UserRole + 1;
// Data role of the folder tree's column 0: true on the row that stands for a folder's own items,
// the first child of every folder below the root that has subfolders.
constexpr int kFolderOwnRowRole = Qt::UserRole + 2;
