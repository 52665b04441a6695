#include "save/pim/PimText.h"

#include <QTextDocument>

namespace {

constexpr int kMaxLineOctets = 75;

bool isBreak(QChar c)
{
    return c == QLatin1Char('\r') || c == QLatin1Char('\n');
}

QString escapeText(const QString &text, bool pairIsOneBreak)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') || c == QLatin1Char(';') || c == QLatin1Char(',')) {
            out += QLatin1Char('\\');
            out += c;
        } else if (isBreak(c)) {
            if (pairIsOneBreak && c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            out += QLatin1String("\\n");
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QString EscapeText(const QString &text)
{
    return escapeText(text, true);
}

QString EscapeTextEachBreak(const QString &text)
{
    return escapeText(text, false);
}

QString JoinLines(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size();) {
        if (!isBreak(text.at(i))) {
            out += text.at(i++);
            continue;
        }
        int end = i;
        while (end < text.size() && isBreak(text.at(end)))
            ++end;
        if (i > 0 && end < text.size() && !text.at(i - 1).isSpace() && !text.at(end).isSpace())
            out += QLatin1Char(' ');
        i = end;
    }
    return out;
}

QByteArray FoldContentLine(const QByteArray &line)
{
    QByteArray out;
    out.reserve(line.size() + line.size() / 70 * 3 + 2);
    int start = 0;
    int room = kMaxLineOctets;
    while (line.size() - start > room) {
        int cut = start + room;
        // Back up to the first byte of a UTF-8 sequence.
        while (cut > start + 1 && (quint8(line.at(cut)) & 0xC0) == 0x80)
            --cut;
        out += line.mid(start, cut - start);
        out += "\r\n ";
        start = cut;
        room = kMaxLineOctets - 1;   // the leading space counts
    }
    out += line.mid(start);
    out += "\r\n";
    return out;
}

void ContentLines::add(const QByteArray &name, const QByteArray &value)
{
    m_bytes += FoldContentLine(name + ':' + value);
}

void ContentLines::add(const QByteArray &name, const QString &value)
{
    add(name, value.toUtf8());
}

void ContentLines::addText(const QByteArray &name, const QString &value)
{
    if (!value.isEmpty())
        add(name, EscapeText(value));
}

void AddCalendarHead(ContentLines &lines, const char *prodId)
{
    lines.add("BEGIN", QByteArray("VCALENDAR"));
    lines.add("VERSION", QByteArray("2.0"));
    lines.add("PRODID", QByteArray(prodId));
    lines.add("METHOD", QByteArray("PUBLISH"));
}

QString PlainTextOfHtml(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}
