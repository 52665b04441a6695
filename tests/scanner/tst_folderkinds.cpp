// What a folder is without any widget: the kind, icon and shown name of a folder key, the
// reserved "Folder1" ids of the kinds, and the attribute list of a whole-archive save.

#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"
#include "scanner/ScanGlobals.h"

#include <QtTest>

class FolderKindsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void lookOfAKey_data();
    void lookOfAKey();
    void folder1Ids_data();
    void folder1Ids();
    void everyScannedFolderChecked();
};

void FolderKindsTest::cleanup()
{
    FreeFolderAttributes();
    objMapFID_PID.clear();
    objMapFID_Name.clear();
    TmpCTRCPtrStart = TmpCTRCPtrEnd = nullptr;
    TmpNTRCPtrStart = TmpNTRCPtrEnd = nullptr;
}

void FolderKindsTest::lookOfAKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<qint64>("parent");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<uint>("kind");
    QTest::addColumn<QString>("icon");

    QTest::newRow("inbox under the root") << "Inbox" << qint64(501) << "Inbox" << 0u << "img_InboxFolderIcon";
    QTest::newRow("inbox deeper") << "Inbox" << qint64(502) << "Inbox" << 0u << "img_Folder";
    QTest::newRow("sent items") << "Sent Items" << qint64(501) << "Sent Items" << 0u << "img_SentFolderIcon";
    QTest::newRow("deleted items") << "Deleted Items" << qint64(501) << "Deleted Items" << 0u << "img_DeletedFolderIcon";
    QTest::newRow("drafts deeper") << "Drafts" << qint64(600) << "Drafts" << 0u << "img_Folder";
    // A mail folder's words never make it another kind.
    QTest::newRow("mail folder named notes") << "Project Notes" << qint64(501) << "Project Notes" << 0u << "img_Folder";
    QTest::newRow("mail folder named tasks") << "Tasks from Bob" << qint64(501) << "Tasks from Bob" << 0u << "img_Folder";
    QTest::newRow("mail folder named contacts") << "Contacts" << qint64(501) << "Contacts" << 0u << "img_Folder";
    QTest::newRow("contacts marker") << "Address Booknotmailcontact" << qint64(501) << "Address Book" << 41u << "img_AddressBookIcon";
    QTest::newRow("calendar marker") << "Calendarnotmailcalender" << qint64(501) << "Calendar" << 42u << "img_CalendarIcon";
    QTest::newRow("task marker on any name") << "Projectnotmailtask" << qint64(503) << "Project" << 43u << "img_TaskIcon";
    QTest::newRow("notes marker") << "Notesnotmailnotes" << qint64(501) << "Notes" << 44u << "img_NotesIcon";
    QTest::newRow("marker removed wherever it occurs") << "anotmailtaskbnotmailtask" << qint64(501) << "ab" << 43u << "img_TaskIcon";
    // Kind: contacts before tasks; shown name: the notes marker is removed first, and only it.
    QTest::newRow("two markers") << "Xnotmailcontactnotmailnotes" << qint64(501) << "Xnotmailcontact" << 41u
                                 << "img_AddressBookIcon";
}

void FolderKindsTest::lookOfAKey()
{
    QFETCH(QString, key);
    QFETCH(qint64, parent);
    const FolderLook look = FolderLookFor(key, parent);
    QTEST(look.shownName, "shown");
    QTEST(uint(look.kind), "kind");
    QFETCH(QString, icon);
    QCOMPARE(look.icon, QStringLiteral(":/images/") + icon + QStringLiteral(".png"));
}

// Each kind's "Folder1" has its own reserved id just below the dummy id, and only those ids map
// back to the dummy id its records carry.
void FolderKindsTest::folder1Ids_data()
{
    QTest::addColumn<qint64>("id");
    QTest::addColumn<bool>("kindFolder1");
    QTest::addColumn<qint64>("recordFolder");
    const qint64 dummy = llFolder1Id;
    QTest::newRow("contacts") << Folder1IdForKind(FolderKindContacts) << true << dummy;
    QTest::newRow("calendar") << Folder1IdForKind(FolderKindCalendar) << true << dummy;
    QTest::newRow("tasks") << Folder1IdForKind(FolderKindTasks) << true << dummy;
    QTest::newRow("notes") << Folder1IdForKind(FolderKindNotes) << true << dummy;
    QTest::newRow("mail uses the dummy id itself") << Folder1IdForKind(FolderKindMail) << false << dummy;
    QTest::newRow("an unknown kind is mail") << Folder1IdForKind(7) << false << dummy;
    QTest::newRow("just below the reserved ids") << dummy - 5 << false << dummy - 5;
    QTest::newRow("just above the dummy id") << dummy + 1 << false << dummy + 1;
    QTest::newRow("an ordinary folder") << qint64(502) << false << qint64(502);
}

void FolderKindsTest::folder1Ids()
{
    QFETCH(qint64, id);
    QFETCH(bool, kindFolder1);
    QFETCH(qint64, recordFolder);
    QCOMPARE(IsKindFolder1Id(id), kindFolder1);
    QCOMPARE(RecordFolderId(id), recordFolder);
}

void FolderKindsTest::everyScannedFolderChecked()
{
    objMapFID_PID = {{503, 501}, {502, 501}};
    objMapFID_Name = {{502, QStringLiteral("Inbox")}, {503, QStringLiteral("Peoplenotmailcontact")}};
    // A note recovered without a folder gets the notes "Folder1"; contacts here all have one.
    ContactInformation contact{};
    contact.llFolderId = 503;
    NotesInformation note{};
    note.llFolderId = llFolder1Id;
    TmpCTRCPtrStart = TmpCTRCPtrEnd = &contact;
    TmpNTRCPtrStart = TmpNTRCPtrEnd = &note;
    AppendFolderAttribute(3, 999, FolderKindMail);   // a list from an earlier tree goes first

    CheckEveryScannedFolder();

    QStringList nodes;
    for (const FldrAtribNode *n = StartFldrAtrib; n; n = n->pNext)
        nodes << QStringLiteral("%1/%2:%3:%4").arg(n->llParentId).arg(n->llFolderId).arg(n->dwKind).arg(n->bState);
    const QString folder1 = QString::number(llFolder1Id), notes1 = QString::number(Folder1IdForKind(FolderKindNotes));
    QCOMPARE(nodes, QStringList({QStringLiteral("0/501:0:1"), QStringLiteral("501/502:0:1"),
                                 QStringLiteral("501/503:41:1"), QStringLiteral("501/%1:0:1").arg(folder1),
                                 QStringLiteral("501/%1:44:1").arg(notes1)}));
    QCOMPARE(EndFldrAtrib->llFolderId, Folder1IdForKind(FolderKindNotes));
}

QTEST_APPLESS_MAIN(FolderKindsTest)
#include "tst_folderkinds.moc"
