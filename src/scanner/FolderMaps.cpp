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
    // treeCreator enters each (key, parent) once, so the pair names at most one id: the one the
    // newest-first walk of the key's ids would find.
    const auto it = objMapKeyParent_FID.constFind(qMakePair(name, parentId));
    if (it == objMapKeyParent_FID.cend())
        return false;
    *id = it.value();
    return true;
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
            objMapKeyParent_FID.insert(qMakePair(key, parent), id);
        }
        llParentIdRunning = id;
    }
}
