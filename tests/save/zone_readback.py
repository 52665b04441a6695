"""Wall times and days of a zone's history, from the system's zone database through python's
zoneinfo, for tst_calendarrules.

  zone_readback.py stored            stdin: "zone|YYYY-MM-DDTHH:MM" lines; prints the UTC instant
                                     each wall time is (the archive's form), or "-" for a wall
                                     time the zone skips or repeats.
  zone_readback.py midnights ZONE Y1 Y2 STEP
                                     every STEP-th day of the years: "day|stored|next|stored",
                                     the instants (UTC, the archive's form) its midnight and the
                                     next midnight's are in the zone, local mean time included;
                                     days without a midnight are left out.
  zone_readback.py check DIR         DIR/rows.txt: "file|zone|kind|count|first wall" lines;
                                     reads each file with python icalendar and
                                     recurring_ical_events, once by the zone's name and once by
                                     the block alone (its TZID renamed), and prints a PROBLEM line
                                     for each occurrence not at its wall time in the zone.
"""
import datetime
import os
import re
import sys
from zoneinfo import ZoneInfo

import icalendar
import recurring_ical_events

UTC = datetime.timezone.utc


def instant(zone, wall):
    """The UTC instant of a wall time, None where the zone skips or repeats it."""
    a, b = wall.replace(tzinfo=zone, fold=0), wall.replace(tzinfo=zone, fold=1)
    if a.utcoffset() != b.utcoffset() or a.astimezone(UTC).astimezone(zone).replace(tzinfo=None) != wall:
        return None
    return a.astimezone(UTC)


def walls(kind, first, count):
    out = []
    for k in range(count):
        if kind == 'weekly':
            out.append(first + datetime.timedelta(days=7 * k))
        elif kind == 'monthly':
            y, m = divmod(first.month - 1 + k, 12)
            out.append(first.replace(year=first.year + y, month=m + 1))
        else:
            out.append(first.replace(year=first.year + k))
    return out


def by_block(text):
    """The file with its zone renamed to one no reader knows: readers go by the block."""
    for n in set(re.findall(r'^TZID:(.*?)\r?$', text, re.M)):
        text = text.replace('TZID:' + n + '\r', 'TZID:ZONEBLOCK\r').replace('TZID=' + n + ':', 'TZID=ZONEBLOCK:')
        text = text.replace('TZID="%s"' % n, 'TZID=ZONEBLOCK')
    return text


def check(folder):
    problems = 0
    for line in open(os.path.join(folder, 'rows.txt'), encoding='utf-8'):
        name, zone_name, kind, count, first = line.rstrip('\n').split('|')
        zone = ZoneInfo(zone_name)
        want = [instant(zone, w) for w in walls(kind, datetime.datetime.fromisoformat(first), int(count))]
        text = open(os.path.join(folder, name), encoding='utf-8', newline='').read()
        if re.search(r'^DTSTART:\d{8}T\d{6}Z', text, re.M):
            print('PROBLEM %s: a UTC start with a rule' % name)
            problems += 1
        for reader, data in (('by name', text), ('by block', by_block(text))):
            if hasattr(icalendar.cal, '_timezone_cache'):
                icalendar.cal._timezone_cache.clear()
            cal = icalendar.Calendar.from_ical(data)
            lo = want[0] - datetime.timedelta(days=2)
            hi = want[-1] + datetime.timedelta(days=2)
            got = [o.decoded('DTSTART') for o in recurring_ical_events.of(cal).between(lo, hi)]
            got = sorted(g.astimezone(UTC) for g in got)
            wrong = [(w, g) for w, g in zip(want, got) if abs(w - g) > datetime.timedelta(seconds=59)]
            if len(got) != len(want) or wrong:
                w, g = wrong[0] if wrong else (None, None)
                print('PROBLEM %s %s: %d of %d occurrences, %d wrong, first %s shown %s' % (
                    name, reader, len(got), len(want), len(wrong), w and w.astimezone(zone),
                    g and g.astimezone(zone)))
                problems += 1
    print('checked')
    return problems


def stored():
    for line in sys.stdin:
        zone_name, wall = line.strip().split('|')
        at = instant(ZoneInfo(zone_name), datetime.datetime.fromisoformat(wall))
        if at is None and wall.endswith('T00:00'):  # a skipped midnight: the day begins at the change
            at = datetime.datetime.fromisoformat(wall).replace(tzinfo=ZoneInfo(zone_name)).astimezone(UTC)
        print(at.strftime('%Y-%m-%dT%H:%M:%S') if at else '-')


def midnight(zone, day):
    """The UTC instant a day's midnight is, None where the zone skips or repeats it."""
    return instant(zone, datetime.datetime(day.year, day.month, day.day))


def midnights(zone_name, first, last, step):
    zone = ZoneInfo(zone_name)
    day, end = datetime.date(first, 1, 1), datetime.date(last, 12, 31)
    form = '%Y-%m-%dT%H:%M:%S'
    while day <= end:
        after = day + datetime.timedelta(days=1)
        while midnight(zone, after) is None:
            after += datetime.timedelta(days=1)
        if midnight(zone, day) is not None:
            print('%s|%s|%s|%s' % (day.isoformat(), midnight(zone, day).strftime(form), after.isoformat(),
                                   midnight(zone, after).strftime(form)))
        day += datetime.timedelta(days=step)


if __name__ == '__main__':
    if sys.argv[1] == 'stored':
        stored()
    elif sys.argv[1] == 'midnights':
        midnights(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]))
    else:
        check(sys.argv[2])
