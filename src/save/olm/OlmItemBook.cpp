#include "save/olm/OlmItemBook.h"

int OlmItemBook::begin(const QString &what)
{
    m_items.append(Item{what, {}, {}, {}, false, false});
    return m_items.size() - 1;
}

void OlmItemBook::addOnce(QStringList &list, const QString &line)
{
    if (!list.contains(line))
        list.append(line);
}

void OlmItemBook::lost(int item, const QString &why)
{
    if (item >= 0)
        addOnce(m_items[item].lost, why);
}

void OlmItemBook::renamed(int item, const QString &why)
{
    if (item >= 0)
        addOnce(m_items[item].renamed, why);
}

void OlmItemBook::stands(int item)
{
    if (item >= 0)
        m_items[item].stands = true;
}

void OlmItemBook::counted(int item)
{
    if (item >= 0)
        m_items[item].counted = m_items[item].stands = true;
}

void OlmItemBook::unreadable(const QString &what)
{
    m_unreadable
        << QStringLiteral("%1 not written to %2: its text can no longer be read from the archive").arg(what, m_archive);
}

void OlmItemBook::leftOut(int item, const QString &why)
{
    if (item >= 0 && m_items[item].leftOut.isEmpty())
        m_items[item].leftOut = why;
}

void OlmItemBook::lose(const QString &why)
{
    for (const Item &item : qAsConst(m_items))
        m_itemsLost += saved(item) ? 1 : 0;
    m_gone = true;
    m_goneWhy = why;
}

qint64 OlmItemBook::written() const
{
    qint64 n = 0;
    for (int item = 0; item < m_items.size(); ++item)
        n += countsAsWritten(item);
    return n;
}

bool OlmItemBook::countsAsWritten(int index) const
{
    // The items the walks count, and those of no count that have a line of their own.
    if (index < 0 || index >= m_items.size())
        return false;
    const Item &item = m_items.at(index);
    return saved(item) && (item.counted || !item.lost.isEmpty() || !item.renamed.isEmpty());
}

QStringList OlmItemBook::failures() const
{
    QStringList lines = m_unreadable;
    for (const Item &item : m_items) {
        if (!item.leftOut.isEmpty()) {
            lines << QStringLiteral("%1 not written to %2: %3").arg(item.what, m_archive, item.leftOut);
        } else if (m_gone && (item.counted || item.stands)) {
            lines << QStringLiteral("%1 not saved: %2").arg(item.what, m_goneWhy);
        } else if (!item.counted && !item.stands && !item.lost.isEmpty()) {
            lines << QStringLiteral("%1 not written to %2: %3")
                         .arg(item.what, m_archive, item.lost.join(QLatin1String("; ")));
        }
    }
    return lines;
}

QStringList OlmItemBook::incompletes() const
{
    QStringList lines;
    for (const Item &item : m_items) {
        if (saved(item) && !item.lost.isEmpty())
            lines << QStringLiteral("%1 written to %2 incomplete: %3")
                         .arg(item.what, m_archive, (item.lost + item.renamed).join(QLatin1String("; ")));
    }
    return lines;
}

QStringList OlmItemBook::renames() const
{
    QStringList lines;
    for (const Item &item : m_items) {
        if (saved(item) && item.lost.isEmpty() && !item.renamed.isEmpty())
            lines << QStringLiteral("%1 written to %2: %3")
                         .arg(item.what, m_archive, item.renamed.join(QLatin1String("; ")));
    }
    return lines;
}
