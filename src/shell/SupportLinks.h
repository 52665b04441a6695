#pragma once
// The Help menu's links. Each getter reads its settings key from strPlistPath afresh, so an edited
// settings file takes effect without a restart; a missing file or key gives an empty address.
// A link or file that cannot be opened is named to the user in a message.

#include <QString>

class QUrl;

inline const char kOpenAddressFailedText[] = "\nThis address could not be opened:\n%1";
inline const char kOpenFileFailedText[] = "\nThis file could not be opened:\n%1";
inline const char kNoAddressText[] = "(no address is set)";

// Hands url to the desktop's opener; when it cannot be opened, a message names shown (the address
// as written): at once, or when the opener ends with an error. False when that is known at once.
bool OpenAddressOrTell(const QUrl &url, const QString &shown);
// Opens a local file with the desktop's viewer; a missing file or one that nothing could open is
// named in a message, as above.
bool OpenFileOrTell(const QString &path);

QString GetGenerateTicket();  // "SubmitEnquiryLink"
QString GetEmailSupport();    // "EmailToSupport", the bare address
QString GetViewSupport();     // "ViewSupportLink"
QString GetKnowledgebase();   // "KBLink"

void OnGenerateTicket();
void OnEmailSupport();  // opens "mailto:" followed by the address
void OnViewSupport();
void OnKnowledgeBase();

// The online help page of an edition.
QString HelpPageAddress(bool converterEdition, bool storeVariant);
// Opens the running edition's help page.
void OpenHelp();
