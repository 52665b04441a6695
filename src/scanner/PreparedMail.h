#pragma once
// A message entry's records made apart from the scan's lists: entries are read on several
// threads, and their records still join the lists one entry after another, in archive order.

#include "scanner/ScanGlobals.h"

#include <string>
#include <string_view>
#include <vector>

class PreparedMail {
public:
    // staged: the records are kept in a buffer that is reused entry after entry, and made on
    // the thread that joins them (memory a builder thread held for good would stay in that
    // thread's allocator arena); otherwise each is allocated at once, as a list of its own.
    explicit PreparedMail(bool staged = false) : m_staged(staged) {}
    ~PreparedMail() { clear(); }
    PreparedMail(const PreparedMail &) = delete;
    PreparedMail &operator=(const PreparedMail &) = delete;

    // A zeroed record, or null when memory is short.
    MailMLRC *add(qint64 itemStart);
    // The record's texts are final: staged, they move into the buffer.
    void keep(MailMLRC *rec);
    qint64 count() const { return m_count; }
    qint64 firstItem() const { return m_firstItem; }
    bool failed() const { return m_failed; }
    void setFailed() { m_failed = true; }
    // Appends the records to the mail list in folder folderId; false when memory ran short.
    bool join(qint64 folderId);
    // Frees what did not join and readies it for the next entry.
    void clear();

private:
    struct Staged {
        MailMLRC fields;
        int from;  // offsets into m_texts, -1 for none
        int subject;
    };
    char *text(int at) const;

    bool m_staged;
    MailMLRC *m_head = nullptr;
    MailMLRC *m_tail = nullptr;
    std::vector<Staged> m_records;
    std::string m_texts;
    qint64 m_count = 0;
    qint64 m_firstItem = 0;  // archive offset of the first record's XML
    bool m_failed = false;   // memory ran short: the entry is not named as holding no message
};

// The message entry's text (size bytes ending at archive offset end) read into records; touches
// no list, folder or report, so it may run on any thread.
void PrepareMail(std::string_view text, qint64 end, qint64 nameOffset, int nameLength, qint64 entrySize,
                 unsigned int crc, qint64 size, int nul, PreparedMail *out);
