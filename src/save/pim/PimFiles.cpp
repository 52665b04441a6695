#include "save/pim/PimFiles.h"

#include "platform/FinderInfo.h"
#include "platform/WholeFile.h"
#include "save/MessageFields.h"
#include "save/OutputLayout.h"
#include "save/mail/MailWriter.h"
#include "save/pim/ItemFileName.h"
#include "scanner/WellFormed.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Enough for any real clash; a folder that refuses this many names has another problem.
constexpr int kMaxNumberedNames = 1000;

QString candidate(const PimFile &file, int number)
{
    QString stem = file.name;
    if (stem.isEmpty() || stem == QLatin1String(".") || stem == QLatin1String(".."))
        stem = QStringLiteral("Item");
    if (number > 0)
        stem += QLatin1Char('_') + QString::number(number);
    return file.folder + QLatin1Char('/') + stem + file.extension;
}

bool writeAll(int fd, const QByteArray &bytes, int *error)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// The name must not carry a path of its own: it comes from record data.
bool plainName(const QString &name)
{
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

}  // namespace

QString PimItemFolder(const MailSaveContext &context, bool appleMail, const QString &kind)
{
    return OutputRootFor(appleMail ? SaveTypeMBOX : SaveTypeRGE, context.saveDir, context.strTime) + QLatin1Char('/')
        + kind;
}

bool WritePimFile(const PimFile &file, const QByteArray &bytes, QString *path, QString *error)
{
    *path = candidate(file, 0);
    if (!plainName(file.name) || !plainName(file.extension)) {
        *error = QStringLiteral("unsafe file name");
        return false;
    }
    // Written without a name and named once whole: a hard stop leaves no cut file under a name.
    WholeFile whole;
    const int fd = whole.open(file.folder);
    if (fd < 0) {
        *error = qt_error_string(-fd);
        return false;
    }
    // Through a copy of the descriptor, closed and checked before the file is named: the
    // file keeps its own, as naming an unnamed file goes through it.
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    int why = copy < 0 ? errno : 0;
    bool ok = copy >= 0 && writeAll(copy, bytes, &why);
    if (copy >= 0 && ::close(copy) != 0 && ok) {
        why = errno;
        ok = false;
    }
    if (!ok) {
        *error = qt_error_string(why ? why : EIO);
        return false;
    }
    int number = 0;
    for (; number <= kMaxNumberedNames; ++number) {
        const QString tried = candidate(file, number);
        why = whole.publish(tried);
        if (why == 0) {
            *path = tried;
            break;
        }
        if (why != EEXIST)
            break;
    }
    if (why != 0) {
        *error = number > kMaxNumberedNames ? QStringLiteral("no free file name") : qt_error_string(why);
        return false;
    }
    if (file.finderType != 0)
        SetFinderTypeCreator(*path, file.finderType, file.finderCreator);
    return true;
}

QString FallbackItemName(const char *kind, qint64 position)
{
    return QStringLiteral("%1 %2").arg(QLatin1String(kind)).arg(position);
}

PimFile ItemFile(const PimFile &target, const char *szUuid, const char *kind, qint64 position, QString *uid)
{
    PimFile file = target;
    file.name = ItemFileName(szUuid);
    *uid = DashedUuid(szUuid);
    if (file.name.isEmpty()) {
        file.name = FallbackItemName(kind, position);
        *uid = file.name;
    }
    return file;
}

void SavePimItem(MailSaveContext &context, const PimFile &file, const QByteArray &bytes, const QString &what)
{
    QString path, error;
    const bool written = WritePimFile(file, bytes, &path, &error);
    NotePimResult(context, written, what, path, error);
}

void NotePimResult(MailSaveContext &context, bool written, const QString &what, const QString &path,
                   const QString &error)
{
    if (written) {
        ++context.written;
        return;
    }
    ++context.failed;
    context.failures.append(
        QStringLiteral("%1 not written to %2: %3").arg(what, QDir::toNativeSeparators(path), error));
}

void NotePimIncomplete(MailSaveContext &context, const QString &what, const QString &path, const QString &reason)
{
    // The file stands: it counts as written, and apart as incomplete.
    ++context.written;
    ++context.incomplete;
    context.incompletes.append(
        QStringLiteral("%1 written to %2 incomplete: %3").arg(what, QDir::toNativeSeparators(path), reason));
}

bool ReadBackIntact(const QByteArray &bytes, qint64 length)
{
    return length <= 0 || (bytes.size() == length && bytes.at(0) != '\0');
}

QByteArray LongTextOf(const QByteArray &element, qint64 elementOffset, qint64 offset, quint32 length)
{
    if (length == 0)
        return QByteArray();
    const qint64 at = offset - elementOffset;
    if (at >= 0 && at + qint64(length) <= element.size())
        return QByteArray::fromRawData(element.constData() + at, int(length));
    return ReadArchiveBytes(offset, length);
}

void NoteUnreadable(MailSaveContext &context, const QString &what, const PimFile &file)
{
    NotePimResult(context, false, what, file.folder, QStringLiteral("its text can no longer be read from the archive"));
}

SoundElement SoundElementOf(const QByteArray &element, std::string_view startTag)
{
    SoundElement out;
    const std::string_view text(element.constData(), size_t(element.size()));
    const ItemFault fault = CheckItem(text, startTag);
    if (fault.whole()) {
        out.bytes = element;
        return out;
    }
    const std::string sound = SoundPart(text, fault);
    out.bytes = QByteArray(sound.data(), int(sound.size()));
    out.damage = NotWellFormedReason(fault);
    out.nothingWhole = fault.wholeChildren == 0;
    return out;
}
