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
    int weight = 0;     // the evidence of the well-formed characters that tell UTF-8
    int sequences = 0;  // how many such characters there are
    int badBytes = 0;   // bytes that are no part of a character
};

// Bytes Windows-1252 leaves undefined: a character holding one cannot be Windows-1252 text.
bool isUndefinedIn1252(uchar c)
{
    return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

// Whether the character of `length` bytes at p[i] is a letter and its punctuation in Windows-1252
// prose rather than UTF-8: a capital or sharp s before a quote, a dash or a no-break space
// ("CAFÉ\u00a0!", "Fuß–Weg"), or a small letter before a no-break space and a guillemet. Such a
// character stands alone: it is not when another one is next to it (the letters of a word in
// another script, combining marks after an accented letter), when a capital would follow a small
// letter ("e" and a combining accent), or when a byte reads as nothing in Windows-1252.
// afterCharacter: the byte before ended a character.
bool madeBy1252(const uchar *p, int i, int length, int n, bool afterCharacter)
{
    if (length > 3 || afterCharacter || (i + length < n && multiByteLength(p, i + length, n) > 0))
        return false;
    for (int k = 1; k < length; ++k) {
        if (isUndefinedIn1252(p[i + k]))
            return false;
    }
    if (length == 3)
        return p[i + 1] == 0xA0;
    const bool capital = p[i] != 0xDF;
    return !(capital && i > 0 && p[i - 1] >= 'a' && p[i - 1] <= 'z');
}

// How much the character tells UTF-8: a pair reading as a C1 control tells nothing (Windows-1252
// punctuation after a capital A with circumflex), and longer characters tell more, as Windows-1252
// prose hardly ever forms them.
int evidenceOf(const uchar *p, int i, int length, int n, bool afterCharacter)
{
    if (length == 2 && p[i] == 0xC2 && p[i + 1] <= 0x9F)
        return 0;
    if (madeBy1252(p, i, length, n, afterCharacter))
        return 0;
    return length - 1;
}

Utf8Tally tallyUtf8(const uchar *p, int n)
{
    Utf8Tally tally;
    bool afterCharacter = false;
    for (int i = 0; i < n;) {
        if (p[i] < 0x80) {
            afterCharacter = false;
            ++i;
            continue;
        }
        const int length = multiByteLength(p, i, n);
        if (length) {
            const int weight = evidenceOf(p, i, length, n, afterCharacter);
            tally.weight += weight;
            tally.sequences += weight > 0;
            afterCharacter = true;
            i += length;
        } else {
            afterCharacter = false;
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

QString DecodeBodyText(const QByteArray &bytes, BodyReading *reading)
{
    if (reading)
        *reading = BodyReading();
    if (RoundTripsUtf8(bytes) || (bytes.startsWith("\xEF\xBB\xBF") && RoundTripsUtf8(bytes.mid(3))))
        return QString::fromUtf8(bytes);
    const bool mark = bytes.startsWith("\xEF\xBB\xBF");
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData()) + (mark ? 3 : 0);
    const int n = bytes.size() - (mark ? 3 : 0);
    // UTF-8 text with a damaged byte has much more evidence than bad bytes; Windows-1252 prose
    // has many bad bytes and at most a few pairs it makes by accident, which weigh nothing.
    const Utf8Tally tally = tallyUtf8(p, n);
    if (tally.weight > tally.badBytes) {
        if (reading)
            reading->replacedBytes = tally.badBytes;
        return utf8WithReplacements(p, n);
    }
    if (reading)
        reading->utf8Characters = tally.sequences;
    static QTextCodec *const windows1252 = QTextCodec::codecForName("Windows-1252");
    return windows1252 ? windows1252->toUnicode(bytes) : QString::fromLatin1(bytes);
}

QString BodyReadingLine(const BodyReading &reading)
{
    const auto plural = [](int n, const char *one, const char *many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    if (reading.replacedBytes > 0)
        return QStringLiteral("its body was read as UTF-8 with %1 each shown as a replacement character")
            .arg(plural(reading.replacedBytes, "damaged byte", "damaged bytes"));
    if (reading.utf8Characters > 0)
        return QStringLiteral("its body was read as Windows-1252 though it holds %1, shown as Windows-1252 reads them")
            .arg(plural(reading.utf8Characters, "UTF-8 character", "UTF-8 characters"));
    return QString();
}
