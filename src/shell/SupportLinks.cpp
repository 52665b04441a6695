#include "shell/SupportLinks.h"

#include "platform/DesktopOpener.h"
#include "platform/Edition.h"
#include "platform/PlistSettings.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

QString setting(const char *key)
{
    return ReadPlistString(strPlistPath, QLatin1String(key));
}

// Non-ASCII text is kept as it is; an address that does not parse opens nothing and says so.
void openAddress(const QString &address)
{
    OpenAddressOrTell(QUrl(address, QUrl::TolerantMode), address);
}

}  // namespace

bool OpenAddressOrTell(const QUrl &url, const QString &shown)
{
    const QString name = shown.isEmpty() ? QString::fromLatin1(kNoAddressText) : shown;
    const auto tell = [name] { ShowMessageBox(nullptr, QString::fromLatin1(kOpenAddressFailedText).arg(name)); };
    if (OpenUrl(url, tell))
        return true;
    tell();
    return false;
}

bool OpenFileOrTell(const QString &path)
{
    const QString name = QDir::toNativeSeparators(path);
    const auto tell = [name] { ShowMessageBox(nullptr, QString::fromLatin1(kOpenFileFailedText).arg(name)); };
    // The opener would start before its viewer finds the file missing.
    if (QFileInfo(path).isFile() && OpenUrl(QUrl::fromLocalFile(path), tell))
        return true;
    tell();
    return false;
}

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
