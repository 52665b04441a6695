#pragma once
// Where the contact, calendar, task and note files go, and how each one is made: created new
// (never over an existing file), given its Finder codes, written whole and checked. A file that
// could not be written is removed again and counted, with the item named in the log.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <string_view>

struct MailSaveContext;

// The item folder of the output: the output root of the package or of Apple Mail + "/" + kind.
QString PimItemFolder(const MailSaveContext &context, bool appleMail, const QString &kind);

struct PimFile {
    QString folder;      // existing item folder
    QString name;        // ItemFileName, or a fallback when the record's UUID is unusable
    QString extension;   // "", ".vcf", ".ics", ".txt"
    quint32 finderType;  // 0: no Finder codes
    quint32 finderCreator;
};

// Creates folder/name+extension exclusively; when that name is taken (or name is empty, "." or
// ".."), the next free "name_N". Returns false with the reason in *error; *path is the file
// made, or the first name tried.
bool WritePimFile(const PimFile &file, const QByteArray &bytes, QString *path, QString *error);

// The fallback name of a record whose UUID is not 32 hexadecimal digits: its list position.
QString FallbackItemName(const char *kind, qint64 position);

// The target named for one record: ItemFileName of szUuid, else the fallback of kind and
// position. *uid is the dashed UUID, or that same fallback.
PimFile ItemFile(const PimFile &target, const char *szUuid, const char *kind, qint64 position, QString *uid);

// WritePimFile, then NotePimResult with what naming the item.
void SavePimItem(MailSaveContext &context, const PimFile &file, const QByteArray &bytes, const QString &what);

// Counts one item: written, or failed with "what" named in the log.
void NotePimResult(MailSaveContext &context, bool written, const QString &what, const QString &path,
                   const QString &error);

// Counts an item that was written but holds less than the archive does: written and
// incomplete, with "what" and the reason named for the report.
void NotePimIncomplete(MailSaveContext &context, const QString &what, const QString &path, const QString &reason);

// Whether a text read back for an item is still what the scan saw: all of its length, and not
// zeroed. The archive may have been cut or overwritten since the scan; such an item must be
// counted as failed, never written as an empty file.
bool ReadBackIntact(const QByteArray &bytes, qint64 length);

// A long text of an item (description, notes) at offset: part of the item's element, read at
// elementOffset, where it lies there (shared with it, so a long text is not held twice), else
// read from the archive. Empty for length 0.
QByteArray LongTextOf(const QByteArray &element, qint64 elementOffset, qint64 offset, quint32 length);

// Counts an item whose text could no longer be read, with "what" named in the log.
void NoteUnreadable(MailSaveContext &context, const QString &what, const PimFile &file);

// An item's element as a conforming reader may read it: the element itself when it is
// well-formed, else its sound part, so nothing is taken from a broken element; damage then says
// what was wrong, for the item's report line. nothingWhole: none of its elements is whole, and
// nothing of it may be written.
struct SoundElement {
    QByteArray bytes;
    QString damage;
    bool nothingWhole = false;
    std::string_view view() const { return std::string_view(bytes.constData(), size_t(bytes.size())); }
};
SoundElement SoundElementOf(const QByteArray &element, std::string_view startTag);
