#pragma once
// The character references of text in HTML, undone as a browser undoes them.

#include <QString>

// HTML's list of named references, in the form HtmlEntityTable.cpp gives it.
extern const char *const kHtmlEntityTable;

// The text between tags with every reference undone once: each name HTML defines (the legacy
// ones also without their ';'), and numeric ones; an unknown name stays as it stands.
QString UnescapeHtmlText(const QString &text);
