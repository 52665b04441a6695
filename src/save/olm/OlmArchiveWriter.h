#pragma once
// The OLM archive writer of save type 0: copies the categories, the selected item stores and the
// messages and attachments of the checked mail folders from the scanned archive into a new
// archive, entry by entry, in the exporter's layout. One pass: every local entry is streamed
// from the source while its central record is kept, so the central directory always lists
// exactly what was written, also after a stop or a short read.

#include "save/olm/OlmEntryNames.h"
#include "save/olm/OlmItemBook.h"
#include "save/olm/OlmOutputFile.h"
#include "save/olm/OlmZipRecords.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

struct FileOffsetNode;
struct MailMLRC;
struct NotesInformation;
namespace olm {
struct StoreCopyState;
}

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
    std::function<void()> reportItem;      // the status text and one progress tick
    std::function<void(qint64)> addSteps;  // items found while writing, ahead of their ticks
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

    // Writes the archive under a hidden name beside path, which it takes once whole; a file
    // at path when the save began (which the user agreed to replace) goes only then. False
    // when it could not be written; then error() says why and no archive is left at path.
    bool write(const QString &path, const OlmSelection &selection);
    QString error() const { return m_error; }
    // Messages and item store files in the archive at the end, whole or incomplete; 0 when no
    // archive was left.
    qint64 itemsWritten() const { return m_book.written(); }
    // Items not saved, one line each naming the item and why.
    QStringList failures() const { return m_book.failures(); }
    // Items written with something lost (damaged bytes kept under a checksum that matches them,
    // an attachment missing), one line each naming the item and why.
    QStringList incompletes() const { return m_book.incompletes(); }
    // Items written whole under a safe name, one line each naming both names.
    QStringList renames() const { return m_book.renames(); }
    // Items the archive held or was to hold when it could not be finished; each has its line
    // among failures().
    qint64 itemsLost() const { return m_book.itemsLost(); }
    // The compressed entries copied whole, by their data offset in the archive being read.
    const QSet<qint64> &compressedCopied() const { return m_compressedCopied; }
    bool stopped() const { return m_stopped; }
    // Unfinished archives that saves stopped hard left beside path, removed before this one
    // began, one line each.
    QStringList leftoversRemoved() const;

private:
    struct MailEntry {
        const MailMLRC *record;
        QByteArray name;      // read once and made safe; empty when the record has none
        QByteArray original;  // the name as the archive gives it, when that is not safe
        QString why;          // why its folder is named otherwise, when it is
    };
    struct Span {
        qint64 offset;
        qint64 length;
        const NotesInformation *note = nullptr;  // a note, whose element is rebuilt
    };
    bool prepareOutput(const QString &path);
    // Gives the finished file its name; false with m_error set when it cannot take it.
    bool placeOutput(const QString &path);
    // Every name the archive will hold, before the first entry is written.
    void reserveNames();
    void writeLayout();
    // Every stored copy of the category list; a compressed one goes with the compressed entries.
    void writeCategories();
    bool stopNow();
    // Once the entries are written: their checksums into the records.
    void settleChecksums();

    // Entries. Each returns false when it wrote nothing.
    bool writeDirectory(const QByteArray &name);
    bool beginFile(const QByteArray &name, quint32 crc32, quint64 size);
    bool beginFile(const QByteArray &name, quint32 crc32, const OlmEntryForm &form);
    void endFile(bool ticks);
    // A compressed entry copied whole gets the records the archive being read gave it; one
    // that came up short is taken out again, as its data can only be read whole.
    void endCompressedFile(bool ticks);
    void closeEntry(bool ticks);
    // The entry is done with, written or not: its state cleared, its progress reported.
    void clearEntry(bool ticks);
    // What went wrong with the file entry being written: something its item lost when the
    // entry stands or is one of the item's attachments, else the reason the item is left out.
    void noteFileProblem(const QString &why, bool stands);
    // The name a file entry gets: name itself when it is safe and free, else one that is,
    // named in the report.
    QByteArray safeFileName(const QByteArray &name);
    // The file entries from here on belong to a new item, named what (the log's words).
    void beginItem(const QString &what);
    // Whether [offset, offset+length) still holds text as the scan found it: in the file as it
    // is now, not zeroed, and (when given) with its start tag near the start and its end tag
    // near the end.
    bool textReadable(qint64 offset, qint64 length, const char *startTag, const char *endTag) const;
    void noteUnreadable(const QString &what);
    // Streams [offset, offset+length) of the source, clamped to it; xml stops at a ZIP
    // signature, which stored XML never holds. Returns the bytes copied.
    qint64 copySource(qint64 offset, qint64 length, bool xml);
    qint64 copyStored(qint64 offset, qint64 length);
    qint64 copyXml(qint64 offset, qint64 length);
    void appendData(const QByteArray &bytes);
    bool writeCopiedFile(const QByteArray &name, quint32 crc32, qint64 size, qint64 offset, bool xml, bool ticks,
                         qint64 *copied = nullptr);

    // Item stores.
    // Of a store file the archive being read holds more than once, the copy that keeps its
    // name: the first whole one. Cut copies are noted.
    void chooseStoreOwners();
    // Of one item store's copies: the one that keeps the name where none is whole, and those
    // that are not written.
    void chooseAmongCopies(const QByteArray &name, int store, const QVector<olm::StoreCopyState> &copies);
    bool storedCopyWhole(qint64 offset, qint64 size, quint32 crc32, const QByteArray &root) const;
    bool compressedCopyWhole(const FileOffsetNode *node, const QByteArray &root) const;
    // Before a store copy's entry is begun: whether it keeps the store's name, and the line of
    // a cut copy.
    void claimStoreName(const QByteArray &name, qint64 dataOffset);
    void WriteItemStoreEntries(const OlmStore &store, bool gate);
    void writeStoreFile(const OlmStore &store, const FileOffsetNode *node, bool ticks);
    void writeRecoveredStoreItems(const OlmStore &store);
    QVector<Span> recoveredSpans(const OlmStore &store) const;
    // Whether a recovered item may be written, as far as its XML is sound (*broken: only its
    // sound part); one with no whole element is named and left out.
    bool checkRecoveredItem(const OlmStore &store, const Span &span, bool *broken);
    qint64 recoveredRootLength(const OlmStore &store, const Span &span) const;
    static QString recoveredItemName(const OlmStore &store, const Span &span);

    // Mail.
    void collectMail(const QString &folderIds);
    // The checked messages' names as the new archive holds them, once every name is reserved.
    void nameMail();
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
    // Why an attachment entry no message names cannot be copied as a file; empty when it can.
    QString unnamedAttachmentDamage(const FileOffsetNode *node) const;
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
    // A recovered note's title, whole even where its record kept none (over 255 characters).
    QByteArray noteTitle(const NotesInformation &note) const;
    QByteArray readEntryName(const MailMLRC *record) const;
    // The message's name, NUL bytes and all.
    QByteArray rawEntryName(const MailMLRC *record) const;
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
    bool attachmentheader = false;
    bool m_stopped = false;
    QString m_error;
    QString m_path;
    bool m_replaces = false;  // a file stood at the path when the save began: it goes at the end
    quint64 m_replacedDevice = 0;
    quint64 m_replacedInode = 0;
    OlmItemBook m_book{QString()};
    OlmEntryNames m_names;
    int m_item = -1;           // the item the entries being written belong to, -1: none
    bool m_readShort = false;  // the entry's copy ended where the archive being read ended
    QString m_fileLabel;       // the entry's words in its item's problems; empty: the item's text
    bool m_fileSizeCut = false;
    int m_lineEndsBack = 0;  // the stored entry being copied is read with its line ends converted back

    // The file entry being written.
    qint64 m_fileHeader = -1;
    QByteArray m_fileName;
    quint32 m_fileCrc = 0;  // as the header says
    OlmEntryForm m_fileForm;
    bool m_cutByStop = false;  // the stop ended its copy
    quint64 m_fileSize = 0;
    qint64 m_fileSource = -1;  // a compressed entry's data offset in the archive being read
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

    QSet<qint64> m_compressedCopied;          // by source data offset
    QHash<QByteArray, qint64> m_storeOwners;  // store file name: data offset of the copy that keeps it
    QSet<qint64> m_cutCopies;                 // store copies found cut, by data offset
    QSet<qint64> m_copiesNotWritten;          // store copies another copy of theirs stands for
    bool m_keepsHeldName = false;             // the entry begun next is its store's chosen copy
    QByteArray m_renamedFrom;                 // the entry begun next had this unsafe name in the archive
    QString m_renamedWhy;                     // and its folder was named otherwise for this
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
