#pragma once
// The pieces the mail folder writer shares between its files: where a folder's messages go,
// how each one is counted and named in the save's report, and the mailbox kept open between the
// messages of one folder. Used by the writer alone.

#include "save/mail/MailPrepared.h"
#include "save/mail/MailWriter.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace mailframe {

// The output folder of a message folder (relative path), and its mailbox's path.
QString mailFolderPath(const MailFormatStyle &style, const MailSaveContext &context, const QString &relative);
QString mailboxPath(const MailFormatStyle &style, const MailSaveContext &context, const QString &relative);
// The message as the report names it.
QString describe(const MailMLRC &rec, const QString &entryName);
void noteFailure(MailSaveContext &context, const MailMLRC &rec, const QString &entryName, const QString &path,
                 const QString &error);
void noteFailure(MailSaveContext &context, const MailMLRC &rec, const MailMessageFields &fields, const QString &path,
                 const QString &error);
// The message stands in its file, but it is not what the archive holds: written, and named
// apart as incomplete.
void noteIncomplete(MailSaveContext &context, const MailMLRC &rec, const QString &entryName, const QString &path,
                    const QStringList &missing);
// A message that cannot be read is counted failed, named with where it would have gone.
void noteUnreadable(const PreparedMessage &p, const MailFormatStyle &style, MailSaveContext &context);
// The message's output folder, named on the writing thread in save order, so each archive folder
// keeps a folder of its own whichever worker read its messages.
void nameOutputFolder(PreparedMessage &p, const MailFormatStyle &style, MailSaveContext &context);

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

// A readable message appended to its folder's mailbox. One formatted ahead waits for the next
// flush to be counted; one formatted now is flushed and counted at once.
void appendToMailbox(const PreparedMessage &p, const MailFormatStyle &style, const AttachmentIndex &attachments,
                     MailSaveContext &context, OpenMailbox &mailbox);
// The waiting messages flushed and counted.
void commitPending(OpenMailbox &mailbox, const MailFormatStyle &style, const AttachmentIndex &attachments,
                   MailSaveContext &context);
// Every message in it is flushed and counted; a failing close is noted.
void closeMailbox(OpenMailbox &mailbox, const MailFormatStyle &style, const AttachmentIndex &attachments,
                  MailSaveContext &context);

}  // namespace mailframe
