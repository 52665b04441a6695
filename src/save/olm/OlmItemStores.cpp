// The item stores of the new archive: each store's fixed folder entries, its local and account
// store files copied whole, and one store file for the items the scan recovered from damaged
// stretches, which have no store file of their own.

#include "save/olm/OlmArchiveWriter.h"

#include "save/olm/OlmMailWalk.h"
#include "save/pim/PimFiles.h"
#include "save/pim/PimItems.h"
#include "scanner/ScanGlobals.h"

#include <QSet>

#include <algorithm>

const OlmStore kOlmStores[4] = {
    {0,
     {"Local/Address Book/", nullptr},
     "Local/Address Book/",
     "Local/Address Book/Contacts.xml",
     "Contacts.xml",
     "contacts",
     false},
    {1,
     {"Local/Calendar/com.microsoft.__Attachments/", "Local/Calendar/"},
     "Local/Calendar/",
     "Local/Calendar/Calendars/Calendar.xml",
     "Calendar.xml",
     "appointments",
     true},
    {2, {"Local/Tasks/", nullptr}, "Local/Tasks/", "Local/Tasks/Tasks.xml", "Tasks.xml", "tasks", false},
    {3, {"Local/Notes/", nullptr}, "Local/Notes/", "Local/Notes/Notes.xml", "Notes.xml", "notes", false},
};

namespace {

const FileOffsetNode *storeList(int index)
{
    switch (index) {
    case 0:
        return tmpCoFOStart;
    case 1:
        return tmpCaFOStart;
    case 2:
        return tmpTaFOStart;
    default:
        return tmpNoFOStart;
    }
}

QByteArray nodeName(const FileOffsetNode *node)
{
    return node->pEntryName ? QByteArray(node->pEntryName) : QByteArray();
}

// The log's word for one item of each store.
const char *const kItemWords[4] = {"Contact", "Calendar item", "Task", "Note"};
// The start tag of one item of each store.
const char *const kItemTags[4] = {"<contact", "<appointment", "<task", "<note"};

QByteArray escapeText(const QByteArray &text)
{
    QByteArray out = text;
    out.replace('&', "&amp;").replace('<', "&lt;").replace('>', "&gt;");
    return out;
}

// A note element of this size holds no title a reader could use; the cap keeps the read small.
constexpr quint32 kLargestNoteElement = 16u << 20;

}  // namespace

QByteArray OlmArchiveWriter::noteTitle(const NotesInformation &note) const
{
    if (note.pTitle)
        return QByteArray(note.pTitle);
    if (note.dwItemLength == 0 || note.dwItemLength > kLargestNoteElement)
        return QByteArray();
    // Nothing is taken from a broken element.
    const SoundElement element = SoundElementOf(readSource(note.llItemOffset, note.dwItemLength), "<note");
    return ItemElementText(element.view(), "</note>", "<OPFNoteCopyTitle").toUtf8();
}

void OlmArchiveWriter::WriteItemStoreEntries(const OlmStore &store, bool gate)
{
    for (const char *dir : store.fixedDirs) {
        if (dir)
            writeDirectory(dir);
    }
    if (gate) {
        for (const FileOffsetNode *node = storeList(store.index); node && !stopNow(); node = node->pNext) {
            const QByteArray name = nodeName(node);
            if (name == store.mainFile) {
                writeStoreFile(store, node, true);
                if (store.index == 0)
                    writeAddressBookFiles();
            } else if (name.startsWith("Local/")) {
                // The folder is the name up to its last "/": cutting the file word out wherever
                // it stands would mangle folders whose own names hold it.
                writeDirectory(name.left(name.lastIndexOf('/') + 1));
                writeStoreFile(store, node, true);
            }
        }
    }
    // Contact groups go with the contacts, also when the scan found no contacts store because
    // it is compressed (that one is copied later, with the other compressed entries).
    if (store.index == 0 && (gate || !(TmpCTRCPtrStart || tmpCoFOStart)))
        writeAddressBookFiles();
    writeDirectory("Accounts/");
    if (!gate)
        return;
    QList<QByteArray> previous;
    attachmentheader = false;
    for (const FileOffsetNode *node = storeList(store.index); node && !stopNow(); node = node->pNext) {
        const QByteArray name = nodeName(node);
        const QList<QByteArray> parts = name.split('/');
        if (name.startsWith("Accounts/")) {
            QByteArray level;
            for (int k = 1; k <= parts.size() - 2; ++k) {
                level += parts[k] + '/';
                if (OlmLevelIsNew(previous, parts, k)) {
                    writeDirectory("Accounts/" + level);
                    attachmentheader = false;
                }
            }
            if (store.accountAttachments && !attachmentheader) {
                writeDirectory("Accounts/" + level + "com.microsoft.__Attachments/");
                attachmentheader = true;
            }
            writeStoreFile(store, node, true);
        }
        previous = parts;
    }
    attachmentheader = false;
    writeRecoveredStoreItems(store);
}

void OlmArchiveWriter::writeStoreFile(const OlmStore &store, const FileOffsetNode *node, bool ticks)
{
    if (m_copiesNotWritten.contains(node->llDataOffset))
        return;
    beginItem(QStringLiteral("Item store \"%1\"").arg(QString::fromUtf8(nodeName(node))));
    qint64 copied = 0;
    if (node->llSize == 0) {
        // Nothing to save, and no name taken from a store file of the same name that holds items.
        m_book.leftOut(m_item, QStringLiteral("it is empty in the archive"));
    } else if (!textReadable(node->llDataOffset, node->llSize, nullptr, nullptr)) {
        noteUnreadable(m_book.what(m_item));
    } else if (claimStoreName(nodeName(node), node->llDataOffset),
               writeCopiedFile(nodeName(node), node->dwCrc32, node->llSize, node->llDataOffset, true, ticks, &copied)) {
        // Items read from a copy written under another name go with the recovered items: a
        // reader reads one store file by name.
        const auto owner = m_storeOwners.constFind(nodeName(node));
        if (owner == m_storeOwners.constEnd() || owner.value() == node->llDataOffset)
            m_storeRanges[store.index].append({node->llDataOffset, copied});
        m_book.counted(m_item);
    }
    m_item = -1;
}

void OlmArchiveWriter::writeAddressBookFiles()
{
    // The exporter keeps contact groups beside the contacts; the scan lists them with the
    // attachments, as no contact is built from them.
    for (FileOffsetNode *node = tmpAtFOStart; node && !stopNow(); node = node->pNext) {
        const QByteArray name = nodeName(node);
        if (!node->bLocalPending || node->bCompressed || !name.startsWith("Local/Address Book/")
            || !name.endsWith(".xml") || name.indexOf('/', 19) >= 0 || m_names.written(name))
            continue;
        node->bLocalPending = node->bCentralPending = 0;
        beginItem(QStringLiteral("Item store \"%1\"").arg(QString::fromUtf8(name)));
        if (textReadable(node->llDataOffset, node->llSize, nullptr, nullptr))
            writeCopiedFile(name, node->dwCrc32, node->llSize, node->llDataOffset, true, false);
        else
            noteUnreadable(m_book.what(m_item));
        m_item = -1;
    }
}

QVector<OlmArchiveWriter::Span> OlmArchiveWriter::recoveredSpans(const OlmStore &store) const
{
    const QVector<Span> &ranges = m_storeRanges[store.index];
    auto inStoreFile = [&](qint64 offset) {
        return std::any_of(ranges.begin(), ranges.end(),
                           [&](const Span &r) { return offset >= r.offset && offset < r.offset + r.length; });
    };
    auto inStoreCopy = [&](qint64 offset) {
        for (const FileOffsetNode *node = storeList(store.index); node; node = node->pNext) {
            if (offset >= node->llDataOffset && offset < node->llDataOffset + node->llSize)
                return true;
        }
        return false;
    };
    QVector<Span> spans;
    auto take = [&](qint64 offset, qint64 length) {
        if (length > 0 && !inStoreFile(offset))
            spans.append({offset, length});
    };
    switch (store.index) {
    case 0:
        for (const ContactInformation *r = TmpCTRCPtrStart; r; r = r->pNext)
            take(r->llItemOffset, r->dwItemLength);
        break;
    case 1:
        for (const CalenderInformation *r = TmpCLRCPtrStart; r; r = r->pNext)
            take(r->llItemOffset, r->dwItemLength);
        break;
    case 2:
        for (const TasksInformation *r = TmpTSRCPtrStart; r; r = r->pNext)
            take(r->llItemOffset, r->dwItemLength);
        break;
    default:
        // A note record keeps where its text lies, not its element, so its element is rebuilt.
        // Only items outside any store file get the dummy folder, which tells a note without
        // text apart.
        // A note read from a copy of the store not written under its name keeps its element.
        for (const NotesInformation *r = TmpNTRCPtrStart; r; r = r->pNext) {
            if (r->llFolderId == llFolder1Id && !(r->dwTextLength > 0 && inStoreFile(r->dwTextOffset)))
                spans.append({r->dwTextOffset, r->dwTextLength, r});
            else if (inStoreCopy(r->llItemOffset))
                take(r->llItemOffset, r->dwItemLength);
        }
        break;
    }
    return spans;
}

void OlmArchiveWriter::writeRecoveredStoreItems(const OlmStore &store)
{
    if (stopNow())
        return;
    QVector<Span> spans;
    QSet<qint64> broken;
    for (const Span &span : recoveredSpans(store)) {
        bool cut = false;
        if (span.length <= 0 || textReadable(span.offset, span.length, nullptr, nullptr)) {
            if (checkRecoveredItem(store, span, &cut))
                spans.append(span);
            if (cut)
                broken.insert(span.offset);
        } else {
            noteUnreadable(recoveredItemName(store, span));
        }
    }
    if (spans.isEmpty())
        return;
    QByteArray dir = QByteArray(store.localRoot) + "Folder1/";
    for (int n = 2; !m_names.free(dir + store.fileWord); ++n)
        dir = QByteArray(store.localRoot) + "Folder1 " + QByteArray::number(n) + '/';
    writeDirectory(dir);
    beginItem(
        QStringLiteral("Item store \"%1\" of the recovered %2s")
            .arg(QString::fromUtf8(dir + store.fileWord), QString::fromLatin1(kItemWords[store.index]).toLower()));
    if (!beginFile(dir + store.fileWord, 0, 0)) {
        m_item = -1;
        return;
    }
    const QByteArray root = store.root;
    appendData("<" + root + " xml:space=\"preserve\" elementCount=\"" + QByteArray::number(spans.size()) + "\">");
    for (const Span &span : spans) {
        if (const NotesInformation *note = span.note) {
            appendData("<note xml:space=\"preserve\">");
            if (note->dwTextLength > 0) {
                appendData("<OPFNoteCopyText xml:space=\"preserve\">");
                copySource(note->dwTextOffset, note->dwTextLength, false);
                appendData("</OPFNoteCopyText>");
            }
            const QByteArray title = noteTitle(*note);
            if (!title.isEmpty())
                appendData("<OPFNoteCopyTitle xml:space=\"preserve\">" + escapeText(title) + "</OPFNoteCopyTitle>");
            appendData("</note>");
            continue;
        }
        const qint64 skip = recoveredRootLength(store, span);
        if (broken.contains(span.offset)) {
            const SoundElement sound =
                SoundElementOf(readSource(span.offset + skip, span.length - skip), kItemTags[store.index]);
            appendData(sound.bytes);
            m_book.lost(m_item, recoveredItemName(store, span) + QStringLiteral(": ") + sound.damage);
        } else {
            copySource(span.offset + skip, span.length - skip, false);
        }
    }
    appendData("</" + root + ">");
    endFile(true);
    m_book.counted(m_item);
    m_item = -1;
}

QString OlmArchiveWriter::recoveredItemName(const OlmStore &store, const Span &span)
{
    return QStringLiteral("%1 at archive offset %2").arg(QLatin1String(kItemWords[store.index])).arg(span.offset);
}

qint64 OlmArchiveWriter::recoveredRootLength(const OlmStore &store, const Span &span) const
{
    // The first item of a recovered block still carries the block's root start tag.
    return OlmRootTagLength(readSource(span.offset, qMin<qint64>(span.length, 4096)), store.root);
}

bool OlmArchiveWriter::checkRecoveredItem(const OlmStore &store, const Span &span, bool *broken)
{
    // A rebuilt note is written from its sound text and title alone.
    if (span.note || span.length <= 0)
        return true;
    const qint64 skip = recoveredRootLength(store, span);
    const SoundElement sound =
        SoundElementOf(readSource(span.offset + skip, span.length - skip), kItemTags[store.index]);
    if (sound.damage.isEmpty())
        return true;
    if (sound.nothingWhole) {
        m_book.leftOut(m_book.begin(recoveredItemName(store, span)), sound.damage);
        return false;
    }
    *broken = true;
    return true;
}
