// Calendar items: one iCalendar file (.ics) holding one event per item, in the output's
// Calendar folder. Times are written as UTC instants; all-day events as local dates.

#include "save/MessageFields.h"
#include "save/QMailSavingThread.h"
#include "save/SaveGlobals.h"
#include "save/SaveRun.h"
#include "save/pim/PimDates.h"
#include "save/pim/PimFiles.h"
#include "save/pim/PimItems.h"
#include "save/pim/PimText.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QDateTime>

namespace {

constexpr std::string_view kEventEnd = "</appointment>";
const char kCalendarProdId[] = "-//Microsoft Corporation//Zovuvoziv Mac 11.0 MIMEDIR//EN";

void addTime(ContentLines &lines, const char *name, const QString &text, bool allDay)
{
    const QByteArray value = allDay ? ArchiveDateLocalDay(text) : ArchiveDateUtc(text);
    if (value.isEmpty())
        return;
    lines.add(allDay ? QByteArray(name) + ";VALUE=DATE" : QByteArray(name), value);
}

QByteArray nowUtc()
{
    return QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
}

}  // namespace

QByteArray CalendarEventFile(const CalenderInformation &rec, const QString &uid, std::string_view element,
                             const QByteArray &description, const QByteArray &now)
{
    const auto text = [&](const char *tag) { return ItemElementText(element, kEventEnd, tag); };
    const QString start = text("<OPFCalendarEventCopyStartTime");
    const QString end = text("<OPFCalendarEventCopyEndTime");
    const bool allDay = text("<OPFCalendarEventGetIsAllDayEvent") == QLatin1String("1");
    QByteArray stamp = ArchiveDateUtc(text("<OPFCalendarEventCopyModDate"));
    if (stamp.isEmpty())
        stamp = now;
    const QString eventUid = text("<OPFCalendarEventCopyUUID");

    ContentLines lines;
    AddCalendarHead(lines, kCalendarProdId);
    lines.add("BEGIN", QByteArray("VEVENT"));
    lines.add("UID", EscapeText(eventUid.isEmpty() ? uid : eventUid));
    lines.add("DTSTAMP", stamp);
    lines.addText("SUMMARY", rec.pSummary ? QString::fromUtf8(rec.pSummary) : text("<OPFCalendarEventCopySummary"));
    lines.addText("LOCATION", rec.pLocation ? QString::fromUtf8(rec.pLocation) : text("<OPFCalendarEventCopyLocation"));
    if (rec.dwDescriptionLength != 0)
        lines.addText("DESCRIPTION",
                      UnescapeXmlEntities(QString::fromUtf8(UpToFirstNul(description)), EntityForm::Scanned));
    addTime(lines, "DTSTART", start, allDay);
    addTime(lines, "DTEND", end, allDay);
    lines.add("END", QByteArray("VEVENT"));
    lines.add("END", QByteArray("VCALENDAR"));
    return lines.bytes();
}

void QMailSavingThread::OnCalenderSaving(unsigned long long folderId)
{
    SaveRun *run = currentRun();
    if (!run)
        return;
    const PimFile target{PimItemFolder(run->mail, appmaildata, QStringLiteral("Calendar")), QString(),
                         QStringLiteral(".ics"), 0, 0};
    const QVector<const CalenderInformation *> records = run->calendar.of(qint64(folderId));
    const QByteArray now = nowUtc();
    for (int i = 0; i < records.size(); ++i) {
        if (stopRequested())
            return;
        const CalenderInformation &rec = *records.at(i);
        reportItem(QStringLiteral("Saving Calender Folders..."));

        const QByteArray element = ReadArchiveBytes(rec.llItemOffset, rec.dwItemLength);
        const QByteArray description =
            rec.dwDescriptionLength ? ReadArchiveBytes(rec.dwDescriptionOffset, rec.dwDescriptionLength) : QByteArray();
        QString uid;
        const PimFile file = ItemFile(target, rec.szUuid, "Event", i + 1, &uid);
        const QString what =
            QStringLiteral("Calendar item \"%1\"").arg(QString::fromUtf8(rec.pSummary ? rec.pSummary : ""));
        if (!ReadBackIntact(element, rec.dwItemLength) || !ReadBackIntact(description, rec.dwDescriptionLength)) {
            NoteUnreadable(run->mail, what, file);
            continue;
        }
        const QByteArray bytes = CalendarEventFile(
            rec, uid, std::string_view(element.constData(), size_t(element.size())), description, now);
        SavePimItem(run->mail, file, bytes, what);
    }
}
