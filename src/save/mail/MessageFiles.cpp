// One numbered file per message: exclusive creation, and the .emlx length line.

#include "save/mail/MessageFiles.h"

#include <QDir>
#include <QFile>

#include <climits>

namespace {

// The mail program pads the count to ten characters; the line is rewritten in place.
constexpr int kLengthDigits = 10;

// Written in a part declared 8bit: no quoted-printable escapes in it.
const char kEmptyBodyHtml[] = "<html><head></head><body style=\"word-wrap: break-word; -webkit-nbsp-mode: space; "
                              "-webkit-line-break: after-white-space; color: rgb(0, 0, 0); font-size: 14px; "
                              "font-family: Calibri, sans-serif;\"><div><br></div></body></html>";

QStringList writeWithLengthLine(const MailMessage &message)
{
    const QByteArray placeholder = QByteArray(kLengthDigits, ' ') + '\n';
    message.out.write(placeholder);
    QStringList missing = WriteMailSteps(message);
    const QByteArray count = QByteArray::number(message.out.bytesWritten() - placeholder.size());
    if (count.size() > kLengthDigits) {
        missing << QStringLiteral("the message is too large for its length line");
        return missing;
    }
    message.out.rewriteStart(count.leftJustified(kLengthDigits, ' '));
    return missing;
}

}  // namespace

QByteArray EmptyBodyHtml()
{
    return QByteArray::fromRawData(kEmptyBodyHtml, int(sizeof kEmptyBodyHtml - 1));
}

bool OpenMessageFile(MailOutput &out, const MailFormatStyle &style, MailSaveContext &context, const QString &folder,
                     QString *path, QString *error)
{
    *path = folder;
    if (!context.lastFileNumber.contains(folder)) {
        if (!QDir().mkpath(folder)) {
            *error = QStringLiteral("the folder could not be made");
            return false;
        }
        context.lastFileNumber.insert(folder, 0);
    }
    // The number is taken when the file is whole; a name that exists (another folder's message,
    // an earlier save) is skipped, never written into.
    const QString extension = style.fileExtension;
    auto nextName = [&context, folder, extension]() {
        quint32 &last = context.lastFileNumber[folder];
        return last == UINT_MAX ? QString() : folder + QString::number(++last) + extension;
    };
    if (!out.createNew(folder, nextName)) {
        *error = out.error();
        return false;
    }
    return true;
}

QStringList WriteMessageFile(const MailMessage &message)
{
    if (message.style.htmlPage)
        return WriteHtmlPage(message);
    if (message.style.lengthFirstLine)
        return writeWithLengthLine(message);
    return WriteMailSteps(message);
}
