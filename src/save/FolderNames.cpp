#include "save/FolderNames.h"

#include <QStringList>

namespace {

const QLatin1String kFolder1("Folder1");

// File names hold at most 255 bytes; the folder's mailbox adds its extension to the last one.
constexpr int kMaxComponentBytes = 250;

// A folder name from the archive as one safe component: no control characters, never empty,
// never "." or "..", never longer than a file name may be (the folder's messages could not be
// written at all).
QString safeComponent(QString name)
{
    for (QChar &ch : name) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F)
            ch = QLatin1Char('_');
    }
    const QByteArray utf8 = name.toUtf8();
    if (utf8.size() > kMaxComponentBytes) {
        int end = kMaxComponentBytes;
        while (end > 0 && (quint8(utf8.at(end)) & 0xC0) == 0x80)
            --end;
        name = QString::fromUtf8(utf8.constData(), end);
    }
    if (name.count(QLatin1Char('.')) == name.size())
        name = QString(qMax(1, name.size()), QLatin1Char('_'));
    return name;
}

QString folderRelativePath(const QString &entryName)
{
    // The exporter names messages Accounts/<account>/<store>/<folders...>/<file> and
    // Local/<store>/<folders...>/<file>. A name without folder levels gives no folder; it would
    // otherwise become a mailbox of its own named after the message file.
    const QStringList parts = entryName.split(QLatin1Char('/'));
    int first = -1;
    if (parts.first() == QLatin1String("Accounts"))
        first = 3;
    else if (parts.first() == QLatin1String("Local"))
        first = 2;
    const int last = parts.size() - 1;
    if (first < 0 || last <= first)
        return kFolder1;
    QStringList folders;
    for (int i = first; i < last; ++i)
        folders.append(safeComponent(parts.at(i)));
    return folders.join(QLatin1Char('/'));
}

}  // namespace

QString MailFolderRelativePath(const QString &entryName)
{
    // The path depends only on what stands before the file name, and a folder's messages come
    // one after another: the last answer serves again while that part stays the same.
    thread_local QString lastDirectory;
    thread_local QString lastPath;
    const QStringRef directory = entryName.leftRef(qMax(0, entryName.lastIndexOf(QLatin1Char('/'))));
    if (lastPath.isNull() || directory != lastDirectory) {
        lastPath = folderRelativePath(entryName);
        lastDirectory = directory.toString();
    }
    return lastPath;
}
