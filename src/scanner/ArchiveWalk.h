#pragma once
// The walk over the archive's local headers, and the recovery of XML root elements from
// stretches whose headers are damaged. Internal to the scanner thread.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <vector>

class ArchiveSource;
class BufferedArchiveReader;
class QFolderInformationThread;

namespace olm {

constexpr quint32 kLocalHeaderSig = 0x04034B50;
constexpr quint32 kCentralHeaderSig = 0x02014B50;
constexpr quint32 kEndRecordSig = 0x06054B50;
constexpr quint32 kDescriptorSig = 0x08074B50;
constexpr qint64 kEndRecordSize = 22;
constexpr qint64 kCentralRecordSize = 46;
// A 32-bit size or offset that says the ZIP64 field holds it.
constexpr quint32 kAll32 = 0xFFFFFFFFu;
// One XML text larger than this is damage, not an entry.
constexpr qint64 kMaxEntryText = qint64(1) << 30;

enum class EntryRole { Categories, Contacts, Calendar, Tasks, Notes, Message, Attachment };

// Role of an entry from its raw name; first match wins.
EntryRole classifyEntry(const QByteArray &name);
// Whether a raw entry name lies in the archive's own folders ("Local/", "Accounts/"): the parts of
// a zip stored as an attachment never do.
bool archiveName(const QByteArray &name);
// Whether the bytes behind the underscore at `underscore` are an attachment's number: one digit
// or more, nothing else.
bool attachmentNumbered(const QByteArray &name, int underscore);
// Where the rest of an attachment's name that lost its header's fields starts, the name ending at
// end in bytes: at one of the archive's folders where the head still stands, else behind its
// first folder separator, which field bytes that happen to be text never reach, or without one
// at its id's characters; -1 when the rest is no attachment's ("<message id>_NNNN").
int attachmentNameTail(const QByteArray &bytes, int end);
// Whether a raw entry name that holds a NUL names a message: with its NULs left out, it does, or
// it is an XML file in a mail folder outside the attachments.
bool NameHeldMessage(QByteArray raw);
// An entry name as a report line shows it: control bytes written out as \xNN, at most a few
// hundred characters (a damaged name length may take thousands of bytes for a name).
QString ReportName(const QByteArray &raw);
// Where a report line places an entry: at its local header, at its data, where its central
// record points, or nowhere.
enum class EntryPlace { Header, Data, Record, None };
// A report line about one entry: its name bounded and escaped as ReportName does, where it stands,
// then rest (which starts with its own separator, ": why" as a rule).
QString EntryLine(const QByteArray &name, qint64 offset, const QString &rest, EntryPlace place = EntryPlace::Header);
// A line summing up a kind of repair that touched many entries: the line, then the first
// kListedEntries of them (items, already bounded by the caller) indented below it, then how many
// more there are.
constexpr size_t kListedEntries = 20;
void AppendListed(QStringList &lines, const QString &summary, const QStringList &items, qint64 total);
// Whether raw holds nothing but well-formed UTF-8.
bool validUtf8(const QByteArray &raw);
// Whether a name holds a control byte (a line end of text read as a name, say).
bool hasControlByte(const QByteArray &name);
// Folder path of a list file or message: the account or "Local" prefix (and for messages one more
// level) and the file name removed. Empty when the name has no such prefix.
QString folderPathFor(const QStringList &parts, EntryRole role);

struct LocalHeader {
    qint64 pos = 0;
    quint16 method = 0;
    quint32 crc = 0;
    quint16 nameLength = 0;
    quint16 extraLength = 0;
    qint64 usize = 0;
    qint64 csize = 0;
    qint64 statedSize = -1;  // the size the header's fields give; -1: usize is that
    qint64 dataOffset = 0;
    qint64 nameOffset = 0;     // where the name bytes lie in the archive
    QByteArray name;           // raw bytes up to the first NUL
    bool messageName = false;  // the name held a NUL or invalid UTF-8, and its whole text names a message
};

// Item entries by a 64-bit hash of their names, to name a second entry of one name. Kept in
// the order read and sorted once after the walk: a look-up per entry would cost a cache miss (a
// node, an allocation) for each of hundreds of thousands of messages.
class ItemNameList {
public:
    struct Item {
        quint64 key;
        quint64 content;  // size and CRC-32, mixed
        qint64 pos;       // the entry's header
        qint64 nameOffset;
        quint16 nameLength;
    };
    void reserve(size_t count);
    void add(const Item &item) { m_items.push_back(item); }
    // Sorts by name, first read first; find and repeats need it.
    void sort();
    // The first entry of key, or null.
    const Item *find(quint64 key) const;
    // For each entry of a name read before with other contents: the first entry and this one.
    template <typename F>
    void repeats(F f) const
    {
        for (size_t i = 1, first = 0; i < m_items.size(); ++i) {
            if (m_items[i].key != m_items[first].key)
                first = i;
            else if (m_items[i].content != m_items[first].content)
                f(m_items[first], m_items[i]);
        }
    }

private:
    std::vector<Item> m_items;
};

struct CentralEntry;
class CentralDirectory;
class BuildQueue;
}  // namespace olm
struct FileOffsetNode;
namespace olm {

class ArchiveWalker {
public:
    // builderThread: the walk runs on a thread of its own, the record builders behind it on the
    // calling thread.
    ArchiveWalker(QFolderInformationThread &thread, ArchiveSource &source, bool builderThread = false);
    ~ArchiveWalker();
    void walk();

private:
    void walkEntries();
    // Message entries whose text held no message: named in the report once the builders are done.
    void noteEmptyMessages();
    // An entry's name as its header holds it, up to a NUL; empty when it cannot be read.
    QByteArray entryNameAt(qint64 offset, int length);
    // One step over bytes no central entry describes; returns where the walk goes on.
    qint64 stepUnknown(qint64 pos);
    // nameLength >= 0 reads the header with that name length instead of its own field's.
    bool readLocalHeader(qint64 pos, LocalHeader *h, int nameLength = -1);
    // Whether h, whose name is none of this archive's, is a header whose fields lost or gained
    // bytes, its lengths read from what followed: its name is text or no text, its size runs past
    // the file's end. The bytes behind its signature are then looked at as they stand.
    bool describesNothing(const LocalHeader &h) const;
    // Moves h's data start to its root's start tag when a damaged extra length put it elsewhere.
    void findXmlDataStart(LocalHeader *h, qint64 extraAt);
    // Where an entry whose data starts at data and whose size ends at end really ends: a few
    // bytes earlier when the next header starts there (bytes were lost inside the data).
    qint64 headerNear(qint64 data, qint64 end);
    // At pos, where record k points: the entry its local header and a record of its name agree
    // on, or the record alone where no header stands. Returns where the walk goes on, or -1
    // when no record there is used and the bytes are walked as if none pointed there.
    qint64 readWithRecord(size_t k, qint64 pos, qint64 directory);
    // Reads the header at pos again with record i's name length: its own length is damaged.
    bool readNamedHeader(qint64 pos, size_t i, LocalHeader *h);
    // The record from k on placing a header at pos whose name lost its bytes to damage while its
    // CRC-32 and size fields are the record's; h then takes the record's name and sizes. The
    // records' count when none does.
    size_t recordOfDamagedName(size_t k, qint64 pos, LocalHeader *h);
    // Bytes put into a store's header name moved its data to moved's: the name is its head and
    // the bytes behind the put-in run, where exactly one such split names a store.
    void restoreStoreName(const LocalHeader &h, LocalHeader *moved);
    // The role of the list whose name h's is with a few bytes flipped; Attachment when none.
    EntryRole flippedStoreRole(const LocalHeader &h);
    // The local header h and the agreeing record i describe one entry.
    qint64 handleWitnessed(const LocalHeader &h, size_t i);
    // Where the header and the record differ on the entry's extent: the one whose bytes verify
    // (CRC-32, then a closed root element, then ending at a record), else the record's.
    LocalHeader chooseExtent(const LocalHeader &h, const CentralEntry &e, bool *verified);
    bool extentVerifies(const LocalHeader &h, quint32 crc, int test);
    // The bytes [from, to) behind h's whole data up to the next entry: named once, read as
    // nobody's.
    void noteStrayBytes(const LocalHeader &h, qint64 from, qint64 to);
    // An entry the central directory describes: its extent is known exactly.
    qint64 handleKnownEntry(const CentralEntry &e);
    // A second entry of one name with other contents is read too, and named after the walk.
    void noteRepeatedName(const LocalHeader &h);
    void noteRepeatedNames();
    // An attachment read twice under one name, one copy whole by its CRC-32 and the other not:
    // the damaged copy leaves the list, with a line.
    void dropDamagedAttachmentCopies();
    // Attachments grown past their stated size whose CRC-32 fails as stored: where the bytes with
    // their line ends converted back verify, they are read so (LineEndNodes.cpp).
    void readLineEndsBack();
    // A list stored again inside a mail folder with the contents of one already read: named,
    // and its items are not read twice.
    bool listCopy(const LocalHeader &h, EntryRole role);
    void appendListNode(const LocalHeader &h, EntryRole role);
    // After the walk: every record not used is named, as read from its local header elsewhere
    // or as not read.
    void noteUnusedRecords();
    // Tells the reader which stretches the central records say the walk jumps over: the data of
    // attachments and compressed entries whose sizes end at the next header.
    void planJumps(qint64 directory);
    // Where a stored entry's data whose CRC-32 its header gives stands, moved by bytes lost from or
    // put into its header's lengths or ZIP64 record: moved takes its offset and size; false when
    // no place verifies.
    bool findStoredData(const LocalHeader &h, LocalHeader *moved);
    // Whether h is the last entry before a directory that starts past where its end record says,
    // its data verifying up to the first record: the walk's limit then ends with it.
    bool runsToFirstRecord(const LocalHeader &h);
    template <typename TryAt>
    bool sizeInDamagedExtra(qint64 nameEnd, TryAt tryAt);
    // Handles an entry with a known CRC from its local header alone; returns where the walk goes on.
    qint64 handleEntry(const LocalHeader &h);
    // Whether h is a stored attachment with a sound header whose data the end of the file cuts
    // (or ends where only part of a signature follows), and no record of this archive lies inside it.
    bool cutByFileEnd(const LocalHeader &h);
    // Where the run of local headers from p ends, each header's data followed to the next: the
    // end of the file when one's data reaches it, the central record that ends it, or -1 where
    // anything else stands.
    qint64 headerChainEnd(qint64 p);
    // An entry's data of size bytes from data: where the entries read end, and whether the end
    // of the file cuts the last one.
    void noteExtent(qint64 data, qint64 size);
    // Items whose text ends between the entries read and to, their entry's header and start lost:
    // without a whole directory nothing else names them. storeStart: to starts a store's item
    // whose store lost its start (and the items cut with it).
    void noteLostText(qint64 to, bool storeStart = false);
    // The records of a directory whose start (or end record) is lost, from from on: each item
    // entry they name that the walk never read is named.
    void noteRecordsLeft(qint64 from);
    // A file cut before its directory: one line names where it ends and what was cut.
    // cutHeaderName: the entry whose local header the end cuts, for that line; "" when none.
    QString cutHeaderName();
    void noteCutArchive();
    // The first end-of-directory record at or after from, or -1.
    qint64 endRecordFrom(qint64 from);
    // end is where the entry's data ends, or -1 when its size is damaged.
    qint64 dispatchEntry(const LocalHeader &h, qint64 end);
    void appendAttachmentNode(const LocalHeader &h, bool sizeLanded);
    // Attachments that are zips of their own (ZipAttachments.cpp). Whether a local header of this
    // archive (its name in the archive's folders) starts at pos, or one starts inside [from, to).
    bool archiveHeaderAt(qint64 pos);
    bool archiveHeaderWithin(qint64 from, qint64 to);
    // The end of the zip whose data starts at data: behind its end record, or at the record of
    // this archive that stands inside that record's tail; -1 when none lies before limit.
    qint64 embeddedZipEnd(qint64 data, qint64 limit);
    // Where a stored attachment whose data is a zip really ends when its size (end, -1 when it
    // ends at no record) does not verify: the zip's end where a record follows; else -1.
    qint64 wholeZipEnd(const LocalHeader &h, qint64 end);
    // Lists h's data as the attachment up to zipEnd, with a line; returns zipEnd.
    qint64 keepWholeZip(const LocalHeader &h, qint64 zipEnd);
    // A zip at p behind an attachment's damaged header, its name still standing before p: listed
    // whole up to the zip's end. Returns that end, or -1.
    qint64 zipBehindDamagedHeader(qint64 p);
    bool attachmentNameBefore(qint64 p, LocalHeader *h);
    // The rest of a name whose head was lost, in bytes read from first up to the data: h when found.
    bool nameTailBefore(qint64 first, const QByteArray &bytes, LocalHeader *h);
    // Attachments in lost bytes [from, to) whose headers lost their heads through their names:
    // each by its name's rest and the size in the ZIP64 record behind it, which ends at a record.
    // Lists them and returns where the bytes no attachment took start.
    qint64 attachmentsByNameTail(qint64 from, qint64 to);
    // Without a record for it, an attachment at pos whose header's fixed fields lost or gained
    // bytes, read by the name behind them where a size among them ends at the next entry:
    // returns where the walk goes on, or -1 (HeaderByName.cpp).
    qint64 attachmentByOwnName(qint64 pos);
    // The CRC-32 of a data descriptor at at that gives size bytes; false when none stands there.
    bool descriptorCrc(qint64 at, qint64 size, quint32 *crc);
    // Whether pos lies inside the data of the last attachment listed.
    bool insideLastAttachment(qint64 pos) const;
    // Without a directory, attachments in the stretch from..to no entry took whose headers lost
    // their signatures (or gained bytes in them) but keep their fields, name and data: each is
    // listed where its CRC-32 verifies its data. Returns where the stretch's damage now starts.
    qint64 attachmentsInStretch(qint64 from, qint64 to);
    // The last "Local/" or "Accounts/" in [first, at), from the one found for the marker before
    // (named) and the bytes searched since (to searched): -1 when none stands there.
    qint64 folderStartBefore(qint64 first, qint64 at, qint64 *named, qint64 *searched);
    // A record starts at pos: an attachment whose damaged size ran past it is cut there.
    void recordStartsAt(qint64 pos);
    // end is where the entry's data ends, or -1 when its size is damaged.
    qint64 handleXmlEntry(const LocalHeader &h, EntryRole role, qint64 end);
    // A message whose name gives no folder is listed apart: the report says so.
    void notePlacelessMessage(const LocalHeader &h);
    // A store whose size ends at no header (end: where the walk placed its end, -1 at no record),
    // its root closing a little past that size and before the next header: its text grew (LF
    // into CR LF); the end of its close tag, else -1.
    qint64 grownStoreEnd(const LocalHeader &h, EntryRole role, qint64 end);
    // Whether a record (or the end of the archive) starts at end.
    bool endsAtRecord(qint64 end);
    // Reads up to want bytes of entry text into m_text, stopping at a ZIP signature inside it.
    // Returns the length read; *cut is true when a signature ended it early.
    qint64 readEntryText(qint64 offset, qint64 want, bool *cut, bool stopAtSignature = true);
    void freeText();
    // Reads m_text's bytes where they were left for a worker: the walk needs them after all.
    void fillText();
    // Hands m_text (length bytes, ending at end) to its builder.
    void build(EntryRole role, const QString &path, qint64 end, qint64 length, const LocalHeader *h = nullptr);
    // folderPathFor of an entry name; entries of one folder follow each other, so the last
    // folder's path is kept rather than split and joined again for every message.
    QString entryFolderPath(const QByteArray &name, EntryRole role);

    // Block recovery: the end of the root element starting at p, or -1 when none starts there.
    // h: a header right before p whose sizes and CRC-32 were lost; its name files the block.
    qint64 recoverBlock(qint64 p, const LocalHeader *h = nullptr);
    // An item of a block that starts at its p's item start tag (tag's): the item before it, cut
    // with its store's start, is named where its remains stand.
    void noteCutItemBefore(int tag, qint64 p);
    // The root (or, rootLost, item) start tag at p of a block: its index, or -1.
    int blockTagAt(qint64 p, bool *rootLost);
    // Blocks of other stores inside a damaged entry h of role own, whose extent ends at to (a
    // message's only where its size ran past the next header: a store that lost its signature
    // may stand inside); returns where the walk goes on (to, or past the last such block).
    qint64 recoverForeignBlocks(const LocalHeader &h, EntryRole own, qint64 to);
    // The name of the damaged header right before a root element at p, when its bytes still hold
    // one: the block is then filed by it.
    bool nameBefore(qint64 p, LocalHeader *h);
    // Where another message's text starts inside a message whose size ran past what was read
    // (len bytes) and whose CRC-32 fails: its root, right behind that one's name; else -1.
    qint64 messageStartInside(const LocalHeader &h, qint64 len);
    qint64 nextSignature(qint64 from);
    qint64 findCloseTag(int tag, qint64 from, qint64 limit);
    void dispatchBlock(int tag, qint64 p, qint64 end);
    // The block [p, end) is the data of h when h's name gives the block's role: read as h's entry,
    // with the CRC-32 of a data descriptor behind it when its size agrees. Returns false when not.
    bool dispatchNamedBlock(EntryRole role, const LocalHeader &h, qint64 p, qint64 end);
    // The CRC-32 of h's damaged header that h's size bytes of data have, from its field or from
    // before the moved lengths; 0 when neither holds.
    quint32 fieldCrc(const LocalHeader &h, qint64 size);
    // The CRC-32 of h's header read with its line ends converted back; 0 when that gives none.
    quint32 convertedHeaderCrc(const LocalHeader &h);

    QFolderInformationThread &m_thread;
    ArchiveSource &m_source;
    BufferedArchiveReader *m_reader;
    qint64 m_size;
    std::unique_ptr<CentralDirectory> m_central;
    std::unique_ptr<BuildQueue> m_builders;
    bool m_threaded;
    char *m_text = nullptr;  // the entry text just read, until it goes to its builder
    LocalHeader m_header;    // the local header just read
    int m_textNul = -1;      // whether m_text holds a NUL byte: -1 unknown
    // With workers reading the messages, a short text is only looked at in the window (for
    // signatures and NULs); a text in a run read ahead goes to its worker as it stands there, any
    // other is copied out of the window when it is handed on. m_text is then not filled yet; its
    // bytes lie at m_textFrom, m_textLength of them.
    bool m_defer = false;
    qint64 m_textFrom = -1;
    qint64 m_textLength = 0;
    // The next offset the walk must not step past: the next entry the central directory
    // knows, or the directory itself. Bytes there belong to a known record.
    qint64 m_limit = 0;
    // Byte-by-byte searches stop at every place a record points at, agreeing or not: a record
    // whose header is smashed still places its entry there.
    qint64 m_stepLimit = 0;
    // Entries read from local headers no record agreed with: name -> header offset. Filled only
    // when a directory was found; it names where the records that missed them point.
    QHash<QByteArray, qint64> m_localOnly;
    // Item entries by a 64-bit hash of their names, to name a second entry of one name.
    ItemNameList m_itemNames;
    // List entries read, by role, size and CRC-32: their header offsets.
    QHash<quint64, qint64> m_lists;
    // The last attachment whose size did not end at a record; the next record found ends it.
    FileOffsetNode *m_openNode = nullptr;
    // Caches that keep repeated searches over one damaged stretch linear.
    qint64 m_sigFrom = -1, m_sigAt = -1;
    qint64 m_endFrom = -1, m_endAt = -1;
    qint64 m_closeFrom[5] = {-1, -1, -1, -1, -1};
    qint64 m_closeLimit[5] = {-1, -1, -1, -1, -1};
    qint64 m_closeAt[5] = {-1, -1, -1, -1, -1};
    qint64 m_extentEnd = 0;  // where the data of the entries read so far ends, at most
    // The entry being read runs to the next header that agrees with a complete directory: a
    // signature inside its text is a copy of another entry's, not where it ends.
    bool m_readThrough = false;
    bool m_lastCut = false;       // the last entry read runs past the end of the file
    qint64 m_strayRecords = -1;   // the first central record the walk met without a directory
    QByteArray m_lastFolderName;  // the name up to its last '/', of the last path kept
    EntryRole m_lastFolderRole = EntryRole::Categories;
    QString m_lastFolderPath;
};

}  // namespace olm
