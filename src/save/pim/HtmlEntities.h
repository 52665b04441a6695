#pragma once
// The character references of text in HTML, undone as a browser undoes them.

#include <QString>

// HTML's list of named references, in the form HtmlEntityTable.cpp gives it.
extern const char *const kHtmlEntityTable;

// The text between tags with every reference undone once: each name HTML defines (the legacy
// ones also without their ';'), and numeric ones as HTML reads them (their ';' optional, the C1
// codes as Windows-1252, NUL, surrogates and codes past U+10FFFF as U+FFFD); an unknown name
// stays as it stands.
QString UnescapeHtmlText(const QString &text);
