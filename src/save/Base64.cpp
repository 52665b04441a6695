#include "save/Base64.h"

#include <array>
#include <cstring>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Two output characters for every 12-bit value: one lookup per half of a 3-byte group.
struct PairTable {
    std::array<char, 4096 * 2> chars{};
    PairTable()
    {
        for (int v = 0; v < 4096; ++v) {
            chars[size_t(2 * v)] = kAlphabet[v >> 6];
            chars[size_t(2 * v + 1)] = kAlphabet[v & 63];
        }
    }
};

const PairTable &pairs()
{
    static const PairTable table;
    return table;
}

}  // namespace

namespace {

// Whole 3-byte groups of src[0, length) into dst; returns where the groups end in src.
inline qint64 encodeGroups(const unsigned char *src, qint64 length, char *&dst, const char *table)
{
    qint64 i = 0;
    for (; i + 3 <= length; i += 3, dst += 4) {
        const quint32 group = quint32(src[i]) << 16 | quint32(src[i + 1]) << 8 | src[i + 2];
        std::memcpy(dst, table + 2 * (group >> 12), 2);
        std::memcpy(dst + 2, table + 2 * (group & 0xFFF), 2);
    }
    return i;
}

}  // namespace

qint64 EncodeBase64(const char *in, qint64 length, char *out)
{
    const char *table = pairs().chars.data();
    const unsigned char *src = reinterpret_cast<const unsigned char *>(in);
    char *dst = out;
    const qint64 i = encodeGroups(src, length, dst, table);
    const qint64 rest = length - i;
    if (rest > 0) {
        const quint32 group = quint32(src[i]) << 16 | (rest == 2 ? quint32(src[i + 1]) << 8 : 0);
        dst[0] = kAlphabet[group >> 18];
        dst[1] = kAlphabet[(group >> 12) & 63];
        dst[2] = rest == 2 ? kAlphabet[(group >> 6) & 63] : '=';
        dst[3] = '=';
        dst += 4;
    }
    return dst - out;
}

qint64 EncodeBase64Lines(const char *in, qint64 length, char *out, const char *lineEnd, int lineEndSize)
{
    const char *table = pairs().chars.data();
    const unsigned char *src = reinterpret_cast<const unsigned char *>(in);
    char *dst = out;
    qint64 i = 0;
    for (; i + 57 <= length; i += 57) {
        encodeGroups(src + i, 57, dst, table);
        std::memcpy(dst, lineEnd, size_t(lineEndSize));
        dst += lineEndSize;
    }
    if (i < length) {
        dst += EncodeBase64(in + i, length - i, dst);
        std::memcpy(dst, lineEnd, size_t(lineEndSize));
        dst += lineEndSize;
    }
    return dst - out;
}
