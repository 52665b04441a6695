#pragma once
// Bidirectional formatting controls reorder the text around them: "invoice<U+202E>fdp.exe" shows
// as "invoiceexe.pdf". Names written to disk, into saved messages or shown in the window leave
// them out, so a name reads as the characters it holds.

#include <QByteArray>
#include <QString>

#include <algorithm>

// U+200E, U+200F, U+202A to U+202E and U+2066 to U+2069.
inline bool IsBidiControl(uint c)
{
    return c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

inline QString WithoutBidiControls(QString text)
{
    text.truncate(int(std::remove_if(text.begin(), text.end(), [](QChar c) { return IsBidiControl(c.unicode()); })
                      - text.begin()));
    return text;
}

// The same on UTF-8 bytes; bytes that are no UTF-8 stay as they are.
inline QByteArray WithoutBidiControls(const QByteArray &utf8)
{
    // Every one of them is E2 80 or E2 81 and one more byte.
    if (!utf8.contains('\xE2'))
        return utf8;
    QByteArray out;
    out.reserve(utf8.size());
    for (int i = 0; i < utf8.size(); ++i) {
        if (uchar(utf8.at(i)) == 0xE2 && i + 2 < utf8.size()) {
            const uint c = 0x2000 | (uint(uchar(utf8.at(i + 1)) & 0x3F) << 6) | (uchar(utf8.at(i + 2)) & 0x3F);
            const uchar second = uchar(utf8.at(i + 1));
            if ((second == 0x80 || second == 0x81) && (uchar(utf8.at(i + 2)) & 0xC0) == 0x80 && IsBidiControl(c)) {
                i += 2;
                continue;
            }
        }
        out += utf8.at(i);
    }
    return out;
}
