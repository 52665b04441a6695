#include "save/olm/OlmEntryNames.h"

#include "save/SafeNames.h"
#include "save/olm/OlmZipRecords.h"

#include <QList>

#include <algorithm>

namespace {

QList<QByteArray> parts(const QByteArray &name)
{
    return (name.endsWith('/') ? name.left(name.size() - 1) : name).split('/');
}

}  // namespace

QString OlmUnsafeNameReason(const QByteArray &name)
{
    const QList<QByteArray> list = parts(name);
    QStringList reasons;
    if (list.contains(".."))
        reasons << QStringLiteral("has a \"..\" part, which climbs a folder up when extracted");
    if (name.startsWith('/'))
        reasons << QStringLiteral("starts at the root of the file system");
    else if (list.contains(QByteArray()))
        reasons << QStringLiteral("has an empty part");
    if (list.contains("."))
        reasons << QStringLiteral("has a \".\" part, which extracts as the folder it stands in");
    if (name.contains('\\'))
        reasons << QStringLiteral("holds a backslash, which some readers take for a folder separator");
    if (name.contains('\0'))
        reasons << QStringLiteral("holds a NUL byte, where most readers end a name");
    if (std::any_of(name.begin(), name.end(), [](char ch) { return (ch && uchar(ch) < 0x20) || uchar(ch) == 0x7F; }))
        reasons << QStringLiteral("holds a control character");
    if (std::any_of(list.begin(), list.end(), [](const QByteArray &part) { return part.size() > kOlmMaxPartBytes; }))
        reasons << QStringLiteral("has a part longer than the %1 bytes a file name may have").arg(kOlmMaxPartBytes);
    if (name.size() > kOlmMaxNameBytes)
        reasons << QStringLiteral("is longer than %1 bytes").arg(kOlmMaxNameBytes);
    return reasons.join(QStringLiteral(" and "));
}

QString OlmNameForLine(const QByteArray &name)
{
    // Every byte, a NUL too: the name is shown as it stands in the archive.
    return NameForLine(name);
}

void OlmEntryNames::addFolders(const QByteArray &name)
{
    for (int slash = name.indexOf('/'); slash > 0; slash = name.indexOf('/', slash + 1))
        m_folders.insert(name.left(slash));
}

void OlmEntryNames::reserve(const QByteArray &name)
{
    // An unsafe name keeps no name of its own: only the folders it will stand in count, named
    // once every safe name has its own.
    if (!OlmNameIsSafe(name)) {
        m_unsafe.append(name);
        return;
    }
    // A folder's own entry adds no folder to those its files give.
    if (name.endsWith('/')) {
        addFolders(name);
        return;
    }
    const QByteArray safe = safeName(name);
    addFolders(safe);
    m_reserved.insert(safe);
}

QByteArray OlmEntryNames::messageName(const QByteArray &name, QString *why)
{
    const QByteArray safe = safeName(name, why);
    m_messageNames.insert(safe);
    return safe;
}

void OlmEntryNames::settle()
{
    const QVector<QByteArray> unsafe = std::move(m_unsafe);
    m_unsafe.clear();
    for (const QByteArray &name : unsafe)
        addFolders(safeName(name));
}

QByteArray OlmEntryNames::safeName(const QByteArray &name, QString *why)
{
    if (why)
        why->clear();
    const bool folder = name.endsWith('/');
    QList<QByteArray> list = parts(name);
    int start = 0;
    while (start + 1 < list.size() && (list.at(start).isEmpty() || list.at(start) == "."))
        ++start;
    const int folders = list.size() - (folder ? 0 : 1);
    int node = FolderPathMap::kRoot;
    for (int i = start; i < folders; ++i) {
        node = m_folderMap.child(node, list.at(i));
        if (why && why->isEmpty() && !m_folderMap.why(node).isEmpty())
            *why = QStringLiteral("its folder \"%1\" is \"%2\": %3")
                       .arg(OlmNameForLine(m_folderMap.rawPath(node)), OlmNameForLine(m_folderMap.path(node)),
                            m_folderMap.why(node));
    }
    QByteArray out = m_folderMap.path(node);
    if (folder)
        return out.isEmpty() ? out : out + '/';
    const QByteArray file = OlmSafeFilePart(list.last());
    return out.isEmpty() ? file : out + '/' + file;
}

bool OlmEntryNames::free(const QByteArray &name) const
{
    return !m_written.contains(name) && !m_reserved.contains(name) && !m_folders.contains(name);
}

QByteArray OlmEntryNames::numbered(const QByteArray &stem) const
{
    // The number goes before a short suffix ("message.xml"), so the file keeps its type. The
    // last part stays within a file name's limit: the number takes the room it needs from the
    // part's own name.
    const int slash = stem.lastIndexOf('/') + 1;
    const QByteArray folder = stem.left(slash);
    const QByteArray part = stem.mid(slash);
    const QByteArray extension = FileExtension(part, 6, true);
    const QByteArray base = part.left(part.size() - extension.size());
    for (int n = 2;; ++n) {
        const QByteArray number = '_' + QByteArray::number(n);
        const QByteArray name = folder + NumberedWithin(base, number, extension, kOlmMaxPartBytes);
        if (free(name))
            return name;
    }
}

QByteArray OlmEntryNames::fileName(const QByteArray &name, QString *why, bool keepsHeld)
{
    settle();
    QStringList reasons;
    QString folderWhy;
    QByteArray chosen = m_messageNames.contains(name) ? name : safeName(name, &folderWhy);
    if (!OlmNameIsSafe(name))
        reasons << OlmUnsafeNameReason(name);
    if (!folderWhy.isEmpty())
        reasons << folderWhy;
    if (chosen.isEmpty())
        chosen = "Local/Folder1/entry";
    // A renamed entry must not take the name another entry keeps, nor any a file stands under.
    const bool renamed = chosen != name;
    if (!keepsHeld && m_held.contains(chosen)) {
        reasons << QStringLiteral("another copy of this store file is whole and keeps the name");
        chosen = numbered(chosen);
    } else if (m_written.contains(chosen) || (renamed && m_reserved.contains(chosen))) {
        reasons << QStringLiteral("another entry has the name \"%1\"").arg(OlmNameForLine(chosen));
        chosen = numbered(chosen);
    } else if (m_folders.contains(chosen)) {
        reasons << QStringLiteral("a folder of this archive has that name");
        chosen = numbered(chosen);
    }
    addFolders(chosen);
    m_written.insert(chosen);
    if (why) {
        why->clear();
        if (chosen != name)
            *why = QStringLiteral("its name in the archive \"%1\" %2: written as \"%3\"")
                       .arg(OlmNameForLine(name), reasons.join(QStringLiteral("; ")), OlmNameForLine(chosen));
    }
    return chosen;
}
