#pragma once
// Runs the scanner's walk over bytes in memory and reads record locations back.

#include "platform/ArchiveSource.h"
#include "platform/WorkerGlobals.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"

#include <QByteArray>
#include <QList>

#include <memory>

// Frees the last scan and walks archive (read maxChunk bytes at a time when > 0), with the
// scanner's default threads or the count given.
inline void scanBytes(const QByteArray &archive, qint64 maxChunk = 0, int threads = 0)
{
    CleanScanResults();
    bStopFlag = false;
    QFolderInformationThread scanner;
    if (threads > 0)
        scanner.SetScanThreads(threads);
    scanner.setSource(std::make_shared<MemoryArchiveSource>(archive, maxChunk));
    scanner.CreateFile();
    bProcessRunning = false;
}

inline QByteArray bytesAt(const QByteArray &archive, qint64 offset, qint64 length)
{
    if (offset < 0 || length < 0 || offset + length > archive.size())
        return QByteArray("<out of range>");
    return archive.mid(int(offset), int(length));
}

template <typename T>
QList<T *> records(T *head)
{
    QList<T *> list;
    for (T *p = head; p; p = p->pNext)
        list.append(p);
    return list;
}

inline QList<MailMLRC *> mails() { return records(TmpMlrcPtrStart); }
inline QList<ContactInformation *> contacts() { return records(TmpCTRCPtrStart); }
inline QList<CalenderInformation *> events() { return records(TmpCLRCPtrStart); }
inline QList<TasksInformation *> tasks() { return records(TmpTSRCPtrStart); }
inline QList<NotesInformation *> notes() { return records(TmpNTRCPtrStart); }
inline QList<FileOffsetNode *> attachmentNodes() { return records(tmpAtFOStart); }

inline QString folderKey(qint64 id)
{
    return objMapFID_Name.value(id);
}

// True when [offset, offset+length) is exactly the text of a <tag ...>text</tag> element.
inline bool isElementText(const QByteArray &archive, qint64 offset, quint32 length, const QByteArray &tag)
{
    if (offset <= 0 || offset + length > archive.size())
        return false;
    const QByteArray before = archive.left(int(offset));
    const int open = before.lastIndexOf("<" + tag);
    if (open < 0 || before.indexOf('>', open) != before.size() - 1)
        return false;
    return archive.mid(int(offset + length), tag.size() + 3) == "</" + tag + ">";
}

// Checks every location the scan recorded against the archive bytes; returns the first fault.
inline QString locationFault(const QByteArray &a)
{
    for (MailMLRC *m : mails()) {
        if (m->dwBodyLength && !isElementText(a, m->llBodyOffset, m->dwBodyLength, "OPFMessageCopyBody"))
            return QStringLiteral("mail body at %1").arg(m->llBodyOffset);
        const QByteArray xml = bytesAt(a, m->llDataOffset, m->dwDataLength);
        // A damaged entry's last message may have lost its close tag.
        if (!xml.contains("<email") || (!xml.contains("</email>") && !m->bDamaged))
            return QStringLiteral("mail XML at %1").arg(m->llDataOffset);
    }
    for (ContactInformation *c : contacts()) {
        if (!bytesAt(a, c->llItemOffset, c->dwItemLength).endsWith("</contact>"))
            return QStringLiteral("contact span at %1").arg(c->llItemOffset);
        if (c->dwNotesLength && !isElementText(a, c->dwNotesOffset, c->dwNotesLength, "OPFContactCopyNotesPlain"))
            return QStringLiteral("contact notes at %1").arg(c->dwNotesOffset);
        if (c->dwPictureLength && !isElementText(a, c->dwPictureOffset, c->dwPictureLength, "OPFContactAddPicture"))
            return QStringLiteral("contact picture at %1").arg(c->dwPictureOffset);
    }
    for (CalenderInformation *e : events()) {
        if (!bytesAt(a, e->llItemOffset, e->dwItemLength).endsWith("</appointment>"))
            return QStringLiteral("event span at %1").arg(e->llItemOffset);
        if (e->dwDescriptionLength
            && !isElementText(a, e->dwDescriptionOffset, e->dwDescriptionLength, "OPFCalendarEventCopyDescriptionPlain"))
            return QStringLiteral("event description at %1").arg(e->dwDescriptionOffset);
    }
    for (TasksInformation *t : tasks()) {
        if (!bytesAt(a, t->llItemOffset, t->dwItemLength).endsWith("</task>"))
            return QStringLiteral("task span at %1").arg(t->llItemOffset);
        if (t->dwNoteLength && !isElementText(a, t->dwNoteOffset, t->dwNoteLength, "OPFTaskCopyNote"))
            return QStringLiteral("task note at %1").arg(t->dwNoteOffset);
    }
    for (NotesInformation *n : notes()) {
        if (n->dwTextLength && !isElementText(a, n->dwTextOffset, n->dwTextLength, "OPFNoteCopyText"))
            return QStringLiteral("note text at %1").arg(n->dwTextOffset);
    }
    return QString();
}
