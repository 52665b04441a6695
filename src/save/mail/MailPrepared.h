#pragma once
// A message read, parsed and (on a worker, when small) formatted ahead of its turn to be written.

#include "save/MessageFields.h"
#include "save/mail/MailOutput.h"
#include "save/mail/MailWriter.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

class AttachmentIndex;
struct MailMLRC;

// One message read and parsed, and, when a worker formatted it ahead, its output bytes.
struct PreparedMessage {
    const MailMLRC *rec = nullptr;
    MailMessageFields fields;
    QByteArray xml;  // as read, until the message is formatted
    bool readable = true;
    QString damage;
    // Lines for the report that are no loss: an attachment found under a damaged name.
    QStringList notes;
    QString relative;
    bool formatted = false;
    QByteArray bytes;
    QStringList missing;  // attachments whose data could not be copied, found while formatting
    // Asked between the chunks of a long attachment copy; null: the copy runs to its end.
    const std::function<bool()> *stopRequested = nullptr;
    // Where the log says the message lies when it has no entry of its own (a recovered one).
    QString source;
    // Why an unreadable message was not read, when not the archive's fault.
    QString failure;
};

// The archive entry a message's log lines name.
inline const QString &sourceOf(const PreparedMessage &p)
{
    return p.source.isEmpty() ? p.fields.strEntryName : p.source;
}

// A message prepared, or marked unreadable when there was no memory to read it. attachments
// also gives the entries named after it that its damaged list no longer names.
PreparedMessage preparedOrFailed(const MailMLRC &rec, const MailFormatStyle &style, const AttachmentIndex &attachments);
// The message's bytes as its writer makes them, collected in memory; left unformatted when they
// outgrow the limit.
void formatAhead(PreparedMessage &p, const MailFormatStyle &style, const AttachmentIndex &attachments);
// The writing steps of a message on out: its bytes formatted ahead, or formatted now.
QStringList writeMessage(const PreparedMessage &p, const MailFormatStyle &style, const AttachmentIndex &attachments,
                         MailOutput &out);
