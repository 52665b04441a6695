#pragma once
// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks) for bulk data. Attachments
// are most of what a save writes, and this table-driven form encodes several times faster than
// a byte at a time; the output is byte for byte what QByteArray::toBase64 gives.

#include <QtGlobal>

// Characters needed for length input bytes.
constexpr qint64 Base64Length(qint64 length)
{
    return (length + 2) / 3 * 4;
}

// Encodes length bytes of in into out, which holds Base64Length(length) characters; returns them.
qint64 EncodeBase64(const char *in, qint64 length, char *out);

// Base64 in lines of 76 characters (57 input bytes), each line, the last one too, followed by
// lineEnd: mail allows no longer ones. Chunks of a multiple of 57 bytes join into one text.
constexpr qint64 Base64LinesLength(qint64 length, qint64 lineEndSize)
{
    return Base64Length(length) + (length + 56) / 57 * lineEndSize;
}
qint64 EncodeBase64Lines(const char *in, qint64 length, char *out, const char *lineEnd, int lineEndSize);
