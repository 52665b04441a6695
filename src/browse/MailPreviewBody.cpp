// The mail body as the preview shows it: markup or text.

#include "browse/MailPreview.h"
#include "browse/MailPreviewParts.h"

#include "browse/AttachmentTiles.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/DrawnText.h"
#include "browse/ItemElements.h"
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

namespace {

// Opening and closing texts of the HTML test, each tested exactly as written.
const char *const kHtmlPairs[][2] = {
    {"<html", "</html>"},
    {"<HTML", "</HTML>"},
    {"<table", "</table>"},
    {"<TABLE", "</TABLE>"},
    {"<body", "</body>"},
    {"<BODY", "</BODY>"},
    {"<tbody", "</tbody>"},
    {"<TBODY", "</TBODY>"},
    {"<td", "</td>"},
    {"<TD", "</TD>"},
    {"<tr", "</tr>"},
    {"<TR", "</TR>"},
    {"<div", "</div>"},
    {"<DIV", "</DIV>"},
    {"<br", "</br>"},
    {"<BR", "</BR>"},
    {"<small", "</small>"},
    {"<SMALL", "</SMALL>"},
    {"<strong", "</strong>"},
    {"<STRONG", "</STRONG>"},
    {"<map", "</map>"},
    {"<MAP", "</MAP>"},
    {"<head", "</head>"},
    {"<HEAD", "</HEAD>"},
    {"<title", "</title>"},
    {"<TITLE", "</TITLE>"},
    {"<b", "</b>"},
    {"<B", "</B>"},
    {"<a", "</a>"},
    {"<A", "</A>"},
    {"<br><font size=", "</font>"},
};

}  // namespace

mailpreview::ReadBody mailpreview::readBody(const MailMLRC &mail, const PreviewArchive &archive)
{
    ReadBody read;
    read.present = mail.llBodyOffset >= 1 && mail.dwBodyLength != 0;
    if (!read.present)
        return read;
    read.text = MailPreviewBody(archive.read(mail.llBodyOffset, mail.dwBodyLength, kMaxArchiveTextRead), &read.html);
    if (read.html && read.text.contains(QLatin1String("cid:")))
        read.contentIds = ReferencedContentIds(read.text);
    return read;
}

void mailpreview::showBody(const ReadBody &read, const MailMessageFields &f,
                           const std::shared_ptr<const PreviewArchive> &archive)
{
    QTextBrowser *htmlView = Panes().htmlPreview;
    UseSafePreviewDocument(htmlView);
    CancelPreviewJob();
    if (!read.present) {
        htmlView->clear();
        htmlView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        htmlView->show();
        return;
    }
    const bool html = read.html;
    const QString &body = read.text;
    if (!g_mailPreviewMarkerLine.isEmpty() && body.contains(g_mailPreviewMarkerLine)) {
        htmlView->close();
        QTextBrowser *textView = Panes().textPreview;
        UseSafePreviewDocument(textView);
        if (html)
            ShowPreviewBody(textView, body);
        else
            ShowPreviewText(textView, body);
        textView->show();
        return;
    }
    if (html)
        ShowPreviewBody(htmlView, body,
                        f.attachments.isEmpty() ? InlinePictureEntries()
                                                : InlinePicturesOf(read.contentIds, f, CurrentAttachmentIndex()),
                        archive);
    else
        ShowPreviewText(htmlView, body);
    htmlView->show();
}

bool IsPreviewHtmlBody(const QString &body)
{
    // Every text of the test starts with '<': one walk over the body's '<' finds them all, each
    // '<' tried only against the texts whose second character follows it.
    static const QVector<QVector<int>> bySecond = [] {
        QVector<QVector<int>> texts(128);
        for (int k = 0; k < int(std::size(kHtmlPairs)) * 2; ++k)
            texts[uchar(kHtmlPairs[k / 2][k % 2][1])].append(k);
        return texts;
    }();
    QVector<bool> seen(int(std::size(kHtmlPairs)) * 2, false);
    const QChar *c = body.constData();
    const int size = body.size();
    for (int at = body.indexOf(QLatin1Char('<')); at >= 0 && at + 1 < size;
         at = body.indexOf(QLatin1Char('<'), at + 1)) {
        const ushort next = c[at + 1].unicode();
        if (next >= 128)
            continue;
        for (const int k : bySecond.at(next)) {
            const QLatin1String text(kHtmlPairs[k / 2][k % 2]);
            if (seen[k] || size - at < text.size() || QStringView(c + at, text.size()) != text)
                continue;
            seen[k] = true;
            if (seen[k ^ 1])
                return true;
        }
    }
    return false;
}

QString MailPreviewBody(const QByteArray &stored, bool *html)
{
    QString body = PreviewLongText(stored, EntityForm::Preview);
    body.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    *html = IsPreviewHtmlBody(body);
    // The exporter ends a text body with a line end of its own; nothing else is cut.
    if (!*html && body.endsWith(QLatin1Char('\n')))
        body.chop(1);
    return body;
}
