#include "save/pim/HtmlEntities.h"

#include "scanner/XmlEntities.h"

#include <QHash>

namespace {

struct EntityNames {
    QHash<QString, QString> byName;  // "eacute;" and, for the legacy ones, "eacute"
    int longest = 0;
};

const EntityNames &entityNames()
{
    static const EntityNames names = [] {
        EntityNames n;
        for (const QByteArray &entry : QByteArray(kHtmlEntityTable).split(' ')) {
            const int eq = entry.indexOf('=');
            if (eq <= 0)
                continue;
            QString value;
            for (const QByteArray &code : entry.mid(eq + 1).split('+')) {
                const uint point = code.toUInt(nullptr, 16);
                value += QString::fromUcs4(&point, 1);
            }
            n.byName.insert(QString::fromLatin1(entry.left(eq)), value);
            n.longest = qMax(n.longest, eq);
        }
        return n;
    }();
    return names;
}

bool isNameChar(QChar c)
{
    return c.unicode() < 0x80 && c.isLetterOrNumber();
}

// The reference at text[at] ('&'): *length its characters, the text it stands for; empty when
// it is none.
QString referenceAt(const QString &text, int at, int *length)
{
    const EntityNames &names = entityNames();
    if (at + 1 < text.size() && text.at(at + 1) == QLatin1Char('#')) {
        const int semi = text.indexOf(QLatin1Char(';'), at);
        if (semi < 0 || semi - at > 12)
            return QString();
        const QString reference = text.mid(at, semi - at + 1);
        const QString value = UnescapeXmlEntities(reference, EntityForm::Scanned);
        *length = reference.size();
        return value == reference ? QString() : value;
    }
    int end = at + 1;
    while (end < text.size() && end - at <= names.longest && isNameChar(text.at(end)))
        ++end;
    if (end < text.size() && text.at(end) == QLatin1Char(';')) {
        const auto it = names.byName.constFind(text.mid(at + 1, end - at));
        if (it != names.byName.constEnd()) {
            *length = end - at + 1;
            return it.value();
        }
    }
    // A legacy name without its ';': the longest one the text starts with ("&copy 2020").
    for (int stop = end; stop > at + 1; --stop) {
        const auto it = names.byName.constFind(text.mid(at + 1, stop - at - 1));
        if (it != names.byName.constEnd()) {
            *length = stop - at;
            return it.value();
        }
    }
    return QString();
}

}  // namespace

QString UnescapeHtmlText(const QString &text)
{
    if (!text.contains(QLatin1Char('&')))
        return text;
    QString out;
    out.reserve(text.size());
    for (int at = 0; at < text.size();) {
        const int amp = text.indexOf(QLatin1Char('&'), at);
        if (amp < 0) {
            out += text.midRef(at);
            break;
        }
        out += text.midRef(at, amp - at);
        int length = 0;
        const QString value = referenceAt(text, amp, &length);
        if (value.isEmpty()) {
            out += QLatin1Char('&');
            at = amp + 1;
        } else {
            out += value;
            at = amp + length;
        }
    }
    return out;
}
