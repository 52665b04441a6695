#include "browse/PreviewBody.h"

#include "save/mail/MessageFiles.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QPointer>
#include <QRunnable>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFormat>
#include <QTextObjectInterface>
#include <QThreadPool>

#include <ctime>
#include <memory>

namespace {

// Nesting deeper than this is shown flat: the toolkit's layout slows down steeply with depth, and
// mail's own nesting stays well within it.
constexpr int kPreviewDepth = 24;
// Markup larger than this (its pictures not counted) is not tried as markup: laying it out would
// hold the window for seconds.
constexpr int kMaxTrialMarkup = 512 * 1024;
// The trial may take this much CPU time: the window, which reads and lays the markup out again
// and paints it, then takes up to about three times as long, under a fifth of a second.
constexpr qint64 kMaxTrialNanoseconds = 75LL * 1000 * 1000;
// Text lines longer than this are broken: one very long line takes the toolkit seconds to lay
// out, whatever its length on screen.
constexpr int kMaxLineChars = 4096;

qint64 threadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The preview being prepared; owned by the window's thread.
struct PendingBody {
    std::atomic<bool> stop{false};
};
std::shared_ptr<PendingBody> gPending;

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

// Pictures in the trial take the size the markup gives them and are never decoded nor read: the
// trial weighs the markup, and the pictures the view shows are the message's own.
class UnreadPictures : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    explicit UnreadPictures(QObject *parent) : QObject(parent) {}
    QSizeF intrinsicSize(QTextDocument *, int, const QTextFormat &format) override
    {
        const QTextImageFormat f = format.toImageFormat();
        return QSizeF(qMax(f.width(), 0.0), qMax(f.height(), 0.0));
    }
    void drawObject(QPainter *, const QRectF &, QTextDocument *, int, const QTextFormat &) override {}
};

class TrialDocument : public QTextDocument {
public:
    TrialDocument() { documentLayout()->registerHandler(QTextFormat::ImageObject, new UnreadPictures(this)); }

protected:
    QVariant loadResource(int, const QUrl &) override { return QVariant(); }
};

// The markup without the pictures it carries in data: urls, which the trial does not show: what
// the layout's cost grows with.
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

}  // namespace

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

QString PreparePreviewBody(const QString &body, int width, const std::atomic<bool> &stop, bool *html)
{
    *html = false;
    const QByteArray markup = InertMarkup(body.toUtf8(), nullptr, &stop, kPreviewDepth);
    if (stop)
        return QString();
    const QByteArray weighed = withoutPictureData(markup);
    if (weighed.size() > kMaxTrialMarkup)
        return withShortLines(TextOfInertMarkup(markup));
    const qint64 start = threadCpuNanoseconds();
    TrialDocument trial;
    trial.setHtml(QString::fromUtf8(weighed));
    trial.setTextWidth(qMax(width, 100));
    trial.size();
    if (threadCpuNanoseconds() - start <= kMaxTrialNanoseconds) {
        *html = true;
        return QString::fromUtf8(markup);
    }
    return withShortLines(trial.toPlainText().remove(QChar::ObjectReplacementCharacter));
}

void ShowPreviewBody(QTextBrowser *view, const QString &body)
{
    CancelPreviewBody();
    // Emptied as markup: pictures already registered with the view's document stay for the body.
    view->document()->setHtml(QString());
    view->setProperty(kPreviewShownAs, QVariant());
    auto pending = std::make_shared<PendingBody>();
    gPending = pending;
    const int width = view->viewport()->width();
    QPointer<QTextBrowser> target(view);
    QThreadPool::globalInstance()->start(QRunnable::create([pending, body, width, target] {
        bool html = false;
        const QString shown = PreparePreviewBody(body, width, pending->stop, &html);
        if (pending->stop)
            return;
        // Back on the window's thread; dropped when the view is gone or another body was asked.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [pending, shown, html, target] {
                if (!target || gPending != pending)
                    return;
                gPending.reset();
                // Tells tests and benches which it came to.
                target->setProperty(kPreviewShownAs, html ? "markup" : "text");
                if (html)
                    target->setHtml(shown);
                else
                    target->setPlainText(shown);
            },
            Qt::QueuedConnection);
    }));
}

bool PreviewBodyPending()
{
    return gPending != nullptr;
}

void CancelPreviewBody()
{
    if (gPending)
        gPending->stop = true;
    gPending.reset();
}

#include "PreviewBody.moc"
