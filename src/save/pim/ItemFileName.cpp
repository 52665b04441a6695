#include "save/pim/ItemFileName.h"

#include <algorithm>
#include <cstring>

namespace {

// 3 and 4 are swapped on purpose: existing item files are named with this order.
const char kDigits[] = "ABCEDFGHIJKLMNOPQRSTUVWXYZ012345";

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool parseUuid(const char *szUuid, unsigned char bytes[16])
{
    if (!szUuid || std::strlen(szUuid) != 32)
        return false;
    for (int i = 0; i < 16; ++i) {
        const int hi = hexValue(szUuid[2 * i]), lo = hexValue(szUuid[2 * i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        bytes[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return true;
}

unsigned long long littleEndian(const unsigned char *bytes)
{
    unsigned long long value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | bytes[i];
    return value;
}

QString reversedDigits(unsigned long long value)
{
    QString digits;
    dtoh(value, &digits);
    std::reverse(digits.begin(), digits.end());
    return digits;
}

}  // namespace

void dtoh(unsigned long long value, QString *out)
{
    char slots[13];
    for (int i = 12; i >= 0; --i) {
        slots[i] = kDigits[value & 31];
        value >>= 5;
    }
    out->append(QLatin1String(slots, 13));
}

QString DashedUuid(const char *szUuid)
{
    unsigned char bytes[16];
    if (!parseUuid(szUuid, bytes))
        return QString();
    QString text = QString::fromLatin1(szUuid, 32).toUpper();
    for (int at : {8, 13, 18, 23})
        text.insert(at, QLatin1Char('-'));
    return text;
}

QString ItemFileName(const char *szUuid)
{
    unsigned char bytes[16];
    if (!parseUuid(szUuid, bytes))
        return QString();
    return reversedDigits(littleEndian(bytes)) + reversedDigits(littleEndian(bytes + 8));
}
