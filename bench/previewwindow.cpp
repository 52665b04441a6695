// The mail preview's body with markup that is slow to read or lay out, and with ordinary tables
// and newsletters: how long the window's event loop waited at most, how long until the body
// showed, and whether it showed as markup or as text.
//   olmpreviewwindowbench [--times N] [NAME ...]   (each input shown N times, default once)

#include "browse/PreviewJob.h"
#include "browse/SafePreviewDocument.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextBrowser>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace {

QString repeated(const char *text, int count)
{
    return QString::fromLatin1(text).repeated(count);
}

QString table(int bytes, bool endTags)
{
    QString row = QStringLiteral("<tr>");
    for (int i = 0; i < 10; ++i)
        row += QString::fromLatin1(endTags ? "<td>%1</td>" : "<td>%1").arg(i * 7 % 1000);
    return QStringLiteral("<table>") + row.repeated(bytes / row.size()) + QStringLiteral("</table>");
}

QString newsletter(int stories)
{
    QString out = QStringLiteral("<table width=600 style=\"font-family:Arial\">");
    for (int i = 0; i < stories; ++i)
        out += QStringLiteral("<tr><td><table><tr><td><h2>Story %1</h2><p>%2</p><p><a href=\"https://e.example/%1\">"
                              "Read more</a></p></td></tr></table></td></tr>")
                   .arg(i)
                   .arg(QStringLiteral("Lorem ipsum dolor sit amet, consectetur adipiscing elit. ").repeated(8));
    return out + QStringLiteral("</table>");
}

const std::vector<std::pair<const char *, std::function<QString()>>> kInputs = {
    {"article text 1.5 MB", [] { return repeated("<article>", 19000) + "<b>" + QString(1500000, 'x'); }},
    {"option/span text 1.3 MB", [] { return repeated("<option><span>", 35000) + "<b>" + QString(1300000, 'x'); }},
    {"svg + 40k link + 40k </x>", [] { return "<svg>" + repeated("<link>", 40000) + repeated("</x>", 40000); }},
    {"15k span + 200k </x>", [] { return repeated("<span>", 15000) + repeated("</x>", 200000); }},
    {"void elements, deep", [] { return repeated("<span>", 15000) + repeated("<br><img><wbr>", 100000); }},
    {"newsletter 235 KB", [] { return newsletter(330); }},
    {"newsletter table 1.2 MB", [] { return newsletter(1700); }},
    {"data table 365 KB", [] { return table(365000, true); }},
    {"table 2 MB without </td>", [] { return table(2000000, false); }},
    {"short newsletter 40 KB", [] { return newsletter(55); }},
    {"newsletter 100 KB", [] { return newsletter(140); }},
    {"newsletter 500 KB", [] { return newsletter(700); }},
    {"newsletter 800 KB", [] { return newsletter(1130); }},
    {"newsletter 1.5 MB", [] { return newsletter(2130); }},
};

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList wanted = app.arguments().mid(1);
    int times = 1;
    const int timesAt = wanted.indexOf(QStringLiteral("--times"));
    if (timesAt >= 0 && timesAt + 1 < wanted.size()) {
        times = qMax(1, wanted.at(timesAt + 1).toInt());
        wanted.erase(wanted.begin() + timesAt, wanted.begin() + timesAt + 2);
    }
    QTextBrowser view;
    UseSafePreviewDocument(&view);
    view.resize(900, 700);
    view.show();
    app.processEvents();
    printf("%-28s %10s %14s %8s\n", "input", "shown s", "longest wait s", "as");
    for (const auto &input : kInputs) {
        for (int round = 0; round < times; ++round) {
            if (!wanted.isEmpty() && !wanted.contains(QString::fromLatin1(input.first)))
                continue;
            const QString body = QStringLiteral("<html><body>") + input.second() + QStringLiteral("</body></html>");
            view.setProperty(kPreviewShownAs, QVariant());
            QElapsedTimer total, sinceTick;
            qint64 longest = 0;
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, [&] {
                longest = qMax(longest, sinceTick.nsecsElapsed());
                sinceTick.restart();
            });
            tick.start(5);
            total.start();
            sinceTick.start();
            ShowPreviewBody(&view, body);
            longest = qMax(longest, sinceTick.nsecsElapsed());
            sinceTick.restart();
            while (!view.property(kPreviewShownAs).isValid() && total.elapsed() < 20000)
                app.processEvents(QEventLoop::WaitForMoreEvents, 50);
            const double shown = total.nsecsElapsed() / 1e9;
            // A few more turns: the layout and painting that follow the body.
            QElapsedTimer after;
            after.start();
            while (after.elapsed() < 300)
                app.processEvents(QEventLoop::WaitForMoreEvents, 20);
            tick.stop();
            printf("%-28s %10.3f %14.3f %8s\n", input.first, shown, longest / 1e9,
                   view.property(kPreviewShownAs).toByteArray().constData());
            fflush(stdout);
            if (!wanted.isEmpty() && wanted.contains(QStringLiteral("--grab")))
                view.grab().save(QStringLiteral("preview-%1.png").arg(QString::fromLatin1(input.first).left(12)));
        }
    }
    return 0;
}
