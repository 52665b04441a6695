#pragma once
// The OLM archive writer of save type 0: copies the categories, the selected item stores and the
// messages and attachments of the checked mail folders from the scanned archive into a new
// archive, entry by entry, in the exporter's layout. One pass: every local entry is streamed
// from the source while its central record is kept, so the central directory always lists
// exactly what was written, also after a stop or a short read.

#include "save/olm/OlmZipRecords.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

struct FileOffsetNode;
struct MailMLRC;
struct NotesInformation;

// The output file: buffered, every write checked; after the first failure nothing more is
// written and error() says why. Full buffers are checksummed and written by a thread of its own
// while the next one fills, and their disk writes are started at once, so the final sync finds
// little to do.
class OlmOutputFile {
public:
    // Entry data goes in pieces of at most this many bytes.
    static constexpr qint64 kBufferSize = qint64(1) << 20;

    OlmOutputFile() = default;
    ~OlmOutputFile();
    OlmOutputFile(const OlmOutputFile &) = delete;
    OlmOutputFile &operator=(const OlmOutputFile &) = delete;

    bool create(const QString &path);
    bool write(const char *data, qint64 length);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    // Room for length bytes (at most kBufferSize) at the end of the buffer, for a read to fill
    // in place; commit() then adds the bytes that arrived. Null after a failure.
    char *reserve(qint64 length);
    void commit(qint64 length);
    // The CRC-32 of the bytes written from beginChecksum() up to endChecksum(), which returns
    // the range's number: the writer thread takes it as it writes them. checksum() is final
    // once drain() has returned.
    void beginChecksum();
    int endChecksum();
    quint32 checksum(int range);
    // Hands over what is pending and waits until the writer thread has written all of it.
    bool drain();
    // Overwrites bytes already written at offset (a header whose values are known only later).
    bool patch(qint64 offset, const QByteArray &bytes);
    // Writes what is pending, syncs and closes; false when any write failed.
    bool close();
    qint64 position() const { return m_handedOver + m_used; }
    bool failed() const { return !m_error.isEmpty() || m_writerError.load() != 0; }
    QString error() const;

private:
    bool flush();
    // Waits until at most jobs buffers are still to be written.
    void waitForWriter(int jobs = 0);
    void stopWriter();
    void writerLoop();
    void planChecksums(qint64 size);
    int writeAll(const char *data, qint64 length);
    void fail(int errorNumber);

    static constexpr int kBuffers = 4;

    int m_fd = -1;
    QByteArray m_buffers[kBuffers];  // kBufferSize bytes each: one fills while the others are written
    int m_current = 0;
    qint64 m_used = 0;        // bytes of the current buffer
    qint64 m_handedOver = 0;  // bytes given to the writer thread so far
    QString m_error;

    std::thread m_writer;
    std::mutex m_lock;
    std::condition_variable m_wake;                      // work or the end for the writer
    std::condition_variable m_done;                      // a buffer has been written
    std::deque<std::pair<const char *, qint64>> m_jobs;  // in file order; the first is being written
    bool m_quit = false;
    std::atomic<int> m_writerError{0};
    struct Range {
        qint64 start;
        qint64 end;   // -1 while open
        quint32 crc;  // writer thread only until drained
    };
    std::deque<Range> m_ranges;  // in file order; they never overlap
    int m_rangeCursor = 0;       // writer thread only: the first range not yet complete
    qint64 m_writerAt = 0;       // writer thread only: file position of the next job
    struct Piece {
        Range *range;
        qint64 offset;  // in the job
        qint64 length;
    };
    std::vector<Piece> m_pieces;    // writer thread only: the current job's share of each range
    qint64 m_written = 0;           // writer thread only
    qint64 m_writebackStarted = 0;  // writer thread only
};

// What every save type says of an item whose text does not match its checksum or was cut short.
inline constexpr char kOlmDamagedText[] = "its XML in the archive is damaged (CRC-32 mismatch or cut short)";

struct OlmSelection {
    bool cont = false;
    bool cal = false;
    bool task = false;
    bool note = false;
    bool mail = false;
    QString folderIds;  // checked mail folders, "id;" each
};

struct OlmSaveHooks {
    std::function<bool()> stopRequested;
    std::function<void()> reportItem;  // the status text and one progress tick
};

// One row of the item stores: contacts, calendar, tasks, notes.
struct OlmStore {
    int index;
    const char *fixedDirs[2];  // written whatever is selected; the second may be null
    const char *localRoot;     // the store's folder under "Local/"
    const char *mainFile;      // written alone, without a folder entry or a report
    const char *fileWord;      // the store file's own name
    const char *root;          // root element of the store file, for recovered items
    bool accountAttachments;   // the calendar's account folders get an attachments entry
};
extern const OlmStore kOlmStores[4];

// Which mail walk runs: the other local folders, one standard folder, or the accounts.
enum class OlmMailWalk { OtherLocal, Standard, Accounts };

// The attachment URLs of a message's XML, each decoded as the exporter's readers decode them.
QStringList MessageAttachmentUrls(const QByteArray &xml);

class OlmArchiveWriter {
public:
    OlmArchiveWriter(int sourceFd, OlmSaveHooks hooks);

    // Writes the archive at path. False when it could not be written; then error() says why
    // and no archive is left at path.
    bool write(const QString &path, const OlmSelection &selection);
    QString error() const { return m_error; }
    // Messages and item store files in the archive at the end, whole or incomplete; 0 when no
    // archive was left.
    qint64 itemsWritten() const { return m_itemsWritten; }
    // Items not saved, one line each naming the item and why.
    QStringList failures() const { return m_failures; }
    // Items written with something lost (damaged bytes kept under a checksum that matches them,
    // an attachment missing, an unsafe name replaced), one line each naming the item and why.
    QStringList incompletes() const { return m_incompletes; }
    // Items that were written but went with the archive when it could not be finished; each
    // has its line among failures().
    qint64 itemsLost() const { return m_itemsLost; }
    bool stopped() const { return m_stopped; }

private:
    struct MailEntry {
        const MailMLRC *record;
        QByteArray name;  // read once; empty when the record has none
    };
    struct Span {
        qint64 offset;
        qint64 length;
        const NotesInformation *note = nullptr;  // a note, whose element is rebuilt
    };
    // A message with its attachments, or a store file: what the log names when one of its
    // entries is not what the archive being read holds.
    struct Item {
        QString what;
        QStringList problems;
        bool counted = false;  // in m_itemsWritten
        bool wrote = false;    // one of its entries stands in the archive
    };

    bool prepareOutput(const QString &path);
    void writeLayout();
    bool stopNow();
    // Once the entries are written: their checksums into the records.
    void settleChecksums();

    // Entries. Each returns false when it wrote nothing.
    bool writeDirectory(const QByteArray &name);
    bool beginFile(const QByteArray &name, quint32 crc32, quint64 size);
    bool beginFile(const QByteArray &name, quint32 crc32, const OlmEntryForm &form);
    void endFile(bool ticks);
    // A compressed entry copied whole gets the records the archive being read gave it; false
    // when it came up short.
    bool endCompressedFile(bool ticks);
    void closeEntry(bool ticks);
    // What went wrong with the file entry being written: a problem of its item, or for an entry
    // of no item a line of its own, among the incomplete when its bytes stand, else the failed.
    void noteFileProblem(const QByteArray &entryName, const QString &why, bool stands);
    // The name a file entry gets: name itself when it is safe, else a safe one in its folder,
    // named in the report.
    QByteArray safeFileName(const QByteArray &name);
    // The file entries from here on belong to a new item, named what (the log's words).
    void beginItem(const QString &what);
    void addProblem(const QString &problem);
    // Whether [offset, offset+length) still holds text as the scan found it: in the file as it
    // is now, not zeroed, and (when given) with its start tag near the start and its end tag
    // near the end.
    bool textReadable(qint64 offset, qint64 length, const char *startTag, const char *endTag) const;
    void noteUnreadable(const QString &what);
    // The items whose entries are not what the archive being read holds, into the log.
    void reportDamagedItems();
    // The archive could not be finished and was removed: its items count as not saved.
    void loseWrittenItems();
    // Streams [offset, offset+length) of the source, clamped to it; xml stops at a ZIP
    // signature, which stored XML never holds. Returns the bytes copied.
    qint64 copySource(qint64 offset, qint64 length, bool xml);
    qint64 copyStored(qint64 offset, qint64 length);
    qint64 copyXml(qint64 offset, qint64 length);
    void appendData(const QByteArray &bytes);
    bool writeCopiedFile(const QByteArray &name, quint32 crc32, qint64 size, qint64 offset, bool xml, bool ticks,
                         qint64 *copied = nullptr);

    // Item stores.
    void WriteItemStoreEntries(const OlmStore &store, bool gate);
    void writeStoreFile(const OlmStore &store, const FileOffsetNode *node, bool ticks);
    void writeRecoveredStoreItems(const OlmStore &store);
    QVector<Span> recoveredSpans(const OlmStore &store) const;

    // Mail.
    void collectMail(const QString &folderIds);
    void buildAttachmentIndex();
    void WriteMailFolderEntries(OlmMailWalk walk, const QByteArray &folderDir);
    // Starts the message's item; false, with the message named in the log, when its text can
    // no longer be read.
    bool startMessage(const MailEntry &entry);
    void writeMessage(const MailEntry &entry, bool ticks, bool readable);
    // Where the text of a mail's entry lies: the spans of all the entry's mails together (each
    // record keeps only its own message), or the record's own span when it has no entry.
    Span entrySpanOf(const MailMLRC *record) const;
    // The close tags a mail entry cut short lacks ("</email></emails>", "</emails>" or nothing),
    // so its last message, kept by the scan, is still a message when the new archive is read.
    QByteArray missingCloseTags(const Span &span);
    void ScanMessageAttachments(const MailMLRC *record, const QByteArray &prefix);
    void writeAttachment(FileOffsetNode *node);
    // A compressed entry copied as it is: its data, method and checksum unchanged.
    void writeCompressedEntry(FileOffsetNode *node, const QString &label);
    // The compressed entries no walk took, which the scan could not read and so could not sort:
    // copied whole unless they belong to a store or mail folder the user left out.
    void writeCompressedEntries();
    bool compressedEntryWanted(const QByteArray &name) const;
    static bool compressedEntryNamed(const QByteArray &name);
    void writeStrayAttachments();
    // Attachment entries still whole in the archive that no written message named (their
    // message was cut or lost its name): copied as they are, so no file is lost.
    void writeUnnamedAttachments();
    // Contact groups and other address-book files that are not contact stores.
    void writeAddressBookFiles();
    bool unnamedAttachmentWanted(const QByteArray &name) const;
    QString mailName(const MailMLRC *record, const QByteArray &entryName) const;
    bool messageReadable(const MailMLRC *record) const;
    // False when the message's text differs from its entry's checksum (read again: written
    // out of its entry, its own checksum is not taken).
    bool sourceCrcMatches(const MailMLRC *record) const;
    quint32 sourceCrc(qint64 offset, qint64 length) const;
    void writeRecoveredMail();
    QByteArray uniqueName(const QByteArray &folder, const QByteArray &stem, const QByteArray &suffix);

    QByteArray readSource(qint64 offset, qint64 length) const;
    QByteArray readEntryName(const MailMLRC *record) const;
    // The name the message's entry gets in the new archive.
    QByteArray messageEntryName(const MailMLRC *record) const;

    int m_source;
    qint64 m_sourceSize = 0;
    OlmSaveHooks m_hooks;
    OlmOutputFile m_out;
    OlmSelection m_selection;
    quint32 dwEntryDosTime = 0;
    qint64 nEntryCount = 0;
    QByteArray m_central;  // the central records of the entries written, in order
    qint64 m_ticks = 0;    // entries that reported, to report again with the directory
    bool attachmentheader = false;
    bool m_stopped = false;
    QString m_error;
    QString m_path;
    QStringList m_failures;
    QStringList m_incompletes;
    QVector<Item> m_items;
    int m_item = -1;           // the item the entries being written belong to, -1: none
    bool m_readShort = false;  // the entry's copy ended where the archive being read ended
    QString m_fileLabel;       // the entry's words in its item's problems; empty: the item's text
    bool m_fileSizeCut = false;
    qint64 m_itemsWritten = 0;
    qint64 m_itemsLost = 0;  // written, then removed with the archive

    // The file entry being written.
    qint64 m_fileHeader = -1;
    QByteArray m_fileName;
    quint32 m_fileCrc = 0;  // as the header says
    OlmEntryForm m_fileForm;
    bool m_cutByStop = false;  // the stop ended its copy
    quint64 m_fileSize = 0;
    quint64 m_written = 0;

    // The checksums the writer thread takes, filled into the records at the end.
    struct PendingCrc {
        int range;
        int centralAt;   // the central record's CRC field in m_central
        qint64 localAt;  // the local header's CRC field in the file
        quint32 stated;  // what the local header says
        int item;        // -1: nothing to check
        QString label;   // the entry's words in its item's problem; empty: the item's own text
        bool sizeCut;    // its size ran into the next entry
    };
    QVector<PendingCrc> m_pendingCrcs;
    static QString checksumProblem(const PendingCrc &p, quint32 crc);

    QSet<QByteArray> m_fileNames;             // names of the file entries written
    QVector<Span> m_storeRanges[4];           // source data of the store files written, per store
    QVector<MailEntry> m_mail;                // the records of the checked folders, in list order
    QSet<qint64> m_messagesWritten;           // by source data offset: one entry's mails go once
    QHash<qint64, Span> m_entrySpans;         // by entry name offset: the entry's text
    QVector<FileOffsetNode *> m_attachments;  // list order
    QHash<QByteArray, QVector<int>> m_attachmentsByName;
    QVector<int> m_strayAttachments;   // named by a written message, outside its folder
    QHash<int, int> m_strayOwners;     // attachment index: the item of the message naming it
    QSet<QByteArray> m_uncheckedDirs;  // folders of the mail records the user left unchecked
};
