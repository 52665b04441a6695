"""Reads the calendar, task, contact and note files of one save with python icalendar,
recurring_ical_events and vobject, and checks them against what the archive holds: the test
archive of tst_pimreadback ("cases") or the sample archive ("sample"). argv: output root, which.
Prints one line per item read and one PROBLEM line per check that fails."""
import datetime, glob, os, sys
from zoneinfo import ZoneInfo

import icalendar
import recurring_ical_events
import vobject

root = sys.argv[1]
which = sys.argv[2] if len(sys.argv) > 2 else 'cases'
UTC = datetime.timezone.utc
DENVER = ZoneInfo('America/Denver')
problems = []


def problem(text):
    problems.append(text)


def instant(value):
    if isinstance(value, datetime.datetime):
        return value.astimezone(UTC) if value.tzinfo else value.replace(tzinfo=UTC)
    return value


if which == 'days':
    # Every day of a span as an all-day event "D <start> <end>" and as a card "P <day>" with that
    # birthday and anniversary, the files of each kind one after the other: each on its own day in
    # both readers. argv[3]: how many days.
    def iso(value):
        return value.isoformat() if type(value) is datetime.date else repr(value)

    data = open(os.path.join(root, 'days.ics'), encoding='utf-8').read()
    read = [icalendar.Calendar.from_ical(data, multiple=True), vobject.readComponents(data)]
    events = 0
    for cal, other in zip(*read):
        comp, event = cal.walk('VEVENT')[0], other.vevent
        start, end = str(comp.get('SUMMARY')).split(' ')[1:]
        got = [iso(comp.get('DTSTART').dt), iso(comp.get('DTEND').dt), iso(event.dtstart.value), iso(event.dtend.value)]
        if got != [start, end, start, end] or event.summary.value != str(comp.get('SUMMARY')):
            problem('%s: read as %r' % (event.summary.value, got))
        events += 1
    people = 0
    for card in vobject.readComponents(open(os.path.join(root, 'days.vcf'), encoding='utf-8').read()):
        day = card.fn.value.split(' ')[1]
        got = [card.bday.value if hasattr(card, 'bday') else None,
               card.x_anniversary.value if hasattr(card, 'x_anniversary') else None]
        if got != [day, day]:
            problem('%s: read as %r' % (card.fn.value, got))
        people += 1
    print('days|%d events|%d cards' % (events, people))
    if events != int(sys.argv[3]) or people != int(sys.argv[3]):
        problem('%d events and %d cards for %s days' % (events, people, sys.argv[3]))
    for p in problems:
        print('PROBLEM ' + p)
    sys.exit(0)


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


def occurrences(title, kind='VEVENT', limit=50, since=(2018, 1, 1), until=(2031, 1, 1)):
    cal, comp = component(title)
    if cal is None:
        return []
    found = []
    for occurrence in recurring_ical_events.of(cal, components=[kind]).between(since, until):
        found.append(instant(occurrence.get('DTSTART').dt))
        if len(found) == limit:
            break
    print('%s|%d|%s' % (title[:40], len(found), ','.join(str(f) for f in found[:1] + found[-1:])))
    return found


def at(text):
    return datetime.datetime.fromisoformat(text).replace(tzinfo=UTC)


def local(text, zone, days, count):
    """count wall times of zone, days apart (a list: days of the month), as UTC instants."""
    start = datetime.datetime.fromisoformat(text)
    walls = [start + datetime.timedelta(days=days * n) for n in range(count)]
    return [w.replace(tzinfo=zone).astimezone(UTC) for w in walls]


def expect(table, kind='VEVENT'):
    for title, want, window in table:
        got = occurrences(title, kind, limit=len(want) + 1, **window)
        if got != want:
            problem('%s: %d occurrences %s, archive %d %s' % (title, len(got), [str(g) for g in got[:8]], len(want),
                                                              [str(w) for w in want[:8]]))


def text_of(title, name):
    cal, comp = component(title)
    return None if comp is None else str(comp.get(name))


if which == 'pacific':
    # An archive of a user in sys.argv[3] whose repeats, all-day event and birthdays carry no zone.
    import base64, re, zipfile
    zone = ZoneInfo(sys.argv[3])

    def wall(y, mo, d, h=0, mi=0):
        return datetime.datetime(y, mo, d, h, mi, tzinfo=zone).astimezone(UTC)

    wednesdays = [(datetime.datetime(2019, 1, 16) + datetime.timedelta(days=7 * n)) for n in range(30)]
    expect([('Wednesday standup', [wall(w.year, w.month, w.day, 8) for w in wednesdays], {}),
            ('Early Wednesday', [wall(w.year, w.month, w.day, 1) for w in wednesdays], {}),
            ('First of the month', [wall(2019 + (m - 1) // 12, (m - 1) % 12 + 1, 1, 9) for m in range(2, 14)], {})])
    expect([('Wednesday task', [wall(w.year, w.month, w.day, 8) for w in wednesdays], {}),
            ('Early Wednesday task', [wall(w.year, w.month, w.day, 1) for w in wednesdays], {}),
            ('First of the month task', [wall(2019 + (m - 1) // 12, (m - 1) % 12 + 1, 1, 9) for m in range(2, 14)],
             {})], kind='VTODO')
    # Due on a date alone: the repeat's end is the user's day, so it ends on that day.
    expect([('Due daily to the 20th', [datetime.date(2019, 1, d) for d in range(15, 21)], {}),
            ('Due daily to its day', [datetime.date(2019, 1, 15)], {}),
            ('Due daily to the 14th', [datetime.date(2019, 1, 15)], {})], kind='VTODO')
    cal, early = component('Due daily to the 14th')
    if early is not None and early.get('RRULE') is not None:
        problem('Due daily to the 14th: rule %r' % early.get('RRULE'))
    got = occurrences('New Year')
    if got != [datetime.date(2019, 1, 1)]:
        problem('New Year: days %r' % got)
    archive = zipfile.ZipFile(sys.argv[4])
    stored = archive.read('Local/Address Book/Contacts.xml').decode()
    pictures = {}
    for item in re.findall(r'<contact .*?</contact>', stored, re.S):
        name = re.search(r'<OPFContactCopyDisplayName[^>]*>(.*?)<', item).group(1)
        picture = re.search(r'<OPFContactAddPicture[^>]*>(.*?)<', item, re.S)
        if picture:
            pictures[name] = picture.group(1)
    contacts = {}
    for path, data in cards:
        card = vobject.readOne(data.decode('utf-8'))
        contacts[card.fn.value] = card
    for name, day in (('Born 15 January', '2000-01-15'), ('Born 15 July', '2000-07-15')):
        card = contacts.get(name)
        got = card.bday.value if card is not None and hasattr(card, 'bday') else None
        if got != day:
            problem('%s: birthday %r' % (name, got))
    for name, kind in (('PNG Person', 'PNG'), ('JPEG Person', 'JPEG')):
        card = contacts.get(name)
        photo = card.contents.get('photo', [None])[0] if card is not None else None
        want = base64.b64decode(re.sub(r'\s', '', pictures[name]))
        if photo is None or photo.value != want or photo.params.get('TYPE') != [kind]:
            problem('%s: picture %r' % (name, photo and (len(photo.value), photo.params)))
    broken = contacts.get('Broken Picture')
    if broken is None or 'photo' in broken.contents:
        problem('Broken Picture: card %r' % broken)
    typed = '<br> <anna@example.com> &amp;'
    if texts:
        if [t for p, t in texts] != ['Typed\r\n' + typed + '\r\n']:
            problem('typed note %r' % texts)
    elif text_of('Typed', 'DESCRIPTION') != typed:
        problem('typed note %r' % text_of('Typed', 'DESCRIPTION'))
    for p in problems:
        print('PROBLEM ' + p)
    sys.exit(0)


if which == 'sample':
    # The sample's meetings are in Mountain time: every occurrence at its local time there.
    monthly = [datetime.datetime(2018, m, 19, 11, 30, tzinfo=DENVER).astimezone(UTC) for m in range(7, 13)]
    expect([('Weekly Recurring meeting', local('2018-06-18T11:30', DENVER, 7, 27), {}),
            ('Daily recurring meeting', local('2018-06-19T12:00', DENVER, 1, 184), {}),
            ('Monthly recurring', monthly, {}),
            ('Yearly recurrence', [at('2018-07-17T17:00:00')], {})])
    # Its two repeating tasks share a name: each has its own file. They carry no zone: at
    # midnight in Mountain time, the sample's zone, before and after its November change.
    wednesdays = local('2018-06-20T00:00', DENVER, 7, 27)
    fridays = local('2018-06-22T00:00', DENVER, 7, 27)
    also_fridays = sorted(wednesdays + fridays)[:53]
    repeats = []
    for path, data in calendars:
        cal = icalendar.Calendar.from_ical(data)
        todo = cal.walk('VTODO')
        if todo and str(todo[0].get('SUMMARY')) == 'recurring task':
            found = [instant(o.get('DUE', o.get('DTSTART')).dt)
                     for o in recurring_ical_events.of(cal, components=['VTODO']).between((2018, 1, 1), (2031, 1, 1))]
            repeats.append(found)
            print('recurring task|%d|%s' % (len(found), ','.join(str(f) for f in found[:1] + found[-1:])))
    if sorted(repeats, key=len) != [wednesdays, also_fridays]:
        problem('recurring tasks: %r' % [len(r) for r in repeats])
    cal, task = component('task1')
    if task is not None and 'This is a task' not in str(task.get('DESCRIPTION')):
        problem('task1 lost its note')
    for p in problems:
        print('PROBLEM ' + p)
    sys.exit(0)


# Most timed items of this archive carry Berlin's zone: repeats without zone data keep their
# Berlin wall time across its clock changes (the first occurrence at the stored instant).
BERLIN = ZoneInfo('Europe/Berlin')


def berlin(day, clock):
    return datetime.datetime.fromisoformat(day + 'T' + clock).replace(tzinfo=BERLIN).astimezone(UTC)


expected = {
    'Second Tuesday': [berlin(d, '18:00') for d in
                       ('2018-06-12', '2018-07-10', '2018-08-14', '2018-09-11', '2018-10-09', '2018-11-13')],
    'Last Monday of May': [at(d + 'T15:00:00') for d in ('2018-05-28', '2019-05-27', '2020-05-25')],
    'Endless daily': [at('2018-06-01T09:00:00') + datetime.timedelta(days=n) for n in range(50)],
    'Repeated hour': [at('2018-11-04T07:30:00')],
}
for title, want in expected.items():
    got = occurrences(title)
    if got != want:
        problem('%s: occurrences %s, archive %s' % (title, [str(g) for g in got[:8]], [str(w) for w in want[:8]]))
# Times in the machine's clock change, before the zone data, on another day than UTC's, at a
# month's end and in two-weekly patterns.
berlin_1 = ZoneInfo('Europe/Berlin')
mountain = local('2018-06-18T11:30', DENVER, 7, 27)
expect([('Weekly in Mountain time', mountain, {}),
        ("In New York's spring gap", [at('2018-03-11T02:30:00')], {}),
        ("Ends in New York's spring gap", [at('2018-03-11T01:30:00')], {}),
        ("In Berlin's spring gap", [at('2018-03-25T01:30:00')], {}),
        ('Daily until spring', local('2018-03-20T03:30', berlin_1, 1, 6), {}),
        ('Monday evening in Los Angeles', [at('2018-06-19T03:00:00') + datetime.timedelta(days=7 * n)
                                           for n in range(10)], {}),
        ('Mountain 2005', [at('2005-07-04T16:00:00') + datetime.timedelta(days=7 * n) for n in range(10)],
         {'since': (2005, 1, 1)}),
        ('Berlin 1965', [at('1965-07-01T10:00:00')], {'since': (1965, 1, 1)}),
        ('Berlin 1601', [at('1601-01-15T10:00:00')], {'since': (1601, 1, 1), 'until': (1602, 1, 1)}),
        ('Day 31', [berlin('%04d-%02d-%02d' % (2018 + m // 12, m % 12 + 1,
                                                (datetime.date(2018 + (m + 1) // 12, (m + 1) % 12 + 1, 1)
                                                 - datetime.timedelta(days=1)).day), '11:00') for m in range(12)], {}),
        ('Sunday and Tuesday', [at('2018-01-%02dT10:00:00' % d) for d in (7, 9, 21, 23)], {})])
for title, end in (("In New York's spring gap", '2018-03-11T03:30:00'),
                   ("Ends in New York's spring gap", '2018-03-11T02:30:00'),
                   ("In Berlin's spring gap", '2018-03-25T02:30:00')):
    cal, comp = component(title)
    if comp is not None and (comp.get('DTEND') is None or instant(comp['DTEND'].dt) != at(end)):
        problem('%s ends at %s, archive %s' % (title, comp.get('DTEND') and comp['DTEND'].dt, end))
expect([('Berlin Wednesday', [at('2018-06-19T22:00:00') + datetime.timedelta(days=7 * n) for n in range(10)], {}),
        ('Tokyo 20th', [at('2018-%02d-19T15:00:00' % m) for m in range(6, 12)], {})], kind='VTODO')
for title, name, want in (('Plain note', 'DESCRIPTION', 'Call back\nat noon, <sharp>'),
                          ('Two\nlines', 'DUE', None)):
    got = text_of(title, name)
    if name == 'DUE':
        cal, comp = component(title)
        if comp is not None and instant(comp['DUE'].dt) != at('2010-05-06T10:20:30'):
            problem('Two lines: due %s' % comp['DUE'].dt)
    elif got != want:
        problem('%s: %s %r, archive %r' % (title, name, got, want))
cal, early = component('Ended early')
if early is not None and (early.get('RRULE') is not None or early['DUE'].dt != datetime.date(2018, 6, 20)):
    problem('Ended early: due %r, rule %r' % (early.get('DUE'), early.get('RRULE')))
cal, bad = component('Bad due')
if bad is not None and bad.get('DUE') is not None:
    problem('Bad due has a DUE')
# Its title is never closed: it is read as far as it is sound.
if 'Lost title' not in components:
    problem('the event whose title is never closed was not saved')

cal, endless = component('Endless daily')
if endless is not None and endless['RRULE'].get('COUNT') != [1000000000]:
    problem('Endless daily: rule %r is not counted as stored' % endless['RRULE'].to_ical())
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
    typed = note_texts.get('Typed', '')
    want = ('Typed\r\nSend the contract to John Smith <john.smith@example.org> by Friday\n'
            '  if a<b and c>d then swap; x < y\n&lt;br&gt;\r\n')
    if typed != want:
        problem('typed note %r' % typed)
else:
    cal, journal = component('Typed')
    want = 'Send the contract to John Smith <john.smith@example.org> by Friday\n  if a<b and c>d then swap; x < y\n&lt;br&gt;'
    if journal is not None and str(journal.get('DESCRIPTION')) != want:
        problem('typed note %r' % str(journal.get('DESCRIPTION')))

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

holiday = contacts.get('Holiday Person')
if holiday is None or [c.value for c in holiday.contents.get('categories', [])] != [['Holiday']]:
    problem('Holiday Person: categories %r' % (holiday and holiday.contents.get('categories')))

for p in problems:
    print('PROBLEM ' + p)
