#pragma once
// CRC-32 (the ZIP checksum) of a stream of chunks: start from 0 and feed every chunk in order.

#include <QtGlobal>

quint32 Crc32Update(quint32 crc, const char *data, qint64 length);
