#pragma once
// Names and dates of contacts, tasks and notes as the window shows them. The scan keeps a name
// only up to 255 characters; a longer one is read again from the item's element. Archive times
// are UTC instants read with the save's date core, so an unreadable date shows nothing.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <string_view>

// Bytes of an item read to find a name the scan did not keep: for a list row, which the
// window's thread fills for a whole folder, and for the preview of one item.
constexpr qint64 kListNameReadBound = 16 * 1024;
constexpr qint64 kPreviewNameReadBound = 4 * 1024 * 1024;
// Characters of such a name a list row shows.
constexpr int kListNameChars = 1024;

// The element's text in the first length bytes (at most readBound) of the item at offset, its
// entities undone once and its line breaks joined; empty when the element is absent, blank or
// ends past the bytes read. When the item's long text (a note's text, a task's note) lies at
// longOffset before the name, the readBound bytes after that text are searched too.
QString ItemElementName(qint64 offset, qint64 length, const char *startTag, qint64 readBound, qint64 longOffset = 0,
                        qint64 longLength = 0);
// The element's text in bytes, as ItemElementName gives it; empty when absent or blank.
QString ElementNameIn(std::string_view bytes, const char *startTag);
// Reads bytes [offset, offset + length) of an archive, clamped to it and to maxLength.
using ArchiveRead = std::function<QByteArray(qint64 offset, qint64 length, qint64 maxLength)>;
// The same, read through read (the archive of a preview job, on its thread).
QString ItemElementName(const ArchiveRead &read, qint64 offset, qint64 length, const char *startTag, qint64 readBound,
                        qint64 longOffset = 0, qint64 longLength = 0);

// An archive time as the machine's local "2010,May,06, 15:50:30" (English months, seconds
// kept); empty for a text that names no real date.
QString LocalTimeText(const QString &archive);

// A date without a time (birthday, anniversary) as the archive's own day, "YYYY-MM-DD"; the
// machine's zone never moves it. Empty when the text names no real date.
QString ArchiveDayText(const QString &archive);
