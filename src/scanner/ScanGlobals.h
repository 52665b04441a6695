#pragma once
// Records, location lists and folder maps the scanner builds. The scanner thread writes all of
// this until it emits OnFinishScanning; the GUI thread and the savers read it after that.
// CleanScanResults() (called by QParseDatabase::CleanListAndHash) frees and clears it all.
// Records are zeroed heap blocks (calloc) with C strings from the builders; offsets are 64-bit
// so archives over 4 GiB are located exactly.

#include <QHash>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

struct MailMLRC {
    char *pFromNames;        // sender display names, "name;" each, UTF-8, or null
    char *pSubject;          // UTF-8 subject, or null
    quint32 dwReceivedTime;  // seconds since 1970, 0 when absent
    quint32 dwSentTime;
    quint32 dwSentTimeCopy;
    quint32 dwReceivedTimeCopy;
    quint32 dwBodyLength;  // raw body text in the archive
    qint64 llBodyOffset;
    qint64 llFolderId;
    quint8 bOutgoing;
    char cPriority;
    quint32 dwEntrySize;  // size of the message entry, 0 for recovered mail
    quint32 dwCrc32;
    quint8 bHasAttachment;
    qint64 llNameOffset;  // entry name in the archive, 0 for recovered mail
    qint32 nNameLength;
    qint64 llDataOffset;   // where this record's message XML lies: the entry's data, or for
    quint32 dwDataLength;  // mail recovered from a damaged stretch, the item's own span
    quint8 bDamaged;       // its entry's text was cut or holds zeroed bytes: saved, but not as stored
    MailMLRC *pNext;
};

struct ContactInformation {
    char *pFirstName;
    char *pLastName;
    char szUuid[33];
    quint32 dwNotesLength;
    qint64 dwNotesOffset;  // 64-bit: contacts past 4 GiB stay exact
    quint32 dwPictureLength;
    qint64 dwPictureOffset;
    qint64 llFolderId;
    qint64 llItemOffset;
    quint32 dwItemLength;
    ContactInformation *pNext;
};

struct CalenderInformation {
    char *pSummary;
    char *pLocation;
    char szUuid[33];
    quint32 dwDescriptionLength;
    qint64 dwDescriptionOffset;
    qint64 llFolderId;
    qint64 llItemOffset;
    quint32 dwItemLength;
    CalenderInformation *pNext;
};

struct TasksInformation {
    char *pName;
    char cPriority;
    char szUuid[33];
    quint32 dwNoteLength;
    qint64 dwNoteOffset;
    qint64 llFolderId;
    qint64 llItemOffset;
    quint32 dwItemLength;
    TasksInformation *pNext;
};

struct NotesInformation {
    char *pTitle;
    char szUuid[33];
    quint32 dwTextLength;
    qint64 dwTextOffset;
    qint64 llFolderId;
    qint64 llItemOffset;  // the whole note element: its title may be longer than pTitle keeps
    quint32 dwItemLength;
    NotesInformation *pNext;
};

// Location of one archive entry's data.
struct FileOffsetNode {
    qint64 llSize;  // uncompressed size from the header
    quint32 dwCrc32;
    qint64 llDataOffset;  // first data byte: header + 30 + name + extra
    char *pEntryName;     // raw name bytes up to the first NUL
    quint8 bLocalPending;
    quint8 bCentralPending;
    quint8 bCompressed;   // method other than stored: the data is not plain bytes
    quint16 wMethod;      // the entry's compression method as its header gives it
    qint64 llStoredSize;  // compressed entries: the bytes their data takes in the archive
    quint8 bSizeCut;      // the declared size ran into the next known entry: cut there
    qint64 llStatedSize;  // the size its header or record gave, before the walk placed its end
    qint64 llReach;       // the next entry the walk found starts this far behind its data start, past llSize; else 0
    // The archive's line ends were converted (LF written as CR LF) this many times, 0 or 1 or 2:
    // the data read with them converted back (llBackSize bytes) has its CRC-32. Readers copy
    // it through EntryDataReader, never as stored.
    quint8 bLineEndsBack;
    qint64 llBackSize;
    FileOffsetNode *pNext;
};

struct CategorieInfo {
    qint64 size;
    quint32 crc;
    qint64 dataOffset;
};

// Record lists, head/tail, and their counts.
extern MailMLRC *TmpMlrcPtrStart, *TmpMlrcPtrEnd;
extern ContactInformation *TmpCTRCPtrStart, *TmpCTRCPtrEnd;
extern CalenderInformation *TmpCLRCPtrStart, *TmpCLRCPtrEnd;
extern TasksInformation *TmpTSRCPtrStart, *TmpTSRCPtrEnd;
extern NotesInformation *TmpNTRCPtrStart, *TmpNTRCPtrEnd;
extern qint64 MailItemCount, ContactItemCount, CalendarItemCount, TaskItemCount, NotesItemCount;

// Entry-location lists: Contacts.xml, Calendar.xml, Tasks.xml, Notes.xml and attachments.
extern FileOffsetNode *tmpCoFOStart, *tmpCoFOEnd;
extern FileOffsetNode *tmpCaFOStart, *tmpCaFOEnd;
extern FileOffsetNode *tmpTaFOStart, *tmpTaFOEnd;
extern FileOffsetNode *tmpNoFOStart, *tmpNoFOEnd;
extern FileOffsetNode *tmpAtFOStart, *tmpAtFOEnd;
extern qint64 AttachmentNodeCount;
// Entries whose data is compressed: listed with the attachments (their names and places kept) but
// never read, so none of their items is found. The scan's summary and every save name them.
extern qint64 CompressedEntryCount;
// Entries the walk met in one of the archive's two sources (local headers, central directory)
// and did not read as that source says: one line each for the save's report. Not read: no
// bytes of the entry were found. Read elsewhere: read, but from the other source or at another
// extent than one source gives, or a second entry of one name.
extern QStringList EntriesNotRead;
extern QStringList EntriesReadElsewhere;
// Store items lost whole: counted by the root element, and nothing of them could be read (the
// lines above name them). Every save counts them as items not saved.
extern qint64 StoreItemsLost;
// Stores whose items were all listed from a copy that is not whole, with no item named lost:
// what changed inside them cannot be told, so no save of them says all was saved.
extern QStringList StoresNotWhole;
extern CategorieInfo categorie;  // the last Categories.xml of the archive that holds a whole list, zero without one
// Every stored Categories.xml, in archive order: a damaged export may hold a cut copy beside the real one.
extern QVector<CategorieInfo> categorieCopies;

// The entry text handed to a builder: pBuffLength bytes, NUL-terminated, NUL bytes inside allowed.
extern char *pBuff;
extern qint64 pBuffLength;

// Folder ids.
extern const qint64 llRootId;                      // 501
extern const qint64 llFolder1Id;                   // 4294967294, the dummy "Folder1" for items without a folder
extern qint64 PID;                                 // last id handed out; first folder of a scan is 502
extern qint64 llParentIdRunning;                   // id of the current builder's folder, 0 outside a builder
extern QMultiMap<QString, qint64> objMapName_FID;  // folder key -> ids
extern QMap<qint64, qint64> objMapFID_PID;         // id -> parent id
extern QMap<qint64, QString> objMapFID_Name;       // id -> folder key
// (folder key, parent id) -> id: the same pairs as the maps above, so that finding a folder under
// its parent costs the same however many folders share its name. Written with them.
extern QHash<QPair<QString, qint64>, qint64> objMapKeyParent_FID;

// Zeroes counts and frees every record, node and map entry. Never while the scanner runs.
void CleanScanResults();

// Appends a zeroed record to a list; returns it.
template <typename T>
T *appendRecord(T *&head, T *&tail, qint64 &count);
