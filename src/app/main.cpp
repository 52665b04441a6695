#include "shell/QZovuvozivMainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QZovuvozivMainWindow window;
    window.show();
    return app.exec();
}
