// The mail preview: header labels, attachment tiles and body of one mail. The fields come from
// the shared message parse, so the preview lists what a save writes for the same message.

#include "browse/MailPreview.h"
#include "browse/MailPreviewParts.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/PreviewBody.h"
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
    const quint32 seconds = MailDateSeconds(mail, entryName);
    if (seconds == 0)
        return QString();
    const QDateTime local = QDateTime::fromSecsSinceEpoch(qint64(seconds), Qt::LocalTime);
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

    MailMessageFields fields = ParseMessageXml(ReadMessageXml(pRecord->llDataOffset, pRecord->dwDataLength));
    fields.strEntryName = ReadEntryName(pRecord->llNameOffset, pRecord->nNameLength);
    mailpreview::showHeader(*pRecord, fields);
    mailpreview::showBody(*pRecord, fields);
    FinishItemPreview();
}
