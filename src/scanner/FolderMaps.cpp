#include "scanner/FolderMaps.h"

#include "scanner/ScanGlobals.h"

#include <QStringList>

QString FolderKindMarker(const QString &kind)
{
    if (kind == QLatin1String("contact"))
        return QStringLiteral("notmailcontact");
    if (kind == QLatin1String("calender"))
        return QStringLiteral("notmailcalender");
    if (kind == QLatin1String("task"))
        return QStringLiteral("notmailtask");
    if (kind == QLatin1String("notes"))
        return QStringLiteral("notmailnotes");
    return QString();
}

bool GetParentId(const QString &name, qint64 parentId, qint64 *id)
{
    // equal_range lists the values of one key newest first, as values(key) does, without a copy.
    auto range = objMapName_FID.equal_range(name);
    for (auto it = range.first; it != range.second; ++it) {
        if (objMapFID_PID.value(it.value(), -1) == parentId) {
            *id = it.value();
            return true;
        }
    }
    return false;
}

void treeCreator(const QString &path, bool nonMail, const QString &kind)
{
    if (path.isEmpty())
        return;
    const QString marker = nonMail ? FolderKindMarker(kind) : QString();
    qint64 parent = llRootId;
    const QStringList parts = path.split(QLatin1Char('/'));
    for (int i = 0; i < parts.size(); ++i) {
        const QString key = parts[i] + marker;
        if (i > 0)
            parent = llParentIdRunning;
        qint64 id = 0;
        if (!GetParentId(key, parent, &id)) {
            id = ++PID;
            objMapName_FID.insert(key, id);
            objMapFID_PID.insert(id, parent);
            objMapFID_Name.insert(id, key);
        }
        llParentIdRunning = id;
    }
}
