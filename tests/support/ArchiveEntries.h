#pragma once
// The entries of an intact archive as its local headers lay them out, for tests that place damage
// at an entry's edges: where each header, its data and its data's end stand.

#include <QByteArray>
#include <QFile>
#include <QVector>
#include <QtEndian>

template <typename T>
T le(const QByteArray &a, qint64 at)
{
    return qFromLittleEndian<T>(a.constData() + at);
}

struct Entry {
    QByteArray name;
    qint64 header = 0;
    qint64 data = 0;
    qint64 size = 0;
};

// Header after header; sizes from the ZIP64 record where the 32-bit fields are all ones.
inline QVector<Entry> entriesOf(const QByteArray &a)
{
    QVector<Entry> out;
    for (qint64 p = 0; p + 30 <= a.size() && le<quint32>(a, p) == 0x04034B50;) {
        const int n = le<quint16>(a, p + 26);
        Entry e{a.mid(int(p + 30), n), p, p + 30 + n + le<quint16>(a, p + 28), le<quint32>(a, p + 18)};
        for (qint64 x = p + 30 + n; e.size == 0xFFFFFFFFu && x + 4 <= e.data; x += 4 + le<quint16>(a, x + 2)) {
            if (le<quint16>(a, x) == 1)
                e.size = le<qint64>(a, x + 12);
        }
        out.append(e);
        p = e.data + e.size;
    }
    return out;
}

#ifdef OLM_SAMPLE_ARCHIVE
inline QByteArray sample()
{
    QFile f(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
#endif
