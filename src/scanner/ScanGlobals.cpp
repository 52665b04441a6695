#include "scanner/ScanGlobals.h"

#include <cstdlib>

MailMLRC *TmpMlrcPtrStart = nullptr, *TmpMlrcPtrEnd = nullptr;
ContactInformation *TmpCTRCPtrStart = nullptr, *TmpCTRCPtrEnd = nullptr;
CalenderInformation *TmpCLRCPtrStart = nullptr, *TmpCLRCPtrEnd = nullptr;
TasksInformation *TmpTSRCPtrStart = nullptr, *TmpTSRCPtrEnd = nullptr;
NotesInformation *TmpNTRCPtrStart = nullptr, *TmpNTRCPtrEnd = nullptr;
qint64 MailItemCount = 0, ContactItemCount = 0, CalendarItemCount = 0, TaskItemCount = 0, NotesItemCount = 0;

FileOffsetNode *tmpCoFOStart = nullptr, *tmpCoFOEnd = nullptr;
FileOffsetNode *tmpCaFOStart = nullptr, *tmpCaFOEnd = nullptr;
FileOffsetNode *tmpTaFOStart = nullptr, *tmpTaFOEnd = nullptr;
FileOffsetNode *tmpNoFOStart = nullptr, *tmpNoFOEnd = nullptr;
FileOffsetNode *tmpAtFOStart = nullptr, *tmpAtFOEnd = nullptr;
qint64 AttachmentNodeCount = 0;
qint64 CompressedEntryCount = 0;
QStringList EntriesNotRead;
QStringList EntriesReadElsewhere;
qint64 StoreItemsLost = 0;
QStringList StoresNotWhole;
CategorieInfo categorie = {0, 0, 0};
QVector<CategorieInfo> categorieCopies;

char *pBuff = nullptr;
qint64 pBuffLength = 0;

const qint64 llRootId = 501;
const qint64 llFolder1Id = 4294967294LL;
qint64 PID = llRootId;
qint64 llParentIdRunning = 0;
QMultiMap<QString, qint64> objMapName_FID;
QHash<QPair<QString, qint64>, qint64> objMapKeyParent_FID;
QMap<qint64, qint64> objMapFID_PID;
QMap<qint64, QString> objMapFID_Name;

template <typename T>
T *appendRecord(T *&head, T *&tail, qint64 &count)
{
    T *rec = static_cast<T *>(calloc(1, sizeof(T)));
    if (!rec)
        return nullptr;
    if (!head) {
        head = tail = rec;
        count = 1;
    } else {
        tail->pNext = rec;
        tail = rec;
        ++count;
    }
    return rec;
}

template MailMLRC *appendRecord(MailMLRC *&, MailMLRC *&, qint64 &);
template ContactInformation *appendRecord(ContactInformation *&, ContactInformation *&, qint64 &);
template CalenderInformation *appendRecord(CalenderInformation *&, CalenderInformation *&, qint64 &);
template TasksInformation *appendRecord(TasksInformation *&, TasksInformation *&, qint64 &);
template NotesInformation *appendRecord(NotesInformation *&, NotesInformation *&, qint64 &);
template FileOffsetNode *appendRecord(FileOffsetNode *&, FileOffsetNode *&, qint64 &);

namespace {

template <typename T, typename FreeFields>
void freeList(T *&head, T *&tail, FreeFields freeFields)
{
    for (T *p = head; p;) {
        T *next = p->pNext;
        freeFields(p);
        free(p);
        p = next;
    }
    head = tail = nullptr;
}

void freeNodes(FileOffsetNode *&head, FileOffsetNode *&tail)
{
    freeList(head, tail, [](FileOffsetNode *n) { free(n->pEntryName); });
}

}  // namespace

void CleanScanResults()
{
    freeList(TmpMlrcPtrStart, TmpMlrcPtrEnd, [](MailMLRC *r) {
        free(r->pFromNames);
        free(r->pSubject);
    });
    freeList(TmpCTRCPtrStart, TmpCTRCPtrEnd, [](ContactInformation *r) {
        free(r->pFirstName);
        free(r->pLastName);
    });
    freeList(TmpCLRCPtrStart, TmpCLRCPtrEnd, [](CalenderInformation *r) {
        free(r->pSummary);
        free(r->pLocation);
    });
    freeList(TmpTSRCPtrStart, TmpTSRCPtrEnd, [](TasksInformation *r) { free(r->pName); });
    freeList(TmpNTRCPtrStart, TmpNTRCPtrEnd, [](NotesInformation *r) { free(r->pTitle); });
    freeNodes(tmpCoFOStart, tmpCoFOEnd);
    freeNodes(tmpCaFOStart, tmpCaFOEnd);
    freeNodes(tmpTaFOStart, tmpTaFOEnd);
    freeNodes(tmpNoFOStart, tmpNoFOEnd);
    freeNodes(tmpAtFOStart, tmpAtFOEnd);
    MailItemCount = ContactItemCount = CalendarItemCount = TaskItemCount = NotesItemCount = 0;
    AttachmentNodeCount = 0;
    CompressedEntryCount = 0;
    EntriesNotRead.clear();
    EntriesReadElsewhere.clear();
    StoreItemsLost = 0;
    StoresNotWhole.clear();
    categorie = {0, 0, 0};
    categorieCopies.clear();
    objMapName_FID.clear();
    objMapKeyParent_FID.clear();
    objMapFID_PID.clear();
    objMapFID_Name.clear();
    PID = llRootId;
    llParentIdRunning = 0;
    free(pBuff);
    pBuff = nullptr;
    pBuffLength = 0;
}
