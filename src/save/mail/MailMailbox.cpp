// The mailbox of one folder: messages appended, flushed in batches, counted once on disk.

#include "save/mail/MailFrameParts.h"

#include "platform/FinderInfo.h"
#include "platform/WorkerGlobals.h"
#include "save/OutputLayout.h"
#include "save/SaveGlobals.h"

#include <QDir>
#include <QFileInfo>

using namespace mailframe;

namespace {

// Opens the mailbox for the message's folder path; false with the reason in *error.
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

// Flushed together once this much is waiting.
constexpr qint64 kMailboxBatchBytes = MailOutput::kBufferBytes;

void countMessage(MailSaveContext &context, const PendingMessage &m, const QString &path)
{
    if (!m.missing.isEmpty())
        noteIncomplete(context, *m.rec, m.entryName, path, m.missing);
    else
        ++context.written;
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

}  // namespace

namespace mailframe {

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
        PreparedMessage again = preparedOrFailed(*m.rec, style, attachments);
        nameOutputFolder(again, style, context);
        if (again.readable)
            appendToMailbox(again, style, attachments, context, mailbox);
        else
            noteUnreadable(again, style, context);
    }
}

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

}  // namespace mailframe
