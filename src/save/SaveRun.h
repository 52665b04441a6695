#pragma once
// What one save builds once and its writers share: the lookups from folder to records and from
// attachment URL to entry, the mail writer's context, and the outcome counts. Lives for one run()
// of the saving thread; only that thread touches it.

#include "save/AttachmentIndex.h"
#include "save/SaveFlow.h"
#include "save/mail/MailWriter.h"
#include "save/pim/CalendarRules.h"
#include "save/pim/ItemIdentity.h"
#include "scanner/ScanGlobals.h"

#include <QHash>
#include <QSet>
#include <QVector>

#include <memory>

// A list's records grouped by folder id, in list order; built on first use, so a save that never
// asks for a kind never walks its list.
template <typename Record>
class RecordsByFolder {
public:
    explicit RecordsByFolder(const Record *head) : m_head(head) {}
    QVector<const Record *> of(qint64 folderId)
    {
        if (!m_built) {
            for (const Record *r = m_head; r; r = r->pNext)
                m_byFolder[r->llFolderId].append(r);
            m_built = true;
        }
        return m_byFolder.value(folderId);
    }

private:
    const Record *m_head;  // the lists do not change while a save runs
    bool m_built = false;
    QHash<qint64, QVector<const Record *>> m_byFolder;
};

struct SaveRun {
    explicit SaveRun(bool mailLookups = true);
    SaveRun(const SaveRun &) = delete;
    SaveRun &operator=(const SaveRun &) = delete;

    // The mail lookups are built before the walk: every mail save type but the archive one reads
    // them.
    AttachmentIndex attachments;
    QHash<qint64, QVector<const MailMLRC *>> messages;
    MailSaveContext mail;  // also holds the counts of every writer, not only the mail ones
    RecordsByFolder<ContactInformation> contacts{TmpCTRCPtrStart};
    RecordsByFolder<CalenderInformation> calendar{TmpCLRCPtrStart};
    RecordsByFolder<TasksInformation> tasks{TmpTSRCPtrStart};
    RecordsByFolder<NotesInformation> notes{TmpNTRCPtrStart};
    qint64 ticks = 0;
    // Compressed entries the new archive copied whole, unread.
    qint64 copiedEntries = 0;
    QString lastInfo;        // status texts go out only when they change
    QStringList notWritten;  // what writers that do not write yet were asked for
    // Folder-list ids of the checked folders in which an item was counted not saved.
    QSet<qint64> foldersNotSaved;
    SaveItemCounts writtenByKind;  // what each kind's writers wrote

    // The zone most calendar items of the archive carry, whose days are those of dates stored
    // without a zone; read on first use.
    const ZoneRules &archiveZone();
    std::unique_ptr<ZoneRules> zoneOfArchive;
    // The names and UIDs of the contact, calendar, task and note files.
    ItemIdentities itemIds;

    QVector<const MailMLRC *> messagesOf(qint64 folderId) const { return messages.value(folderId); }
};
