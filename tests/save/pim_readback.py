"""Reads the calendar, task, contact and note files of one save with python icalendar,
recurring_ical_events and vobject, and checks them against what the test archive of
tst_pimreadback holds. argv: output root. Prints one line per item read and one PROBLEM line per
check that fails."""
import datetime, glob, os, sys

import icalendar
import recurring_ical_events
import vobject

root = sys.argv[1]
UTC = datetime.timezone.utc
problems = []


def problem(text):
    problems.append(text)


def instant(value):
    if isinstance(value, datetime.datetime):
        return value.astimezone(UTC) if value.tzinfo else value.replace(tzinfo=UTC)
    return value


files = [p for p in glob.glob(os.path.join(root, '**', '*'), recursive=True) if os.path.isfile(p)]
calendars, cards, texts = [], [], []
for path in files:
    data = open(path, 'rb').read()
    if data.startswith(b'BEGIN:VCALENDAR'):
        calendars.append((path, data))
    elif data.startswith(b'BEGIN:VCARD'):
        cards.append((path, data))
    elif path.endswith('.txt') and os.sep + 'Notes' + os.sep in path:
        texts.append((path, data.decode('utf-8')))
    if (path.endswith('.ics') or path.endswith('.vcf') or data.startswith(b'BEGIN:')) and \
            any(b < 0x20 and b not in (9, 10, 13) or b == 0x7f for b in data):
        problem('%s: a control character in a text value' % path)

components = {}
for path, data in calendars:
    cal = icalendar.Calendar.from_ical(data)
    for comp in cal.walk():
        if comp.name in ('VEVENT', 'VTODO', 'VJOURNAL'):
            if comp.name == 'VEVENT' and comp.get('DTSTART') is None:
                problem('%s: an event without DTSTART' % path)
            components[str(comp.get('SUMMARY', ''))] = (cal, comp)


def component(title):
    found = components.get(title)
    if found is None:
        problem('no item %r' % title[:40])
    return found or (None, None)


def occurrences(title, kind='VEVENT', limit=50):
    cal, comp = component(title)
    if cal is None:
        return []
    found = []
    for occurrence in recurring_ical_events.of(cal, components=[kind]).between((2018, 1, 1), (2031, 1, 1)):
        found.append(instant(occurrence.get('DTSTART').dt))
        if len(found) == limit:
            break
    print('%s|%d|%s' % (title[:40], len(found), ','.join(str(f) for f in found[:1] + found[-1:])))
    return found


def at(text):
    return datetime.datetime.fromisoformat(text).replace(tzinfo=UTC)


expected = {
    'Second Tuesday': [at(d + 'T16:00:00') for d in
                       ('2018-06-12', '2018-07-10', '2018-08-14', '2018-09-11', '2018-10-09', '2018-11-13')],
    'Last Monday of May': [at(d + 'T15:00:00') for d in ('2018-05-28', '2019-05-27', '2020-05-25')],
    'Endless daily': [at('2018-06-01T09:00:00') + datetime.timedelta(days=n) for n in range(50)],
    'Repeated hour': [at('2018-11-04T07:30:00')],
}
for title, want in expected.items():
    got = occurrences(title)
    if got != want:
        problem('%s: occurrences %s, archive %s' % (title, [str(g) for g in got[:8]], [str(w) for w in want[:8]]))
cal, endless = component('Endless daily')
if endless is not None and ('COUNT' in endless['RRULE'] or 'UNTIL' in endless['RRULE']):
    problem('Endless daily: rule %r has an end' % endless['RRULE'].to_ical())
cal, hour = component('Repeated hour')
if hour is not None and instant(hour['DTEND'].dt) != at('2018-11-04T07:45:00'):
    problem('Repeated hour ends at %s' % hour['DTEND'].dt)
for title, day in (('All day', datetime.date(2018, 6, 20)), ('All day in Tokyo', datetime.date(2018, 6, 20))):
    got = occurrences(title)
    if [g for g in got] != [day]:
        problem('%s: days %r, archive %s' % (title, got, day))
for title in ('Broken', 'No such day'):
    if title in components:
        problem('%r was saved though it has no valid start' % title)

long_task = 'T' * 300 + ' & end'
cal, task = component(long_task)
cal, done = component('Done task')
if done is not None:
    if str(done.get('STATUS')) != 'COMPLETED' or instant(done['COMPLETED'].dt) != at('2018-06-21T03:17:02'):
        problem('Done task: status %r, completed %r' % (done.get('STATUS'), done.get('COMPLETED')))
    print('Done task|%s|%s' % (done.get('STATUS'), instant(done['COMPLETED'].dt)))

long_title = 'N' * 300 + ' & title'
journals = [t for t in components if t == long_title]
note_texts = {text.split('\r\n', 1)[0]: text for path, text in texts}
if not journals and long_title not in note_texts:
    problem('the note with a long title has no title')
if texts:
    lines = note_texts.get('Lines', '')
    if lines != 'Lines\r\none\ntwo\n\nthree\x07\r\n':
        problem('plain-text note %r' % lines)

contacts = {}
for path, data in cards:
    card = vobject.readOne(data.decode('utf-8'))
    contacts[card.fn.value] = card
for name, day in (('Born 1980', '1980-05-17'), ('Leap Day', '1960-02-29'), ('Berlin Midnight', '1985-03-10')):
    card = contacts.get(name)
    got = card.bday.value if card is not None and hasattr(card, 'bday') else None
    print('%s|%s' % (name, got))
    if got != day:
        problem('%s: birthday %r, archive %s' % (name, got, day))
jane = contacts.get('Jane Doe')
if jane is None:
    problem('no card for Jane Doe')
else:
    got = {key: [c.value for c in jane.contents.get(key, [])] for key in ('impp', 'x-anniversary', 'x-spouse', 'x-child')}
    want = {'impp': ['im:jane@nosuch.mail'], 'x-anniversary': ['2018-06-20'], 'x-spouse': ['Marge'],
            'x-child': ['Bart', 'Lisa']}
    print('Jane Doe|%r' % got)
    if got != want:
        problem('Jane Doe: %r, archive %r' % (got, want))

for p in problems:
    print('PROBLEM ' + p)
