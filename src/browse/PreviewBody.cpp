#include "browse/PreviewBody.h"

#include "browse/MailPreview.h"
#include "browse/PreviewArchive.h"
#include "browse/PreviewMarkup.h"
#include "browse/PreviewWriter.h"
#include "browse/SafePreviewDocument.h"
#include "save/mail/MessageFiles.h"

#include <QAbstractTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFormat>
#include <QTextFrame>

#include <memory>
#include <optional>
#include <utility>

using previewbody::PreparedBody;
using previewbody::PreviewLook;

namespace {

// Nesting deeper than this is shown flat: the toolkit's layout slows down steeply with depth, and
// mail's own nesting stays well within it.
constexpr int kPreviewDepth = 24;
// Markup larger than this (its pictures not counted), or with more tags, shows as text: the
// toolkit would take seconds to read it into a document, and reading it is not interrupted.
constexpr int kMaxPreviewMarkup = 2 * 1024 * 1024;
constexpr int kMaxPreviewTags = 60000;
// The document's layout may take this much work (frameWork): the bench's 1.2 MB newsletter stays
// within it and shows as markup after about 2.3 s on a machine at rest, built, decoded and laid
// out on the worker (bench/README.md). The view shows it as laid out here, but lays it out again
// on its own thread when its width changes (the user resizes the pane): a document of more work
// shows as its text. Counted on the mail, never timed, so one mail shows the same way on every
// click and machine.
constexpr qint64 kMaxLayoutWork = 5000000;
// Text lines longer than this are broken: one very long line takes the toolkit seconds to lay
// out, whatever its length on screen.
constexpr int kMaxLineChars = 4096;
// What a block weighs in frameWork beside its characters.
constexpr int kBlockWork = 40;

bool isBlockTag(const QByteArray &name)
{
    static const QByteArrayList blocks = {"p",  "div", "br", "tr", "li", "h1", "h2",    "h3",         "h4",     "h5",
                                          "h6", "pre", "hr", "dt", "dd", "ul", "table", "blockquote", "caption"};
    return blocks.contains(name);
}

QString withShortLines(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / kMaxLineChars + 1);
    int run = 0;
    for (const QChar c : text) {
        run = c == QLatin1Char('\n') ? 0 : run + 1;
        if (run > kMaxLineChars) {
            out += QLatin1Char('\n');
            run = 1;
        }
        out += c;
    }
    return out;
}

// The markup without the pictures it carries in data: urls.
QByteArray withoutPictureData(const QByteArray &markup)
{
    QByteArray out;
    int from = 0;
    for (int at = markup.indexOf("=\"data:"); at >= 0; at = markup.indexOf("=\"data:", from)) {
        const int close = markup.indexOf('"', at + 2);
        if (close < 0)
            break;
        out.append(markup.constData() + from, at - from);
        out += "=\"data:,";
        from = close;
    }
    return from == 0 ? markup : out + markup.mid(from);
}

// The markup with each picture that follows the end of a block (</p><img>) starting a line of its
// own, as in a browser: the toolkit would add it to the end of that block, its text then standing
// at the picture's foot. A zero-width space before it makes the toolkit open a block there.
QByteArray withPicturesAfterBlocksOnTheirOwnLine(const QByteArray &markup)
{
    static const QByteArrayList blockEnds = {"</p>",  "</div>", "</h1>",    "</h2>",         "</h3>",
                                             "</h4>", "</h5>",  "</h6>",    "</ul>",         "</ol>",
                                             "</li>", "</pre>", "</table>", "</blockquote>", "</center>"};
    QByteArray out;
    int from = 0;
    for (int at = markup.indexOf("<img"); at >= 0; at = markup.indexOf("<img", at + 4)) {
        int end = at;
        while (end > 0 && QChar::isSpace(uchar(markup.at(end - 1))))
            --end;
        const int open = end > 0 && markup.at(end - 1) == '>' ? markup.lastIndexOf('<', end - 1) : -1;
        if (open < 0 || !blockEnds.contains(markup.mid(open, end - open).toLower()))
            continue;
        out.append(markup.constData() + from, at - from);
        out += "&#8203;";
        from = at;
    }
    return from == 0 ? markup : out + markup.mid(from);
}

}  // namespace

PreviewLook previewbody::lookOf(QTextBrowser *view)
{
    const QTextDocument *shown = view->document();
    const QScrollBar *bar = view->verticalScrollBar();
    const int barWidth = bar->isVisible() ? bar->width() : 0;
    // A font of the job's own: a copy shares the view's, whose cached faces the window's thread
    // swaps while the worker would use them. Any setter makes it a font of its own.
    QFont font = shown->defaultFont();
    font.setKerning(font.kerning());
    return {font,
            shown->defaultTextOption(),
            shown->documentMargin(),
            shown->defaultStyleSheet(),
            view->viewport()->width() + barWidth,
            view->viewport()->height(),
            bar->sizeHint().width()};
}

namespace {

std::unique_ptr<SafePreviewDocument> newDocument(const PreviewLook &look)
{
    auto document = std::make_unique<SafePreviewDocument>();
    document->setUndoRedoEnabled(false);
    document->setDefaultFont(look.font);
    document->setDefaultTextOption(look.option);
    document->setDocumentMargin(look.margin);
    document->setDefaultStyleSheet(look.styleSheet);
    return document;
}

// Lays the whole document out at the width the view will give it: its whole width, or less its
// scroll bar when it is taller than the view. Returns whether the scroll bar took its room.
bool layOut(QTextDocument *document, const PreviewLook &look)
{
    document->setTextWidth(qMax(look.width, 100));
    if (document->documentLayout()->documentSize().height() > look.height && look.width - look.barWidth >= 100) {
        document->setTextWidth(look.width - look.barWidth);
        document->documentLayout()->documentSize();
        return true;
    }
    return false;
}

// The document the view shows: the same content as laid, shown through it, so that the window's
// thread never lays it out.
std::unique_ptr<SafePreviewDocument> shownDocument(std::unique_ptr<SafePreviewDocument> laid, const PreviewLook &look)
{
    auto shown = newDocument(look);
    shown->rootFrame()->setFrameFormat(laid->rootFrame()->frameFormat());
    QTextCursor(shown.get()).insertFragment(QTextDocumentFragment(laid.get()));
    for (QTextBlock block = shown->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QUrl name(format.toImageFormat().name());
            shown->addResource(QTextDocument::ImageResource, name, laid->resource(QTextDocument::ImageResource, name));
        }
    }
    HandOverLaidOut(shown.get(), laid.release());
    return shown;
}

// The work laying the document out takes, counted on its content: each character and block once
// per table around it and again for each table around that one (a table lays its cells out to
// measure them, then to place them).
qint64 frameWork(QTextFrame *frame, int depth)
{
    qint64 work = 0;
    for (auto it = frame->begin(); !it.atEnd(); ++it) {
        if (QTextFrame *child = it.currentFrame())
            work += frameWork(child, depth + 1);
        else
            work += qint64(it.currentBlock().length() + kBlockWork) << qMin(depth, 30);
    }
    return work;
}

// Decodes the data: pictures the document shows now, so that laying it out weighs the layout only.
void loadPictures(QTextDocument *document, const std::atomic<bool> &stop)
{
    for (QTextBlock block = document->begin(); block.isValid() && !stop; block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isImageFormat())
                document->resource(QTextDocument::ImageResource, QUrl(format.toImageFormat().name()));
        }
    }
}

}  // namespace

// An item's preview written as the view writes (PreviewWriter), starting in the view's character
// format, and laid out.
PreparedBody previewbody::prepareWritten(const PreviewWrite &write, const QTextCharFormat &format,
                                         const PreviewLook &look, const std::atomic<bool> &stop)
{
    auto laid = newDocument(look);
    QTextCursor cursor(laid.get());
    cursor.setCharFormat(format);
    PreviewWriter writer(cursor);
    write(writer, stop);
    if (stop)
        return PreparedBody();
    PreparedBody prepared;
    prepared.format = writer.cursor().charFormat();
    prepared.besideBar = layOut(laid.get(), look);
    prepared.document = shownDocument(std::move(laid), look);
    return prepared;
}

PreparedBody previewbody::prepareText(const QString &text, const PreviewLook &look)
{
    PreparedBody prepared;
    prepared.shown = withShortLines(text);
    auto laid = newDocument(look);
    laid->setPlainText(prepared.shown);
    prepared.besideBar = layOut(laid.get(), look);
    prepared.document = shownDocument(std::move(laid), look);
    return prepared;
}

namespace {

// The longest run of text in the filtered markup with no place to wrap: blanks and characters
// past ASCII (the toolkit breaks between ideographs) end a run; tags do not, and style sheets are
// no text. A word of megabytes takes the toolkit minutes to lay out, however little of it shows.
int longestUnbrokenRun(const QByteArray &markup)
{
    int longest = 0;
    int run = 0;
    for (int at = 0; at < markup.size(); ++at) {
        const char c = markup.at(at);
        if (c == '<') {
            const bool style = markup.mid(at, 6).toLower() == "<style";
            const int end = style ? markup.indexOf("</style", at) : markup.indexOf('>', at);
            if (end < 0)
                break;
            at = end;
            continue;
        }
        const bool breaks = c == ' ' || c == '\t' || c == '\n' || c == '\r' || (static_cast<unsigned char>(c) & 0x80);
        run = breaks ? 0 : run + 1;
        longest = qMax(longest, run);
    }
    return longest;
}

}  // namespace

PreparedBody previewbody::prepareMarkup(const QString &body, const PreviewLook &look,
                                        const InlinePictureEntries &pictures, const PreviewArchive *archive,
                                        const std::atomic<bool> &stop)
{
    const QByteArray markup = InertMarkup(body.toUtf8(), nullptr, &stop, kPreviewDepth);
    if (stop)
        return PreparedBody();
    // The pictures data: addresses carry are not what the layout's cost grows with.
    const QByteArray weighed = withoutPictureData(markup);
    if (weighed.size() > kMaxPreviewMarkup || weighed.count('<') > kMaxPreviewTags
        || longestUnbrokenRun(weighed) > kMaxLineChars)
        return prepareText(TextOfInertMarkup(markup), look);
    PreparedBody prepared;
    auto laid = newDocument(look);
    if (archive)
        AddInlinePictures(laid.get(), pictures, *archive, &stop);
    prepared.shown = QString::fromUtf8(WithUnsetDirectionsLeftToRight(
        withPicturesAfterBlocksOnTheirOwnLine(WithQuoteBordersDrawn(WithEmptyParagraphsKept(markup)))));
    laid->setHtml(prepared.shown);
    loadPictures(laid.get(), stop);
    if (stop)
        return PreparedBody();
    if (frameWork(laid->rootFrame(), 0) > kMaxLayoutWork)
        return prepareText(laid->toPlainText().remove(QChar::ObjectReplacementCharacter), look);
    prepared.besideBar = layOut(laid.get(), look);
    prepared.html = true;
    prepared.document = shownDocument(std::move(laid), look);
    return prepared;
}

QString TextOfInertMarkup(const QByteArray &markup)
{
    QByteArray text;
    text.reserve(markup.size());
    int i = 0;
    while (i < markup.size()) {
        const char c = markup[i];
        if (c != '<') {
            text += c;
            ++i;
            continue;
        }
        const int close = markup.indexOf('>', i);
        if (close < 0)
            break;
        const bool end = markup[i + 1] == '/';
        QByteArray name = markup.mid(i + (end ? 2 : 1), close - i - (end ? 2 : 1));
        const int blank = name.indexOf(' ');
        name = (blank < 0 ? name : name.left(blank)).toLower();
        i = close + 1;
        if (name == "style" && !end) {
            const int after = markup.indexOf("</style>", i);
            i = after < 0 ? markup.size() : after + 8;
        } else if (name == "td" || name == "th") {
            if (!end)
                text += '\t';
        } else if (isBlockTag(name) && !text.endsWith('\n') && !text.isEmpty()) {
            text += '\n';
        }
    }
    return QString::fromUtf8(text)
        .replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
}

QString PicturesAfterBlocksOnTheirOwnLine(const QString &markup)
{
    if (!markup.contains(QLatin1String("<img")))
        return markup;
    return QString::fromUtf8(withPicturesAfterBlocksOnTheirOwnLine(markup.toUtf8()));
}

QString PreparePreviewBody(const QString &body, int width, const std::atomic<bool> &stop, bool *html)
{
    PreviewLook look;
    look.width = width;
    const PreparedBody prepared = previewbody::prepareMarkup(body, look, {}, nullptr, stop);
    *html = prepared.html;
    return prepared.shown;
}
