#include "save/FolderNames.h"

#include <algorithm>

namespace {

const QLatin1String kFolder1("Folder1");

// File names hold at most 255 bytes; the folder's mailbox adds its extension to the last one.
constexpr int kMaxComponentBytes = 250;

// Where the folder parts of an entry name begin and end: the exporter names messages
// Accounts/<account>/<store>/<folders...>/<file> and Local/<store>/<folders...>/<file>. A
// leading "/" or "./" names the same place. False when the name gives no folder level: it
// would otherwise become a folder of its own named after the message file.
bool folderParts(const QList<QByteArray> &parts, int *first, int *last)
{
    int start = 0;
    while (start + 1 < parts.size() && (parts.at(start).isEmpty() || parts.at(start) == "."))
        ++start;
    if (parts.at(start) == "Accounts")
        *first = start + 3;
    else if (parts.at(start) == "Local")
        *first = start + 2;
    else
        return false;
    *last = parts.size() - 1;
    return *last > *first;
}

}  // namespace

namespace {

// The form two names that extract as one folder share.
QString sameFolderKey(const QByteArray &name)
{
    return QString::fromUtf8(name).normalized(QString::NormalizationForm_C);
}

}  // namespace

QString MailFolderRelativePath(const QString &entryName)
{
    // The path depends only on what stands before the file name, and a folder's messages come
    // one after another: the last answer serves again while that part stays the same.
    thread_local QString lastDirectory;
    thread_local QString lastPath;
    const QStringRef directory = entryName.leftRef(qMax(0, entryName.lastIndexOf(QLatin1Char('/'))));
    if (!lastPath.isNull() && directory == lastDirectory)
        return lastPath;
    const QList<QByteArray> parts = entryName.toUtf8().split('/');
    int first = 0, last = 0;
    if (!folderParts(parts, &first, &last)) {
        lastPath = kFolder1;
    } else {
        QByteArray path;
        for (int i = first; i < last; ++i)
            path += (i > first ? "/" : "") + SafeFolderPart(parts.at(i), kMaxComponentBytes);
        lastPath = QString::fromUtf8(path);
    }
    lastDirectory = directory.toString();
    return lastPath;
}

FolderPathMap::FolderPathMap(int partBytes, int pathBytes) : m_partBytes(partBytes), m_pathBytes(pathBytes)
{
    m_nodes.emplace_back();
}

int FolderPathMap::child(int parent, const QByteArray &rawPart)
{
    const auto known = m_nodes[size_t(parent)].children.constFind(rawPart);
    if (known != m_nodes[size_t(parent)].children.constEnd())
        return known.value();
    QStringList reasons;
    QByteArray name = SafeFolderPart(rawPart, m_partBytes, m_asText);
    if (name != rawPart)
        reasons << QStringLiteral("its name cannot stand as a folder's as it is");
    // A folder deeper than a path may be stands in the deepest folder above it that has room.
    const int holder = m_nodes[size_t(parent)].holder;
    if (holder != parent)
        reasons << QStringLiteral("its path is longer than a path may be");
    QSet<QString> &names = m_nodes[size_t(holder)].names;
    QString key = sameFolderKey(name);
    if (reserved(holder, name)) {
        reasons << QStringLiteral("the save names a file of its own there \"%1\"").arg(NameForLine(name));
    } else if (names.contains(key)) {
        reasons << QStringLiteral("another folder there has the name \"%1\"").arg(NameForLine(name));
    }
    if (names.contains(key) || reserved(holder, name)) {
        // Many folders of one name in one place: each clash goes on from the last number taken.
        int &next = m_nodes[size_t(holder)].nextNumber[key];
        for (int n = qMax(2, next);; ++n) {
            const QByteArray suffix = '_' + QByteArray::number(n);
            const QByteArray candidate = NumberedWithin(name, suffix, QByteArray(), m_partBytes);
            const QString candidateKey = sameFolderKey(candidate);
            if (!names.contains(candidateKey) && !reserved(holder, candidate)) {
                name = candidate;
                key = candidateKey;
                next = n + 1;
                break;
            }
        }
    }
    names.insert(key);
    Node node;
    node.parent = parent;
    node.raw = rawPart;
    const QByteArray &above = m_nodes[size_t(holder)].out;
    node.out = above.isEmpty() ? name : above + '/' + name;
    node.why = reasons.join(QStringLiteral("; "));
    const int id = int(m_nodes.size());
    node.holder = node.out.size() + 1 + m_partBytes <= m_pathBytes ? id : holder;
    m_nodes.push_back(std::move(node));
    m_nodes[size_t(parent)].children.insert(rawPart, id);
    return id;
}

int FolderPathMap::folder(const QList<QByteArray> &parts, int count)
{
    int node = kRoot;
    for (int i = 0; i < count && i < parts.size(); ++i)
        node = child(node, parts.at(i));
    return node;
}

QByteArray FolderPathMap::rawPath(int node) const
{
    QList<QByteArray> parts;
    for (; node > kRoot; node = m_nodes[size_t(node)].parent)
        parts.prepend(m_nodes[size_t(node)].raw);
    return parts.join('/');
}

bool FolderPathMap::reserved(int holder, const QByteArray &name) const
{
    if (!m_reserved)
        return false;
    const QByteArray &out = m_nodes[size_t(holder)].out;
    return m_reserved(out.mid(out.lastIndexOf('/') + 1), name);
}

bool FolderPathMap::taken(int node, const QByteArray &name) const
{
    return m_nodes[size_t(node)].names.contains(sameFolderKey(name));
}

void MailOutputFolders::setRootBytes(int rootBytes, FolderPathMap::ReservedNames reserved)
{
    // Room below each folder for a file name and a folder of a message's own.
    constexpr int kPathLimit = 4095;
    constexpr int kBelowFolder = 600;
    m_map = FolderPathMap(kMaxComponentBytes, qMax(2 * kBelowFolder, kPathLimit - rootBytes - kBelowFolder));
    m_map.setReservedNames(std::move(reserved));
    m_map.setNamesAsText();
    m_named.clear();
    m_hasLast = false;
    m_ready = true;
}

QString MailOutputFolders::relativePath(const QByteArray &rawEntryName, QStringList *lines)
{
    const QByteArray directory = rawEntryName.left(qMax(0, rawEntryName.lastIndexOf('/')));
    if (m_hasLast && directory == m_lastDirectory)
        return m_lastPath;
    const QList<QByteArray> parts = rawEntryName.split('/');
    int first = 0, last = 0;
    if (!folderParts(parts, &first, &last)) {
        m_lastPath = kFolder1;
    } else {
        int node = FolderPathMap::kRoot;
        for (int i = first; i < last; ++i) {
            node = m_map.child(node, parts.at(i));
            if (m_map.why(node).isEmpty() || m_named.contains(node))
                continue;
            m_named.insert(node);
            if (lines)
                lines->append(
                    QStringLiteral("Mail folder \"%1\" saved as \"%2\": %3")
                        .arg(NameForLine(m_map.rawPath(node)), QString::fromUtf8(m_map.path(node)), m_map.why(node)));
        }
        m_lastPath = QString::fromUtf8(m_map.path(node));
    }
    m_lastDirectory = directory;
    m_hasLast = true;
    return m_lastPath;
}
