#include "shell/ShellResources.h"

#include <QtGlobal>

#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterResources()
{
    Q_INIT_RESOURCE(resources);
}

void InitShellResources()
{
    static std::once_flag once;
    std::call_once(once, RegisterResources);
}
