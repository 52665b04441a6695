#pragma once
// The settings file "Corvask.plist" is an XML property list. QSettings' native format is INI on
// this platform and would read nothing from it, so every reader of the file goes through a
// registered property-list format.

#include <QSettings>
#include <QString>

// The QSettings format for XML property lists (<plist><dict><key>..</key><string>..</string>..).
// Registered on first use; safe to call from any thread.
QSettings::Format PlistFormat();

// The string value of key in the property list at plistPath, read from the file at every call.
// A missing file, a missing key or a file that is not a well-formed property list reads as empty.
QString ReadPlistString(const QString &plistPath, const QString &key);
