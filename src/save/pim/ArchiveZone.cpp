#include "save/pim/ArchiveZone.h"

#include "save/MessageFields.h"
#include "save/SaveRun.h"
#include "save/pim/PimItems.h"
#include "scanner/ScanGlobals.h"

#include <QHash>

ZoneRules MostCommonZone(const QStringList &zoneTexts)
{
    QHash<QString, int> counts;
    QStringList order;
    for (const QString &text : zoneTexts) {
        if (text.trimmed().isEmpty())
            continue;
        auto it = counts.find(text);
        if (it == counts.end()) {
            // Each distinct text is parsed once; an unusable one never wins.
            if (!ZoneRules(text).isValid())
                continue;
            it = counts.insert(text, 0);
            order.append(text);
        }
        ++it.value();
    }
    QString best;
    for (const QString &text : order) {
        if (best.isEmpty() || counts.value(text) > counts.value(best))
            best = text;
    }
    return ZoneRules(best);
}

QStringList CalendarZoneTexts()
{
    QStringList texts;
    for (const CalenderInformation *rec = TmpCLRCPtrStart; rec; rec = rec->pNext) {
        const QByteArray element = ReadArchiveBytes(rec->llItemOffset, rec->dwItemLength);
        texts << ItemElementText(std::string_view(element.constData(), size_t(element.size())), "</appointment>",
                                 "<OPFCalendarEventGetStartTimeZoneICSData");
    }
    return texts;
}

const ZoneRules &SaveRun::archiveZone()
{
    if (!zoneOfArchive)
        zoneOfArchive.reset(new ZoneRules(MostCommonZone(CalendarZoneTexts())));
    return *zoneOfArchive;
}
