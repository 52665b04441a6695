#pragma once
// Names taken from an archive, made safe to stand as one file or folder name: the one place
// that cuts names to a limit, numbers them within it and handles control characters and bytes
// that are no UTF-8 character. The folder names and the new archive's entry names both use it.

#include <QByteArray>
#include <QString>

// At most bytes bytes of text, never ending inside a UTF-8 character.
QByteArray Utf8Left(const QByteArray &text, int bytes);

// The length of the UTF-8 character that starts at text[at], 0 when the bytes there are not
// one (a stray continuation byte, an overlong form, a surrogate, past U+10FFFF, cut short).
int Utf8CharLength(const QByteArray &text, int at);

// Whether text[at] starts a C1 control character (U+0080 to U+009F) in UTF-8: a terminal takes
// U+009B for an escape.
bool IsC1ControlAt(const QByteArray &text, int at);
bool HasC1Control(const QByteArray &text);

// stem + number + suffix in at most maxBytes bytes: the stem is cut (between characters) to
// make room, so a numbered name never outgrows the limit its unnumbered form kept.
QByteArray NumberedWithin(const QByteArray &stem, const QByteArray &number, const QByteArray &suffix, int maxBytes);

// The extension of a file name, its dot included: from its last dot, when that is not the
// name's first character and at most maxLength bytes (UTF-16 units for text) follow from it;
// empty when it has none. lettersAndDigits: only those may follow the dot (each byte read as
// Latin-1). The one rule the writers split a name by, to keep its type while they cut or number it.
QByteArray FileExtension(const QByteArray &name, int maxLength, bool lettersAndDigits = false);
QString FileExtension(const QString &name, int maxLength);
// An extension this long or shorter stays when a name is cut to fit.
constexpr int kKeptExtensionLength = 16;

// name for a report line: control characters (a NUL, a line feed, an escape, C1 controls) as
// \xHH, so a name never reads as another.
QString NameForLine(const QByteArray &name);

// part as one safe component of at most maxBytes bytes: bidirectional controls dropped, control
// characters (C0, DEL, C1), NUL and backslash made '_', a name of dots only ("." and "..") or an
// empty one made of underscores, and cut between characters. asText: each byte that is not part
// of a UTF-8 character made '_' as well, for names that become text.
QByteArray SafeFolderPart(const QByteArray &part, int maxBytes, bool asText = false);
