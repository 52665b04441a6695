#pragma once
// The archive's central directory, read from its end records: a second witness of where each
// entry lies, how large it is and what its CRC-32 is. The walk uses it for entries whose local
// headers are damaged, and to never take bytes inside a known entry's data for records.
// Every value is validated against the file before use; a missing or damaged directory yields
// no entries (or those read before the damage), and the walk then works from the local headers.

#include <QByteArray>
#include <QtGlobal>

#include <vector>

class ArchiveSource;
class BufferedArchiveReader;

namespace olm {

struct CentralEntry {
    qint64 headerOffset = 0;  // the local header the directory points at
    qint64 dataOffset = -1;   // first data byte; -1 while unresolved
    qint64 csize = 0;
    qint64 usize = 0;
    quint32 crc = 0;
    quint16 method = 0;
    qint64 nameOffset = 0;  // where the name bytes lie: the local header's when they match, else ours
    quint16 nameLength = 0;
    QByteArray name;           // raw bytes up to the first NUL, once resolved
    bool localIntact = false;  // the local header's signature and name agree with this entry
    bool dropped = false;      // its header lies inside another entry's data, or outside the file: not ours
    bool used = false;         // the walk read the entry as this record describes it
    qint8 agreeing = -1;       // cached: a local header of this name stands at headerOffset (-1 unknown)
    bool messageName = false;  // the name held a NUL, and its whole text names a message
    bool gapAfter = false;     // damaged records follow it in the directory: its successor is unknown
    qint64 movedFrom = -1;     // where the record placed its header, when it was found elsewhere
    bool placed = false;       // its header is damaged: its data was found by name and CRC-32
    bool shifted = false;      // its header stood (or, damaged, is looked for) moved as much as the directory
    bool renamed = false;      // its record's name was damaged: it is read with its local header's
    // Once its data is placed: the name cut at its first NUL, and whether its whole text names a
    // message.
    void settleName();
};

class CentralDirectory {
public:
    // Reads the end records and the directory of source; false (and no entries) when none is
    // found. Entries come sorted by local header offset, their data not yet resolved.
    bool read(ArchiveSource &source);
    // Places entry i's data, reading its local header through r: the header's own data offset
    // when it agrees with the entry, else where the data must end (at the next record). Entries
    // whose headers lie inside its data are dropped. False when the entry cannot be placed.
    // The walk resolves entries in order as it reaches them, so the headers are read once.
    bool resolve(size_t i, BufferedArchiveReader &r);
    // The walk is past entry i: its name is no longer needed (it was the largest part of the
    // directory's memory on archives of many small entries).
    void passed(size_t i);
    // Where the next entry after i that is not dropped begins, or the directory.
    qint64 nextStart(size_t i) const;
    // Whether a local header of entry i's name stands where the record says (read once).
    bool agrees(size_t i, BufferedArchiveReader &r);
    // Where the first entry whose header lies after pos and agrees with its record begins, or the
    // directory. Only such a record marks a place no entry's data may run into: a record that
    // points anywhere else is damage. Asked with growing pos, the answers cost linear time.
    qint64 nextConfirmed(qint64 pos, BufferedArchiveReader &r);
    // Whether some record points at pos.
    bool startsAt(qint64 pos) const;
    // Whether an entry's data may end at pos, and by what: a record's signature stands there (a
    // local or central header, a data descriptor, an end record; or the directory starts or the
    // file ends there), or only a record points there (its header may be smashed, or the record
    // may still give the place bytes lost before it moved). The walk and the searches for moved
    // data ask this one; a search takes only a signature.
    enum class RecordHere { None, Signature, Pointed };
    RecordHere recordAt(qint64 pos, BufferedArchiveReader &r) const;
    // Where a stored entry's data of csize bytes stands when its header places it at data: there
    // when it ends at a record, else where it ends at one near it with the CRC-32 crc (bytes lost
    // from or put into the header's extra moved it), never before nameEnd; data when none does.
    // verified: whether the CRC-32 was checked and held (not asked where the data ends at a record).
    qint64 dataEndingAtRecord(qint64 data, qint64 csize, quint32 crc, qint64 nameEnd, BufferedArchiveReader &r,
                              bool *verified = nullptr) const;

    // Whether the len bytes at pos have the CRC-32 crc, for a search of where damaged data lies.
    // Such searches together read at most a few times the file, whatever its records say: past
    // that, false without reading.
    bool searchedCrcMatches(qint64 pos, qint64 len, quint32 crc, BufferedArchiveReader &r) const;
    // A search for a 4-byte signature in [from, to), its bytes charged to the same budget; -1
    // when none stands there or the budget is spent.
    qint64 searchedFind(const char *needle, qint64 from, qint64 to, BufferedArchiveReader &r) const;
    qint64 searchBudget() const;
    // Charges bytes a search reads to the same budget: false, and nothing charged, when it is spent.
    bool spend(qint64 bytes) const;

    // Whether some record names a folder of this archive ("Local/", "Accounts/").
    bool ownNames();
    bool found() const { return m_start >= 0; }
    // Every record the end record announced was read.
    bool complete() const { return m_complete; }
    // Whether the next record after entry i is its successor in the archive: every record was
    // read, or the directory lists them in entry order and none was lost right behind i's.
    bool successorKnown(size_t i) const
    {
        return m_complete || (m_inOrder && i < m_entries.size() && !m_entries[i].gapAfter);
    }
    // Where the directory begins; the walk ends there. -1 when none was found.
    qint64 start() const { return m_start; }
    // Where its first record stands: past start() when bytes were put in before the directory and
    // lost among its records, so the end record's offsets still add up. -1 when none was read.
    qint64 firstRecord() const { return m_firstRecord; }
    const std::vector<CentralEntry> &entries() const { return m_entries; }
    CentralEntry &entry(size_t i) { return m_entries[i]; }
    // Index of the first entry whose local header lies at or after pos; size() when none.
    size_t firstAtOrAfter(qint64 pos) const;

private:
    // Whether entry i's header lies inside the data of the entry placed before it.
    bool insideResolvedBefore(size_t i) const;
    // Finds the headers of records from i on that do not point at them (bytes lost or added
    // before or inside them): by name, wherever they stand after the previous record's.
    void relocateFrom(size_t i, BufferedArchiveReader &r);
    // The header of e's name after lo nearest expected whose CRC-32 agrees, or -1.
    qint64 findHeader(const CentralEntry &e, qint64 lo, qint64 expected, BufferedArchiveReader &r);
    // The entry found before the one being placed: its header, where its data ends (-1 when
    // unknown), whether its CRC-32 verified that extent, and whether it is the entry right before.
    struct Before {
        qint64 header = -1;
        qint64 dataEnd = -1;
        bool verified = false;
        bool adjacent = false;
    };
    // Places e by its name's bytes and its data's CRC-32 where its header is damaged. next: where
    // the following header stands, or -1.
    bool placeByData(CentralEntry &e, const Before &before, qint64 expected, qint64 next, BufferedArchiveReader &r);
    void dropRecordsInto(const CentralEntry &e, qint64 from, qint64 to, bool any = false);
    // Places e's data at d where its CRC-32 holds, its header at the signature before name (or
    // before d when name is -1, else at expected), never inside the data before it.
    bool place(CentralEntry &e, const Before &before, qint64 d, qint64 name, BufferedArchiveReader &r,
               qint64 expected = -1);
    // Where e was placed with its data at d by a header whose name differs from its record's:
    // that name, when the header is whole and the name fits the archive better.
    void takeHeaderName(CentralEntry &e, qint64 header, qint64 d, BufferedArchiveReader &r);
    // Whether the records beside entry i lie in the folder name gives.
    bool fitsFolder(size_t i, const QByteArray &name) const;
    // Whether a record beside record i shares name's stem: all up to its last '_' (a message's
    // id in its attachments' names, "message_" in messages').
    bool sharesStem(size_t i, const QByteArray &name) const;
    void indexHeaders(BufferedArchiveReader &r);
    bool locate(ArchiveSource &source, qint64 *cdOffset, qint64 *cdSize, qint64 *count, qint64 *cdEnd);
    void parseRecords(ArchiveSource &source, qint64 cdOffset, qint64 cdSize, qint64 count);
    // In a moved archive, records whose headers do not agree, moved as much as the directory
    // where only that keeps them in order between the records whose headers agree.
    void moveDamagedAmongMoved(const std::vector<bool> &agreeing, qint64 cdOffset);
    bool localAgrees(const CentralEntry &e, BufferedArchiveReader &r) const;
    // Whether the next record after i that is not dropped agrees with its local header.
    bool nextVerified(size_t i, BufferedArchiveReader &r);

    std::vector<CentralEntry> m_entries;
    qint64 m_start = -1;
    qint64 m_firstRecord = -1;
    qint64 m_size = 0;
    bool m_complete = false;     // every record the end record announced was read
    bool m_inOrder = false;      // the directory lists its records in entry order
    int m_archiveNames = -1;     // whether some record names a folder of this archive; -1: not asked yet
    qint64 m_shift = 0;          // where the directory lies, less where the end records place it
    qint64 m_shifted = 0;        // records whose headers stand moved by m_shift
    bool m_sizeDamaged = false;  // its records do not fill the size the end records give
    size_t m_confirmedFrom = 0, m_confirmedAt = 0;  // the last answer of nextConfirmed, as indexes
    bool m_relocated = false;                       // the records' headers were looked for once
    // Local headers before the directory by their names' hashes, built only when a record's
    // header is not where it points.
    std::vector<std::pair<quint64, qint64>> m_headers;
    bool m_indexed = false;
    mutable qint64 m_searched = 0;  // bytes the searches for damaged data checked by their CRC-32
};

}  // namespace olm
