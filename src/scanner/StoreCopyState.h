#pragma once
// What one copy of a store file holds, judged by its own bytes, and the words the report uses
// for it. Internal to the scanner's store-copy pass.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

struct FileOffsetNode;

namespace olm {

using ReadFn = std::function<QByteArray(qint64, qint64)>;

struct StoreCopyState {
    const FileOffsetNode *node = nullptr;
    qint64 offset = 0;
    qint64 size = 0;      // the bytes the walk read for it
    bool closed = false;  // ends with its root element's close tag
    qint64 nulCount = 0;
    qint64 firstNul = -1;  // archive offset
    bool crcFails = false;
    quint32 crc = 0;     // of its bytes
    int stated = -1;     // the item count its root element states
    int itemCloses = 0;  // its items' close tags: items whose ends it holds
    int itemOpens = 0;   // its items' start tags: items whose starts it holds
    bool whole = false;
    const StoreCopyState *sameAs = nullptr;  // an earlier copy with the same bytes
    int records = 0;                         // items the scan built from it
    int readWhole = 0;                       // of them, those whose bytes are all there and hold no NUL
    int dropped = 0;                         // of them, left out here
    QStringList lost;                        // its items that no copy holds whole, named
};

// Reads the copy's bytes once: its close tag, NUL bytes, checksum and stated count.
StoreCopyState JudgeStoreCopy(const ReadFn &read, const FileOffsetNode *node, const QByteArray &root);
// Whether all length bytes at offset are there and none is NUL.
// Whether the text at offset ends with root's close tag, blanks before its '>' and blanks,
// comments or instructions after it allowed, as XML reads a document's end.
bool EndsWithRootTail(const ReadFn &read, qint64 offset, qint64 size, const QByteArray &root);

bool BytesReadWhole(const ReadFn &read, qint64 offset, qint64 length);
// Whether the kept copy holds the item at offset whole: at the same place from its start, its
// bytes hold no NUL and equal the item's wherever the item's are not NUL.
bool KeptCopyHolds(const ReadFn &read, const StoreCopyState &kept, const StoreCopyState &copy, qint64 offset,
                   qint64 length);
// The damage of a copy that is not whole, in words ("its checksum fails; 4096 NUL bytes from
// archive offset 27014").
QString StoreCopyDamage(const StoreCopyState &copy);
// Items the copy's root element counts that no copy gave a record for (listed: the items listed
// of its name from every copy): lost whole.
int ItemsLostWhole(const StoreCopyState &copy, int listed);
// An item for a report line: its kind, its place and its title as the scan read it.
QString StoreItemName(const char *word, qint64 offset, const QByteArray &title);
// The first items of a list of names, then how many more.
QString BoundedList(const QStringList &names);

}  // namespace olm
