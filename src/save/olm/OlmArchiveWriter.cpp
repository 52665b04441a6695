// The frame of the OLM archive writer: the entry records, the layout, the end records and the
// name the finished archive takes.

#include "save/olm/OlmArchiveWriter.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "platform/LineEndsBack.h"
#include "platform/WorkerGlobals.h"
#include "save/OutputLayout.h"
#include "save/olm/OlmZipRecords.h"
#include "scanner/ScanGlobals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kChunk = OlmOutputFile::kBufferSize;

const char kMessagesDir[] = "Local/com.microsoft.__Messages/";
const char kAttachmentsDir[] = "com.microsoft.__Attachments/";

// Walk order of the standard folders.
const char *const kStandardFolders[] = {"Sent Items", "Outbox", "Junk E-mail", "Inbox", "Drafts", "Deleted Items"};

}  // namespace

// ---- entries ----

OlmArchiveWriter::OlmArchiveWriter(int sourceFd, OlmSaveHooks hooks) : m_source(sourceFd), m_hooks(std::move(hooks))
{
}

bool OlmArchiveWriter::stopNow()
{
    // Latched: once seen, no later walk starts, even when the window clears the flag behind
    // its abort message. A failed output does not stop the walks: they go on without writing,
    // so every item the archive was to hold is named when it goes.
    if (!m_stopped && m_hooks.stopRequested && m_hooks.stopRequested())
        m_stopped = true;
    return m_stopped;
}

bool OlmArchiveWriter::writeDirectory(const QByteArray &name)
{
    // A 16-bit length field cannot carry a longer name. A folder whose name is unsafe to extract
    // is left out: the files in it get safe names of their own.
    if (name.size() > 0xFFFF || m_out.failed() || !OlmNameIsSafe(name))
        return false;
    m_names.reserve(name);
    const qint64 at = m_out.position();
    m_out.write(LocalEntryHeader(name, 0, 0, dwEntryDosTime));
    m_central += CentralEntryHeader(name, 0, 0, quint64(at), dwEntryDosTime);
    ++nEntryCount;
    return true;
}

bool OlmArchiveWriter::beginFile(const QByteArray &name, quint32 crc32, quint64 size)
{
    return beginFile(name, crc32, OlmEntryForm{0, size, size});
}

bool OlmArchiveWriter::beginFile(const QByteArray &name, quint32 crc32, const OlmEntryForm &form)
{
    const QByteArray safe = safeFileName(name);
    if (safe.size() > 0xFFFF) {
        m_book.leftOut(m_item,
                       QStringLiteral("its name is longer than the 65,535 bytes an archive entry's name holds"));
        return false;
    }
    m_fileHeader = m_out.position();
    m_fileName = safe;
    m_fileCrc = crc32;
    m_fileForm = form;
    m_fileSize = form.method == 0 ? form.size : form.storedSize;
    m_written = 0;
    m_readShort = false;
    m_cutByStop = false;
    m_out.write(LocalEntryHeader(safe, crc32, form, dwEntryDosTime));
    m_out.beginChecksum();
    return true;
}

QByteArray OlmArchiveWriter::safeFileName(const QByteArray &name)
{
    QString why;
    const QByteArray safe = m_names.fileName(name, &why, m_keepsHeldName);
    m_keepsHeldName = false;
    // A name made safe before: one line says what it was, why, and what it became.
    if (!m_renamedFrom.isEmpty()) {
        QStringList reasons;
        if (!OlmUnsafeNameReason(m_renamedFrom).isEmpty())
            reasons << OlmUnsafeNameReason(m_renamedFrom);
        if (!m_renamedWhy.isEmpty())
            reasons << m_renamedWhy;
        QString reason =
            reasons.isEmpty() ? QStringLiteral("is no message's name") : reasons.join(QStringLiteral("; "));
        if (safe != name)
            reason += QStringLiteral("; \"%1\" was taken").arg(OlmNameForLine(name));
        why = QStringLiteral("its name in the archive \"%1\" %2: written as \"%3\"")
                  .arg(OlmNameForLine(m_renamedFrom), reason, OlmNameForLine(safe));
        m_renamedFrom.clear();
        m_renamedWhy.clear();
    }
    if (!why.isEmpty())
        m_book.renamed(m_item, m_fileLabel.isEmpty() ? why : m_fileLabel + QStringLiteral(": ") + why);
    return safe;
}

void OlmArchiveWriter::noteFileProblem(const QString &why, bool stands)
{
    // Once the output has failed nothing stands, and the archive's loss names every item it
    // held; an item left out for its own reason is named for that all the same.
    const QString text = m_fileLabel.isEmpty() ? why : m_fileLabel + QStringLiteral(": ") + why;
    if (m_out.failed()) {
        if (!stands && m_fileLabel.isEmpty())
            m_book.leftOut(m_item, text);
        return;
    }
    if (stands || !m_fileLabel.isEmpty())
        m_book.lost(m_item, text);
    else
        m_book.leftOut(m_item, text);
}

void OlmArchiveWriter::appendData(const QByteArray &bytes)
{
    if (bytes.isEmpty() || !m_out.write(bytes))
        return;
    m_written += quint64(bytes.size());
}

qint64 OlmArchiveWriter::copySource(qint64 offset, qint64 length, bool xml)
{
    if (length <= 0)
        return 0;
    if (offset < 0 || offset >= m_sourceSize) {
        m_readShort = true;
        return 0;
    }
    const bool clamped = length > m_sourceSize - offset;
    length = qMin(length, m_sourceSize - offset);
    const qint64 copied = xml ? copyXml(offset, length) : copyStored(offset, length);
    // XML that ended at a signature before the archive's end lost nothing.
    if (clamped && copied == length)
        m_readShort = true;
    return copied;
}

qint64 OlmArchiveWriter::copyStored(qint64 offset, qint64 length)
{
    // Read straight into the output buffer: every byte is read once, and small entries leave
    // in large writes together. Converted back, the bytes written are fewer than those read.
    EntryDataReader reader(m_source, offset, length, m_lineEndsBack);
    qint64 done = 0;
    while (done < length) {
        const qint64 want = qMin(kChunk, length - done);
        char *into = m_out.reserve(want);
        if (!into)
            break;
        const qint64 got = reader.read(into, want);
        if (got > 0) {
            m_out.commit(got);
            m_written += quint64(got);
            done += got;
        }
        if (got < want) {
            // A read error or the archive's end: the entry ends with what was read.
            m_readShort = !reader.whole();
            break;
        }
        // A large entry asks between its pieces: a confirmed stop ends the save within one.
        if (done < length && stopNow()) {
            m_cutByStop = !m_out.failed();
            break;
        }
    }
    return done;
}

qint64 OlmArchiveWriter::copyXml(qint64 offset, qint64 length)
{
    QByteArray chunk(int(qMin(length, kChunk)) + 3, Qt::Uninitialized);
    int held = 0;  // bytes kept back: a signature may straddle two chunks
    qint64 done = 0;
    const quint64 before = m_written;
    while (done < length && !m_out.failed()) {
        const qint64 want = qMin(kChunk, length - done);
        const qint64 got = readAt(m_source, offset + done, chunk.data() + held, want);
        if (got <= 0) {
            m_readShort = true;  // a read error: the entry ends with what was read
            break;
        }
        done += got;
        const int usable = held + int(got);
        const QByteArray view = QByteArray::fromRawData(chunk.constData(), usable);
        int cut = -1;
        for (const char *sig : {"PK\x03\x04", "PK\x01\x02"}) {
            const int at = view.indexOf(sig);
            if (at >= 0 && (cut < 0 || at < cut))
                cut = at;
        }
        if (cut >= 0) {
            appendData(QByteArray(chunk.constData(), cut));
            return qint64(m_written - before);
        }
        const int keep = done < length ? qMin(3, usable) : 0;
        appendData(QByteArray(chunk.constData(), usable - keep));
        memmove(chunk.data(), chunk.constData() + usable - keep, size_t(keep));
        held = keep;
        if (got < want)
            break;
    }
    if (held > 0)
        appendData(QByteArray(chunk.constData(), held));
    return qint64(m_written - before);
}

void OlmArchiveWriter::endFile(bool ticks)
{
    if (m_fileHeader < 0)
        return;
    // The size of what was written, and (settled at the end) its checksum, so the archive's
    // records match its bytes also where the source was damaged or cut short.
    const int range = m_out.endChecksum();
    if (m_fileForm.method != 0) {
        endCompressedFile(ticks);
        return;
    }
    if (m_written != m_fileSize) {
        char b[16];
        qToLittleEndian(quint64(m_written), b);
        qToLittleEndian(quint64(m_written), b + 8);
        m_out.patch(m_fileHeader + LocalSizesAt(m_fileName.size()), QByteArray(b, 16));
    }
    // Bytes the archive being read no longer holds make the item damaged at once; else its
    // checksum decides, where the archive kept one to compare with.
    if (m_readShort)
        noteFileProblem(m_fileLabel.isEmpty() ? QString::fromLatin1(kOlmDamagedText)
                                              : QStringLiteral("cut short in the archive"),
                        true);
    if (m_cutByStop)
        noteFileProblem(QStringLiteral("the save was stopped before it was copied whole"), true);
    const int item = m_readShort || m_fileCrc == 0 ? -1 : m_item;
    m_pendingCrcs.append(PendingCrc{range, m_central.size() + kCentralCrcAt, m_fileHeader + kLocalCrcAt, m_fileCrc,
                                    item, m_fileLabel, m_fileSizeCut});
    m_central += CentralEntryHeader(m_fileName, m_fileCrc, m_written, quint64(m_fileHeader), dwEntryDosTime);
    m_book.stands(m_item);
    closeEntry(ticks);
}

void OlmArchiveWriter::closeEntry(bool ticks)
{
    ++nEntryCount;
    clearEntry(ticks);
}

void OlmArchiveWriter::clearEntry(bool ticks)
{
    m_fileHeader = -1;
    m_fileLabel.clear();
    m_fileSizeCut = false;
    if (ticks) {
        if (m_hooks.reportItem)
            m_hooks.reportItem();
    }
}

void OlmArchiveWriter::endCompressedFile(bool ticks)
{
    // Once the output has failed, an entry counts as it would have stood: the loss names it.
    if (m_written == m_fileForm.storedSize || m_out.failed()) {
        // Whole: its records say what the archive being read said, checksum and method included.
        m_central += CentralEntryHeader(m_fileName, m_fileCrc, m_fileForm, quint64(m_fileHeader), dwEntryDosTime);
        m_book.stands(m_item);
        m_compressedCopied.insert(m_fileSource);
        closeEntry(ticks);
        return;
    }
    // Part of compressed data inflates to nothing usable: the entry goes, and the report says so.
    m_out.rewind(m_fileHeader);
    noteFileProblem(QStringLiteral("compressed, %1: left out, as its data is usable only whole")
                        .arg(m_cutByStop ? QStringLiteral("the save was stopped before it was copied whole")
                                         : QStringLiteral("cut short in the archive")),
                    false);
    clearEntry(ticks);
}

bool OlmArchiveWriter::writeCopiedFile(const QByteArray &name, quint32 crc32, qint64 size, qint64 offset, bool xml,
                                       bool ticks, qint64 *copied)
{
    if (!beginFile(name, crc32, quint64(qMax<qint64>(0, size))))
        return false;
    const qint64 n = copySource(offset, size, xml);
    if (copied)
        *copied = n;
    endFile(ticks);
    return true;
}

QByteArray OlmArchiveWriter::readSource(qint64 offset, qint64 length) const
{
    if (offset < 0 || length <= 0 || offset >= m_sourceSize)
        return QByteArray();
    length = qMin(length, m_sourceSize - offset);
    QByteArray bytes(int(length), Qt::Uninitialized);
    const qint64 got = readAt(m_source, offset, bytes.data(), length);
    bytes.resize(int(qMax<qint64>(0, got)));
    return bytes;
}

// ---- the save ----

bool OlmArchiveWriter::prepareOutput(const QString &path)
{
    struct stat source;
    if (::fstat(m_source, &source) != 0) {
        m_error = QStringLiteral("the archive being read cannot be examined: %1").arg(qt_error_string(errno));
        return false;
    }
    m_sourceSize = source.st_size;
    if (IsSameFile(m_source, path)) {
        m_error = QStringLiteral("%1 is the archive being read; it is never overwritten").arg(path);
        return false;
    }
    // An earlier output (or a link in its place) stays until the new archive is whole.
    struct stat existing;
    if (::lstat(QFile::encodeName(path).constData(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            m_error = QStringLiteral("%1 exists and cannot be removed: %2").arg(path, qt_error_string(EISDIR));
            return false;
        }
        m_replaces = true;
        m_replacedDevice = quint64(existing.st_dev);
        m_replacedInode = quint64(existing.st_ino);
    }
    if (!m_out.create(path)) {
        m_error = QStringLiteral("%1 cannot be created: %2").arg(path, m_out.error());
        return false;
    }
    return true;
}

bool OlmArchiveWriter::placeOutput(const QString &path)
{
    // Only the file the user agreed to replace goes, and in the same step as the new one takes
    // its name; one that appeared since stays.
    const bool placed = m_replaces ? m_out.takeNameOver(path, m_replacedDevice, m_replacedInode) : m_out.takeName(path);
    if (placed)
        return true;
    m_error = QStringLiteral("%1 could not be given its name: %2").arg(path, m_out.error());
    return false;
}

QStringList OlmArchiveWriter::leftoversRemoved() const
{
    QStringList lines;
    for (const QString &file : m_out.leftovers())
        lines << QStringLiteral("the unfinished archive %1 in %2, left by a save that was stopped hard")
                     .arg(file, QDir::toNativeSeparators(QFileInfo(m_path).path()));
    return lines;
}

bool OlmArchiveWriter::write(const QString &path, const OlmSelection &selection)
{
    m_selection = selection;
    m_path = QDir::toNativeSeparators(path);
    m_book = OlmItemBook(m_path);
    dwEntryDosTime = *timeconverter();
    if (!prepareOutput(path))
        return false;
    writeLayout();
    settleChecksums();
    // The central directory the entries earned, and its reports, whatever the stop says now.
    const qint64 centralOffset = m_out.position();
    m_out.write(m_central);
    m_out.write(Zip64EndRecords(quint64(nEntryCount), quint64(m_central.size()), quint64(centralOffset)));
    QString why;
    bool whole = false;
    if (!m_out.close()) {
        why = m_out.error();
        m_error = QStringLiteral("%1 could not be written: %2").arg(path, why);
    } else if (placeOutput(path)) {
        return true;
    } else {
        why = m_error;
        whole = true;
    }
    // The hidden file goes: nothing is left to be taken for an archive. One that cannot go (the
    // folder was made read-only) is named, so the space it takes is not a mystery; written to
    // its end, it is whole, only without its name.
    const QString hidden = m_out.hiddenPath();
    if (const int error = m_out.removeHidden()) {
        const QString copy =
            whole ? QStringLiteral("its whole copy under a hidden name") : QStringLiteral("its unfinished copy");
        why += QStringLiteral("; %1 %2 stays, as it could not be removed: %3")
                   .arg(copy, QDir::toNativeSeparators(hidden), qt_error_string(error));
        m_error += QStringLiteral("; %1 %2 stays").arg(copy, QDir::toNativeSeparators(hidden));
    }
    m_book.lose(QStringLiteral("the archive %1 could not be written: %2").arg(m_path, why));
    return false;
}

void OlmArchiveWriter::writeLayout()
{
    for (FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext)
        node->bLocalPending = node->bCentralPending = 1;
    if (m_selection.mail) {
        collectMail(m_selection.folderIds);
        buildAttachmentIndex();
    }
    reserveNames();
    nameMail();
    chooseStoreOwners();
    writeCategories();
    const bool gates[4] = {m_selection.cont, m_selection.cal, m_selection.task, m_selection.note};
    for (int i = 0; i < 4; ++i)
        WriteItemStoreEntries(kOlmStores[i], gates[i]);
    WriteMailFolderEntries(OlmMailWalk::OtherLocal, kMessagesDir);
    for (const char *folder : kStandardFolders)
        WriteMailFolderEntries(OlmMailWalk::Standard, QByteArray(kMessagesDir) + folder + '/');
    WriteMailFolderEntries(OlmMailWalk::Accounts, "Accounts/");
    writeRecoveredMail();
    writeStrayAttachments();
    writeUnnamedAttachments();
    writeCompressedEntries();
}

void OlmArchiveWriter::writeCategories()
{
    const bool compressed = compressedEntryNamed("Categories.xml");
    QVector<CategorieInfo> copies;
    for (const CategorieInfo &c : qAsConst(categorieCopies)) {
        if (c.size > 0)
            copies.append(c);
    }
    // An archive without one gets an empty list, as the exporter writes.
    if (copies.isEmpty() && !compressed)
        copies.append(CategorieInfo{0, 0, 0});
    for (const CategorieInfo &c : qAsConst(copies)) {
        beginItem(QStringLiteral("Categories \"Categories.xml\""));
        if (c.size > 0 && !textReadable(c.dataOffset, c.size, nullptr, nullptr)) {
            noteUnreadable(m_book.what(m_item));
        } else {
            claimStoreName("Categories.xml", c.dataOffset);
            // Counted as written like a store file, as it is counted not saved when lost.
            if (writeCopiedFile("Categories.xml", c.crc, c.size, c.dataOffset, true, true))
                m_book.counted(m_item);
        }
        m_item = -1;
    }
}

void OlmArchiveWriter::reserveNames()
{
    m_names.reserve("Categories.xml");
    m_names.reserve("Accounts/");
    for (const OlmStore &store : kOlmStores) {
        for (const char *dir : store.fixedDirs) {
            if (dir)
                m_names.reserve(dir);
        }
    }
    for (const char *folder : kStandardFolders)
        m_names.reserve(QByteArray(kMessagesDir) + folder + '/');
    for (const FileOffsetNode *list : {tmpAtFOStart, tmpCoFOStart, tmpCaFOStart, tmpTaFOStart, tmpNoFOStart}) {
        for (const FileOffsetNode *node = list; node; node = node->pNext) {
            if (!node->pEntryName)
                continue;
            const QByteArray name(node->pEntryName);
            m_names.reserve(name);
            // Account calendars get an attachments folder beside their store files.
            if (list == tmpCaFOStart && name.startsWith("Accounts/"))
                m_names.reserve(name.left(name.lastIndexOf('/') + 1) + kAttachmentsDir);
        }
    }
    // The walks add an attachments folder beside each folder of messages, and a folder of
    // recovered items to the messages and each store.
    for (const MailEntry &entry : qAsConst(m_mail)) {
        m_names.reserve(entry.name);
        m_names.reserve(entry.name.left(entry.name.lastIndexOf('/') + 1) + kAttachmentsDir);
    }
    m_names.reserve(QByteArray(kMessagesDir) + "Folder1/" + kAttachmentsDir);
    for (const OlmStore &store : kOlmStores)
        m_names.reserve(QByteArray(store.localRoot) + "Folder1/");
}
