// The window with folders of costly mail: an archive is built of folders of markup that is slow
// to read or lay out, of realistic newsletters from 30 KB to 1 MB, of pictures (huge ones, one
// entry named many times, many different ones) and of mails with thousands of attachments. Each
// folder is opened as a user opens it, and each of its mails selected in turn; printed are the
// longest wait of the window's event loop, the time until the body showed, and whether it showed
// as markup or as text.
//   olmfolderwindowbench [--grab DIR] [FOLDER ...]
// Run it under xvfb-run, or with QT_QPA_PLATFORM=offscreen where there is no display.

#include "browse/FolderTree.h"
#include "browse/ItemListFill.h"
#include "browse/PreviewJob.h"
#include "platform/WorkerGlobals.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"

#include "OlmXml.h"
#include "TestArchiveBuilder.h"
#include "WindowBenchUtil.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QtMath>

#include <cstdio>
#include <functional>
#include <vector>

namespace {

const char kMessages[] = "Local/com.microsoft.__Messages/";

QByteArray png(int width, int height, bool noise)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    if (noise) {
        QRandomGenerator random{quint32(width * 31 + height)};
        for (int y = 0; y < height; ++y) {
            auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
            for (int x = 0; x < width; ++x)
                line[x] = random.generate();
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A newsletter as senders write them: a style sheet in the head, a 600-pixel table three and
// four deep, every cell with its inline style, tracked links and pictures by address, and stories
// of a heading, a paragraph and a button, until it is about bytes long.
QString newsletter(int bytes, int seed)
{
    QRandomGenerator random{quint32(seed)};
    const QString cell = QStringLiteral(
        "style=\"padding:12px 24px;font-family:Helvetica,Arial,sans-serif;font-size:15px;line-height:22px;"
        "color:#333333;background-color:#ffffff;border-collapse:collapse;mso-line-height-rule:exactly\"");
    const QString link = QStringLiteral(
        "https://click.news.example/ls/click?upn=%1-2BHbQ2F7x0kqzY3J8Lr5tD9wFz-2Fp6eV4mXyN1bR0sUoT7aK3cW8dG2hJ5"
        "lP9qM4nB6vC1xZ0yA7uE3iO8rS2tD5fG9hK1jL4mN7pQ0rT3uW6xZ9aC2eF5hI8kM1nP4qS7tV0wY3zB6dE9gH2jK5mN8");
    QString out = QStringLiteral(
        "<html><head><meta charset=\"utf-8\"><style>body{margin:0;padding:0}table{border-spacing:0}"
        "td{padding:0}img{border:0}.btn a{color:#fff;text-decoration:none}"
        "@media only screen and (max-width:600px){.full{width:100%!important}}</style></head>"
        "<body style=\"margin:0;padding:0;background:#eeeeee\"><center><table width=\"600\" class=\"full\" "
        "cellpadding=\"0\" cellspacing=\"0\" style=\"background:#ffffff\">");
    static const char *const words[] = {"offer",  "week",   "news",  "garden", "travel", "summer", "price",
                                        "member", "update", "event", "city",   "recipe", "story",  "reader"};
    for (int story = 0; out.size() < bytes; ++story) {
        QString text;
        for (int w = 0; w < 60; ++w)
            text += QLatin1String(words[random.bounded(int(std::size(words)))]) + QLatin1Char(' ');
        const QString href = link.arg(story * 7919 + seed);
        out += QStringLiteral("<tr><td %1><table width=\"100%\" cellpadding=\"0\" cellspacing=\"0\"><tr>"
                              "<td width=\"180\" %1><a href=\"%2&amp;utm_content=picture\"><img "
                              "src=\"https://img.news.example/%3.jpg?w=320&amp;h=240&amp;fit=crop&amp;auto=format%2\" "
                              "width=\"160\" height=\"120\" alt=\"Story %3\" style=\"display:block\"></a></td>"
                              "<td %1><table cellpadding=\"0\" cellspacing=\"0\"><tr><td %1><h2 style=\"margin:0;"
                              "font-size:20px;color:#1a1a1a\">Story %3: %4</h2></td></tr><tr><td %1><p style=\""
                              "margin:0 0 12px 0\">%5</p></td></tr><tr><td class=\"btn\" %1><a href=\"%2\" "
                              "style=\"background:#d0021b;color:#ffffff;padding:8px 16px;border-radius:3px\">"
                              "Read more</a></td></tr></table></td></tr></table></td></tr>")
                   .arg(cell, href)
                   .arg(story)
                   .arg(QLatin1String(words[story % int(std::size(words))]), text);
    }
    return out
        + QStringLiteral("<tr><td %1><small>You receive this mail because you subscribed. "
                         "<a href=\"https://news.example/unsubscribe\">Unsubscribe</a></small></td></tr>"
                         "</table></center></body></html>")
              .arg(cell);
}

QString repeated(const char *text, int count)
{
    return QString::fromLatin1(text).repeated(count);
}

struct Attachment {
    QString name;
    QString url;
    QString contentId;
};

// One mail in its own entry of folder.
void addMail(TestArchiveBuilder &b, const QString &folder, int number, const QString &subject, const QString &markup,
             const QVector<Attachment> &attachments = {})
{
    QByteArray list;
    for (const Attachment &a : attachments) {
        list += "<messageAttachment xml:space=\"preserve\" OPFAttachmentContentFileSize=\"1.0E5\"";
        if (!a.contentId.isEmpty())
            list += " OPFAttachmentContentID=\"" + a.contentId.toUtf8() + '"';
        list += " OPFAttachmentContentType=\"image/png\" OPFAttachmentName=\"" + a.name.toUtf8()
            + "\" OPFAttachmentURL=\"" + a.url.toUtf8() + "\"></messageAttachment>";
    }
    QByteArray children;
    if (!list.isEmpty())
        children += OlmXml::elementRaw("OPFMessageCopyAttachmentList", list);
    // A whole page, as mail programs send markup: the preview then takes it for markup.
    const QString page = markup.contains(QLatin1String("<html"))
        ? markup
        : QStringLiteral("<html><body>") + markup + QStringLiteral("</body></html>");
    // Escaped as the exporter escapes bodies: '&', '<' and '>', quotes as they are.
    QString escaped = page;
    escaped.replace(QLatin1Char('&'), QLatin1String("&amp;"))
        .replace(QLatin1Char('<'), QLatin1String("&lt;"))
        .replace(QLatin1Char('>'), QLatin1String("&gt;"));
    children += OlmXml::elementRaw("OPFMessageCopyBody", escaped.toUtf8());
    children += OlmXml::elementRaw("OPFMessageCopyFromAddresses",
                                   "<emailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\""
                                   "news@news.example\" OPFContactEmailAddressName=\"The Weekly\" "
                                   "OPFContactEmailAddressType=\"0\"></emailAddress>");
    children += OlmXml::elementRaw("OPFMessageCopySentTime", "2020-05-04T10:20:30");
    children += OlmXml::elementRaw("OPFMessageCopySubject", OlmXml::escape(subject).toUtf8());
    b.addEntry(QLatin1String(kMessages) + folder
                   + QStringLiteral("/message_%1.xml").arg(number, 5, 10, QLatin1Char('0')),
               OlmXml::list(QStringLiteral("emails"), 1, OlmXml::item(QStringLiteral("email"), children)));
}

QString entryUrl(const QString &folder, int number)
{
    return QLatin1String(kMessages) + folder + QStringLiteral("/com.microsoft.__Attachments/att_%1").arg(number);
}

void buildArchive(TestArchiveBuilder &b, const QStringList &wanted)
{
    const auto want = [&wanted](const char *folder) {
        return wanted.isEmpty() || wanted.contains(QLatin1String(folder));
    };
    if (want("Costly")) {
        const QString stack = repeated("<article>", 19000) + QString(1400000, QLatin1Char('x'));
        const QString options = repeated("<option><span>", 35000) + QString(300000, QLatin1Char('y'));
        const QString links = "<svg>" + repeated("<link>", 40000) + repeated("</x>", 40000);
        addMail(b, QStringLiteral("Costly"), 0, QStringLiteral("deep blocks and 1.4 MB of text"), stack);
        addMail(b, QStringLiteral("Costly"), 1, QStringLiteral("35,000 option/span pairs"), options);
        addMail(b, QStringLiteral("Costly"), 2, QStringLiteral("svg, 40,000 links and end tags"), links);
        addMail(b, QStringLiteral("Costly"), 3, QStringLiteral("all three"), stack + options + links);
    }
    if (want("Newsletters")) {
        for (int i = 0; i < 20; ++i) {
            // 30 KB to 1 MB, about evenly on a log scale.
            const int bytes = int(30000 * std::pow(1000000.0 / 30000.0, i / 19.0));
            addMail(b, QStringLiteral("Newsletters"), i, QStringLiteral("newsletter %1 KB").arg(bytes / 1000),
                    newsletter(bytes, i));
        }
    }
    if (want("Pictures")) {
        const QString folder = QStringLiteral("Pictures");
        const auto dataPicture = [](int side) {
            return QStringLiteral("<p>picture %1</p><img src=\"data:image/png;base64,%2\">")
                .arg(side)
                .arg(QString::fromLatin1(png(side, side, false).toBase64()));
        };
        addMail(b, folder, 0, QStringLiteral("data: PNG 8000x8000"), dataPicture(8000));
        addMail(b, folder, 1, QStringLiteral("data: PNG 12000x12000"), dataPicture(12000));
        // One 10 MB entry under one content id, 800 times.
        QByteArray big = png(300, 300, false);
        big += QByteArray(10 * 1024 * 1024 - big.size(), '\0');
        b.addEntry(entryUrl(folder, 0), big);
        QVector<Attachment> same(800, {QStringLiteral("big.png"), entryUrl(folder, 0), QStringLiteral("big@x")});
        addMail(b, folder, 2, QStringLiteral("800 attachments of one 10 MB entry"),
                QStringLiteral("<p>big</p><img src=\"cid:big@x\">"), same);
        // 800 content ids naming one picture.
        QVector<Attachment> ids;
        QString refs;
        for (int i = 0; i < 800; ++i) {
            ids.append({QStringLiteral("p.png"), entryUrl(folder, 0), QStringLiteral("id%1@x").arg(i)});
            refs += QStringLiteral("<img width=\"20\" src=\"cid:id%1@x\">").arg(i);
        }
        addMail(b, folder, 3, QStringLiteral("800 content ids of one picture"), refs, ids);
        // 2,000 different pictures of about 100 KB.
        QVector<Attachment> many;
        QString manyRefs;
        for (int i = 0; i < 2000; ++i) {
            b.addEntry(entryUrl(folder, 1 + i), png(160, 160 + i % 7, true));
            many.append({QStringLiteral("n%1.png").arg(i), entryUrl(folder, 1 + i), QStringLiteral("n%1@x").arg(i)});
            manyRefs += QStringLiteral("<img width=\"40\" src=\"cid:n%1@x\">").arg(i);
        }
        addMail(b, folder, 4, QStringLiteral("2,000 different pictures"), manyRefs, many);
    }
    for (const int count : {2000, 8000}) {
        const QString folder = QStringLiteral("Attachments%1").arg(count);
        if (!want(qPrintable(folder)))
            continue;
        b.addEntry(entryUrl(folder, 0), png(20, 20, false));
        QVector<Attachment> tiles;
        for (int i = 0; i < count; ++i)
            tiles.append({QStringLiteral("file %1.png").arg(i), entryUrl(folder, 0), QString()});
        addMail(b, folder, 0, QStringLiteral("%1 attachments").arg(count), QStringLiteral("<p>tiles</p>"), tiles);
    }
}

QTreeWidgetItem *folderNamed(QTreeWidget *tree, const QString &name)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if ((*it)->text(FolderColumnName) == name)
            return *it;
    }
    return nullptr;
}

// The longest time the event loop went without turning, measured by a 5 ms timer.
class WaitMeter {
public:
    WaitMeter()
    {
        QObject::connect(&m_tick, &QTimer::timeout, [this] { note(); });
        m_tick.start(5);
        m_since.start();
    }
    void note()
    {
        m_longest = qMax(m_longest, m_since.nsecsElapsed());
        m_since.restart();
    }
    double longestSeconds() const { return m_longest / 1e9; }

private:
    QTimer m_tick;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
};

// Runs the loop until the preview shows its body, and a little longer for what follows it.
double untilShown(QZovuvozivMainWindow &window)
{
    QElapsedTimer clock;
    clock.start();
    waitFor([] { return !ItemListFillRunning() && !PreviewJobPending(); }, 120);
    const double shown = clock.nsecsElapsed() / 1e9;
    waitFor([] { return false; }, 0);
    QElapsedTimer after;
    after.start();
    while (after.elapsed() < 300)
        turn();
    Q_UNUSED(window);
    return shown;
}

QByteArray shownAs(QZovuvozivMainWindow &window)
{
    const QVariant as = window.panes().htmlPreview->property(kPreviewShownAs);
    return as.isValid() ? as.toByteArray() : QByteArray("-");
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString grabDir;
    if (args.size() >= 2 && args.first() == QLatin1String("--grab")) {
        grabDir = args.at(1);
        args = args.mid(2);
    }
    QTemporaryDir dir;
    TestArchiveBuilder builder;
    buildArchive(builder, args);
    const QString path = dir.filePath(QStringLiteral("costly.olm"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(builder.finish()) < 0)
            return 2;
    }
    builder = TestArchiveBuilder();
    InitShellResources();
    answerOpenWith(path);
    ShellHooks::messageBox = [](const QString &, const QString &) {};

    QZovuvozivMainWindow window;
    window.resize(1050, 700);
    window.show();
    window.parseDatabase()->browseZovuvozivButton->click();
    window.parseDatabase()->StartButton->click();
    QTreeWidget *tree = window.panes().folderTree;
    if (!waitFor([] { return !bProcessRunning; }, 600))
        return 1;
    waitFor([] { return false; }, 1);
    closeDialogs();
    printf("%-14s %-40s %10s %14s %7s\n", "folder", "mail", "shown s", "longest wait s", "as");
    const QStringList folders = args.isEmpty()
        ? QStringList{QStringLiteral("Costly"), QStringLiteral("Newsletters"), QStringLiteral("Pictures"),
                      QStringLiteral("Attachments2000"), QStringLiteral("Attachments8000")}
        : args;
    QTreeWidget *list = window.panes().itemList;
    for (const QString &name : folders) {
        QTreeWidgetItem *folder = folderNamed(tree, name);
        if (!folder)
            continue;
        double longest = 0;
        {
            WaitMeter meter;
            window.parseDatabase()->ShowindivisualMailItemsInfo(folder, 0);
            meter.note();
            const double shown = untilShown(window);
            longest = meter.longestSeconds();
            printf("%-14s %-40s %10.3f %14.3f %7s\n", qPrintable(name), "(folder opened, first mail)", shown, longest,
                   shownAs(window).constData());
            fflush(stdout);
        }
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            WaitMeter meter;
            list->setCurrentItem(list->topLevelItem(row));
            meter.note();
            const double shown = untilShown(window);
            printf("%-14s %-40s %10.3f %14.3f %7s\n", "",
                   qPrintable(list->topLevelItem(row)->data(ItemColumnText, SubjectRole).toString().left(40)), shown,
                   meter.longestSeconds(), shownAs(window).constData());
            fflush(stdout);
            if (!grabDir.isEmpty())
                window.grab().save(QDir(grabDir).filePath(QStringLiteral("%1-%2.png").arg(name).arg(row)));
        }
    }
    return 0;
}
