#include "platform/Edition.h"
#include "shell/QParseDatabase.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellHooks.h"
#include "shell/ShellResources.h"
#include "shell/Startup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    InitShellResources();

    const QString appDir = QCoreApplication::applicationDirPath();
    Startup::SetStartupPaths(appDir);
    if (Startup::IsRunningFromInstallImage(appDir)) {
        ShowMessageBox(nullptr, Startup::InstallImageMessage(bforQConverterFO), MarkIconStyle());
        return 0;
    }

    const Startup::AgreementResult agreement =
        Startup::CheckAgreement(Startup::AgreementMarkerPath(), bForappstore, bforQConverterFO);
    if (agreement == Startup::AgreementResult::Refused)
        return 0;

    QZovuvozivMainWindow window;
    window.setMinimumSize(agreement == Startup::AgreementResult::GivenNow ? 900 : 1050, 640);
    window.show();
    if (auto *openDialog = qobject_cast<QWidget *>(window.parseDatabase()))
        openDialog->show();
    return app.exec();
}
