#pragma once
// CRC-32 of streamed chunks, as Crc32Update, with the CPU's carry-less multiply where it has one:
// the archive writer checksums every byte it copies, and the table method would cost as much
// time as the copy itself.

#include <QtGlobal>

quint32 OlmCrc32Update(quint32 crc, const char *data, qint64 length);
