#pragma once
// The zone an archive shows for its user: the one most of its calendar items carry. Days stored
// without a zone (birthdays, all-day events, repeats without zone data) are days of that zone.

#include "save/pim/CalendarRules.h"

#include <QStringList>

// The usable zone the most texts give (the first of those tied); invalid when none is usable.
ZoneRules MostCommonZone(const QStringList &zoneTexts);

// The zone texts of the calendar item records, read from the archive again.
QStringList CalendarZoneTexts();
