#pragma once
// The Help menu's links. Each getter reads its settings key from strPlistPath afresh, so an edited
// settings file takes effect without a restart; a missing file or key gives an empty address.
// Nothing here reports a failure: a link that cannot be opened simply opens nothing.

#include <QString>

QString GetGenerateTicket();   // "SubmitEnquiryLink"
QString GetEmailSupport();     // "EmailToSupport", the bare address
QString GetViewSupport();      // "ViewSupportLink"
QString GetKnowledgebase();    // "KBLink"

void OnGenerateTicket();
void OnEmailSupport();   // opens "mailto:" followed by the address
void OnViewSupport();
void OnKnowledgeBase();

// The online help page of an edition.
QString HelpPageAddress(bool converterEdition, bool storeVariant);
// Opens the running edition's help page.
void OpenHelp();
