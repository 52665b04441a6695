#pragma once
// Names of the contact, calendar, task and note files: the record's UUID written as two groups
// of 13 base-32 digits, least significant digit first.

#include <QString>

// Appends exactly 13 base-32 digits of value, most significant first, padded with 'A'. Never
// clears out.
void dtoh(unsigned long long value, QString *out);

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" of a record's 32 hex digits; empty when szUuid does not
// hold exactly 32 hexadecimal digits.
QString DashedUuid(const char *szUuid);

// The 26-character file name; empty when szUuid does not hold exactly 32 hexadecimal digits.
QString ItemFileName(const char *szUuid);
