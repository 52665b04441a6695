// Built only by the layer test, never run: browsing code that calls into the window. It must fail
// to link against olmbrowse and the core, the libraries a browse file gets.

#include "shell/QZovuvozivMainWindow.h"

int main()
{
    QZovuvozivMainWindow window;
    window.ShowKindView(0);
    return 0;
}
