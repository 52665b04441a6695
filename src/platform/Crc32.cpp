#include "platform/Crc32.h"

#include <zlib.h>

#include <algorithm>

quint32 Crc32Update(quint32 crc, const char *data, qint64 length)
{
    // zlib takes a 32-bit length: feed longer buffers in pieces.
    constexpr qint64 kStep = qint64(1) << 30;
    uLong value = crc;
    while (length > 0) {
        const qint64 n = std::min(length, kStep);
        value = crc32(value, reinterpret_cast<const Bytef *>(data), uInt(n));
        data += n;
        length -= n;
    }
    return quint32(value);
}
