// libFuzzer target over the archive scanner: the walk, block recovery and the five record
// builders run on the input as an in-memory archive, then every record, location node and folder
// map entry is checked against the bytes it claims to describe. Anything out of place traps, so
// the fuzzer keeps the input as a crash.

#include "platform/ArchiveSource.h"
#include "platform/WorkerGlobals.h"
#include "scanner/BufferedArchiveReader.h"
#include "scanner/CentralDirectory.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"
#include "scanner/WellFormed.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSet>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Builders log through qDebug (bad dates and the like); printing it would slow the fuzzer down.
void quietMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

[[noreturn]] void fail(const char *what, long long a, long long b)
{
    fprintf(stderr, "fuzz_scan: invariant violated: %s (%lld, %lld)\n", what, a, b);
    fflush(stderr);
    __builtin_trap();
}

#define CHECK(cond, what, a, b)                                                                    \
    do {                                                                                           \
        if (!(cond))                                                                               \
            fail(what, (long long)(a), (long long)(b));                                            \
    } while (0)

struct Input {
    const uint8_t *data;
    qint64 size;

    // [offset, offset + length) lies inside the input.
    bool holds(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= size && length <= size - offset;
    }

    bool bytesAt(qint64 offset, const char *text) const
    {
        const qint64 n = qint64(strlen(text));
        return holds(offset, n) && memcmp(data + offset, text, size_t(n)) == 0;
    }
};

// Folder ids records may carry: the dummy folder, or one the maps hold.
QSet<qint64> knownFolders;

void checkFolder(qint64 id, const char *what)
{
    CHECK(id == llFolder1Id || knownFolders.contains(id), what, id, 0);
}

// Touches a kept C string to its terminator, so an unterminated one shows up under ASan.
void checkCString(const char *s)
{
    if (s)
        (void)strlen(s);
}

// Keys are unique within their kind: the item list and the file names find a record by its key.
void checkUuid(const char *uuid, const char *what, QSet<QByteArray> &seen)
{
    CHECK(uuid[32] == '\0' && strlen(uuid) == 32, what, qint64(strlen(uuid)), 0);
    CHECK(!seen.contains(QByteArray(uuid)), what, qint64(seen.size()), 0);
    seen.insert(QByteArray(uuid));
    for (int i = 0; i < 32; ++i) {
        const char c = uuid[i];
        CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), what, i, c);
    }
}

// An item's span lies in the input and ends with the item's close tag.
void checkItem(const Input &in, qint64 offset, quint32 length, const char *closeTag, const char *what)
{
    CHECK(in.holds(offset, length), what, offset, length);
    const qint64 n = qint64(strlen(closeTag));
    CHECK(length >= n && in.bytesAt(offset + length - n, closeTag), what, offset, length);
}

// Whether the item's span is well-formed XML: only then does each long text end at its close tag.
bool wholeItem(const Input &in, qint64 itemOffset, qint64 itemLength, const char *startTag)
{
    return in.holds(itemOffset, itemLength)
        && CheckItem(std::string_view(reinterpret_cast<const char *>(in.data) + itemOffset, size_t(itemLength)),
                     startTag)
               .whole();
}

// A long text lies inside its item, right after the '>' of its start tag and right before its
// close tag. An item that is no well-formed XML keeps its text as far as it is sound: it ends at
// the fault, not at a close tag. Length 0 means nothing was recorded.
void checkLongText(const Input &in, qint64 offset, quint32 length, qint64 itemOffset, qint64 itemLength,
                   const char *itemTag, const char *element, const char *what)
{
    if (length == 0)
        return;
    CHECK(in.holds(offset, length), what, offset, length);
    CHECK(offset > itemOffset && offset + length <= itemOffset + itemLength, what, offset, itemOffset);
    if (!wholeItem(in, itemOffset, itemLength, itemTag))
        return;
    CHECK(in.data[offset - 1] == '>', what, offset, in.data[offset - 1]);
    // XML allows blanks between the close tag's name and its '>'.
    char close[128];
    snprintf(close, sizeof close, "</%s", element);
    qint64 at = offset + length;
    CHECK(in.bytesAt(at, close), what, offset, length);
    at += qint64(strlen(close));
    while (at < in.size && (in.data[at] == ' ' || in.data[at] == '\t' || in.data[at] == '\r' || in.data[at] == '\n'))
        ++at;
    CHECK(in.bytesAt(at, ">"), what, offset, length);
}

// Counts a list, checking that its tail is its last node.
template <typename T>
qint64 listLength(T *head, T *tail, const char *what)
{
    qint64 n = 0;
    T *last = nullptr;
    for (T *p = head; p; p = p->pNext) {
        last = p;
        ++n;
    }
    CHECK(last == tail, what, n, 0);
    return n;
}

void checkFolderMaps()
{
    knownFolders.clear();
    qint64 highest = llRootId;
    for (auto it = objMapFID_PID.cbegin(); it != objMapFID_PID.cend(); ++it) {
        const qint64 id = it.key();
        const qint64 parent = it.value();
        CHECK(id >= llRootId + 1, "folder id below 502", id, parent);
        CHECK(parent == llRootId || (parent >= llRootId + 1 && parent < id), "parent id not below child id",
              id, parent);
        CHECK(parent == llRootId || objMapFID_PID.contains(parent), "parent id unknown", id, parent);
        CHECK(objMapFID_Name.contains(id), "folder id without a name", id, 0);
        CHECK(objMapName_FID.contains(objMapFID_Name.value(id), id), "folder name not mapped back", id, 0);
        knownFolders.insert(id);
        highest = qMax(highest, id);
    }
    CHECK(objMapFID_Name.size() == objMapFID_PID.size(), "name map size", objMapFID_Name.size(),
          objMapFID_PID.size());
    CHECK(objMapName_FID.size() == objMapFID_PID.size(), "key map size", objMapName_FID.size(),
          objMapFID_PID.size());
    // Ids are handed out one by one, so the last one handed out is the highest in the maps.
    CHECK(PID == highest, "last id handed out", PID, highest);
}

void checkMail(const Input &in)
{
    const qint64 n = listLength(TmpMlrcPtrStart, TmpMlrcPtrEnd, "mail list tail");
    CHECK(n == MailItemCount, "mail count", n, MailItemCount);
    for (const MailMLRC *r = TmpMlrcPtrStart; r; r = r->pNext) {
        checkFolder(r->llFolderId, "mail folder id");
        CHECK(in.holds(r->llDataOffset, r->dwDataLength), "mail data span", r->llDataOffset, r->dwDataLength);
        const bool recovered = r->nNameLength == 0 && r->llNameOffset == 0;
        if (recovered) {
            CHECK(r->dwEntrySize == 0 && r->dwCrc32 == 0, "recovered mail entry fields", r->dwEntrySize, r->dwCrc32);
            // A message that lost its close tag is kept from what remains of its entry, marked
            // damaged: its span holds the message's start tag.
            if (r->bDamaged)
                CHECK(memmem(in.data + r->llDataOffset, r->dwDataLength, "<email", 6), "recovered cut mail start",
                      r->llDataOffset, r->dwDataLength);
            else
                checkItem(in, r->llDataOffset, r->dwDataLength, "</email>", "recovered mail item span");
        } else {
            CHECK(r->nNameLength >= 0 && in.holds(r->llNameOffset, r->nNameLength), "mail entry name span",
                  r->llNameOffset, r->nNameLength);
            // The name is the local header's, or the central directory's when the local one is damaged.
            CHECK(r->llNameOffset + r->nNameLength <= r->llDataOffset || r->llNameOffset > r->llDataOffset,
                  "mail name inside its data", r->llNameOffset, r->llDataOffset);
        }
        CHECK(in.holds(r->llBodyOffset, r->dwBodyLength), "mail body span", r->llBodyOffset, r->dwBodyLength);
        checkLongText(in, r->llBodyOffset, r->dwBodyLength, r->llDataOffset, r->dwDataLength, "<email",
                      "OPFMessageCopyBody", "mail body");
        CHECK(r->bOutgoing == 0 || r->bOutgoing == 1 || r->bOutgoing == 0x2D, "mail outgoing flag", r->bOutgoing, 0);
        CHECK(r->cPriority == 0 || r->cPriority == '2' || r->cPriority == '3' || r->cPriority == '4',
              "mail priority", r->cPriority, 0);
        CHECK(r->dwSentTime == r->dwSentTimeCopy && r->dwReceivedTime == r->dwReceivedTimeCopy,
              "mail time copies", r->dwSentTime, r->dwReceivedTime);
        checkCString(r->pFromNames);
        checkCString(r->pSubject);
        if (r->pFromNames)
            CHECK(QString::fromUtf8(r->pFromNames).size() <= 99, "mail sender names too long",
                  strlen(r->pFromNames), 0);
    }
}

void checkContacts(const Input &in)
{
    const qint64 n = listLength(TmpCTRCPtrStart, TmpCTRCPtrEnd, "contact list tail");
    CHECK(n == ContactItemCount, "contact count", n, ContactItemCount);
    QSet<QByteArray> keys;
    for (const ContactInformation *r = TmpCTRCPtrStart; r; r = r->pNext) {
        checkFolder(r->llFolderId, "contact folder id");
        checkUuid(r->szUuid, "contact uuid", keys);
        checkItem(in, r->llItemOffset, r->dwItemLength, "</contact>", "contact item span");
        checkLongText(in, r->dwNotesOffset, r->dwNotesLength, r->llItemOffset, r->dwItemLength, "<contact",
                      "OPFContactCopyNotesPlain", "contact notes");
        checkLongText(in, r->dwPictureOffset, r->dwPictureLength, r->llItemOffset, r->dwItemLength, "<contact",
                      "OPFContactAddPicture", "contact picture");
        checkCString(r->pFirstName);
        checkCString(r->pLastName);
    }
}

void checkCalendar(const Input &in)
{
    const qint64 n = listLength(TmpCLRCPtrStart, TmpCLRCPtrEnd, "calendar list tail");
    CHECK(n == CalendarItemCount, "calendar count", n, CalendarItemCount);
    QSet<QByteArray> keys;
    for (const CalenderInformation *r = TmpCLRCPtrStart; r; r = r->pNext) {
        checkFolder(r->llFolderId, "calendar folder id");
        checkUuid(r->szUuid, "calendar uuid", keys);
        checkItem(in, r->llItemOffset, r->dwItemLength, "</appointment>", "calendar item span");
        checkLongText(in, r->dwDescriptionOffset, r->dwDescriptionLength, r->llItemOffset, r->dwItemLength,
                      "<appointment", "OPFCalendarEventCopyDescriptionPlain", "calendar description");
        checkCString(r->pSummary);
        checkCString(r->pLocation);
    }
}

void checkTasks(const Input &in)
{
    const qint64 n = listLength(TmpTSRCPtrStart, TmpTSRCPtrEnd, "task list tail");
    CHECK(n == TaskItemCount, "task count", n, TaskItemCount);
    QSet<QByteArray> keys;
    for (const TasksInformation *r = TmpTSRCPtrStart; r; r = r->pNext) {
        checkFolder(r->llFolderId, "task folder id");
        checkUuid(r->szUuid, "task uuid", keys);
        checkItem(in, r->llItemOffset, r->dwItemLength, "</task>", "task item span");
        checkLongText(in, r->dwNoteOffset, r->dwNoteLength, r->llItemOffset, r->dwItemLength, "<task",
                      "OPFTaskCopyNote", "task note");
        CHECK(r->cPriority == 0 || r->cPriority == '2' || r->cPriority == '3' || r->cPriority == '4',
              "task priority", r->cPriority, 0);
        checkCString(r->pName);
    }
}

void checkNotes(const Input &in)
{
    const qint64 n = listLength(TmpNTRCPtrStart, TmpNTRCPtrEnd, "note list tail");
    CHECK(n == NotesItemCount, "note count", n, NotesItemCount);
    QSet<QByteArray> keys;
    for (const NotesInformation *r = TmpNTRCPtrStart; r; r = r->pNext) {
        checkFolder(r->llFolderId, "note folder id");
        checkUuid(r->szUuid, "note uuid", keys);
        checkLongText(in, r->dwTextOffset, r->dwTextLength, r->llItemOffset, r->dwItemLength, "<note",
                      "OPFNoteCopyText", "note text");
        checkCString(r->pTitle);
    }
}

qint64 checkNodes(const Input &in, FileOffsetNode *head, FileOffsetNode *tail, const char *what)
{
    const qint64 n = listLength(head, tail, what);
    for (const FileOffsetNode *node = head; node; node = node->pNext) {
        CHECK(node->llDataOffset >= 30 && node->llDataOffset <= in.size, what, node->llDataOffset, in.size);
        CHECK(node->llSize >= 0, what, node->llSize, 0);
        CHECK(node->pEntryName != nullptr, what, 0, 0);
        // A size cut at the next entry always lies inside the input: a compressed entry's data,
        // another entry's content.
        const qint64 cut = node->bCompressed ? node->llStoredSize : node->llSize;
        if (node->bSizeCut)
            CHECK(in.holds(node->llDataOffset, cut), what, node->llDataOffset, cut);
        checkCString(node->pEntryName);
    }
    return n;
}

void checkLocations(const Input &in)
{
    checkNodes(in, tmpCoFOStart, tmpCoFOEnd, "contacts entry node");
    checkNodes(in, tmpCaFOStart, tmpCaFOEnd, "calendar entry node");
    checkNodes(in, tmpTaFOStart, tmpTaFOEnd, "tasks entry node");
    checkNodes(in, tmpNoFOStart, tmpNoFOEnd, "notes entry node");
    const qint64 n = checkNodes(in, tmpAtFOStart, tmpAtFOEnd, "attachment node");
    CHECK(n == AttachmentNodeCount, "attachment count", n, AttachmentNodeCount);
    qint64 compressed = 0;
    for (const FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext)
        compressed += node->bCompressed;
    CHECK(compressed == CompressedEntryCount, "compressed entry count", compressed, CompressedEntryCount);
    CHECK(categorie.dataOffset >= 0 && categorie.dataOffset <= in.size, "categories offset", categorie.dataOffset,
          in.size);
    CHECK(categorie.size >= 0, "categories size", categorie.size, 0);
}

// The central directory's entries: sorted, each extent inside the input and before the
// directory, behind its own header (and name, unless the header was placed by its data), and no
// two overlapping.
void checkCentralDirectory(const Input &in, const std::shared_ptr<MemoryArchiveSource> &source)
{
    olm::CentralDirectory cd;
    const bool found = cd.read(*source);
    CHECK(found == cd.found(), "directory found", found, cd.found());
    CHECK(!found || (cd.start() >= 0 && cd.start() <= in.size), "directory start", cd.start(), in.size);
    BufferedArchiveReader reader(*source);
    for (size_t i = 0; i < cd.entries().size(); ++i)
        cd.resolve(i, reader);
    qint64 previousEnd = 0;
    for (const olm::CentralEntry &e : cd.entries()) {
        if (e.dropped || e.dataOffset < 0)
            continue;
        CHECK(e.headerOffset >= previousEnd, "central entries overlap", e.headerOffset, previousEnd);
        // A header placed by its data may have lost bytes of its fixed part: it then starts where
        // the data before it ends, closer to its data than a whole header would.
        if (e.placed)
            CHECK(e.dataOffset >= e.headerOffset, "placed data before its header", e.dataOffset, e.headerOffset);
        else
            CHECK(e.dataOffset >= e.headerOffset + 30 + e.nameLength, "central data before its name", e.dataOffset,
                  e.headerOffset);
        CHECK(e.csize >= 0 && e.usize >= 0, "central sizes", e.csize, e.usize);
        CHECK(in.holds(e.dataOffset, e.csize) && e.dataOffset + e.csize <= cd.start(), "central extent",
              e.dataOffset, e.csize);
        CHECK(in.holds(e.nameOffset, e.nameLength), "central name span", e.nameOffset, e.nameLength);
        CHECK(e.name.size() <= e.nameLength && !e.name.contains('\0'), "central name", e.name.size(), e.nameLength);
        previousEnd = e.dataOffset + e.csize;
        CHECK(cd.firstAtOrAfter(e.headerOffset) < cd.entries().size(), "central lookup", e.headerOffset, 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The scanner is a QObject; Qt wants an application object alive for the whole run.
    static int argc = 1;
    static char name[] = "fuzz_scan";
    static char *argv[] = {name, nullptr};
    static QCoreApplication *app = new QCoreApplication(argc, argv);
    (void)app;
    qInstallMessageHandler(quietMessages);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Input in{data, qint64(size)};
    auto source = std::make_shared<MemoryArchiveSource>(
        QByteArray(reinterpret_cast<const char *>(data), int(size)));
    {
        QFolderInformationThread scanner;
        scanner.setSource(source);
        bStopFlag = false;
        scanner.CreateFile();
    }
    // run() clears this after the walk; CreateFile() alone leaves it set.
    bProcessRunning = false;
    CHECK(pBuff == nullptr && pBuffLength == 0, "entry text left behind", pBuffLength, 0);
    CHECK(llParentIdRunning == 0, "builder folder left set", llParentIdRunning, 0);
    checkFolderMaps();
    checkMail(in);
    checkContacts(in);
    checkCalendar(in);
    checkTasks(in);
    checkNotes(in);
    checkLocations(in);
    checkCentralDirectory(in, source);
    CleanScanResults();
    knownFolders.clear();
    return 0;
}
