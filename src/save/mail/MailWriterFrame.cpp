#include "save/mail/MailWriter.h"

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

namespace {

QString mailFolderPath(const MailFormatStyle &style, const MailSaveContext &context, const QString &relative)
{
    return OutputRootFor(style.saveType, context.saveDir, context.strTime) + style.mailFolderName + relative
        + QLatin1Char('/');
}

// Opens the mailbox for the message's folder path; false with the reason in *error.
QString mailboxPath(const MailFormatStyle &style, const MailSaveContext &context, const QString &relative)
{
    return mailFolderPath(style, context, relative) + relative.section(QLatin1Char('/'), -1) + style.fileExtension;
}

bool openMailbox(MailOutput &out, const MailFormatStyle &style, const MailSaveContext &context, const QString &relative,
                 QString *path, QString *error)
{
    const QString folder = mailFolderPath(style, context, relative);
    *path = mailboxPath(style, context, relative);
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("the folder could not be made");
        return false;
    }
    // The archive being read is never written to, whatever the output path turns out to be.
    if (IsSameFile(fileDescriptor, *path)) {
        *error = QStringLiteral("it is the archive being read");
        return false;
    }
    if (!out.openAppend(*path)) {
        *error = out.error();
        return false;
    }
    return true;
}

QString describe(const MailMLRC &rec, const QString &entryName)
{
    const QString which = entryName.isEmpty() ? QStringLiteral("at archive offset %1").arg(rec.llDataOffset)
                                              : NameForLine(entryName.toUtf8());
    return QStringLiteral("Mail \"%1\" (%2)").arg(QString::fromUtf8(rec.pSubject ? rec.pSubject : ""), which);
}

void noteFailure(MailSaveContext &context, const MailMLRC &rec, const QString &entryName, const QString &path,
                 const QString &error)
{
    ++context.failed;
    context.failures.append(QStringLiteral("%1 not written to %2: %3")
                                .arg(describe(rec, entryName), QDir::toNativeSeparators(path), error));
}

void noteFailure(MailSaveContext &context, const MailMLRC &rec, const MailMessageFields &fields, const QString &path,
                 const QString &error)
{
    noteFailure(context, rec, fields.strEntryName, path, error);
}

// The message stands in its file, but it is not what the archive holds: written, and named
// apart as incomplete.
void noteIncomplete(MailSaveContext &context, const MailMLRC &rec, const QString &entryName, const QString &path,
                    const QStringList &missing)
{
    ++context.written;
    ++context.incomplete;
    context.incompletes.append(
        QStringLiteral("%1 written to %2 incomplete: %3")
            .arg(describe(rec, entryName), QDir::toNativeSeparators(path), missing.join(QLatin1String("; "))));
}

}  // namespace

namespace {

// A message appended to the open mailbox since its last flush: it counts once the flush succeeds.
// Nothing of its bytes is kept (the worker that formatted them frees them): should the flush
// fail, the message is read and formatted again.
struct PendingMessage {
    const MailMLRC *rec = nullptr;
    // Only for a message that is not wholly what the archive holds: its name and what it lacks.
    QString entryName;
    QStringList missing;
};

// The mailbox the last message went to, kept open for the next message of the same folder.
struct OpenMailbox {
    MailOutput out;
    QString path;
    QString relative;
    // Small messages formatted ahead go out together: one flush (one write) for many of them.
    QVector<PendingMessage> pending;
    qint64 pendingBytes = 0;
    // Made by this opening: it gets its Finder codes once it has its name.
    bool created = false;
    // The messages counted written into it since it was opened, with the line of each one
    // counted incomplete: should it not take its name back, none of them is under a name.
    struct Counted {
        const MailMLRC *rec;     // null: a record that lived only while it was written
        QString incompleteLine;  // its line among the incompletes, when counted incomplete
        QString described;       // for a record that is gone, its words in a line
    };
    QVector<Counted> counted;
};

// Flushed together once this much is waiting.
constexpr qint64 kMailboxBatchBytes = MailOutput::kBufferBytes;

void countMessage(MailSaveContext &context, const PendingMessage &m, const QString &path)
{
    if (!m.missing.isEmpty())
        noteIncomplete(context, *m.rec, m.entryName, path, m.missing);
    else
        ++context.written;
}

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

// Whether name is one the writer gives its own files in a folder named folderName: the folder's
// mailbox, or a numbered message file and, for pages, its attachments' folder.
bool writerFileName(const MailFormatStyle &style, const QByteArray &folderName, const QByteArray &name)
{
    const QByteArray extension = style.fileExtension.toUtf8();
    if (style.oneFilePerFolder)
        return name == folderName + extension;
    QByteArray number = name;
    if (number.endsWith(extension))
        number.chop(extension.size());
    else if (style.htmlPage && number.endsWith("_attachments"))
        number.chop(int(sizeof "_attachments") - 1);
    else
        return false;
    if (number.isEmpty() || number.at(0) == '0')
        return false;
    return std::all_of(number.cbegin(), number.cend(), [](char c) { return c >= '0' && c <= '9'; });
}

// The message's output folder, named on this thread in save order, so each archive folder
// keeps a folder of its own whichever worker read its messages.
void nameOutputFolder(PreparedMessage &p, const MailFormatStyle &style, MailSaveContext &context)
{
    if (!context.outputFolders.ready())
        context.outputFolders.setRootBytes(mailFolderPath(style, context, QString()).toUtf8().size(),
                                           [style](const QByteArray &folderName, const QByteArray &name) {
                                               return writerFileName(style, folderName, name);
                                           });
    QByteArray raw = p.fields.strEntryName.toUtf8();
    // A NUL ended the name as read, or bytes that are no character read as U+FFFD: the folder
    // is the one the name's own bytes give.
    if ((p.rec->nNameLength > raw.size() || p.fields.strEntryName.contains(QChar::ReplacementCharacter))
        && p.rec->llNameOffset > 0)
        raw = ReadArchiveBytes(p.rec->llNameOffset, p.rec->nNameLength);
    p.relative = context.outputFolders.relativePath(raw, &context.recovered);
}

void commitPending(OpenMailbox &mailbox, const MailFormatStyle &style, const AttachmentIndex &attachments,
                   MailSaveContext &context);
void closeMailbox(OpenMailbox &mailbox, const MailFormatStyle &style, const AttachmentIndex &attachments,
                  MailSaveContext &context);

// A readable message appended to its folder's mailbox. One formatted ahead waits for the next
// flush to be counted; one formatted now is flushed and counted at once.
void appendToMailbox(const PreparedMessage &p, const MailFormatStyle &style, const AttachmentIndex &attachments,
                     MailSaveContext &context, OpenMailbox &mailbox)
{
    const MailMLRC &rec = *p.rec;
    const MailMessageFields &fields = p.fields;
    const QString &relative = p.relative;
    MailOutput &out = mailbox.out;
    // The open mailbox's path is reused for its folder's next messages.
    QString path = out.isOpen() && mailbox.relative == relative ? mailbox.path : mailboxPath(style, context, relative);
    QString error;
    // Messages of one folder follow each other: their mailbox stays open between them.
    if (!out.isOpen() || mailbox.path != path) {
        closeMailbox(mailbox, style, attachments, context);
        if (!openMailbox(out, style, context, relative, &path, &error)) {
            noteFailure(context, rec, sourceOf(p), path, error);
            return;
        }
        mailbox.path = path;
        mailbox.relative = relative;
        mailbox.created = mailbox.created || out.created();
    }
    QStringList missing = writeMessage(p, style, attachments, out);
    if (!p.damage.isEmpty())
        missing.prepend(p.damage);
    if (p.formatted) {
        PendingMessage waiting{&rec, QString(), missing};
        if (!missing.isEmpty())
            waiting.entryName = fields.strEntryName;
        if (mailbox.pending.capacity() == 0)
            mailbox.pending.reserve(128);
        mailbox.pendingBytes += p.bytes.size();
        mailbox.pending.append(std::move(waiting));
        if (out.failed() || mailbox.pendingBytes >= kMailboxBatchBytes)
            commitPending(mailbox, style, attachments, context);
        return;
    }
    if (out.failed() || !out.endMessage()) {
        error = out.error();
        out.discard();
        noteFailure(context, rec, sourceOf(p), path, error);
        return;
    }
    if (!missing.isEmpty()) {
        noteIncomplete(context, rec, sourceOf(p), path, missing);
        mailbox.counted.append({&rec, context.incompletes.last(), QString()});
        return;
    }
    ++context.written;
    mailbox.counted.append({&rec, QString(), QString()});
}

// A message that cannot be read is counted failed, named with where it would have gone.
void noteUnreadable(const PreparedMessage &p, const MailFormatStyle &style, MailSaveContext &context)
{
    const QString where =
        style.oneFilePerFolder ? mailboxPath(style, context, p.relative) : mailFolderPath(style, context, p.relative);
    noteFailure(context, *p.rec, p.fields, where,
                p.failure.isEmpty() ? QStringLiteral("its text can no longer be read from the archive") : p.failure);
}

// The waiting messages are flushed and counted. When a write or the flush failed, the batch is
// cut back and its messages are read, written and flushed again one at a time: the one that
// fails is then cut back, counted and named as if no message had waited.
void commitPending(OpenMailbox &mailbox, const MailFormatStyle &style, const AttachmentIndex &attachments,
                   MailSaveContext &context)
{
    if (mailbox.pending.isEmpty())
        return;
    QVector<PendingMessage> batch;
    batch.swap(mailbox.pending);
    mailbox.pendingBytes = 0;
    MailOutput &out = mailbox.out;
    if (!out.failed() && out.endMessage()) {
        for (const PendingMessage &m : batch) {
            countMessage(context, m, mailbox.path);
            mailbox.counted.append({m.rec, m.missing.isEmpty() ? QString() : context.incompletes.last(), QString()});
        }
        return;
    }
    out.discard();
    for (const PendingMessage &m : batch) {
        PreparedMessage again = preparedOrFailed(*m.rec, style);
        nameOutputFolder(again, style, context);
        if (again.readable)
            appendToMailbox(again, style, attachments, context, mailbox);
        else
            noteUnreadable(again, style, context);
    }
}

// A mailbox that could not be closed or take its name back: the messages counted into it are
// under no name, so they count as not saved, each named with the hidden file they stand in.
void noteMailboxNotClosed(OpenMailbox &mailbox, MailSaveContext &context)
{
    const QString hidden = QDir::toNativeSeparators(mailbox.out.leftHidden());
    const QString where = hidden.isEmpty() ? QStringLiteral("it could not be closed")
                                           : QStringLiteral("it stands only in the hidden file %1, as the mailbox "
                                                            "could not take its name back")
                                                 .arg(hidden);
    const QString why = QStringLiteral("%1: %2").arg(where, mailbox.out.error());
    for (const OpenMailbox::Counted &m : qAsConst(mailbox.counted)) {
        --context.written;
        if (!m.incompleteLine.isEmpty()) {
            --context.incomplete;
            context.incompletes.removeOne(m.incompleteLine);
        }
        if (m.rec) {
            noteFailure(context, *m.rec, QString(), mailbox.path, why);
        } else {
            ++context.failed;
            context.failures.append(QStringLiteral("%1 not written to %2: %3")
                                        .arg(m.described, QDir::toNativeSeparators(mailbox.path), why));
        }
    }
    // Only a mailbox none of whose messages were counted is counted itself: what it held before
    // is under no name either.
    if (mailbox.counted.isEmpty())
        ++context.failed;
    context.failures.append(QStringLiteral("Mailbox %1 could not be closed: %2%3")
                                .arg(QDir::toNativeSeparators(mailbox.path), mailbox.out.error(),
                                     hidden.isEmpty()
                                         ? QString()
                                         : QStringLiteral("; its messages stand in the hidden file %1").arg(hidden)));
}

// Every message in it is flushed and counted; a failing close is noted.
void closeMailbox(OpenMailbox &mailbox, const MailFormatStyle &style, const AttachmentIndex &attachments,
                  MailSaveContext &context)
{
    commitPending(mailbox, style, attachments, context);
    if (mailbox.out.isOpen() && !mailbox.out.close())
        noteMailboxNotClosed(mailbox, context);
    mailbox.counted.clear();
    if (mailbox.created && QFileInfo::exists(mailbox.path))
        SetFinderTypeCreator(mailbox.path, style.finderType, style.finderCreator);
    mailbox.created = false;
    mailbox.path.clear();
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
    for (const AttachmentInfo &a : p.fields.attachments)
        context.namedAttachmentUrls.insert(a.url.toUtf8());
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
            Prepared p(new PreparedMessage(preparedOrFailed(*records.at(i), style)));
            formatAhead(*p, style, attachments);
            return p;
        },
        [&](int, Prepared &p) { return saveMessage(*p, style, attachments, context, mailbox); },
        // Workers wait too while the stop question is open, not only the writing thread.
        [](bool consumer) { WaitWhileSavePaused(consumer ? SavePauseRole::Writer : SavePauseRole::Worker); });
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
            PreparedMessage p = preparedOrFailed(*rec, style);
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
        p.relative = kFolder1;
        p.source = QString::fromUtf8(url);
        // An attachment may be large: a stop ends it within a chunk, and the message is not kept.
        if (context.stopRequested)
            p.stopRequested = &context.stopRequested;
        AttachmentInfo a;
        a.name = QString::fromUtf8(file);
        a.url = QString::fromUtf8(url);
        a.contentType = QStringLiteral("application/octet-stream");
        a.contentId = QStringLiteral("no");
        a.size = QString::number(node->llSize);
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
                                          kFolder1);
        if (context.reportProgress)
            context.reportProgress();
    }
    closeMailbox(mailbox, style, *attachments, context);
}
