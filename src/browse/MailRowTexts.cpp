// The texts of a mail row: sender, subject, date and the excerpt of its body.

#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/ItemListMailRow.h"
#include "browse/MailPreview.h"
#include "browse/SelectionPalette.h"
#include "platform/ArchiveSource.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QApplication>
#include <QDateTime>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QPixmapCache>
#include <QTextDocument>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QVector>

namespace {

constexpr int kSnippetChars = 160;
// A snippet needs the start of the body only; a damaged record may claim gigabytes.
constexpr qint64 kSnippetReadLimit = 1 << 20;
constexpr qint32 kMaxEntryName = 65535;
}  // namespace

QString MailSenderText(const char *fromNames)
{
    QString text = QString::fromUtf8(fromNames ? fromNames : "");
    if (text.count(QLatin1Char(';')) < 2) {
        text.remove(QLatin1Char(';'));
        return text;
    }
    text.chop(1);
    return text.mid(text.lastIndexOf(QLatin1Char(';')) + 1);
}

QString MailDateText(const MailMLRC &mail, const QString &entryName)
{
    if (entryName.isEmpty())
        return QString();
    // A mail without the time its folder shows has no date, as in the preview: not 1970.
    const quint32 seconds = MailDateSeconds(mail, entryName);
    if (seconds == 0)
        return QString();
    return QDateTime::fromSecsSinceEpoch(qint64(seconds), Qt::LocalTime).toString(QStringLiteral("dd/MM/yyyy"));
}

QString MailSnippet(const QByteArray &body)
{
    QByteArray bytes = body;
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    QString text = QString::fromUtf8(bytes);
    // The preview's order, whose "&amp;lt;" is gone by its turn.
    text = UnescapeXmlEntities(text, EntityForm::Preview);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // A bare document loads no images or style sheets named by the archive.
    QTextDocument doc;
    doc.setHtml(text);
    text = doc.toPlainText();
    text.remove(QChar(0x200B));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    text = text.simplified();
    if (text.size() > kSnippetChars) {
        int keep = kSnippetChars;
        if (text.at(keep - 1).isHighSurrogate())
            --keep;
        // A copy, not a truncation: the row would otherwise keep the whole body's capacity.
        text = text.left(keep);
    }
    text.squeeze();
    return text;
}

QString MailEntryName(const MailMLRC &mail, qint64 fileSize)
{
    if (mail.nNameLength <= 0 || mail.nNameLength > kMaxEntryName || mail.llNameOffset <= 0)
        return QString();
    QByteArray name = ReadArchiveBytes(mail.llNameOffset, qMin<qint64>(mail.nNameLength, fileSize - mail.llNameOffset));
    const int nul = name.indexOf('\0');
    if (nul >= 0)
        name.truncate(nul);
    return QString::fromUtf8(name);
}
MailRowTexts MailRowTextsFor(const MailMLRC &mail, qint64 fileSize)
{
    MailRowTexts t;
    t.date = MailDateText(mail, MailEntryName(mail, fileSize));
    t.sender = MailSenderText(mail.pFromNames);
    t.subject = QString::fromUtf8(mail.pSubject ? mail.pSubject : "");
    t.hasSnippet = mail.llBodyOffset > 0 && mail.dwBodyLength != 0;
    if (t.hasSnippet)
        t.snippet = MailSnippet(ReadArchiveBytes(
            mail.llBodyOffset,
            qMin<qint64>(qMin<qint64>(mail.dwBodyLength, kSnippetReadLimit), fileSize - mail.llBodyOffset)));
    return t;
}
