// Which text a body's stored bytes are: UTF-8, UTF-8 with some bytes damaged, or an exporter's
// Windows-1252.

#include "save/mail/MailMimeParts.h"

#include <QPair>
#include <QTextCodec>
#include <QVector>

#include <string>

namespace {

// The length of the well-formed UTF-8 character of two or more bytes at p[i], else 0.
int multiByteLength(const uchar *p, int i, int n)
{
    const uchar c = p[i];
    int length = 0;
    uchar low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        low = c == 0xE0 ? 0xA0 : 0x80;   // no overlong form
        high = c == 0xED ? 0x9F : 0xBF;  // no surrogate
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        low = c == 0xF0 ? 0x90 : 0x80;
        high = c == 0xF4 ? 0x8F : 0xBF;  // not past U+10FFFF
    } else {
        return 0;
    }
    if (i + length > n || p[i + 1] < low || p[i + 1] > high)
        return 0;
    for (int k = 2; k < length; ++k) {
        if (p[i + k] < 0x80 || p[i + k] > 0xBF)
            return 0;
    }
    return length;
}

struct Utf8Tally {
    int characters = 0;  // well-formed characters of two or more bytes that tell UTF-8
    int badBytes = 0;    // bytes that are no part of a character
};

// Whether the two-byte character at p tells nothing: Windows-1252 text makes it by accident, a
// capital letter or sharp s (C2-DF) before punctuation or a no-break space (80-BF). Such pairs
// read as C1 controls, phonetic and modifier letters or combining marks, or Syriac, Thaana and
// NKo letters, which prose beside a damaged byte hardly holds; the letters of Latin, Greek,
// Cyrillic, Hebrew and Arabic text are not among them.
bool isAccidentalPair(const uchar *p)
{
    const uint code = uint(p[0] & 0x1F) << 6 | (p[1] & 0x3F);
    return code <= 0x9F || (code >= 0x250 && code <= 0x36F) || code >= 0x700;
}

Utf8Tally tallyUtf8(const uchar *p, int n)
{
    Utf8Tally tally;
    for (int i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const int length = multiByteLength(p, i, n);
        if (length) {
            if (length > 2 || !isAccidentalPair(p + i))
                ++tally.characters;
            i += length;
        } else {
            ++tally.badBytes;
            ++i;
        }
    }
    return tally;
}

// UTF-8 with one replacement character for each byte that is no part of a character: the text
// around a damaged byte keeps every character it had.
QString utf8WithReplacements(const uchar *p, int n)
{
    QString out;
    out.reserve(n);
    int run = 0;
    const auto flush = [&](int end) { out += QString::fromUtf8(reinterpret_cast<const char *>(p) + run, end - run); };
    for (int i = 0; i < n;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        if (const int length = multiByteLength(p, i, n)) {
            i += length;
            continue;
        }
        flush(i);
        out += QChar(QChar::ReplacementCharacter);
        run = ++i;
    }
    flush(n);
    return out;
}

}  // namespace

QString DecodeBodyText(const QByteArray &bytes, int *replaced)
{
    if (replaced)
        *replaced = 0;
    if (RoundTripsUtf8(bytes) || (bytes.startsWith("\xEF\xBB\xBF") && RoundTripsUtf8(bytes.mid(3))))
        return QString::fromUtf8(bytes);
    const bool mark = bytes.startsWith("\xEF\xBB\xBF");
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData()) + (mark ? 3 : 0);
    const int n = bytes.size() - (mark ? 3 : 0);
    // Windows-1252 prose often holds a pair that happens to be UTF-8 (DF 93, a sharp s before a
    // closing quote), and its other letters are bytes no UTF-8 holds; UTF-8 text with a damaged
    // byte has many more characters than bad bytes. Pairs Windows-1252 makes by accident count
    // for neither.
    const Utf8Tally tally = tallyUtf8(p, n);
    if (tally.characters > tally.badBytes) {
        if (replaced)
            *replaced = tally.badBytes;
        return utf8WithReplacements(p, n);
    }
    static QTextCodec *const windows1252 = QTextCodec::codecForName("Windows-1252");
    return windows1252 ? windows1252->toUnicode(bytes) : QString::fromLatin1(bytes);
}

QString ReplacedBodyBytesLine(int replaced)
{
    return QStringLiteral("its body was read as UTF-8 with %1 damaged %2 each shown as a replacement character")
        .arg(replaced)
        .arg(replaced == 1 ? QStringLiteral("byte") : QStringLiteral("bytes"));
}
