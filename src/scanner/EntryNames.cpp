// Names of entries: the role an entry plays and the folder it is filed in, from its raw name.

#include "scanner/ArchiveWalk.h"

#include <cstring>
#include <string_view>

namespace olm {

bool attachmentNumbered(const QByteArray &name, int underscore)
{
    if (underscore < 0 || underscore + 1 >= name.size())
        return false;
    for (int i = underscore + 1; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
    }
    return true;
}

EntryRole classifyEntry(const QByteArray &name)
{
    // Decided on the raw name bytes: every name tested is ASCII, so this equals testing the
    // decoded name, without a string per entry (most entries are attachments).
    static const struct {
        std::string_view name;
        EntryRole role;
    } lists[] = {{"Categories.xml", EntryRole::Categories},
                 {"Contacts.xml", EntryRole::Contacts},
                 {"Calendar.xml", EntryRole::Calendar},
                 {"Tasks.xml", EntryRole::Tasks},
                 {"Notes.xml", EntryRole::Notes}};
    const std::string_view whole(name.constData(), size_t(name.size()));
    const size_t lastSlash = whole.rfind('/');
    const std::string_view last = lastSlash == std::string_view::npos ? whole : whole.substr(lastSlash + 1);
    // Only the file itself names a list: a mail folder may be called "Contacts.xml" too.
    for (const auto &l : lists) {
        if (last == l.name)
            return l.role;
    }
    // Attached files keep their own name inside "__message_attachment__"; an attached XML file
    // must not be taken for a message, or its bytes could never be found again.
    if (last.find("__message_attachment__") != std::string_view::npos)
        return EntryRole::Attachment;
    if (last.find("message_") != std::string_view::npos && last.find(".xml") != std::string_view::npos)
        return EntryRole::Message;
    return EntryRole::Attachment;
}

bool NameHeldMessage(QByteArray raw)
{
    // The NUL may stand in the middle of the name's own words.
    raw.replace('\0', QByteArray());
    if (classifyEntry(raw) == EntryRole::Message)
        return true;
    return raw.endsWith(".xml") && raw.contains("com.microsoft.__Messages/")
        && !raw.contains("com.microsoft.__Attachments/") && !raw.contains("__message_attachment__");
}

QString ReportName(const QByteArray &raw)
{
    constexpr int kShown = 260;
    QString name;
    const QString decoded = QString::fromUtf8(raw.left(kShown * 4));
    bool cut = raw.size() > kShown * 4;
    for (const QChar c : decoded) {
        if (name.size() >= kShown) {
            cut = true;
            break;
        }
        // Written out as the save's lines write them, so a line stays one line of text.
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() <= 0x9F))
            name += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            name += c;
    }
    if (cut)
        name += QStringLiteral("\u2026 (%1 bytes)").arg(raw.size());
    return name;
}

QString EntryLine(const QByteArray &name, qint64 offset, const QString &rest, EntryPlace place)
{
    static const char *const forms[] = {"Entry \"%1\" at archive offset %2", "Entry \"%1\" (data at archive offset %2)",
                                        "Entry \"%1\" at archive offset %2 (central directory)"};
    if (place == EntryPlace::None)
        return QStringLiteral("Entry \"%1\"").arg(ReportName(name)) + rest;
    // One pass over both: a name holding "%2" stays as it is.
    return QString::fromLatin1(forms[int(place)]).arg(ReportName(name), QString::number(offset)) + rest;
}

void AppendListed(QStringList &lines, const QString &summary, const QStringList &items, qint64 total)
{
    lines << summary;
    for (int k = 0; k < items.size() && size_t(k) < kListedEntries; ++k)
        lines << QStringLiteral("    ") + items[k];
    if (total > qMin<qint64>(items.size(), qint64(kListedEntries)))
        lines
            << QStringLiteral("    \u2026 and %1 more").arg(total - qMin<qint64>(items.size(), qint64(kListedEntries)));
}

bool validUtf8(const QByteArray &raw)
{
    const auto *p = reinterpret_cast<const uchar *>(raw.constData());
    const auto *end = p + raw.size();
    // Names are nearly always ASCII: eight bytes at a time until a byte with its high bit.
    for (quint64 word; end - p >= 8; p += 8) {
        memcpy(&word, p, 8);
        if (word & 0x8080808080808080ull)
            break;
    }
    while (p < end) {
        const uchar c = *p++;
        if (c < 0x80)
            continue;
        // Lead byte: its count of continuation bytes, and the smallest value it may encode
        // (overlong forms, surrogates and values past U+10FFFF are not UTF-8).
        int more;
        quint32 v, least;
        if (c >= 0xC2 && c <= 0xDF) {
            more = 1, v = c & 0x1F, least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, v = c & 0x0F, least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, v = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (end - p < more)
            return false;
        for (; more > 0; --more, ++p) {
            if ((*p & 0xC0) != 0x80)
                return false;
            v = v << 6 | (*p & 0x3F);
        }
        if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
            return false;
    }
    return true;
}

QString folderPathFor(const QStringList &parts, EntryRole role)
{
    // A name that starts at the root or with "./" still names its folder.
    int lead = 0;
    while (lead < parts.size() - 1 && (parts[lead].isEmpty() || parts[lead] == QLatin1String(".")))
        ++lead;
    if (lead > 0)
        return folderPathFor(parts.mid(lead), role);
    if (parts.isEmpty())
        return QString();
    int k = 0;
    if (parts.first() == QLatin1String("Accounts"))
        k = 2;
    else if (parts.first() == QLatin1String("Local"))
        k = 1;
    else
        return QString();
    if (role == EntryRole::Message)
        ++k;
    const int n = parts.size();
    if (n >= k + 2)
        return parts.mid(k, n - 1 - k).join(QLatin1Char('/'));
    if (n == k + 1)
        return parts.last();
    return QString();
}

QString ArchiveWalker::entryFolderPath(const QByteArray &name, EntryRole role)
{
    const int slash = name.lastIndexOf('/');
    if (slash > 0 && role == m_lastFolderRole && name.size() > slash + 1 && m_lastFolderName.size() == slash + 1
        && name.startsWith(m_lastFolderName))
        return m_lastFolderPath;
    const QStringList parts = QString::fromUtf8(name).split(QLatin1Char('/'));
    const QString path = folderPathFor(parts, role);
    // Only a path made of the folder levels alone serves the next name of the same folder; one
    // holding the file name does not. The cached file-name-free path is what folderPathFor
    // gives for any file name there, so compare it with a stand-in name.
    m_lastFolderName.clear();
    if (slash > 0 && name.size() > slash + 1) {
        QStringList other = parts;
        other.last() = QStringLiteral("x") + parts.last();
        if (folderPathFor(other, role) == path) {
            m_lastFolderName = name.left(slash + 1);
            m_lastFolderRole = role;
            m_lastFolderPath = path;
        }
    }
    return path;
}

}  // namespace olm
