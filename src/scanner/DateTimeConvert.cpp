#include "scanner/DateTimeConvert.h"

#include <QDateTime>
#include <QDebug>

quint32 integertimeconverter(const QString &text)
{
    const QDateTime dt = QDateTime::fromString(text, Qt::ISODate);
    if (!dt.isValid()) {
        qDebug() << "Invalid date-time string";
        return 0;
    }
    const qint64 secs = dt.toSecsSinceEpoch();
    if (secs < 0 || secs > qint64(0xFFFFFFFFLL))
        return 0;
    return quint32(secs);
}
