// Where a folder's messages go, and how each one is named in the save's report.

#include "save/mail/MailFrameParts.h"

#include "save/OutputLayout.h"
#include "save/mail/MessageFiles.h"
#include "scanner/ScanGlobals.h"

#include <QDir>

#include <algorithm>

namespace {

// Whether name is one the writer gives its own files in a folder named folderName: the folder's
// mailbox, or a numbered message file and, for pages, its attachments' folder.
bool writerFileName(const MailFormatStyle &style, const QByteArray &folderName, const QByteArray &name)
{
    const QByteArray extension = style.fileExtension.toUtf8();
    if (style.oneFilePerFolder)
        return name == folderName + extension;
    QByteArray number = name;
    if (number.endsWith(extension))
        number.chop(extension.size());
    else if (style.htmlPage && number.endsWith("_attachments"))
        number.chop(int(sizeof "_attachments") - 1);
    else
        return false;
    if (number.isEmpty() || number.at(0) == '0')
        return false;
    return std::all_of(number.cbegin(), number.cend(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

namespace mailframe {

QString mailFolderPath(const MailFormatStyle &style, const MailSaveContext &context, const QString &relative)
{
    return OutputRootFor(style.saveType, context.saveDir, context.strTime) + style.mailFolderName + relative
        + QLatin1Char('/');
}

QString mailboxPath(const MailFormatStyle &style, const MailSaveContext &context, const QString &relative)
{
    return mailFolderPath(style, context, relative) + relative.section(QLatin1Char('/'), -1) + style.fileExtension;
}

QString describe(const MailMLRC &rec, const QString &entryName)
{
    const QString which = entryName.isEmpty() ? QStringLiteral("at archive offset %1").arg(rec.llDataOffset)
                                              : NameForLine(entryName.toUtf8());
    return QStringLiteral("Mail \"%1\" (%2)").arg(QString::fromUtf8(rec.pSubject ? rec.pSubject : ""), which);
}

void noteFailure(MailSaveContext &context, const MailMLRC &rec, const QString &entryName, const QString &path,
                 const QString &error)
{
    ++context.failed;
    context.failures.append(QStringLiteral("%1 not written to %2: %3")
                                .arg(describe(rec, entryName), QDir::toNativeSeparators(path), error));
}

void noteFailure(MailSaveContext &context, const MailMLRC &rec, const MailMessageFields &fields, const QString &path,
                 const QString &error)
{
    noteFailure(context, rec, fields.strEntryName, path, error);
}

void noteIncomplete(MailSaveContext &context, const MailMLRC &rec, const QString &entryName, const QString &path,
                    const QStringList &missing)
{
    ++context.written;
    ++context.incomplete;
    context.incompletes.append(
        QStringLiteral("%1 written to %2 incomplete: %3")
            .arg(describe(rec, entryName), QDir::toNativeSeparators(path), missing.join(QLatin1String("; "))));
}

void noteUnreadable(const PreparedMessage &p, const MailFormatStyle &style, MailSaveContext &context)
{
    const QString where =
        style.oneFilePerFolder ? mailboxPath(style, context, p.relative) : mailFolderPath(style, context, p.relative);
    noteFailure(context, *p.rec, p.fields, where,
                p.failure.isEmpty() ? QStringLiteral("its text can no longer be read from the archive") : p.failure);
}

void nameOutputFolder(PreparedMessage &p, const MailFormatStyle &style, MailSaveContext &context)
{
    if (!context.outputFolders.ready())
        context.outputFolders.setRootBytes(mailFolderPath(style, context, QString()).toUtf8().size(),
                                           [style](const QByteArray &folderName, const QByteArray &name) {
                                               return writerFileName(style, folderName, name);
                                           });
    QByteArray raw = p.fields.strEntryName.toUtf8();
    // A NUL ended the name as read, or bytes that are no character read as U+FFFD: the folder
    // is the one the name's own bytes give.
    if ((p.rec->nNameLength > raw.size() || p.fields.strEntryName.contains(QChar::ReplacementCharacter))
        && p.rec->llNameOffset > 0)
        raw = ReadArchiveBytes(p.rec->llNameOffset, p.rec->nNameLength);
    p.relative = context.outputFolders.relativePath(raw, &context.recovered);
}

}  // namespace mailframe
