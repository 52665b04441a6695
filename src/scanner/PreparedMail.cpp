#include "scanner/PreparedMail.h"

#include <cstdlib>
#include <cstring>
#include <new>

MailMLRC *PreparedMail::add(qint64 itemStart)
{
    MailMLRC *rec = nullptr;
    if (!m_staged) {
        rec = appendRecord(m_head, m_tail, m_count);
    } else {
        try {
            m_records.push_back(Staged{MailMLRC(), -1, -1});
            rec = &m_records.back().fields;
            ++m_count;
        } catch (const std::bad_alloc &) {
            rec = nullptr;
        }
    }
    if (!rec)
        m_failed = true;
    else if (m_count == 1)
        m_firstItem = itemStart;
    return rec;
}

void PreparedMail::keep(MailMLRC *rec)
{
    if (!m_staged)
        return;
    Staged &s = m_records.back();
    char **texts[2] = {&rec->pFromNames, &rec->pSubject};
    int *offsets[2] = {&s.from, &s.subject};
    for (int i = 0; i < 2; ++i) {
        if (!*texts[i])
            continue;
        const size_t len = strlen(*texts[i]);
        if (m_texts.size() + len < size_t(INT32_MAX)) {
            try {
                m_texts.append(*texts[i], len + 1);
                *offsets[i] = int(m_texts.size() - len - 1);
            } catch (const std::bad_alloc &) {
            }
        }
        free(*texts[i]);
        *texts[i] = nullptr;
    }
}

char *PreparedMail::text(int at) const
{
    if (at < 0)
        return nullptr;
    return strdup(m_texts.c_str() + at);
}

bool PreparedMail::join(qint64 folderId)
{
    bool whole = true;
    if (m_staged) {
        for (const Staged &s : m_records) {
            MailMLRC *rec = appendRecord(TmpMlrcPtrStart, TmpMlrcPtrEnd, MailItemCount);
            if (!rec) {
                whole = false;
                break;
            }
            *rec = s.fields;
            rec->pNext = nullptr;
            rec->pFromNames = text(s.from);
            rec->pSubject = text(s.subject);
            rec->llFolderId = folderId;
        }
    } else if (m_head) {
        for (MailMLRC *rec = m_head; rec; rec = rec->pNext)
            rec->llFolderId = folderId;
        if (TmpMlrcPtrStart) {
            TmpMlrcPtrEnd->pNext = m_head;
            MailItemCount += m_count;
        } else {
            TmpMlrcPtrStart = m_head;
            MailItemCount = m_count;
        }
        TmpMlrcPtrEnd = m_tail;
        m_head = m_tail = nullptr;
    }
    clear();
    return whole;
}

void PreparedMail::clear()
{
    for (MailMLRC *rec = m_head; rec;) {
        MailMLRC *next = rec->pNext;
        free(rec->pFromNames);
        free(rec->pSubject);
        free(rec);
        rec = next;
    }
    m_head = m_tail = nullptr;
    // A buffer that held an entry of many messages is not kept for the next small one.
    if (m_records.capacity() > 256 || m_texts.capacity() > 64 * 1024) {
        std::vector<Staged>().swap(m_records);
        std::string().swap(m_texts);
    }
    m_records.clear();
    m_texts.clear();
    m_count = 0;
    m_firstItem = 0;
    m_failed = false;
}
