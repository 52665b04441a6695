// Linked into every test program with windows: nobody answers a modal dialog when the tests
// run headless, so one left open for a few seconds ends the program with its text instead of
// hanging until the time limit.

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <memory>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kModalLimitMs = 5000;
constexpr int kPollMs = 250;

QString visibleText(const QWidget *w)
{
    QStringList texts;
    for (const QLabel *l : w->findChildren<QLabel *>())
        if (!l->text().trimmed().isEmpty())
            texts << l->text().simplified();
    return texts.join(QStringLiteral(" | "));
}

struct ModalWatch {
    const QWidget *dialog = nullptr;
    qint64 since = 0;
    qint64 now = 0;
};

void watchModalDialogs()
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    auto *timer = new QTimer(QCoreApplication::instance());
    auto watch = std::make_shared<ModalWatch>();
    QObject::connect(timer, &QTimer::timeout, timer, [watch] {
        watch->now += kPollMs;
        const QWidget *modal = QApplication::activeModalWidget();
        if (modal != watch->dialog) {
            watch->dialog = modal;
            watch->since = watch->now;
            return;
        }
        if (modal && watch->now - watch->since >= kModalLimitMs) {
            std::fprintf(stderr, "FAIL: modal dialog \"%s\" (%s) left unanswered: %s\n",
                         qPrintable(modal->windowTitle()), modal->metaObject()->className(),
                         qPrintable(visibleText(modal)));
            std::fflush(stderr);
            std::_Exit(1);
        }
    });
    timer->start(kPollMs);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(watchModalDialogs)
