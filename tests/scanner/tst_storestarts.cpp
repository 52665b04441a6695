// A store whose header and first bytes are lost, zeroed or taken into the entry before it, or
// whose header's lengths are damaged: every item whose bytes still stand is listed, once.

#include "ArchiveEntries.h"
#include "ScanTestUtil.h"
#include "scanner/ScanGlobals.h"

#include <QFile>
#include <QtEndian>
#include <QtTest>

#include <functional>

namespace {

template <typename T>
QList<qint64> offsetsOf(const QList<T *> &records)
{
    QList<qint64> out;
    for (const T *r : records)
        out << r->llItemOffset;
    return out;
}

struct Store {
    const char *name;
    const char *item;                      // "contact": start tag "<contact ", close tag "</contact>"
    std::function<QList<qint64>()> listed;  // where each listed item starts
};

const Store kStores[] = {
    {"Contacts.xml", "contact", [] { return offsetsOf(contacts()); }},
    {"Calendar.xml", "appointment", [] { return offsetsOf(events()); }},
    {"Tasks.xml", "task", [] { return offsetsOf(tasks()); }},
    {"Notes.xml", "note", [] { return offsetsOf(notes()); }},
};

// The store's items as the intact archive holds them, each from its start tag to its close tag.
QList<QByteArray> itemsOf(const QByteArray &text, const QByteArray &item)
{
    QList<QByteArray> out;
    const QByteArray open = '<' + item + ' ', close = "</" + item + '>';
    for (int s = text.indexOf(open); s >= 0; s = text.indexOf(open, s + 1)) {
        const int e = text.indexOf(close, s);
        if (e > s)
            out << text.mid(s, e + close.size() - s);
    }
    return out;
}

enum class Damage { Delete, Zero, ExtraGrown, CopyInside, CloseTagSplit, CloseTagNoise, DeleteBehindNoise, FieldsLost, FieldsGained, BinaryGainedFar };

}  // namespace

class StoreStartsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { CleanScanResults(); }
    void itemsThatStandAreListed_data();
    void itemsThatStandAreListed();
};

void StoreStartsTest::itemsThatStandAreListed_data()
{
    QTest::addColumn<int>("store");
    QTest::addColumn<int>("damage");
    QTest::addColumn<int>("from");  // -1: the entry before's header; -2: inside the entry before's data; else the store's header
    QTest::addColumn<int>("into");  // bytes into the store's data the damage reaches
    QTest::addColumn<bool>("directory");
    for (int s = 0; s < 4; ++s) {
        const char *name = kStores[s].name;
        for (bool dir : {true, false}) {
            const char *d = dir ? "" : ", no directory";
            for (int into : {2, 40, 200}) {
                QTest::addRow("%s: header and %d bytes lost%s", name, into, d)
                    << s << int(Damage::Delete) << 0 << into << dir;
                QTest::addRow("%s: the folder entry before, its header and %d bytes lost%s", name, into, d)
                    << s << int(Damage::Delete) << -1 << into << dir;
                QTest::addRow("%s: from the entry before's data to %d bytes in lost%s", name, into, d)
                    << s << int(Damage::Delete) << -2 << into << dir;
                QTest::addRow("%s: header and %d bytes zeroed%s", name, into, d)
                    << s << int(Damage::Zero) << 0 << into << dir;
                QTest::addRow("%s: its header from its date on and %d bytes lost%s", name, into * 10, d)
                    << s << int(Damage::FieldsLost) << 0 << into * 10 << dir;
            }
            if (s < 3)
                QTest::addRow("%s: header and 200 bytes lost, 57,635 bytes of noise in the first entry%s", name, d)
                    << s << int(Damage::DeleteBehindNoise) << 0 << 200 << dir;
            QTest::addRow("%s: the header's extra length 1,016 too long%s", name, d)
                << s << int(Damage::ExtraGrown) << 0 << 0 << dir;
            // A message's escaped markup put into the header's fields: its lengths and sizes are
            // read from that text.
            for (int field : {8, 12, 14})
                for (int n : {40, 301, 597})
                    for (Damage fill : {Damage::FieldsGained, Damage::BinaryGainedFar})
                        QTest::addRow("%s: %d bytes of %s put into its header at byte %d%s", name, n,
                                      fill == Damage::FieldsGained ? "mail text" : "an attachment's middle",
                                      field, d)
                            << s << int(fill) << field << n << dir;
        }
        QTest::addRow("%s: a message's header and text copied inside it", name)
            << s << int(Damage::CopyInside) << 0 << 0 << true;
        for (int n : {1, 700, 7000})
            QTest::addRow("%s: %d bytes of the directory inside its first item's close tag", name, n)
                << s << int(Damage::CloseTagSplit) << 0 << n << true;
        // Noise that opens an instruction, a declaration or a comment and never closes it.
        for (int opening = 0; opening < 3; ++opening)
            QTest::addRow("%s: noise with an opening %d that never closes inside its first item's close tag", name,
                          opening)
                << s << int(Damage::CloseTagNoise) << opening << 5000 << true;
    }
}

void StoreStartsTest::itemsThatStandAreListed()
{
    QFETCH(int, store);
    QFETCH(int, damage);
    QFETCH(int, from);
    QFETCH(int, into);
    QFETCH(bool, directory);
    const Store &st = kStores[store];
    QByteArray a = sample();
    const QVector<Entry> entries = entriesOf(a);
    int k = 0;
    while (k < entries.size() && !entries[k].name.endsWith(st.name))
        ++k;
    QVERIFY(k > 0 && k < entries.size());
    const Entry e = entries[k];
    const QList<QByteArray> items = itemsOf(a.mid(int(e.data), int(e.size)), st.item);
    QVERIFY(!items.isEmpty());
    if (!directory)
        a.truncate(int(entries.last().data + entries.last().size));
    const qint64 start = from == 0 ? e.header : from == -1 ? entries[k - 1].header : -1;
    switch (Damage(damage)) {
    case Damage::Delete: {
        qint64 s = start;
        if (from == -2) {
            int p = k - 1;
            while (p > 0 && entries[p].size == 0)
                --p;
            s = entries[p].data + entries[p].size / 2;
        }
        a.remove(int(s), int(e.data + into - s));
        break;
    }
    case Damage::DeleteBehindNoise: {
        a.remove(int(e.header), int(e.data + into - e.header));
        QByteArray noise(57635, Qt::Uninitialized);
        quint32 x = 7;
        for (char &c : noise)
            c = char((x = x * 1103515245u + 12345u) >> 24);
        a.insert(int(entries.first().data + 100), noise);
        break;
    }
    case Damage::FieldsLost:
        a.remove(int(e.header + 12), int(e.data + into - e.header - 12));
        break;
    case Damage::FieldsGained:
    case Damage::BinaryGainedFar: {
        // Escaped markup of a message's body, or an attachment's binary bytes, as a copy of
        // another place of the file brings them.
        const auto binary = std::find_if(entries.begin(), entries.end(), [](const Entry &x) {
            return x.name.contains("__Attachments/") && x.size > 60000;
        });
        QVERIFY(binary != entries.end());
        const int body = Damage(damage) == Damage::FieldsGained ? a.indexOf("Name=\"Light Shading\"")
                                                                 : int(binary->data + 47873);
        QVERIFY(body > 0);
        a.insert(int(e.header + from), a.mid(body, into));
        break;
    }
    case Damage::Zero:
        a.replace(int(start), int(e.data + into - start), QByteArray(int(e.data + into - start), '\0'));
        break;
    case Damage::ExtraGrown:
        qToLittleEndian<quint16>(quint16(le<quint16>(a, e.header + 28) + 1016), a.data() + e.header + 28);
        break;
    case Damage::CopyInside: {
        const auto m = std::find_if(entries.begin(), entries.end(), [](const Entry &x) {
            return x.name.contains("/message_") && x.size > 3000;
        });
        QVERIFY(m != entries.end());
        const int at = a.indexOf("</" + QByteArray(st.item) + '>', int(e.data)) + 3;
        a.insert(at, a.mid(int(m->header), int(m->data - m->header + 1500)));
        break;
    }
    case Damage::CloseTagNoise: {
        const int at = a.indexOf("</" + QByteArray(st.item) + '>', int(e.data)) + 5;
        QByteArray noise(into, '\x93');
        const char *const openings[] = {"<?\x92\xa1", "<!\xcd\xf9", "<!--\x01"};
        noise.replace(into / 2, 6, QByteArray(openings[from]).leftJustified(6, '\xb7'));
        a.insert(at, noise);
        break;
    }
    case Damage::CloseTagSplit: {
        const int at = a.indexOf("</" + QByteArray(st.item) + '>', int(e.data)) + 1;
        const qint64 directory = entries.last().data + entries.last().size;
        a.insert(at, a.mid(int(directory), into));
        break;
    }
    }
    QList<qint64> standing;
    for (const QByteArray &item : items) {
        if (a.contains(item))
            standing << a.indexOf(item);
    }
    scanBytes(a);
    const QString report = (EntriesNotRead + EntriesReadElsewhere).join(QLatin1Char('\n'));
    // Each item that stands is listed as itself, where it starts; nothing is listed twice.
    // (The first item's record starts at its store's root start tag, which it holds.)
    QList<qint64> listed;
    for (qint64 at : st.listed())
        listed << a.indexOf('<' + QByteArray(st.item) + ' ', int(at));
    for (qint64 at : standing)
        QVERIFY2(listed.contains(at), qPrintable(QStringLiteral("the item at %1 is not listed\n%2").arg(at).arg(report)));
    QVERIFY2(listed.size() <= items.size(), qPrintable(report));
    // An item whose start was lost with the store's counts: as not read, or as a damaged item.
    if (standing.size() < items.size())
        QVERIFY2(!EntriesNotRead.isEmpty() || listed.size() > standing.size() || StoreItemsLost > 0,
                 qPrintable(report));
    // The other stores and the mail are untouched.
    QCOMPARE(MailItemCount, qint64(7));
}

QTEST_GUILESS_MAIN(StoreStartsTest)
#include "tst_storestarts.moc"
