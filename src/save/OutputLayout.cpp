#include "save/OutputLayout.h"

#include <QFile>

#include <sys/stat.h>

QString OutputRootFor(SaveType type, const QString &saveDir, const QString &stamp)
{
    switch (type) {
    case SaveTypeOLM:
        return saveDir;
    case SaveTypeRGE:
        return saveDir + QStringLiteral("/Main Identity") + stamp + QStringLiteral(".rge");
    case SaveTypeMBOX:
    case SaveTypeEMLX:
    case SaveTypeEML:
        return saveDir + QStringLiteral("/Converted Data") + stamp;
    case SaveTypeHTML:
        return saveDir + QStringLiteral("/Repaired Data") + stamp;
    case SaveTypeInvalid:
        break;
    }
    return QString();
}

QString WriterOutputFor(SaveType type, const QString &saveDir, const QString &stamp)
{
    if (type == SaveTypeOLM)
        return saveDir + QLatin1Char('/') + QLatin1String(kRepairedOlmFileName);
    return OutputRootFor(type, saveDir, stamp);
}

QString SaveReportPathFor(SaveType type, const QString &saveDir, const QString &stamp)
{
    // The package format defines what its folder holds: the report stands beside it.
    const QString root = type == SaveTypeRGE ? saveDir : OutputRootFor(type, saveDir, stamp);
    if (root.isEmpty())
        return root;
    return root + QLatin1Char('/') + QString::fromLatin1(kSaveReportFileName).arg(stamp);
}

bool IsSameFile(int fd, const QString &path)
{
    if (fd < 0 || path.isEmpty())
        return false;
    struct stat opened {};
    struct stat named {};
    if (::fstat(fd, &opened) != 0 || ::stat(QFile::encodeName(path).constData(), &named) != 0)
        return false;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}
