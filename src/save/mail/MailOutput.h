#pragma once
// One message's output: a mailbox appended to, a message file that takes its name only when
// whole, or memory for a message formatted ahead of its turn.

#include "platform/WholeFile.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <cstdio>
#include <functional>

// A message's output stream. Every write is checked: after the
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
    // Makes a new file in folder that has no name until close(), which gives it the first name of
    // nextName() that does not exist yet (an empty name: none is left). A failure, a discard or the
    // end of the output before then leaves nothing under any name.
    bool createNew(const QString &folder, std::function<QString()> nextName);
    // For a file of createNew not yet named: takes the name it is to have now, the first of
    // nextName() that does not exist and that besideFree accepts (what goes beside the file is
    // named after it), and returns it; close() names the file so unless something took the name
    // meanwhile. Empty for any other output, or when no name is left.
    QString claimName(const std::function<bool(const QString &)> &besideFree);
    // Files written beside the file of createNew (then their folder, when left empty) that go
    // when it ends without its name: they belong to it.
    void addBeside(const QString &path) { m_beside.append(path); }
    // Writes bytes over the start of the file once all written so far is out; the end stays.
    bool rewriteStart(const QByteArray &bytes);
    bool isOpen() const { return m_file != nullptr || m_inMemory; }
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    bool write(const char *text);
    // Flushes and closes; false when anything written to it or the close failed. A file made by
    // createNew then takes its name.
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
    // The file's name: for createNew, set once close() has named it. A mailbox takes it only
    // when closed or discarded; until then it is written at diskPath().
    QString path() const { return m_path; }
    QString diskPath() const { return m_hidden.isEmpty() ? m_path : QFile::decodeName(m_hidden); }
    // The hidden file a mailbox's messages stay in when it could not take its name back; empty
    // when it did.
    QString leftHidden() const { return QFile::decodeName(m_leftHidden); }

private:
    void fail(int errorNumber);
    // Closes what is open and clears the state for a new output at path.
    void restart(const QString &path);
    void useLargeBuffer();
    // Gives createNew's file its name once all of it is out.
    bool nameWholeFile();
    // Removes what addBeside named.
    void removeBeside();
    // Gives the mailbox its name again.
    bool nameMailbox();

    std::FILE *m_file = nullptr;
    bool m_inMemory = false;
    qint64 m_memoryLimit = 0;
    QByteArray m_memory;
    QByteArray m_buffer;  // the file's stdio buffer; outlives the file
    QString m_path;
    QByteArray m_hidden;                  // the mailbox's name while it is written; empty when it has its own
    QByteArray m_leftHidden;              // the hidden name it kept, when it could not take its own
    WholeFile m_whole;                    // createNew's file
    std::function<QString()> m_nextName;  // set while createNew's file awaits its name
    QString m_claimed;                    // the name claimName took for it
    QStringList m_beside;                 // what goes with it when it takes no name
    QString m_error;
    qint64 m_startSize = 0;     // file size where the current message began
    qint64 m_messageBytes = 0;  // written since then
    bool m_failed = false;
    bool m_created = false;
    qint64 m_written = 0;
};
