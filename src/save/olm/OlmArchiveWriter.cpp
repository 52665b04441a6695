// The frame of the OLM archive writer: the output file, the entry records, the layout and the
// end records.

#include "save/olm/OlmArchiveWriter.h"

#include "platform/ArchiveSource.h"
#include "platform/Crc32.h"
#include "platform/WorkerGlobals.h"
#include "save/OutputLayout.h"
#include "save/olm/OlmZipRecords.h"
#include "scanner/ScanGlobals.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kChunk = OlmOutputFile::kBufferSize;

const char kMessagesDir[] = "Local/com.microsoft.__Messages/";

// Walk order of the standard folders.
const char *const kStandardFolders[] = {"Sent Items", "Outbox", "Junk E-mail", "Inbox", "Drafts", "Deleted Items"};

}  // namespace

// ---- OlmOutputFile ----

OlmOutputFile::~OlmOutputFile()
{
    stopWriter();
    if (m_fd >= 0)
        ::close(m_fd);
}

void OlmOutputFile::fail(int errorNumber)
{
    if (m_error.isEmpty())
        m_error = qt_error_string(errorNumber ? errorNumber : EIO);
}

QString OlmOutputFile::error() const
{
    return m_error.isEmpty() && m_writerError.load() ? qt_error_string(m_writerError.load()) : m_error;
}

bool OlmOutputFile::create(const QString &path)
{
    // Exclusive: the old file was removed just before, and a file or link that appeared since
    // is never written through.
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        fail(errno);
        return false;
    }
    for (QByteArray &buffer : m_buffers)
        buffer = QByteArray(int(kBufferSize), Qt::Uninitialized);
    m_writer = std::thread([this] { writerLoop(); });
    return true;
}

int OlmOutputFile::writeAll(const char *data, qint64 length)
{
    while (length > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : ENOSPC;
        data += n;
        length -= n;
        m_written += n;
    }
#ifdef SYNC_FILE_RANGE_WRITE
    // Start the disk writes of every few buffers now; the sync at the end still waits for all.
    constexpr qint64 kWritebackStep = 8 * kBufferSize;
    if (m_written - m_writebackStarted >= kWritebackStep) {
        ::sync_file_range(m_fd, m_writebackStarted, m_written - m_writebackStarted, SYNC_FILE_RANGE_WRITE);
        m_writebackStarted = m_written;
    }
#endif
    return 0;
}

void OlmOutputFile::writerLoop()
{
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_jobs.empty() || m_quit; });
        if (m_jobs.empty())
            return;
        const auto job = m_jobs.front();
        planChecksums(job.second);
        lock.unlock();
        // The checksums here, not in the thread that reads: that one has the walk to do as well.
        for (const Piece &piece : m_pieces)
            piece.range->crc = Crc32Update(piece.range->crc, job.first + piece.offset, piece.length);
        // After a failure nothing more is written: the file is no archive any more.
        const int error = m_writerError.load() ? 0 : writeAll(job.first, job.second);
        lock.lock();
        if (error)
            m_writerError = error;
        m_jobs.pop_front();
        m_done.notify_all();
    }
}

void OlmOutputFile::planChecksums(qint64 size)
{
    // With m_lock held: which ranges the job's bytes belong to. Ranges do not move in the
    // deque, and only the writer thread touches their checksums until drain().
    m_pieces.clear();
    const qint64 from = m_writerAt;
    const qint64 to = from + size;
    for (int i = m_rangeCursor; i < int(m_ranges.size()) && m_ranges[size_t(i)].start < to; ++i) {
        Range &r = m_ranges[size_t(i)];
        const qint64 begin = qMax(r.start, from);
        const qint64 end = r.end < 0 ? to : qMin(r.end, to);
        if (end > begin)
            m_pieces.push_back(Piece{&r, begin - from, end - begin});
        if (r.end >= 0 && r.end <= to)
            m_rangeCursor = i + 1;
    }
    m_writerAt = to;
}

void OlmOutputFile::beginChecksum()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_ranges.push_back(Range{position(), -1, 0});
}

int OlmOutputFile::endChecksum()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_ranges.back().end = position();
    return int(m_ranges.size()) - 1;
}

quint32 OlmOutputFile::checksum(int range)
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_ranges[size_t(range)].crc;
}

bool OlmOutputFile::drain()
{
    flush();
    waitForWriter();
    return !failed();
}

void OlmOutputFile::waitForWriter(int jobs)
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_done.wait(lock, [this, jobs] { return int(m_jobs.size()) <= jobs; });
}

void OlmOutputFile::stopWriter()
{
    if (!m_writer.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_quit = true;
    }
    m_wake.notify_all();
    m_writer.join();
}

bool OlmOutputFile::flush()
{
    if (failed())
        return false;
    if (m_used > 0) {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_jobs.emplace_back(m_buffers[m_current].constData(), m_used);
        }
        m_wake.notify_all();
        m_handedOver += m_used;
        m_used = 0;
        m_current = (m_current + 1) % kBuffers;
    }
    // The next buffer is free once its write has ended.
    waitForWriter(kBuffers - 1);
    return !failed();
}

bool OlmOutputFile::write(const char *data, qint64 length)
{
    while (length > 0) {
        char *into = reserve(qMin(length, kBufferSize));
        if (!into)
            return false;
        const qint64 n = qMin(length, kBufferSize - m_used);
        memcpy(into, data, size_t(n));
        m_used += n;
        data += n;
        length -= n;
    }
    return !failed();
}

char *OlmOutputFile::reserve(qint64 length)
{
    if (failed() || m_fd < 0 || length > kBufferSize)
        return nullptr;
    if (m_used + length > kBufferSize && !flush())
        return nullptr;
    return m_buffers[m_current].data() + m_used;
}

void OlmOutputFile::commit(qint64 length)
{
    m_used += length;
}

bool OlmOutputFile::patch(qint64 offset, const QByteArray &bytes)
{
    if (failed() || m_fd < 0)
        return false;
    if (offset >= m_handedOver) {
        memcpy(m_buffers[m_current].data() + (offset - m_handedOver), bytes.constData(), size_t(bytes.size()));
        return true;
    }
    // Behind the buffer: once everything before is in the file, overwrite it there.
    if (!flush())
        return false;
    waitForWriter();
    if (!failed() && ::pwrite(m_fd, bytes.constData(), size_t(bytes.size()), off_t(offset)) != bytes.size())
        fail(errno);
    return !failed();
}

bool OlmOutputFile::close()
{
    if (m_fd < 0)
        return !failed();
    flush();
    waitForWriter();
    stopWriter();
    if (!failed() && ::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS)
        fail(errno);
    if (::close(m_fd) != 0)
        fail(errno);
    m_fd = -1;
    return !failed();
}

// ---- entries ----

OlmArchiveWriter::OlmArchiveWriter(int sourceFd, OlmSaveHooks hooks) : m_source(sourceFd), m_hooks(std::move(hooks))
{
}

bool OlmArchiveWriter::stopNow()
{
    // Latched: once seen, no later walk starts, even when the window clears the flag behind
    // its abort message.
    if (!m_stopped && m_hooks.stopRequested && m_hooks.stopRequested())
        m_stopped = true;
    return m_stopped || m_out.failed();
}

bool OlmArchiveWriter::writeDirectory(const QByteArray &name)
{
    // A 16-bit length field cannot carry a longer name. A folder whose name is unsafe to extract
    // is left out: the files in it get safe names of their own.
    if (name.size() > 0xFFFF || m_out.failed() || !OlmNameIsSafe(name))
        return false;
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
    if (safe.size() > 0xFFFF || m_out.failed())
        return false;
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
    if (OlmNameIsSafe(name))
        return name;
    QByteArray stem = OlmSafeName(name);
    if (stem.isEmpty())
        stem = "Local/Folder1/entry";
    // Another entry may already stand under the safe name: a number keeps them apart.
    const int dot = stem.lastIndexOf('.');
    const bool suffix = dot > stem.lastIndexOf('/') + 1;
    QByteArray safe = stem;
    for (int n = 2; m_fileNames.contains(safe); ++n) {
        const QByteArray number = '_' + QByteArray::number(n);
        safe = suffix ? stem.left(dot) + number + stem.mid(dot) : stem + number;
    }
    noteFileProblem(name,
                    QStringLiteral("its name in the archive \"%1\" could lead outside the folder it is extracted "
                                   "into: written as \"%2\"")
                        .arg(QString::fromUtf8(name), QString::fromUtf8(safe)),
                    true);
    return safe;
}

void OlmArchiveWriter::noteFileProblem(const QByteArray &entryName, const QString &why, bool stands)
{
    if (m_item >= 0) {
        addProblem(m_fileLabel.isEmpty() ? why : m_fileLabel + QStringLiteral(": ") + why);
        return;
    }
    const QString what =
        m_fileLabel.isEmpty() ? QStringLiteral("Entry \"%1\"").arg(QString::fromUtf8(entryName)) : m_fileLabel;
    if (stands)
        m_incompletes << QStringLiteral("%1 written to %2 incomplete: %3").arg(what, m_path, why);
    else
        m_failures << QStringLiteral("%1 not saved in %2: %3").arg(what, m_path, why);
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
    // in large writes together.
    qint64 done = 0;
    while (done < length) {
        const qint64 want = qMin(kChunk, length - done);
        char *into = m_out.reserve(want);
        if (!into)
            break;
        const qint64 got = readAt(m_source, offset + done, into, want);
        if (got <= 0) {
            m_readShort = true;  // a read error: the entry ends with what was read
            break;
        }
        m_out.commit(got);
        m_written += quint64(got);
        done += got;
        if (got < want) {
            m_readShort = true;
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
    if (m_fileForm.method != 0 && endCompressedFile(ticks))
        return;
    if (m_fileForm.method != 0) {
        // Cut short, its data can no longer be inflated: kept as the bytes copied, stored, so
        // the archive's records still match its bytes.
        m_out.patch(m_fileHeader + kLocalMethodAt, QByteArray(2, '\0'));
        m_fileForm = OlmEntryForm();
        m_fileCrc = 0;
        const QString why = m_cutByStop ? QStringLiteral("the save was stopped before it was copied whole")
                                        : QStringLiteral("cut short");
        noteFileProblem(m_fileName, QStringLiteral("compressed, %1: kept as the compressed bytes copied").arg(why),
                        false);
        m_cutByStop = false;
    }
    if (m_written != m_fileSize) {
        char b[16];
        qToLittleEndian(quint64(m_written), b);
        qToLittleEndian(quint64(m_written), b + 8);
        m_out.patch(m_fileHeader + LocalSizesAt(m_fileName.size()), QByteArray(b, 16));
    }
    // Bytes the archive being read no longer holds make the item damaged at once; else its
    // checksum decides, where the archive kept one to compare with.
    if (m_readShort && m_item >= 0)
        addProblem(m_fileLabel.isEmpty() ? QString::fromLatin1(kOlmDamagedText)
                                         : m_fileLabel + QStringLiteral(": cut short in the archive"));
    if (m_cutByStop)
        noteFileProblem(m_fileName, QStringLiteral("the save was stopped before it was copied whole"), true);
    const int item = m_readShort || m_fileCrc == 0 ? -1 : m_item;
    m_pendingCrcs.append(PendingCrc{range, m_central.size() + kCentralCrcAt, m_fileHeader + kLocalCrcAt, m_fileCrc,
                                    item, m_fileLabel, m_fileSizeCut});
    m_fileLabel.clear();
    m_fileSizeCut = false;
    m_central += CentralEntryHeader(m_fileName, m_fileCrc, m_written, quint64(m_fileHeader), dwEntryDosTime);
    closeEntry(ticks);
}

void OlmArchiveWriter::closeEntry(bool ticks)
{
    if (m_item >= 0)
        m_items[m_item].wrote = true;
    ++nEntryCount;
    m_fileNames.insert(m_fileName);
    m_fileHeader = -1;
    m_fileLabel.clear();
    m_fileSizeCut = false;
    if (ticks) {
        ++m_ticks;
        if (m_hooks.reportItem)
            m_hooks.reportItem();
    }
}

bool OlmArchiveWriter::endCompressedFile(bool ticks)
{
    if (m_written != m_fileForm.storedSize)
        return false;
    // Whole: its records say what the archive being read said, checksum and method included.
    m_central += CentralEntryHeader(m_fileName, m_fileCrc, m_fileForm, quint64(m_fileHeader), dwEntryDosTime);
    closeEntry(ticks);
    return true;
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
    // An earlier output (or a link in its place) goes; the new file is made afresh.
    const QByteArray native = QFile::encodeName(path);
    struct stat existing;
    if (::lstat(native.constData(), &existing) == 0 && ::unlink(native.constData()) != 0) {
        m_error = QStringLiteral("%1 exists and cannot be removed: %2").arg(path, qt_error_string(errno));
        return false;
    }
    if (!m_out.create(path)) {
        m_error = QStringLiteral("%1 cannot be created: %2").arg(path, m_out.error());
        return false;
    }
    return true;
}

bool OlmArchiveWriter::write(const QString &path, const OlmSelection &selection)
{
    m_selection = selection;
    m_path = QDir::toNativeSeparators(path);
    dwEntryDosTime = *timeconverter();
    if (!prepareOutput(path))
        return false;
    writeLayout();
    settleChecksums();
    reportDamagedItems();
    // The central directory the entries earned, and its reports, whatever the stop says now.
    const qint64 centralOffset = m_out.position();
    m_out.write(m_central);
    for (qint64 i = 0; i < m_ticks && m_hooks.reportItem; ++i)
        m_hooks.reportItem();
    m_out.write(Zip64EndRecords(quint64(nEntryCount), quint64(m_central.size()), quint64(centralOffset)));
    if (!m_out.close()) {
        m_error = QStringLiteral("%1 could not be written: %2").arg(path, m_out.error());
        // What stands there is no archive: never leave it to be taken for one.
        ::unlink(QFile::encodeName(path).constData());
        loseWrittenItems();
        return false;
    }
    return true;
}

QString OlmArchiveWriter::checksumProblem(const PendingCrc &p, quint32 crc)
{
    if (p.label.isEmpty())
        return QString::fromLatin1(kOlmDamagedText);
    if (p.sizeCut)
        return p.label + QStringLiteral(": damaged: its size ran into the next entry, cut there");
    return p.label
        + QStringLiteral(": damaged: CRC-32 %1, the archive says %2")
              .arg(crc, 8, 16, QLatin1Char('0'))
              .arg(p.stated, 8, 16, QLatin1Char('0'));
}

// ---- what the log says ----

void OlmArchiveWriter::beginItem(const QString &what)
{
    m_item = m_items.size();
    m_items.append(Item{what, {}, false, false});
}

void OlmArchiveWriter::addProblem(const QString &problem)
{
    if (m_item >= 0 && !m_items[m_item].problems.contains(problem))
        m_items[m_item].problems.append(problem);
}

bool OlmArchiveWriter::textReadable(qint64 offset, qint64 length, const char *startTag, const char *endTag) const
{
    // Clamped to the archive as the scan saw it: what lay beyond its end then was never text.
    const qint64 scanned = lSize > 0 ? lSize : m_sourceSize;
    const qint64 expected = qMin(length, scanned - offset);
    if (offset < 0 || expected <= 0 || expected > m_sourceSize - offset)
        return false;
    const QByteArray head = readSource(offset, qMin<qint64>(expected, 4096));
    if (head.isEmpty() || head.at(0) == '\0' || (startTag && !head.contains(startTag)))
        return false;
    if (!endTag)
        return true;
    const qint64 tailLength = qMin<qint64>(expected, 256);
    return readSource(offset + expected - tailLength, tailLength).contains(endTag);
}

void OlmArchiveWriter::noteUnreadable(const QString &what)
{
    m_failures
        << QStringLiteral("%1 not written to %2: its text can no longer be read from the archive").arg(what, m_path);
}

void OlmArchiveWriter::reportDamagedItems()
{
    for (Item &item : m_items) {
        if (item.problems.isEmpty())
            continue;
        const QString line = QStringLiteral("%1 written to %2 incomplete: %3")
                                 .arg(item.what, m_path, item.problems.join(QLatin1String("; ")));
        // An item that left nothing in the archive is not saved; one whose entries stand is
        // saved, incomplete, and counts as written like the items the walks counted.
        if (!item.counted && !item.wrote) {
            m_failures << line;
            continue;
        }
        m_incompletes << line;
        if (!item.counted) {
            item.counted = true;
            ++m_itemsWritten;
        }
    }
}

void OlmArchiveWriter::loseWrittenItems()
{
    // No archive is left: every item it held is not saved, whatever was said of it before.
    const QString why = QStringLiteral("the archive %1 could not be written: %2").arg(m_path, m_out.error());
    for (const Item &item : qAsConst(m_items)) {
        if (item.counted)
            m_failures << QStringLiteral("%1 not saved: %2").arg(item.what, why);
    }
    m_itemsLost = m_itemsWritten;
    m_itemsWritten = 0;
    m_incompletes.clear();
}

void OlmArchiveWriter::settleChecksums()
{
    if (!m_out.drain())
        return;
    for (const PendingCrc &p : qAsConst(m_pendingCrcs)) {
        const quint32 crc = m_out.checksum(p.range);
        qToLittleEndian(crc, m_central.data() + p.centralAt);
        if (p.item >= 0 && crc != p.stated && !m_items[p.item].problems.contains(checksumProblem(p, crc)))
            m_items[p.item].problems.append(checksumProblem(p, crc));
        if (crc != p.stated) {
            char b[4];
            qToLittleEndian(crc, b);
            m_out.patch(p.localAt, QByteArray(b, 4));
        }
    }
}

void OlmArchiveWriter::writeLayout()
{
    for (FileOffsetNode *node = tmpAtFOStart; node; node = node->pNext)
        node->bLocalPending = node->bCentralPending = 1;
    beginItem(QStringLiteral("Categories \"Categories.xml\""));
    // A compressed one is copied as it is with the other compressed entries.
    const bool compressed = categorie.size <= 0 && compressedEntryNamed("Categories.xml");
    if (!compressed && (categorie.size <= 0 || textReadable(categorie.dataOffset, categorie.size, nullptr, nullptr)))
        writeCopiedFile("Categories.xml", categorie.crc, categorie.size, categorie.dataOffset, true, false);
    else if (!compressed)
        noteUnreadable(m_items.last().what);
    m_item = -1;
    const bool gates[4] = {m_selection.cont, m_selection.cal, m_selection.task, m_selection.note};
    for (int i = 0; i < 4; ++i)
        WriteItemStoreEntries(kOlmStores[i], gates[i]);
    if (m_selection.mail) {
        collectMail(m_selection.folderIds);
        buildAttachmentIndex();
    }
    WriteMailFolderEntries(OlmMailWalk::OtherLocal, kMessagesDir);
    for (const char *folder : kStandardFolders)
        WriteMailFolderEntries(OlmMailWalk::Standard, QByteArray(kMessagesDir) + folder + '/');
    WriteMailFolderEntries(OlmMailWalk::Accounts, "Accounts/");
    writeRecoveredMail();
    writeStrayAttachments();
    writeUnnamedAttachments();
    writeCompressedEntries();
}
