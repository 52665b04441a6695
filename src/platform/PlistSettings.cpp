#include "platform/PlistSettings.h"

#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace {

// Reads one value element; the reader stands on its start tag. Scalars become their text (true
// and false become bools); containers are skipped, since the settings we keep are flat strings.
bool readValue(QXmlStreamReader &xml, QVariant *value)
{
    const QStringRef name = xml.name();
    if (name == QLatin1String("true") || name == QLatin1String("false")) {
        *value = (name == QLatin1String("true"));
        xml.skipCurrentElement();
        return true;
    }
    if (name == QLatin1String("string") || name == QLatin1String("integer") || name == QLatin1String("real")
        || name == QLatin1String("date")) {
        *value = xml.readElementText();  // fails on nested elements, which a scalar may not hold
        return !xml.hasError();
    }
    xml.skipCurrentElement();
    return false;
}

// Reads the pairs of the top-level <dict>; the reader stands on its start tag.
void readDict(QXmlStreamReader &xml, QSettings::SettingsMap &map)
{
    QString key;
    bool haveKey = false;
    while (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("key")) {
            key = xml.readElementText();
            haveKey = true;
            continue;
        }
        QVariant value;
        if (readValue(xml, &value) && haveKey)
            map.insert(key, value);
        haveKey = false;
    }
}

bool readPlist(QIODevice &device, QSettings::SettingsMap &map)
{
    QXmlStreamReader xml(&device);
    QSettings::SettingsMap parsed;
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist"))
        return false;
    if (xml.readNextStartElement()) {
        if (xml.name() == QLatin1String("dict"))
            readDict(xml, parsed);
        else
            xml.skipCurrentElement();
    }
    while (!xml.atEnd() && !xml.hasError())  // the rest must still be well-formed
        xml.readNext();
    if (xml.hasError())
        return false;
    map = parsed;
    return true;
}

bool writePlist(QIODevice &device, const QSettings::SettingsMap &map)
{
    QXmlStreamWriter xml(&device);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(-1);  // one tab, as property-list editors write
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("plist"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    xml.writeStartElement(QStringLiteral("dict"));
    for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
        xml.writeTextElement(QStringLiteral("key"), it.key());
        xml.writeTextElement(QStringLiteral("string"), it.value().toString());
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return !xml.hasError();
}

}  // namespace

QSettings::Format PlistFormat()
{
    static const QSettings::Format format =
        QSettings::registerFormat(QStringLiteral("plist"), readPlist, writePlist, Qt::CaseSensitive);
    return format;
}

QString ReadPlistString(const QString &plistPath, const QString &key)
{
    if (plistPath.isEmpty())
        return QString();
    QSettings settings(plistPath, PlistFormat());
    return settings.value(key).toString();
}
