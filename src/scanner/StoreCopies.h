#pragma once
// Store files (contacts, calendar, tasks, notes) an archive holds more than once under one name:
// a damaged export may append a cut, zeroed or empty copy beside the whole one. Only a whole copy
// gives the store's items, so each item is listed once.

#include <QByteArray>

#include <functional>

class ArchiveSource;

namespace olm {

// Whether the stored text of size bytes at offset is whole: it ends with its root element's
// close tag (blanks may follow), holds no NUL byte (a copy zeroed inside keeps its close tag,
// and its checksum may have been taken of the zeroed bytes), and gives crc32 when that is not
// 0. read(offset, length) gives at most length bytes from the archive.
bool StoredTextWhole(const std::function<QByteArray(qint64, qint64)> &read, qint64 offset, qint64 size, quint32 crc32,
                     const QByteArray &root);

// For each store name held more than once with a whole copy among them, the records built from
// its other copies are dropped from the lists (and their counts), with one line each in
// EntriesReadElsewhere. Where no copy of a name is whole, the copy with the most items that read
// whole gives them, and a line names the store. Runs on the scanner's thread once the walk is done.
void DropItemsOfBrokenStoreCopies(ArchiveSource &source);

}  // namespace olm
