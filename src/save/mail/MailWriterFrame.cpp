#include "save/mail/MailWriter.h"

#include "save/mail/MailFrameParts.h"

#include "platform/Crc32.h"
#include "platform/FinderInfo.h"
#include "platform/WorkerGlobals.h"
#include "save/AttachmentIndex.h"
#include "save/OutputLayout.h"
#include "save/SaveGlobals.h"
#include "save/SavePause.h"
#include "save/mail/MailMimeParts.h"
#include "save/mail/MailPrepared.h"
#include "save/mail/MessageFiles.h"
#include "save/mail/OrderedWork.h"
#include "scanner/EntryData.h"
#include "scanner/ScanGlobals.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QLatin1String kFolder1("Folder1");

}  // namespace

int DefaultSaveThreads()
{
    return int(qBound(1u, std::thread::hardware_concurrency(), 8u));
}

// ---- the frame ----

QHash<qint64, QVector<const MailMLRC *>> IndexMessagesByFolder(const MailMLRC *head)
{
    QHash<qint64, QVector<const MailMLRC *>> byFolder;
    for (const MailMLRC *rec = head; rec; rec = rec->pNext)
        byFolder[rec->llFolderId].append(rec);
    return byFolder;
}

using namespace mailframe;

namespace {

// Messages formatted ahead of the one being written, and how many a worker takes at once: the
// window holds two takes for every worker, so none waits for a free place.
constexpr int kMessagesAhead = 128;
constexpr int kMessagesPerTake = 8;

// A message of its own file. A file that failed is removed: no reader gets half a message.
void saveMessageFile(const PreparedMessage &p, const MailFormatStyle &style, const AttachmentIndex &attachments,
                     MailSaveContext &context)
{
    const MailMLRC &rec = *p.rec;
    MailOutput out;
    QString path, error;
    if (!OpenMessageFile(out, style, context, mailFolderPath(style, context, p.relative), &path, &error)) {
        noteFailure(context, rec, sourceOf(p), path, error);
        return;
    }
    QStringList missing = writeMessage(p, style, attachments, out);
    if (!p.damage.isEmpty())
        missing.prepend(p.damage);
    if (out.failed() || !out.close()) {
        error = out.error();
        out.discard();
        noteFailure(context, rec, sourceOf(p), path, error);
        return;
    }
    path = out.path();
    SetFinderTypeCreator(path, style.finderType, style.finderCreator);
    if (!missing.isEmpty()) {
        noteIncomplete(context, rec, sourceOf(p), path, missing);
        return;
    }
    ++context.written;
}

// One prepared message in its turn: stop test, progress, write. False when the stop ended the walk.
bool saveMessage(PreparedMessage &p, const MailFormatStyle &style, const AttachmentIndex &attachments,
                 MailSaveContext &context, OpenMailbox &mailbox)
{
    if (context.stopRequested && context.stopRequested())
        return false;
    if (context.reportProgress)
        context.reportProgress();
    context.namedFolders.insert(p.rec->llFolderId);
    nameOutputFolder(p, style, context);
    // Read from text no whole header describes: no CRC-32 tells whether it is whole.
    if (p.readable && p.rec->dwCrc32 == 0 && !p.rec->bDamaged)
        context.recovered << (p.rec->nNameLength == 0
                                  ? QStringLiteral("%1 was read from text no entry header describes, so nothing could "
                                                   "check it; it is filed in \"%2\"")
                                  : QStringLiteral("%1 was read from its text behind a damaged header with no CRC-32, "
                                                   "so nothing could check it; it is filed in \"%2\""))
                                 .arg(describe(*p.rec, p.fields.strEntryName), p.relative);
    context.recovered += p.notes;
    for (const AttachmentInfo &a : p.fields.attachments)
        context.namedAttachmentUrls.insert(a.entry ? QByteArray(a.entry->pEntryName) : a.url.toUtf8());
    // What waits in the mailbox is counted before anything later is.
    if (!p.readable || !p.formatted)
        commitPending(mailbox, style, attachments, context);
    if (!p.readable)
        noteUnreadable(p, style, context);
    else if (!style.oneFilePerFolder)
        saveMessageFile(p, style, attachments, context);
    else
        appendToMailbox(p, style, attachments, context, mailbox);
    return true;
}

// Workers read, parse and format the next messages while this thread writes them in order.
bool saveInParallel(const QVector<const MailMLRC *> &records, const MailFormatStyle &style,
                    const AttachmentIndex &attachments, MailSaveContext &context, OpenMailbox &mailbox)
{
    const int workers = context.workerThreads - 1;
    // The messages pass from thread to thread by pointer: moving the whole message through the
    // shared ring cost the writing thread more than writing it.
    using Prepared = std::unique_ptr<PreparedMessage>;
    return RunInOrder<Prepared>(
        records.size(), workers, kMessagesAhead, kMessagesPerTake,
        [&](int i) {
            Prepared p(new PreparedMessage(preparedOrFailed(*records.at(i), style, attachments)));
            formatAhead(*p, style, attachments);
            return p;
        },
        [&](int, Prepared &p) { return saveMessage(*p, style, attachments, context, mailbox); },
        // Workers wait too while the stop question is open, not only the writing thread.
        [](bool consumer) { WaitWhileSavePaused(consumer ? SavePauseRole::Writer : SavePauseRole::Worker); });
}

// A recovered attachment goes to the folder its entry name gives ("<folder>/com.microsoft.
// __Attachments/<file>"), as that folder's messages do; to Folder1 when the name gives none.
void fileInItsFolder(PreparedMessage &p, const QByteArray &url, const MailFormatStyle &style, MailSaveContext &context)
{
    const int at = url.lastIndexOf("com.microsoft.__Attachments/");
    p.relative = kFolder1;
    if (at <= 0)
        return;
    // A message's name in that folder stands in for the attachment's: the folder is the same.
    p.fields.strEntryName = QString::fromUtf8(url.left(at) + "message.xml");
    nameOutputFolder(p, style, context);
    p.fields.strEntryName.clear();
}

}  // namespace

bool SaveMailFolder(quint64 folderId, const MailFormatStyle &style, MailSaveContext &context)
{
    QHash<qint64, QVector<const MailMLRC *>> ownIndex;
    const auto *byFolder = context.messagesByFolder;
    if (!byFolder) {
        ownIndex = IndexMessagesByFolder(TmpMlrcPtrStart);
        byFolder = &ownIndex;
    }
    AttachmentIndex ownAttachments;
    const AttachmentIndex *attachments = context.attachments;
    if (!attachments) {
        ownAttachments.build(tmpAtFOStart);
        attachments = &ownAttachments;
    }
    const auto records = byFolder->constFind(qint64(folderId));
    if (records == byFolder->constEnd())
        return true;
    OpenMailbox mailbox;
    bool finished = true;
    if (context.workerThreads > 1 && records->size() > 1) {
        finished = saveInParallel(*records, style, *attachments, context, mailbox);
    } else {
        for (const MailMLRC *rec : *records) {
            PreparedMessage p = preparedOrFailed(*rec, style, *attachments);
            if (!saveMessage(p, style, *attachments, context, mailbox)) {
                finished = false;
                break;
            }
        }
    }
    closeMailbox(mailbox, style, *attachments, context);
    return finished;
}

void SaveRecoveredAttachments(const QVector<const FileOffsetNode *> &entries, const MailFormatStyle &style,
                              MailSaveContext &context)
{
    AttachmentIndex ownAttachments;
    const AttachmentIndex *attachments = context.attachments;
    if (!attachments) {
        ownAttachments.build(tmpAtFOStart);
        attachments = &ownAttachments;
    }
    OpenMailbox mailbox;
    for (const FileOffsetNode *node : entries) {
        if (context.stopRequested && context.stopRequested())
            break;
        // A message of its own that holds only the attachment, in the recovered-items folder;
        // its subject names the file.
        const QByteArray url(node->pEntryName);
        const QByteArray file = url.mid(url.lastIndexOf('/') + 1);
        const QByteArray subject = "Recovered attachment " + file;
        MailMLRC rec{};
        rec.pSubject = const_cast<char *>(subject.constData());
        rec.llFolderId = llFolder1Id;
        rec.bHasAttachment = 1;
        PreparedMessage p;
        p.rec = &rec;
        p.source = QString::fromUtf8(url);
        fileInItsFolder(p, url, style, context);
        // An attachment may be large: a stop ends it within a chunk, and the message is not kept.
        if (context.stopRequested)
            p.stopRequested = &context.stopRequested;
        AttachmentInfo a;
        a.name = QString::fromUtf8(file);
        a.url = QString::fromUtf8(url);
        a.contentType = QStringLiteral("application/octet-stream");
        a.contentId = QStringLiteral("no");
        a.size = QString::number(EntryDataSize(*node));
        p.fields.attachments.append(a);
        const qint64 writtenBefore = context.written;
        if (style.oneFilePerFolder) {
            appendToMailbox(p, style, *attachments, context, mailbox);
            // The record lives only for this turn: should the mailbox not take its name, its line
            // is made now.
            if (!mailbox.counted.isEmpty() && mailbox.counted.last().rec == &rec) {
                mailbox.counted.last().rec = nullptr;
                mailbox.counted.last().described = describe(rec, p.source);
            }
        } else
            saveMessageFile(p, style, *attachments, context);
        // Its message may stand, having lost its reference to it: only that none names it is known.
        if (context.written > writtenBefore)
            context.recovered << QStringLiteral("attachment \"%1\" (%2) in the message \"%3\" of %4: no saved "
                                                "message names it")
                                     .arg(QString::fromUtf8(file), QString::fromUtf8(url), QString::fromUtf8(subject),
                                          p.relative);
        if (context.reportProgress)
            context.reportProgress();
    }
    closeMailbox(mailbox, style, *attachments, context);
}
