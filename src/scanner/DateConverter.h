#pragma once
// Archive date-times ("2010-05-06T10:20:30", read as UTC) turned into the machine's local time.

#include <QByteArray>
#include <QString>

enum class DateForm {
    Packed,       // 20100506T155030
    TaskText,     // 2010,May,06, 15:50:30 (English month names whatever the locale)
    ContactDate,  // 2010-05-06
    PackedUtc,    // 20100506T102030Z: the instant itself, no local conversion
};

// Reentrant: any thread may call it. "" when the local year lies outside 0..9999 or the
// conversion fails. Unreadable pieces count as 0: a missing or invalid date is 1970-01-01, an
// invalid time 00:00:00, and "30Z" or "30.000" are not plain numbers, so their seconds are 0.
QByteArray ConvertArchiveDate(const QString &text, DateForm form);

// The GUI thread's forms: each returns its own static buffer (never null), overwritten by the
// function's next call. Other threads use ConvertArchiveDate.
char *timeconvertert1(QString text);        // packed, 16 bytes
char *timeconverterDUetask1(QString text);  // packed, 16 bytes
char *timeconverterpre1(QString text);      // task text, 22 bytes
char *timeconverterCont(QString text);      // contact date, 22 bytes
