#include "shell/SupportLinks.h"

#include "platform/DesktopOpener.h"
#include "platform/Edition.h"
#include "platform/PlistSettings.h"
#include "shell/ShellGlobals.h"

#include <QUrl>

namespace {

QString setting(const char *key)
{
    return ReadPlistString(strPlistPath, QLatin1String(key));
}

// Non-ASCII text is kept as it is; an address that does not parse opens nothing.
void openAddress(const QString &address)
{
    OpenUrl(QUrl(address, QUrl::TolerantMode));
}

} // namespace

QString GetGenerateTicket()
{
    return setting("SubmitEnquiryLink");
}

QString GetEmailSupport()
{
    return setting("EmailToSupport");
}

QString GetViewSupport()
{
    return setting("ViewSupportLink");
}

QString GetKnowledgebase()
{
    return setting("KBLink");
}

void OnGenerateTicket()
{
    openAddress(GetGenerateTicket());
}

void OnEmailSupport()
{
    openAddress(QStringLiteral("mailto:") + GetEmailSupport());
}

void OnViewSupport()
{
    openAddress(GetViewSupport());
}

void OnKnowledgeBase()
{
    openAddress(GetKnowledgebase());
}

QString HelpPageAddress(bool converterEdition, bool storeVariant)
{
    // No public help site exists; these stand in for it on the reserved .invalid domain.
    if (converterEdition)
        return QStringLiteral("https://help.corvask.invalid/converter/index.html");
    if (storeVariant)
        return QStringLiteral("https://help.corvask.invalid/repair-store/index.html");
    return QStringLiteral("https://help.corvask.invalid/repair/index.html");
}

void OpenHelp()
{
    openAddress(HelpPageAddress(bforQConverterFO, bForappstore));
}
