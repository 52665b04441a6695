#pragma once
// The one message writer and its steps. SaveMailFolder walks a folder's records; for each it
// reads and parses the message XML, reports progress, opens the folder's output file and runs
// the writing steps in order on one output: From_ line, headers, MIME body, attachment parts.

#include "save/MessageFields.h"
#include "save/mail/MailFormatStyle.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdio>
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

// One message's output stream (a file opened for appending). Every write is checked: after the
// first failure the output counts as failed and further writes do nothing.
class MailOutput {
public:
    // The stdio buffer of a file output: a message, or several small ones, go out in one write.
    static constexpr int kBufferBytes = 256 * 1024;

    MailOutput() = default;
    ~MailOutput();
    MailOutput(const MailOutput &) = delete;
    MailOutput &operator=(const MailOutput &) = delete;

    bool openAppend(const QString &path);
    // Collects what is written in memory instead of a file: a message formatted ahead of its
    // turn. More than limit bytes make the output fail, so a message with large attachments is
    // left to be streamed to its file in chunks.
    // expected: room reserved up front (no more than limit).
    void openMemory(qint64 limit, qint64 expected = 0);
    // The bytes collected; the output is closed.
    QByteArray takeMemory();
    // Makes a new file at path, never opening one that exists (*taken tells that case apart). The
    // bytes go to a hidden part file beside it that close() renames to path once all of them are
    // out; until then path stays empty, and a discard (or the end of the output) removes both.
    bool createNew(const QString &path, bool *taken);
    // Writes bytes over the start of the file once all written so far is out; the end stays.
    bool rewriteStart(const QByteArray &bytes);
    bool isOpen() const { return m_file != nullptr || m_inMemory; }
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    bool write(const char *text);
    // Flushes and closes; false when anything written to it or the close failed. A file made by
    // createNew then takes its final name.
    bool close();
    // Ends a message: flushes it to the file (checked), so a later failure cannot take it along.
    bool endMessage();
    // Closes and cuts the file back to where the current message began, so a message that
    // failed half-way leaves no fragment for the next one to be appended to.
    bool discard();
    // Ends the output as failed with the given reason: a long copy that the stop ended.
    void cancel(const QString &reason);
    bool failed() const { return m_failed; }
    qint64 bytesWritten() const { return m_written; }
    // Why the open, a write or the close failed; empty when nothing did.
    QString error() const { return m_error; }
    // The file was made by openAppend (it did not exist before).
    bool created() const { return m_created; }

private:
    void fail(int errorNumber);
    // Closes what is open and clears the state for a new output at path.
    void restart(const QString &path);
    void useLargeBuffer();
    // The part file of createNew renamed to its final name.
    bool commitFinal();

    std::FILE *m_file = nullptr;
    bool m_inMemory = false;
    qint64 m_memoryLimit = 0;
    QByteArray m_memory;
    QByteArray m_buffer;  // the file's stdio buffer; outlives the file
    QString m_path;
    QString m_finalPath;  // createNew's name while its bytes are in the part file at m_path
    QString m_error;
    qint64 m_startSize = 0;     // file size where the current message began
    qint64 m_messageBytes = 0;  // written since then
    bool m_failed = false;
    bool m_created = false;
    qint64 m_written = 0;
};

// Everything a writing step receives for one message.
struct MailMessage {
    const MailMLRC &record;
    const MailMessageFields &fields;
    const MailFormatStyle &style;
    MailOutput &out;
    const AttachmentIndex &attachments;
    // The outer boundary token the MIME body chose; the attachment parts use the same one.
    mutable QByteArray outerToken = QByteArray();
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
// The folder path below the mail folder that a message's entry name gives, made of safe
// components; "Folder1" when the name gives none.
QString MailFolderRelativePath(const QString &entryName);
// From_ line, headers, MIME body and attachment parts; the attachments whose data could not be
// copied, each as a log line.
QStringList WriteMailSteps(const MailMessage &message);
void WriteFromLine(const MailMessage &message);
void WriteMailHeaders(const MailMessage &message);
// Returns true when it opened the multipart/mixed frame.
bool WriteMimeBody(const MailMessage &message);
void WriteAttachmentParts(const MailMessage &message, bool frameWritten);
