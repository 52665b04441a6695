#include "save/SaveFlow.h"

#include "platform/FreeSpace.h"
#include "platform/WholeFile.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"
#include "scanner/ScanGlobals.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>

#include <cerrno>
#include <sys/stat.h>

QString SaveSuccessText()
{
    return QString::fromUtf8(bforQRepairFO ? kFilesSavedText : kMailboxSavedText);
}

QString MakeSaveTimeStamp(const QDateTime &when)
{
    return QLatin1Char('(') + QLocale::c().toString(when, QStringLiteral("d MMM yyyy,hh-mm-ss")) + QLatin1Char(')');
}

QSet<qint64> FoldersKeepingOwnItems;
QSet<qint64> FoldersLeavingOwnItems;

bool FolderOwnItemsChosen(const FldrAtribNode *node)
{
    if (!node)
        return false;
    if (node->bState == 1)
        return !FoldersLeavingOwnItems.contains(node->llFolderId);
    return FoldersKeepingOwnItems.contains(node->llFolderId);
}

bool SelectionHasCheckedFolder(const FldrAtribNode *head)
{
    if (head && (head->bState == 1 || head->bState == 2))
        return true;
    for (const FldrAtribNode *node = head; node; node = node->pNext)
        if (FolderOwnItemsChosen(node))
            return true;
    return false;
}

SaveItemLists CurrentSaveItemLists()
{
    SaveItemLists lists;
    lists.mails = TmpMlrcPtrStart;
    lists.contacts = TmpCTRCPtrStart;
    lists.calendar = TmpCLRCPtrStart;
    lists.tasks = TmpTSRCPtrStart;
    lists.notes = TmpNTRCPtrStart;
    lists.stores[0] = tmpCoFOStart;
    lists.stores[1] = tmpCaFOStart;
    lists.stores[2] = tmpTaFOStart;
    lists.stores[3] = tmpNoFOStart;
    return lists;
}

namespace {

template <typename Record>
QHash<qint64, qint64> CountPerFolder(const Record *record)
{
    QHash<qint64, qint64> counts;
    for (; record; record = record->pNext)
        ++counts[record->llFolderId];
    return counts;
}

}  // namespace

qint64 CountCheckedItems(const FldrAtribNode *head, const SaveItemLists &lists)
{
    return CountChosenItems(head, lists).total();
}

SaveItemCounts CountChosenItems(const FldrAtribNode *head, const SaveItemLists &lists)
{
    const QHash<qint64, qint64> mails = CountPerFolder(lists.mails);
    const QHash<qint64, qint64> contacts = CountPerFolder(lists.contacts);
    const QHash<qint64, qint64> calendar = CountPerFolder(lists.calendar);
    const QHash<qint64, qint64> tasks = CountPerFolder(lists.tasks);
    const QHash<qint64, qint64> notes = CountPerFolder(lists.notes);
    SaveItemCounts counts;
    bool kindChosen[4] = {false, false, false, false};
    for (const FldrAtribNode *node = head; node; node = node->pNext) {
        if (!FolderOwnItemsChosen(node))
            continue;
        if (node->dwKind >= FolderKindContacts && node->dwKind <= FolderKindNotes)
            kindChosen[node->dwKind - FolderKindContacts] = true;
        // A kind's own "Folder1" counts the records that carry the dummy folder id.
        const qint64 id = RecordFolderId(node->llFolderId);
        switch (node->dwKind) {
        case FolderKindContacts:
            counts.contacts += contacts.value(id);
            break;
        case FolderKindCalendar:
            counts.calendar += calendar.value(id);
            break;
        case FolderKindTasks:
            counts.tasks += tasks.value(id);
            break;
        case FolderKindNotes:
            counts.notes += notes.value(id);
            break;
        default:
            counts.mails += mails.value(id);
            break;
        }
    }
    for (int kind = 0; kind < 4; ++kind) {
        for (const FileOffsetNode *node = kindChosen[kind] ? lists.stores[kind] : nullptr; node; node = node->pNext)
            ++counts.storeFiles;
    }
    return counts;
}

qint64 SaveProgressSteps(SaveType type, const SaveItemCounts &counts)
{
    // The categories list is written into every new archive.
    return type == SaveTypeOLM ? counts.mails + counts.storeFiles + 1 : ItemsTheTypeWrites(type, counts);
}

QString MailOnlyTypeName(SaveType type)
{
    switch (type) {
    case SaveTypeEMLX:
        return QStringLiteral("EMLX");
    case SaveTypeEML:
        return QStringLiteral("EML");
    case SaveTypeHTML:
        return QStringLiteral("HTML");
    default:
        return QString();
    }
}

qint64 ItemsTheTypeWrites(SaveType type, const SaveItemCounts &counts)
{
    if (type == SaveTypeInvalid)
        return 0;
    return MailOnlyTypeName(type).isEmpty() ? counts.total() : counts.mails;
}

QString DescribeItemCounts(const SaveItemCounts &counts)
{
    const struct {
        qint64 count;
        const char *one;
        const char *many;
    } parts[] = {
        {counts.mails, "message", "messages"},
        {counts.contacts, "contact", "contacts"},
        {counts.calendar, "calendar item", "calendar items"},
        {counts.tasks, "task", "tasks"},
        {counts.notes, "note", "notes"},
    };
    QStringList named;
    for (const auto &part : parts) {
        if (part.count > 0)
            named << QStringLiteral("%1 %2").arg(part.count).arg(QLatin1String(part.count == 1 ? part.one : part.many));
    }
    if (named.size() < 2)
        return named.join(QString());
    const QString last = named.takeLast();
    return named.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

QString NothingToSaveText(SaveType type, const FldrAtribNode *head, const SaveItemCounts &counts,
                          qint64 attachmentEntries)
{
    if (type == SaveTypeInvalid || ItemsTheTypeWrites(type, counts) > 0)
        return QString();
    if (attachmentEntries > 0 && type != SaveTypeOLM) {
        for (const FldrAtribNode *node = head; node; node = node->pNext) {
            const bool mailKind = node->dwKind != FolderKindContacts && node->dwKind != FolderKindCalendar
                && node->dwKind != FolderKindTasks && node->dwKind != FolderKindNotes;
            if (mailKind && node->llFolderId != llRootId && FolderOwnItemsChosen(node))
                return QString();
        }
    }
    if (counts.total() > 0)
        return QString::fromLatin1(kTypeHoldsMailOnlyText).arg(MailOnlyTypeName(type), DescribeItemCounts(counts));
    return QString::fromLatin1(kNothingToSaveText);
}

QString TypeLeftOutText(SaveType type, const SaveItemCounts &counts)
{
    const QString name = MailOnlyTypeName(type);
    SaveItemCounts others = counts;
    others.mails = 0;
    if (name.isEmpty() || others.total() == 0)
        return QString();
    return QString::fromLatin1(kTypeLeftOutText).arg(name, DescribeItemCounts(others));
}

QString ReplaceTestRootFor(SaveType type, const QString &saveDir, const QString &stamp)
{
    return WriterOutputFor(type, saveDir, stamp);
}

QString ReplaceDetailText(const QString &root)
{
    return QString::fromLatin1(kReplaceDetail).arg(QFileInfo(root).fileName());
}

namespace {

// The OLM save replaces whatever has its file's name, even a dangling link; the other saves ask
// only about a folder (anything else there makes their folder creation fail with a message).
bool ReplaceTestHolds(SaveType type, const QString &test)
{
    const QFileInfo info(test);
    return type == SaveTypeOLM ? info.exists() || info.isSymLink() : info.isDir();
}

}  // namespace

bool HasEnoughFreeSpace(const QString &dir, qint64 archiveSize)
{
    const qint64 available = FreeSpaceHooked(dir);
    qDebug() << "free space" << available << "archive size" << archiveSize;
    return available > archiveSize;
}

bool OutputOverwritesArchive(SaveType type, const QString &saveDir, int archiveFd)
{
    return type == SaveTypeOLM && IsSameFile(archiveFd, WriterOutputFor(type, saveDir, QString()));
}

SaveStartPlan PlanSaveStart(int listIndex, const QString &saveDir, const QString &stamp, qint64 archiveSize,
                            int archiveFd)
{
    SaveStartPlan plan;
    if (saveDir.isEmpty())
        return plan;
    if (!HasEnoughFreeSpace(saveDir, archiveSize)) {
        plan.step = SaveStartStep::InsufficientSpace;
        return plan;
    }
    plan.type = SaveTypeForIndex(listIndex);
    if (plan.type == SaveTypeInvalid) {
        plan.step = SaveStartStep::InvalidType;
        return plan;
    }
    if (OutputOverwritesArchive(plan.type, saveDir, archiveFd)) {
        plan.step = SaveStartStep::OverwritesArchive;
        return plan;
    }
    const QString test = ReplaceTestRootFor(plan.type, saveDir, stamp);
    if (!test.isEmpty() && ReplaceTestHolds(plan.type, test)) {
        plan.step = SaveStartStep::AskReplace;
        plan.root = test;
        return plan;
    }
    plan.step = SaveStartStep::Create;
    plan.root = OutputRootFor(plan.type, saveDir, stamp);
    return plan;
}

namespace {

bool Fail(QString *error, const char *text, const QString &path)
{
    qWarning() << "output folder:" << QString::fromUtf8(text).trimmed() << path;
    if (error)
        *error = QString::fromUtf8(text);
    return false;
}

bool IsWritableFolder(const QString &path)
{
    const QFileInfo info(path);
    return info.isDir() && info.isWritable();
}

// The item folders the contact, calendar, task and note writers fill (and the package's
// "Contents"); the message writers make their own.
QStringList ItemFoldersFor(SaveType type)
{
    const QStringList items{QStringLiteral("Contacts"), QStringLiteral("Calendar"), QStringLiteral("Tasks"),
                            QStringLiteral("Notes")};
    if (type == SaveTypeRGE)
        return items + QStringList{QStringLiteral("Contents")};
    if (type == SaveTypeMBOX)
        return items;
    return QStringList();
}

}  // namespace

namespace {

// Makes the save's own root: a root that stands already (another save started in the same
// second, or anything else under that name) is never shared; the stamp then gets the next free
// number. Fails with the reason in *why.
bool makeOwnRoot(SaveType type, const QString &saveDir, QString *stamp, QString *root, int *why)
{
    constexpr int kMaxNumbers = 1000;
    const QString timed = *stamp;
    for (int number = 2; number <= kMaxNumbers; ++number) {
        *root = OutputRootFor(type, saveDir, *stamp);
        if (::mkdir(QFile::encodeName(*root).constData(), 0777) == 0)
            return true;
        if (errno != EEXIST) {
            *why = errno;
            return false;
        }
        *stamp = timed + QLatin1Char('_') + QString::number(number);
    }
    *stamp = timed;
    *why = EEXIST;
    return false;
}

}  // namespace

bool CreateMailFolder(SaveType type, const QString &saveDir, QString *stamp, QString *error)
{
    QString root = OutputRootFor(type, saveDir, *stamp);
    if (root.isEmpty() || saveDir.isEmpty())
        return Fail(error, kOutputFolderFailedText, root);
    // A destination that stands but takes no files is not a folder that could not be made.
    const QFileInfo destination(saveDir);
    const char *failed =
        destination.isDir() && !destination.isWritable() ? kPackageFilesFailedText : kOutputFolderFailedText;
    int why = 0;
    // One level only: a destination that has gone missing is not made again.
    if (type != SaveTypeOLM && !makeOwnRoot(type, saveDir, stamp, &root, &why))
        return Fail(error, failed, root + QStringLiteral(": ") + qt_error_string(why));
    if (!IsWritableFolder(root))
        return Fail(error, failed, root);
    const QDir dir(root);
    for (const QString &name : ItemFoldersFor(type)) {
        dir.mkdir(name);
        if (!IsWritableFolder(dir.filePath(name)))
            return Fail(error, kOutputFolderFailedText, dir.filePath(name));
    }
    if (type == SaveTypeRGE)
        return CreateFilesInMainIdentity(root + QLatin1Char('/'), error);
    return true;
}

QStringList RemoveEarlierSaveParts(const QString &saveDir)
{
    QStringList lines;
    if (saveDir.isEmpty())
        return lines;
    const QRegularExpression parts = WholeFilePartPattern();
    const QStringList roots = QDir(saveDir).entryList(
        {QStringLiteral("Converted Data(*"), QStringLiteral("Repaired Data(*"), QStringLiteral("Main Identity(*.rge")},
        QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QString &root : roots) {
        QStringList folders{QDir(saveDir).filePath(root)};
        for (QDirIterator it(folders.first(), QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
             it.hasNext();)
            folders << it.next();
        for (const QString &folder : qAsConst(folders)) {
            for (const QString &file : RemoveUnheldParts(folder, QStringLiteral("."), parts))
                lines << QStringLiteral("the unfinished file %1 in %2, left by a save that was stopped hard")
                             .arg(file, QDir::toNativeSeparators(folder));
        }
    }
    return lines;
}

bool ClearForReplace(SaveType type, const QString &root, QString *error)
{
    // The new archive replaces the earlier one in one step once it is whole: until then the
    // earlier one keeps its name. A folder in its place cannot be replaced that way.
    if (type == SaveTypeOLM && !QFileInfo(root).isDir())
        return true;
    return RemoveOutputRoot(root, error);
}

namespace {

const char kPlistHead[] = "<?xml version=\"1.1\" encoding=\"UTF-8\"?>\n"
                          "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.1//EN\" "
                          "\"http://www.apple.com/DTDs/PropertyList-1.1.dtd\">\n"
                          "<plist version=\"1.1\">\n"
                          "<dict>\n";

}  // namespace

bool ReplaceFileContents(const QString &path, const QByteArray &bytes, QString *why)
{
    QFile file(path);
    const QFileInfo existing(path);
    const bool cleared = !(existing.exists() || existing.isSymLink()) || file.remove();
    // Created with O_EXCL: whatever appears at the name meanwhile is not written through.
    if (!cleared || !file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        if (why)
            *why = file.errorString();
        return false;
    }
    const bool written = file.write(bytes) == bytes.size() && file.flush();
    file.close();
    if (written && file.error() == QFileDevice::NoError)
        return true;
    if (why)
        *why = file.errorString();
    file.remove();
    return false;
}

QByteArray PkgInfoBytes()
{
    return QByteArrayLiteral("rge OPIM");
}

QByteArray InfoPlistBytes()
{
    return QByteArray(kPlistHead)
        + "\t<key>CFBundleDevelopmentRegion</key>\n"
          "\t<string>English</string>\n"
          "\t<key>CFBundleInfoDictionaryVersion</key>\n"
          "\t<string>6.0</string>\n"
          "\t<key>CFBundlePackageType</key>\n"
          "\t<string>rge </string>\n"
          "\t<key>CFBundleSignature</key>\n"
          "\t<string>OPIM</string>\n"
          "</dict>\n"
          "</plist>\n";
}

QByteArray ArchiveXmlBytes()
{
    return QByteArray(kPlistHead)
        + "\t<key>Type</key>\n"
          "\t<string>All</string>\n"
          "\t<key>Version</key>\n"
          "\t<integer>1</integer>\n"
          "</dict>\n"
          "</plist>\n";
}

bool CreateFilesInMainIdentity(const QString &root, QString *error)
{
    const QDir dir(root);
    const struct {
        const char *name;
        QByteArray bytes;
    } files[] = {
        {"Contents/PkgInfo", PkgInfoBytes()},
        {"Contents/Info.plist", InfoPlistBytes()},
        {"Archive.xml", ArchiveXmlBytes()},
    };
    for (const auto &file : files) {
        const QString path = dir.filePath(QLatin1String(file.name));
        QString why;
        if (!ReplaceFileContents(path, file.bytes, &why))
            return Fail(error, kPackageFilesFailedText, path + QStringLiteral(": ") + why);
    }
    return true;
}

bool RemoveOutputRoot(const QString &path, QString *error)
{
    if (path.isEmpty())
        return true;
    if (QDir::cleanPath(QFileInfo(path).absoluteFilePath()) == QLatin1String("/"))
        return Fail(error, kOldRootNotRemovedText, path);
    const QFileInfo info(path);
    bool removed = true;
    if (info.isSymLink())
        removed = QFile::remove(path);  // the link only; QDir would empty its target
    else if (info.isDir())
        removed = QDir(path).removeRecursively();  // links inside are removed as links
    else if (info.exists())
        removed = QFile::remove(path);
    const QFileInfo after(path);
    if (!removed || after.exists() || after.isSymLink())
        return Fail(error, kOldRootNotRemovedText, path);
    return true;
}
