#pragma once
// The one message writer and its steps. SaveMailFolder walks a folder's records; for each it
// reads and parses the message XML, reports progress, opens the folder's output file and runs
// the writing steps in order on one output: From_ line, headers, MIME body, attachment parts.

#include "save/FolderNames.h"
#include "save/MessageFields.h"
#include "save/mail/MailFormatStyle.h"
#include "save/mail/MailOutput.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

struct MailMLRC;
struct FileOffsetNode;
class AttachmentIndex;

// Appends each piece in turn: one growing buffer instead of a temporary array per '+'.
template <typename... Pieces>
void AppendPieces(QByteArray &out, const Pieces &...pieces)
{
    (out.append(pieces), ...);
}

// Everything a writing step receives for one message.
// How a body that is not UTF-8 throughout was read, for the saved item's report.
struct BodyReading {
    int replacedBytes = 0;   // read as UTF-8, this many bytes that are no part of a character replaced
    int utf8Characters = 0;  // read as Windows-1252, though it holds this many UTF-8 characters
};

struct MailMessage {
    const MailMLRC &record;
    const MailMessageFields &fields;
    const MailFormatStyle &style;
    MailOutput &out;
    const AttachmentIndex &attachments;
    // The outer boundary token the MIME body chose; the attachment parts use the same one.
    mutable QByteArray outerToken = QByteArray();
    // How a body that is not UTF-8 throughout was read (bytes written as U+FFFD, or Windows-1252).
    mutable BodyReading bodyReading = BodyReading();
    // The message's XML as read from the archive at record.llDataOffset, when the caller has it:
    // the body is then taken from it rather than read again.
    const QByteArray *xml = nullptr;
    // When given, a long attachment copy asks it between chunks; a stop cancels the output.
    const std::function<bool()> *stopRequested = nullptr;
};

// What one save's writers share: the indexes built once per save, and the outcome counts.
struct MailSaveContext {
    QString saveDir;
    QString strTime;
    const AttachmentIndex *attachments = nullptr;
    // folder id -> its records in list order; built once per save.
    const QHash<qint64, QVector<const MailMLRC *>> *messagesByFolder = nullptr;
    std::function<bool()> stopRequested;   // the stop test, per record
    std::function<void()> reportProgress;  // status text and one tick
    // Counts of what is on disk at the end. written: items whose file or entry stands, whole or
    // incomplete; failed: items not saved (nothing usable of them stands); incomplete: the written
    // items that lost something on the way (a repeat rule, damaged bytes, an attachment).
    qint64 written = 0;
    qint64 failed = 0;
    qint64 incomplete = 0;
    // One line per item for the save's report: what it is, where in the archive, why.
    QStringList failures;     // items not saved
    QStringList incompletes;  // items saved incomplete
    QStringList recovered;    // attachments saved in a recovered message
    QStringList removed;      // unfinished files of an earlier save that stopped hard, removed
    // Entries the scan listed but could not read (compressed): named, never counted as saved.
    qint64 unreadEntries = 0;
    QStringList unread;
    // The attachment URLs the messages that went through the writers name (written or not), and
    // those messages' folders: attachments whose message is lost are then found without reading
    // those messages a second time.
    QSet<QByteArray> namedAttachmentUrls;
    QSet<qint64> namedFolders;
    // Message files: per folder, the last number a file was made with (folders of two accounts
    // can share a path, and their files must not meet).
    QHash<QString, quint32> lastFileNumber;
    // The output folder of each archive folder, named on the writing thread in save order.
    MailOutputFolders outputFolders;
    // Threads of the save, the writing one included: all others format the next messages of a
    // folder while it writes (a thread per core, none left waiting for one); 1: no others.
    int workerThreads = 1;
};

QHash<qint64, QVector<const MailMLRC *>> IndexMessagesByFolder(const MailMLRC *head);

// Writes every record of the folder; returns false when the stop ended it.
bool SaveMailFolder(quint64 folderId, const MailFormatStyle &style, MailSaveContext &context);
// Attachment entries still whole in the archive that no message names (their message was cut or
// lost), outside the mail folders not in checkedMailFolders (record folder ids). The names the
// writers saw in context are taken as they are; only messages of other folders are read. Empty
// when context's stop test ended the search.
QVector<const FileOffsetNode *> UnnamedAttachmentEntries(const QSet<qint64> &checkedMailFolders,
                                                         const MailSaveContext &context);
// Saves each of those attachments in a recovered message of its own in "Folder1", counted as
// written like any message and named in context.recovered. The stop is asked at every entry and
// every chunk of its copy; the message a stop cuts is not kept.
void SaveRecoveredAttachments(const QVector<const FileOffsetNode *> &entries, const MailFormatStyle &style,
                              MailSaveContext &context);

// Steps.
// From_ line, headers, MIME body and attachment parts; the attachments whose data could not be
// copied, each as a log line.
QStringList WriteMailSteps(const MailMessage &message);
void WriteFromLine(const MailMessage &message);
void WriteMailHeaders(const MailMessage &message);
// Returns true when it opened the multipart/mixed frame.
bool WriteMimeBody(const MailMessage &message);
void WriteAttachmentParts(const MailMessage &message, bool frameWritten);
