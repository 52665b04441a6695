#pragma once
// Store files (contacts, calendar, tasks, notes) held more than once under one name, or damaged
// inside: a damaged export may append a cut, zeroed or repeated copy beside the whole one. Each
// copy is judged by its own bytes, each item is listed once, and every loss is named.

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

// Copies of one store with the same bytes are one copy. Where a name has a whole copy its items
// are listed from it, with the items only another copy holds whole; where none is whole, from
// the copy with the most items that read whole. Every other record is dropped from the lists
// (and their counts). A line in EntriesReadElsewhere names each copy left out and each store
// without a whole copy, with the items no copy holds whole. Runs on the scanner's thread once
// the walk is done.
void DropItemsOfBrokenStoreCopies(ArchiveSource &source);

}  // namespace olm
