#include "browse/DrawnText.h"

#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QLabel>
#include <QPaintDevice>

namespace {

bool isLatin1Line(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xff || c == QLatin1Char('\n'))
            return false;
    }
    return true;
}

int measured(const QFont &font, const QString &text, const QPaintDevice *device)
{
    const QFontMetrics metrics(font, device);
    const QRect room(0, 0, 1 << 20, 1 << 20);
    return qMax(metrics.height(), metrics.boundingRect(room, Qt::AlignLeft, text).height());
}

// One line holding every printable Latin-1 character: no line of Latin-1 text is taller.
const QString &latin1Line()
{
    static const QString line = [] {
        QString all;
        for (ushort u = 0x20; u <= 0xff; ++u) {
            if (u < 0x7f || u >= 0xa0)
                all += QChar(u);
        }
        return all;
    }();
    return line;
}

}  // namespace

int DrawnTextHeight(const QFont &font, const QString &text, const QPaintDevice *device)
{
    // Most mail is Latin-1 on one line: measured once per font and resolution, as a folder of
    // many rows needs.
    if (isLatin1Line(text)) {
        static QHash<QString, int> latin1Heights;
        const QString key = font.key() + QLatin1Char('@') + QString::number(device ? device->logicalDpiY() : 0);
        auto it = latin1Heights.constFind(key);
        if (it == latin1Heights.constEnd())
            it = latin1Heights.insert(key, measured(font, latin1Line(), device));
        return it.value();
    }
    return measured(font, text, device);
}

int LabelLineWidth(const QLabel *label, const QString &text)
{
    const int frame = label->width() - label->contentsRect().width() + 2 * label->margin();
    const QRect room(0, 0, 1 << 20, 1 << 20);
    return label->fontMetrics().boundingRect(room, Qt::AlignLeft | Qt::TextSingleLine, text).width() + frame;
}
