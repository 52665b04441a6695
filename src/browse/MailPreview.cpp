// The mail preview: header labels, attachment tiles and body of one mail. The fields come from
// the shared message parse, so the preview lists what a save writes for the same message.

#include "browse/MailPreview.h"
#include "browse/MailPreviewParts.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewJob.h"
#include "browse/QPreviewOfItems.h"
#include "browse/ResizeFollower.h"
#include "browse/SafePreviewDocument.h"
#include "save/AttachmentIndex.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QAbstractTextDocumentLayout>
#include <QBoxLayout>
#include <QBuffer>
#include <QDateTime>
#include <QEvent>
#include <QFontMetrics>
#include <QGridLayout>
#include <QImage>
#include <QImageReader>
#include <QLabel>
#include <QLayout>
#include <QLocale>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QTreeWidget>
#include <QVector>
#include <QtMath>

#include <algorithm>
#include <iterator>
#include <memory>

QString g_mailPreviewMarkerLine;

namespace {
// The list without one ';' at its very end.
QString withoutFinalSemicolon(QString text)
{
    if (text.endsWith(QLatin1Char(';')))
        text.chop(1);
    return text;
}
}  // namespace

QString MailSenderLine(const QString &fromList)
{
    if (fromList.count(QLatin1Char(';')) < 2) {
        QString one = fromList;
        return one.remove(QLatin1Char(';'));
    }
    const QString list = fromList.chopped(1);
    return list.mid(list.lastIndexOf(QLatin1Char(';')) + 1);
}

QString MailSenderHeader(const MailMessageFields &fields)
{
    const QString address = MailSenderLine(fields.strFromList);
    return address.isEmpty() || fields.lastSenderName.isEmpty() ? address : fields.lastSenderName;
}

QString MailSubjectLine(const char *subject)
{
    if (!subject)
        return QStringLiteral("<no subject>");
    return withoutFinalSemicolon(QString::fromUtf8(subject));
}

QString MailListForm(const QString &list)
{
    return withoutFinalSemicolon(list).replace(QLatin1Char(';'), QLatin1String(";  "));
}
QString MailPreviewDate(const MailMLRC &mail, const QString &entryName)
{
    // A recovered mail has no entry name: its direction and its own times still pick the date.
    qint64 seconds = 0;
    if (!MailShownSeconds(mail, entryName, &seconds))
        return QString();
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime);
    return QLocale::c().toString(local, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss AP"));
}
void QPreviewOfItems::MessageFieldsForThePreview(MailMLRC *pRecord)
{
    if (!Panes().mailHeaderText || !pRecord)
        return;
    Panes().mailHeaderText->clear();
    Panes().mailHeaderText->show();
    Panes().textPreview->clear();
    Panes().textPreview->hide();
    Panes().htmlPreview->clear();
    Panes().mailHeaderText->setTextInteractionFlags(Qt::NoTextInteraction);
    Panes().mailHeaderText->setFontPointSize(11);

    // The message is read and parsed on the preview's worker, through a handle of its own: its
    // cost grows with the message. The window then shows what came of it, for the same record of
    // the same listing only.
    const MailMLRC mail = *pRecord;
    const quint64 serial = g_itemListFillSerial;
    std::shared_ptr<const PreviewArchive> archive = PreviewArchive::OfOpenArchive();
    StartPreviewJob([pRecord, mail, serial, archive](const std::atomic<bool> &stop) -> PreviewFinish {
        auto fields = std::make_shared<MailMessageFields>(
            ParseMessageXml(archive->read(mail.llDataOffset, mail.dwDataLength, kMaxArchiveTextRead)));
        // ZIP names have 16-bit lengths; anything else is damage.
        if (mail.llNameOffset > 0 && mail.nNameLength > 0 && mail.nNameLength <= 65535)
            fields->strEntryName =
                QString::fromUtf8(UpToFirstNul(archive->read(mail.llNameOffset, mail.nNameLength, 65535)));
        auto body = std::make_shared<mailpreview::ReadBody>(mailpreview::readBody(mail, *archive));
        if (stop)
            return nullptr;
        return [pRecord, serial, archive, fields, body] {
            if (serial != g_itemListFillSerial || !Panes().mailHeaderText)
                return;
            mailpreview::showHeader(*pRecord, *fields);
            mailpreview::showBody(*body, *fields, archive);
            FinishItemPreview();
        };
    });
}
