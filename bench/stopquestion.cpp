// The scan's stop question answered late: opens ARCHIVE in the main window (headless), presses
// Stop STOP_MS after Start and Yes YES_MS after that, and prints as one JSON object when the scan
// ended, whether Stop could be pressed (the sheet shown) and the question was still open at the Yes, the messages shown (with their times),
// whether the summary opened, the mail count and the longest the window went unanswered.
//   olmstopbench ARCHIVE [STOP_MS=3000] [YES_MS=0]
// Run it with QT_QPA_PLATFORM=offscreen where there is no display.

#include "scanner/ScanGlobals.h"
#include "shell/InformationDlg.h"
#include "shell/QParseDatabase.h"
#include "shell/QProgressInfo.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"
#include "shell/StopDlg.h"

#include "WindowBenchUtil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

namespace {

QString jsonText(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

QProgressInfo *scanSheet(QZovuvozivMainWindow &window)
{
    const QList<QProgressInfo *> sheets = window.findChildren<QProgressInfo *>();
    return sheets.isEmpty() ? nullptr : sheets.last();
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString path = benchArchive(args, "olmstopbench ARCHIVE [STOP_MS] [YES_MS]");
    if (path.isEmpty())
        return 2;
    const int stopMs = args.value(2, QStringLiteral("3000")).toInt();
    const int yesMs = args.value(3, QStringLiteral("0")).toInt();
    QElapsedTimer clock;
    QStringList messages;
    ShellHooks::messageBox = [&](const QString &text, const QString &) {
        messages << QStringLiteral("{\"at_ms\": %1, \"text\": \"%2\"}").arg(clock.elapsed()).arg(jsonText(text));
    };

    QZovuvozivMainWindow window;
    window.resize(1050, 640);
    window.show();
    QParseDatabase *open = window.parseDatabase();
    qint64 scanEndedMs = -1;
    QObject::connect(open->scanner(), &QThread::finished, [&] { scanEndedMs = clock.elapsed(); });
    qint64 summaryMs = -1;
    // The longest gap between ticks of a 10 ms timer: how long the window went unanswered.
    QElapsedTimer tick;
    qint64 longestGap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        longestGap = qMax(longestGap, tick.restart());
        if (summaryMs < 0) {
            for (QWidget *top : QApplication::topLevelWidgets()) {
                if (qobject_cast<InformationDlg *>(top) && top->isVisible())
                    summaryMs = clock.elapsed();
            }
        }
    });
    open->browseZovuvozivButton->click();
    clock.start();
    tick.start();
    ticker.start(10);
    open->StartButton->click();

    bool questionOpenAtYes = false;
    bool stopPressed = false;
    QTimer::singleShot(stopMs, Qt::PreciseTimer, [&] {
        QProgressInfo *sheet = scanSheet(window);
        // Stop is there to press only while the sheet is shown.
        stopPressed = sheet && sheet->isVisible();
        if (!stopPressed)
            return;
        sheet->findChild<QPushButton *>(QStringLiteral("stopButton"))->click();
        QTimer::singleShot(yesMs, Qt::PreciseTimer, [&] {
            questionOpenAtYes = stopDlgObj3 && stopDlgObj3->isVisible();
            if (stopDlgObj3)
                stopDlgObj3->yesButton()->click();
        });
    });
    // Done when the scan has ended and things have settled for a second after the Yes.
    QTimer done;
    QObject::connect(&done, &QTimer::timeout, [&] {
        if (scanEndedMs >= 0 && clock.elapsed() > stopMs + yesMs + 1000 && clock.elapsed() > scanEndedMs + 1000)
            app.quit();
    });
    done.start(100);
    app.exec();
    printf("{\"archive\": \"%s\", \"stop_ms\": %d, \"stop_pressed\": %s, \"yes_ms\": %d, \"scan_ended_ms\": %lld, "
           "\"question_open_at_yes\": %s, \"mails\": %lld, \"summary_shown_ms\": %lld, \"longest_gap_ms\": %lld, "
           "\"messages\": [%s]}\n",
           qPrintable(jsonText(path)), stopMs, stopPressed ? "true" : "false", yesMs, scanEndedMs,
           questionOpenAtYes ? "true" : "false", MailItemCount, summaryMs, longestGap,
           qPrintable(messages.join(QStringLiteral(", "))));
    return 0;
}
