#pragma once

#include <QString>
#include <QtGlobal>

// ISO 8601 date-time to seconds since 1970. "Z" is UTC, an offset is applied, and no designator
// also means UTC: the exporter writes its times that way, whatever the machine's zone. Invalid
// text, or a time outside what 32 bits hold, gives 0 ("no time").
quint32 integertimeconverter(const QString &text);
// The same reading without the 32-bit range: false when the text is no date-time.
bool ArchiveTimeSeconds(const QString &text, qint64 *seconds);
