// Element location, item splitting, folder ids and date-times.

#include "scanner/DateTimeConvert.h"
#include "scanner/ElementValue.h"
#include "scanner/FolderMaps.h"
#include "scanner/ScanGlobals.h"
#include "scanner/WellFormed.h"

#include <QtTest>

#include <cstdlib>

class ElementValueTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void elementValue_data();
    void elementValue();
    void plainElementText_data();
    void plainElementText();
    void plainLongText();
    void startTagsOutsideMarkup_data();
    void startTagsOutsideMarkup();
    void splitItemsCountsForward();
    void unclosedMarkupEndsWithItsItem();
    void longTextClampsAndWidens();
    void shortTextBounds();
    void recordUuid();
    void folderMaps();
    void folderIdsAsTheNameWalkGave_data();
    void folderIdsAsTheNameWalkGave();
    void dateTimes_data();
    void dateTimes();
    void dateTimesAgreeWithQt();
    void itemsEndAsXmlEndsThem_data();
    void itemsEndAsXmlEndsThem();
    void storeEnd_data();
    void storeEnd();
    void brokenItems_data();
    void brokenItems();
    void brokenElementNamed_data();
    void brokenElementNamed();
    void namesAndReferencesAtEveryPlace();
    void referenceRunsAtEveryPlace();
    void itemsCheckedOneAfterAnother();
    void readableText_data();
    void readableText();
};

void ElementValueTest::elementValue_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("value");
    const QByteArray tag = "<Name";
    QTest::newRow("usual attribute form") << QByteArray("<a><Name xml:space=\"preserve\">  v w </Name></a>") << true << QByteArray("  v w ");
    QTest::newRow("no attributes") << QByteArray("<Name>abc</Name>") << true << QByteArray("abc");
    QTest::newRow("other attributes") << QByteArray("<Name x=\"1\" y=\"2\">abc</Name>") << true << QByteArray("abc");
    QTest::newRow("self-closing is empty") << QByteArray("<Name/><Other>x</Other>") << true << QByteArray();
    QTest::newRow("longer sibling name first") << QByteArray("<NamePlain>no</NamePlain><Name>yes</Name>") << true << QByteArray("yes");
    QTest::newRow("only the longer sibling") << QByteArray("<NamePlain>no</NamePlain>") << false << QByteArray();
    QTest::newRow("close tag before start tag") << QByteArray("</Name><Name>") << false << QByteArray();
    QTest::newRow("no close tag") << QByteArray("<Name>abc") << false << QByteArray();
    QTest::newRow("missing") << QByteArray("<Other>abc</Other>") << false << QByteArray();
    QTest::newRow("close tag of a longer name skipped") << QByteArray("<Name>a</NameX>b</Name>") << true << QByteArray("a</NameX>b");
    QTest::newRow("NUL inside value") << QByteArray("<Name>a\0b</Name>", 16) << true << QByteArray("a\0b", 3);
    QTest::newRow("twice: the first wins") << QByteArray("<Name>1</Name><Name>2</Name>") << true << QByteArray("1");
    QTest::newRow("after the elements it usually precedes")
        << QByteArray("<Late>x</Late><Other>y</Other><Name>v</Name><Early>z</Early>") << true << QByteArray("v");
    QTest::newRow("inside another element") << QByteArray("<Other><Name>v</Name></Other>") << true << QByteArray("v");
    QTest::newRow("start tag ends the text") << QByteArray("<Other>x</Other><Name") << false << QByteArray();
    QTest::newRow("a raw '<' in a value before it") << QByteArray("<Early>a<b</Early><Name>v</Name>") << true << QByteArray("v");
    QTest::newRow("tag name split by a close tag") << QByteArray("</Name<Name>v</Name>") << true << QByteArray("v");
    QTest::newRow("its close tag quoted inside its start tag")
        << QByteArray("<Name a=\"</Name>\">v</Name>") << true << QByteArray("v");
    QTest::newRow("a '<' cuts its start tag: the first '>' ends it")
        << QByteArray("<Name a=1 <b>v</Name>") << true << QByteArray("v");
    // Valid XML forms a conforming reader reads alike.
    QTest::newRow("blank before the close tag's '>'") << QByteArray("<Name>v</Name >") << true << QByteArray("v");
    QTest::newRow("line break before the close tag's '>'") << QByteArray("<Name>v</Name\r\n\t>") << true << QByteArray("v");
    QTest::newRow("'>' quoted in its start tag")
        << QByteArray("<Name xml:space=\"preserve\" note=\"a>b\">Real</Name>") << true << QByteArray("Real");
    QTest::newRow("'>' single-quoted in its start tag") << QByteArray("<Name note='a>b'>Real</Name>") << true << QByteArray("Real");
    QTest::newRow("close tag inside CDATA") << QByteArray("<Name><![CDATA[a</Name>b]]></Name>") << true
                                            << QByteArray("<![CDATA[a</Name>b]]>");
    QTest::newRow("close tag inside a comment") << QByteArray("<Name>a<!--</Name>-->b</Name>") << true
                                                << QByteArray("a<!--</Name>-->b");
    QTest::newRow("close tag inside a processing instruction") << QByteArray("<Name>a<?x </Name>?>b</Name>") << true
                                                               << QByteArray("a<?x </Name>?>b");
    QTest::newRow("start tag inside a comment") << QByteArray("<!-- <Name>no</Name> --><Name>yes</Name>") << true
                                                << QByteArray("yes");
    QTest::newRow("start tag inside CDATA") << QByteArray("<Other><![CDATA[<Name>no</Name>]]></Other><Name>yes</Name>")
                                            << true << QByteArray("yes");
    QTest::newRow("a comment cut short hides the rest") << QByteArray("<!-- <Name>no</Name>") << false << QByteArray();
}

void ElementValueTest::elementValue()
{
    QFETCH(QByteArray, item);
    QFETCH(bool, found);
    QFETCH(QByteArray, value);
    const std::string_view view(item.constData(), size_t(item.size()));
    const ElementSpan span = GetElementValue(view, "<Name");
    QCOMPARE(span.found, found);
    if (found) {
        QVERIFY(span.length >= 0);
        const std::string_view got = ElementBytes(view, span);
        QCOMPARE(QByteArray(got.data(), int(got.size())), value);
    }
    // The one-walk lookup gives the same span wherever the tag stands in its list, and for a
    // tag left out of the list.
    const ItemElements first(view, {"<Name", "<Early", "<Other", "<Late"});
    const ItemElements last(view, {"<Late", "<Other", "<Early", "<Name"});
    const ItemElements without(view, {"<Other"});
    for (const ItemElements *elements : {&first, &last, &without}) {
        const ElementSpan s = elements->value("<Name");
        QCOMPARE(s.found, span.found);
        QCOMPARE(s.start, span.start);
        QCOMPARE(s.length, span.length);
    }
    // Walking to the item's close tag finds the item, the elements and their close tags at once;
    // the next item's elements are not this one's.
    const QByteArray text = item + "</i><Name>next</Name><Other>n</Other></i>";
    const ItemElements walked(std::string_view(text.constData(), size_t(text.size())), "</i>",
                              {"<Late", "<Name", "<Other", "<Early"});
    QCOMPARE(walked.end(), size_t(item.size()));
    QCOMPARE(walked.item().size(), view.size());
    for (const char *other : {"<Name", "<Other", "<Early", "<Late"}) {
        const ElementSpan want = GetElementValue(view, other);
        for (const ElementSpan &got : {last.value(other), walked.value(other)}) {
            QCOMPARE(got.found, want.found);
            QCOMPARE(got.start, want.start);
            QCOMPARE(got.length, want.length);
        }
    }
    const ItemElements unclosed(view, "</i>", {"<Name"});
    QCOMPARE(unclosed.end(), std::string_view::npos);
    QCOMPARE(unclosed.value("<Name").length, span.length);
}

void ElementValueTest::plainElementText_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("plain");
    QTest::newRow("no markup") << QByteArray("Tom &amp; Jerry") << QByteArray("Tom &amp; Jerry");
    QTest::newRow("CDATA is text") << QByteArray("<![CDATA[Tom & Jerry <3]]>") << QByteArray("Tom &amp; Jerry &lt;3");
    QTest::newRow("references in CDATA stay") << QByteArray("a<![CDATA[&amp;]]>b") << QByteArray("a&amp;amp;b");
    QTest::newRow("comment dropped") << QByteArray("Hello<!-- hidden -->World") << QByteArray("HelloWorld");
    QTest::newRow("processing instruction dropped") << QByteArray("a<?pi x?>b") << QByteArray("ab");
    QTest::newRow("CDATA cut short") << QByteArray("<![CDATA[abc") << QByteArray("abc");
    QTest::newRow("empty CDATA") << QByteArray("a<![CDATA[]]>b") << QByteArray("ab");
    QTest::newRow("stray '<' kept") << QByteArray("a<b") << QByteArray("a<b");
}

void ElementValueTest::plainElementText()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, plain);
    std::string storage;
    const std::string_view got = PlainElementText(std::string_view(raw.constData(), size_t(raw.size())), &storage);
    QCOMPARE(QByteArray(got.data(), int(got.size())), plain);
}

void ElementValueTest::plainLongText()
{
    // Markup stored unescaped keeps its comments for its HTML reading; escaped text loses them.
    QCOMPARE(PlainElementBytes("<p>x<!-- c --></p>"), QByteArray("<p>x<!-- c --></p>"));
    QCOMPARE(PlainElementBytes("&lt;p&gt;a<!-- c -->b<![CDATA[<i>]]>"), QByteArray("&lt;p&gt;ab&lt;i>"));
    QCOMPARE(ElementText(" Tom &amp; Jerry<!-- c --><![CDATA[ &amp; <3]]> "), QStringLiteral("Tom & Jerry &amp; <3"));
}

void ElementValueTest::startTagsOutsideMarkup_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QStringList>("tags");
    QTest::newRow("recipient inside a comment") << QByteArray("<e a=\"1\"/><!-- <e a=\"ghost\"/> --><e a=\"2\"/>")
                                                << QStringList{"<e a=\"1\"/", "<e a=\"2\"/"};
    QTest::newRow("recipient inside CDATA") << QByteArray("<e a=\"1\"></e><![CDATA[<e a=\"ghost\"/>]]>")
                                            << QStringList{"<e a=\"1\""};
    QTest::newRow("'>' and '/>' quoted") << QByteArray("<e a=\"x>y\" b='/>'/><e a=\"2\">")
                                         << QStringList{"<e a=\"x>y\" b='/>'/", "<e a=\"2\""};
    QTest::newRow("unclosed tags end at the next '<'") << QByteArray("<e a=\"1\" <e a=2 <e a=\"3\"/>")
                                                        << QStringList{"<e a=\"1\" ", "<e a=2 ", "<e a=\"3\"/"};
    QTest::newRow("a quote that never closes is a character") << QByteArray("<e a=\"1 <e a=\'2\'/>")
                                                              << QStringList{"<e a=\"1 ", "<e a=\'2\'/"};
    QTest::newRow("a '<' inside quotes") << QByteArray("<e a=\"<b>\" n=\"N\"/><e/>")
                                         << QStringList{"<e a=\"<b>\" n=\"N\"/", "<e/"};
    QTest::newRow("look-alike names") << QByteArray("<ex/><e\n/><e-/>") << QStringList{"<e\n/"};
}

void ElementValueTest::startTagsOutsideMarkup()
{
    QFETCH(QByteArray, list);
    QFETCH(QStringList, tags);
    QStringList got;
    ForEachStartTag(std::string_view(list.constData(), size_t(list.size())), "<e", [&](std::string_view tag) {
        got << QString::fromUtf8(tag.data(), int(tag.size()));
        return true;
    });
    QCOMPARE(got, tags);
}

void ElementValueTest::splitItemsCountsForward()
{
    // Invalid UTF-8 and a NUL in the first item must not move the second item's start.
    const QByteArray text("<r a=\"1\"><i>\xff\xfe\0x</i><i>\xc3\xa9</i>\n</r>\n", 36);
    const std::string_view view(text.constData(), size_t(text.size()));
    QList<ItemPiece> pieces;
    const qint64 n = SplitItems(view, "</i>", 1000, [&](const ItemPiece &p) {
        pieces.append(p);
        return true;
    });
    QCOMPARE(n, qint64(2));
    QCOMPARE(pieces[0].start, qint64(1000));
    QCOMPARE(pieces[1].start, pieces[0].start + pieces[0].length);
    QCOMPARE(text.mid(int(pieces[1].start - 1000), int(pieces[1].length)), QByteArray("<i>\xc3\xa9</i>"));
    QCOMPARE(SplitItems("<r></r>", "</i>", 0, [](const ItemPiece &) { return true; }), qint64(0));
}

void ElementValueTest::unclosedMarkupEndsWithItsItem()
{
    // Each item opens a comment or instruction it never closes: it hides the rest of its own item
    // only, so every later item's element is still found (and each item's search for the markup's
    // end stops at its close tag, which keeps many such items linear).
    QByteArray text;
    const int items = 2000;
    for (int i = 0; i < items; ++i)
        text += "<i><N>v" + QByteArray::number(i) + "</N>" + (i % 2 ? "<?x" : "<!-- <N>ghost</N>") + "</i>";
    const std::string_view view(text.constData(), size_t(text.size()));
    QStringList values;
    SplitItemElements(view, "</i>", {"<N"}, [&](const ItemElements &item, size_t) {
        values << ElementText(ElementBytes(item.item(), item.value("<N")));
        return true;
    });
    QCOMPARE(values.size(), items);
    QCOMPARE(values.first(), QStringLiteral("v0"));
    QCOMPARE(values.last(), QStringLiteral("v%1").arg(items - 1));
    QVERIFY(!values.contains(QStringLiteral("ghost")));
}

void ElementValueTest::longTextClampsAndWidens()
{
    const QByteArray item("<x><Note xml:space=\"preserve\">  abc  </Note><Empty xml:space=\"preserve\"> \r\n\t</Empty></x>");
    const std::string_view view(item.constData(), size_t(item.size()));
    quint32 len = 0;
    qint64 off = 0;
    // An item near 5 GiB keeps its full 64-bit offset.
    const qint64 itemStart = qint64(5) << 30;
    QVERIFY(MakeLongText(view, "<Note", itemStart, &len, &off));
    QCOMPARE(len, quint32(7));
    QCOMPARE(off - itemStart, qint64(item.indexOf("  abc")));
    QVERIFY(off > qint64(0xFFFFFFFFLL));
    QVERIFY(!MakeLongText(view, "<Empty", 0, &len, &off));
    QVERIFY(!MakeLongText(view, "<Missing", 0, &len, &off));
}

void ElementValueTest::shortTextBounds()
{
    auto make = [](const QString &value, int max) {
        const QByteArray item = "<T>" + value.toUtf8() + "</T>";
        char *s = MakeShortText(std::string_view(item.constData(), size_t(item.size())), "<T", max);
        const QString out = s ? QString::fromUtf8(s) : QStringLiteral("<null>");
        free(s);
        return out;
    };
    QCOMPARE(make(QString(255, QLatin1Char('a')), 255), QString(255, QLatin1Char('a')));
    QCOMPARE(make(QString(256, QLatin1Char('a')), 255), QStringLiteral("<null>"));
    QCOMPARE(make(QString(300, QLatin1Char('a')), 0), QString(300, QLatin1Char('a')));
    QCOMPARE(make(QStringLiteral("  \t\n "), 255), QStringLiteral("<null>"));
    QCOMPARE(make(QStringLiteral(" Tom &amp; Jerry "), 255), QStringLiteral("Tom & Jerry"));
}

void ElementValueTest::recordUuid()
{
    const auto uuid = [](std::string_view bytes, qint64 start, std::string_view closeTag = "</task>") {
        char id[33];
        const std::string whole = std::string(bytes) + std::string(closeTag);
        MakeRecordUuid(id, ItemPiece{std::string_view(whole).substr(0, bytes.size()), start, qint64(whole.size())});
        return QByteArray(id);
    };
    const QByteArray a = uuid("<task>a", 100);
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{12}5[0-9A-F]{3}[89AB][0-9A-F]{15}$"))
                .match(QString::fromLatin1(a))
                .hasMatch());
    // The same item at the same place: the same key on every scan; the whole span counts.
    QCOMPARE(uuid("<task>a", 100), a);
    QCOMPARE(ItemUuidHex(100, {"<task>a</task>"}), a);
    QVERIFY(uuid("<task>a", 101) != a);           // an equal item elsewhere
    QVERIFY(uuid("<task>b", 100) != a);           // another item at that place
    QVERIFY(uuid("<task>a", 100, "</note>") != a);  // another kind
}

void ElementValueTest::folderMaps()
{
    CleanScanResults();
    treeCreator(QStringLiteral("Inbox/Sub"), false, QStringLiteral("mail"));
    QCOMPARE(llParentIdRunning, qint64(503));
    QCOMPARE(objMapFID_PID.value(502), llRootId);
    QCOMPARE(objMapFID_PID.value(503), qint64(502));
    // The same path again reuses its folders.
    treeCreator(QStringLiteral("Inbox/Sub"), false, QStringLiteral("mail"));
    QCOMPARE(PID, qint64(503));
    // A second "Inbox" under another parent gets its own id; a root lookup still finds 502.
    treeCreator(QStringLiteral("A/Inbox"), false, QStringLiteral("mail"));
    QCOMPARE(objMapName_FID.values(QStringLiteral("Inbox")).size(), 2);
    qint64 id = 0;
    QVERIFY(GetParentId(QStringLiteral("Inbox"), llRootId, &id));
    QCOMPARE(id, qint64(502));
    // Contacts are kept apart from mail by their marker.
    treeCreator(QStringLiteral("Inbox"), true, QStringLiteral("contact"));
    QCOMPARE(objMapFID_Name.value(llParentIdRunning), QStringLiteral("Inboxnotmailcontact"));
    // Empty components are folders too; an empty path changes nothing.
    treeCreator(QStringLiteral("/Inbox/"), false, QStringLiteral("mail"));
    QVERIFY(objMapName_FID.contains(QString()));
    const qint64 before = llParentIdRunning, pidBefore = PID;
    treeCreator(QString(), true, QStringLiteral("task"));
    QCOMPARE(llParentIdRunning, before);
    QCOMPARE(PID, pidBefore);
    for (auto it = objMapFID_PID.cbegin(); it != objMapFID_PID.cend(); ++it)
        QVERIFY2(it.value() < it.key(), "a parent's id is smaller than its child's");
    CleanScanResults();
    treeCreator(QStringLiteral("Inbox"), false, QStringLiteral("mail"));
    QCOMPARE(llParentIdRunning, qint64(502));
    CleanScanResults();
}

namespace {

// The lookup the folder maps were first built with: the key's ids newest first, the first whose
// parent matches. The maps must come out the same whatever index finds the folder.
struct NameWalkMaps {
    QMultiMap<QString, qint64> byName;
    QMap<qint64, qint64> parents;
    QMap<qint64, QString> names;
    qint64 last = 501;

    // Returns the last part's id.
    qint64 enter(const QString &path, const QString &marker)
    {
        qint64 parent = 501;
        for (const QString &part : path.split(QLatin1Char('/'))) {
            const QString key = part + marker;
            qint64 found = 0;
            for (qint64 id : byName.values(key)) {
                if (parents.value(id, -1) == parent) {
                    found = id;
                    break;
                }
            }
            if (!found) {
                found = ++last;
                byName.insert(key, found);
                parents.insert(found, parent);
                names.insert(found, key);
            }
            parent = found;
        }
        return parent;
    }
};

QStringList deepPath(int depth, const QString &name)
{
    QStringList paths;
    QString path = name;
    for (int i = 1; i < depth; ++i)
        path += QLatin1Char('/') + name;
    paths << path << path.section(QLatin1Char('/'), 0, depth / 2) << path;
    return paths;
}

}  // namespace

void ElementValueTest::folderIdsAsTheNameWalkGave_data()
{
    QTest::addColumn<QStringList>("paths");
    QStringList manyParents;
    for (int i = 0; i < 300; ++i)
        manyParents << QStringLiteral("Project %1/Sub").arg(i % 100) << QStringLiteral("Sub/Project %1").arg(i % 7);
    QTest::newRow("one name under many parents") << manyParents;
    QTest::newRow("ten deep of one name") << deepPath(10, QStringLiteral("Inbox"));
    QStringList repeated;
    for (int i = 0; i < 50; ++i)
        repeated << QStringLiteral("A/B/C") << QStringLiteral("A/B") << QStringLiteral("B/A/B")
                 << QStringLiteral("A//B") << QStringLiteral("/A/");
    QTest::newRow("repeated and empty parts") << repeated;
}

void ElementValueTest::folderIdsAsTheNameWalkGave()
{
    QFETCH(QStringList, paths);
    CleanScanResults();
    NameWalkMaps expected;
    const QString kinds[] = {QStringLiteral("mail"), QStringLiteral("contact")};
    for (const QString &kind : kinds) {
        const bool nonMail = kind != QLatin1String("mail");
        for (const QString &path : paths) {
            treeCreator(path, nonMail, kind);
            QCOMPARE(llParentIdRunning, expected.enter(path, nonMail ? FolderKindMarker(kind) : QString()));
        }
    }
    QCOMPARE(PID, expected.last);
    QCOMPARE(objMapFID_PID, expected.parents);
    QCOMPARE(objMapFID_Name, expected.names);
    QCOMPARE(objMapName_FID, expected.byName);
    CleanScanResults();
}

void ElementValueTest::dateTimes_data()
{
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint32>("seconds");
    QTest::newRow("epoch") << QByteArray("UTC") << "1970-01-01T00:00:00Z" << quint32(0);
    QTest::newRow("one second") << QByteArray("UTC") << "1970-01-01T00:00:01Z" << quint32(1);
    QTest::newRow("offset") << QByteArray("UTC") << "2018-06-21T03:17:24+01:00" << quint32(1529547444);
    QTest::newRow("zone-less, UTC machine") << QByteArray("UTC") << "2018-06-21T02:17:24" << quint32(1529547444);
    // The exporter's zone-less times are UTC on every machine, never its local time.
    QTest::newRow("zone-less, Kolkata machine") << QByteArray("Asia/Kolkata") << "2018-06-21T02:17:24" << quint32(1529547444);
    QTest::newRow("zone-less, Berlin machine") << QByteArray("Europe/Berlin") << "2018-06-21T02:17:24" << quint32(1529547444);
    QTest::newRow("zone-less, St John's machine") << QByteArray("America/St_Johns") << "2006-01-11T05:17:59" << quint32(0x43C49507);
    QTest::newRow("zone-less, fraction") << QByteArray("Asia/Kolkata") << "2018-06-21T02:17:24.500" << quint32(1529547444);
    QTest::newRow("before 1970") << QByteArray("UTC") << "1969-12-31T23:59:59Z" << quint32(0);
    QTest::newRow("after 2106") << QByteArray("UTC") << "2107-01-01T00:00:00Z" << quint32(0);
}

void ElementValueTest::dateTimes()
{
    QFETCH(QByteArray, tz);
    QFETCH(QString, text);
    QFETCH(quint32, seconds);
    qputenv("TZ", tz);
    tzset();
    QCOMPARE(integertimeconverter(text), seconds);
    // Unreadable times (bit-flipped dates of a damaged archive) give 0 and write nothing to the log.
    static int logged;
    logged = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) { ++logged; });
    const quint32 unreadable = integertimeconverter(QStringLiteral("tomorrow"));
    const quint32 flipped = integertimeconverter(QStringLiteral("2018-0\x16-21T03:26:46"));
    qInstallMessageHandler(previous);
    QCOMPARE(unreadable, quint32(0));
    QCOMPARE(flipped, quint32(0));
    QCOMPARE(logged, 0);
}

void ElementValueTest::dateTimesAgreeWithQt()
{
    // The converter's own parser must give what Qt's ISO parser gives, across offset changes,
    // with zone-less text read as UTC.
    const QStringList texts = {"2018-03-11T01:59:59", "2018-03-11T03:00:00", "2018-11-04T01:30:00",
                               "2018-11-04T00:59:59", "2018-06-21T03:26:46.123", "2000-02-29T12:00:00",
                               "2018-06-21T03:26:46-07:00", "2018-06-21T03:26:46+0530", "1999-12-31T23:59:59Z",
                               "2038-01-19T03:14:08Z", "2106-02-07T06:28:15Z", "2018-02-30T00:00:00",
                               "2018-06-21T25:00:00", "2018-06-21 03:26:46"};
    for (const char *tz : {"UTC", "America/New_York", "Asia/Kolkata", "Australia/Lord_Howe"}) {
        qputenv("TZ", tz);
        tzset();
        for (const QString &text : texts) {
            QDateTime qt = QDateTime::fromString(text, Qt::ISODate);
            if (qt.timeSpec() == Qt::LocalTime)
                qt = QDateTime(qt.date(), qt.time(), Qt::UTC);
            const qint64 want = qt.isValid() ? qt.toSecsSinceEpoch() : 0;
            QVERIFY2(integertimeconverter(text) == quint32(want), qPrintable(text + QLatin1Char(' ') + QLatin1String(tz)));
        }
    }
}

void ElementValueTest::itemsEndAsXmlEndsThem_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("rootClosed");
    const auto item = [](const char *name, const char *close = "</i>") {
        return "<i><N>" + QByteArray(name) + "</N>" + close;
    };
    QTest::newRow("plain") << "<r>" + item("a") + item("b") + "</r>" << QStringList{"a", "b"} << true;
    QTest::newRow("blanks before every '>'")
        << "<r>" + item("a", "</i >") + item("b", "</i\n\t>") + "</r\r\n>" << QStringList{"a", "b"} << true;
    QTest::newRow("a longer name is no close tag")
        << "<r>" + item("a", "</ix>") + "</i></r>" << QStringList{"a"} << true;
    QTest::newRow("close tag inside a comment, CDATA, instruction")
        << QByteArray("<r><i><!--</i>--><N>a</N><![CDATA[</i>]]><?p </i>?></i></r>") << QStringList{"a"} << true;
    QTest::newRow("comments and instructions between items and after the root")
        << "<r>" + item("a") + "<!-- x --><?p?>\n" + item("b") + "<!--y--></r><!-- z --><?q?>" << QStringList{"a", "b"}
        << true;
    QTest::newRow("a second root is no item")
        << "<r>" + item("a") + "</r><r>" + item("ghost") + "</r>" << QStringList{"a"} << true;
    QTest::newRow("an unclosed comment hides its item's rest, not the next item")
        << QByteArray("<r><i><!-- <N>no</N></i><i><N>b</N></i></r>") << QStringList{"", "b"} << true;
    // Markup written unescaped into a field may hold the item's own close tag: the item goes on
    // to its own, and an item that lost a close tag stays apart from the next.
    QTest::newRow("the item's close tag inside a field")
        << QByteArray("<r><i><B>x</i>y</B><N>a</N></i>") + item("b") + "</r>" << QStringList{"a", "b"} << true;
    QTest::newRow("the item's close tag at a field's end")
        << QByteArray("<r><i><B>x</i></B><N>a</N></i></r>") << QStringList{"a"} << true;
    QTest::newRow("the item's close tag twice in a field, a comment after one")
        << QByteArray("<r><i><B></i><!-- c -->x</i></B><N>a</N></i>") + item("b") + "</r>" << QStringList{"a", "b"}
        << true;
    QTest::newRow("an item that lost a field's close tag, the next after it")
        << QByteArray("<r><i><B>x</i>") + item("b") + "</r>" << QStringList{"", "b"} << true;
    QTest::newRow("text between items") << "<r>" + item("a") + "junk</B>" + item("b") + "</r>" << QStringList{"a", "b"}
                                        << true;
    QTest::newRow("root never closed") << "<r>" + item("a") + item("b") << QStringList{"a", "b"} << false;
}

void ElementValueTest::itemsEndAsXmlEndsThem()
{
    QFETCH(QByteArray, store);
    QFETCH(QStringList, names);
    QFETCH(bool, rootClosed);
    const std::string_view text(store.constData(), size_t(store.size()));
    QStringList got;
    bool closed = false;
    SplitItemElements(
        text, "</i>", {"<N"},
        [&](const ItemElements &item, size_t) {
            got << ElementText(ElementBytes(item.item(), item.value("<N")));
            return true;
        },
        &closed);
    QCOMPARE(got, names);
    QCOMPARE(closed, rootClosed);
    // SplitItems sees the same items, each span ending with its close tag.
    QStringList spans;
    SplitItems(text, "</i>", 0, [&](const ItemPiece &piece) {
        const QByteArray whole(piece.bytes.data(), int(piece.length));
        spans << (whole.endsWith('>') ? QString() : QStringLiteral("no close"));
        return true;
    });
    QCOMPARE(spans.size(), names.size());
    QVERIFY(!spans.contains(QStringLiteral("no close")));
}

void ElementValueTest::storeEnd_data()
{
    QTest::addColumn<QByteArray>("tail");
    QTest::addColumn<bool>("whole");
    QTest::newRow("plain") << QByteArray("</i></emails>") << true;
    QTest::newRow("blanks inside and after") << QByteArray("</i></emails \n>\r\n") << true;
    QTest::newRow("comment and instruction after") << QByteArray("</i></emails><!-- done --> <?pi x?>\n") << true;
    QTest::newRow("cut") << QByteArray("</i><i><N>a") << false;
    QTest::newRow("another root") << QByteArray("</i></contacts>") << false;
    QTest::newRow("a longer name") << QByteArray("</i></emailsX>") << false;
    QTest::newRow("a comment cut short") << QByteArray("</i></emails><!-- x") << false;
}

void ElementValueTest::storeEnd()
{
    QFETCH(QByteArray, tail);
    QFETCH(bool, whole);
    QCOMPARE(EndsWithRootClose(std::string_view(tail.constData(), size_t(tail.size())), "emails"), whole);
}

void ElementValueTest::brokenItems_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QByteArray>("what");   // empty: well-formed
    QTest::addColumn<QByteArray>("sound");  // what the element reader is given
    const QByteArray from = "<F><a x=\"good\"/>";
    QTest::newRow("whole, every valid form") << QByteArray(
        "<?xml version=\"1.0\"?><r><e a='1' b=\"&#64;&amp;\"><!-- <x> --><?p <y>?><![CDATA[<&]]>t&#x20AC;</e\n></r>")
                                             << QByteArray() << QByteArray();
    QTest::newRow("a start tag never closed")
        << "<e>" + from + "<a x=\"ghost\" </F><S>s</S></e>" << QByteArray("a start tag that is never closed")
        << "<e>" + from + "</F><S>s</S></e>";
    QTest::newRow("mismatched tags") << QByteArray("<e><S>s</T><U>u</U></e>")
                                     << QByteArray("a close tag that does not match its start tag")
                                     << QByteArray("<e><S>s</S><U>u</U></e>");
    QTest::newRow("mismatched deeper") << QByteArray("<e><S><a>s</b></S><U>u</U></e>")
                                       << QByteArray("a close tag that does not match its start tag")
                                       << QByteArray("<e><S><a>s</a></S><U>u</U></e>");
    // Markup written unescaped into a field: a close tag of another name breaks only that field.
    const QByteArray mismatch = "a close tag that does not match its start tag";
    const QByteArray after = "<S>s</S></e>";
    const struct {
        const char *name, *item, *sound;
    } strays[] = {
        {"a stray close tag in a field", "<e><B><p>h</p></d></B>", "<e><B><p>h</p></B>"},
        {"a stray close tag at a field's start", "<e><B></d>x</B>", "<e><B></B>"},
        {"a stray close tag at a field's end", "<e><B>x</d></B>", "<e><B>x</B>"},
        {"stray close tags one after another", "<e><B>a</d>b</d></p>c</B>", "<e><B>a</B>"},
        {"the item's own close tag in a field", "<e><B>a</e>b</B>", "<e><B>a</B>"},
        {"a parent's close tag two levels down", "<e><B><d><p>a</d></B>", "<e><B><d><p>a</p></d></B>"},
        {"a stray close tag between fields", "<e><B>b</B></d>", "<e><B>b</B>"},
        {"a stray close tag, then the field's close renamed", "<e><B>a</d>b</C>", "<e><B>a</B>b"},
    };
    for (const auto &row : strays)
        QTest::newRow(row.name) << row.item + after << mismatch << row.sound + after;
    QTest::newRow("a bare '&'") << QByteArray("<e><S>a & b</S></e>") << QByteArray("a '&' that starts no reference")
                                << QByteArray("<e><S>a </S></e>");
    QTest::newRow("a reference that never ends")
        << QByteArray("<e><S>&#12345678&#1</S></e>") << QByteArray("a '&' that starts no reference")
        << QByteArray("<e><S></S></e>");
    QTest::newRow("'<' in an attribute value")
        << QByteArray("<e><a x=\"a<b\"/></e>")
        << QByteArray("a '<' inside an attribute value (its quote may never close)") << QByteArray("<e></e>");
    QTest::newRow("an unterminated quote") << QByteArray("<e><a n=\"a@example.com n2=\" <a/></e>")
                                           << QByteArray("a start tag that is never closed") << QByteArray("<e></e>");
    // A broken self-closing child has no close tag to go on after: the item ends there.
    QTest::newRow("duplicate attributes") << QByteArray("<e><S/><a x='1' x='2'/><T/></e>")
                                          << QByteArray("an attribute given twice") << QByteArray("<e><S/></e>");
    QByteArray many = "<e><S/><a";
    for (int i = 0; i < 40; ++i)
        many += " n" + QByteArray::number(i) + "='1'";
    QTest::newRow("a duplicate among many attributes") << many + " n17='2'/></e>" << QByteArray("an attribute given twice")
                                                       << QByteArray("<e><S/></e>");
    QTest::newRow("many attributes, none twice") << many + "/></e>" << QByteArray() << QByteArray();
    QTest::newRow("a broken item start tag")
        << QByteArray("<e x='1' x='2'><S/></e>") << QByteArray("an attribute given twice") << QByteArray("<e><S/></e>");
    QTest::newRow("item start tag lost") << QByteArray("<f><S/></e>") << QByteArray("its start tag is damaged")
                                         << QByteArray("<f><S/></e>");
    QTest::newRow("text cut short") << QByteArray("<e><S>abc") << QByteArray("its text ends before its close tag")
                                    << QByteArray("<e><S>abc</S></e>");
    // The exporter writes NULs, other encodings and HTML's named references: no fault.
    QTest::newRow("what the exporter writes")
        << QByteArray("<e><S>a\0b\xff\x01&nbsp;</S></e>", 25) << QByteArray() << QByteArray();
    QTest::newRow("an unclosed comment, a whole element after it")
        << QByteArray("<e><S>s</S><B>a<!-- b</B><T>t</T></e>") << QByteArray("a comment that is never closed")
        << QByteArray("<e><S>s</S><B>a</B><T>t</T></e>");
    QTest::newRow("an unclosed CDATA section")
        << QByteArray("<e><B><![CDATA[b</B></e>") << QByteArray("a CDATA section that is never closed")
        << QByteArray("<e><B></B></e>");
    QTest::newRow("a reference to no character")
        << QByteArray("<e><S>&#0;</S></e>") << QByteArray("a '&' that starts no reference")
        << QByteArray("<e><S></S></e>");
}

void ElementValueTest::brokenItems()
{
    QFETCH(QByteArray, item);
    QFETCH(QByteArray, what);
    QFETCH(QByteArray, sound);
    const std::string_view text(item.constData(), size_t(item.size()));
    const ItemFault fault = CheckItem(text, "<e");
    QCOMPARE(QByteArray(fault.whole() ? "" : fault.what), what);
    const std::string got = SoundPart(text, fault);
    QCOMPARE(QByteArray(got.data(), int(got.size())), what.isEmpty() ? item : sound);
    // The sound part itself is whole.
    if (!what.isEmpty() && sound.startsWith("<e"))
        QVERIFY(CheckItem(got, "<e").whole());
}

void ElementValueTest::brokenElementNamed_data()
{
    QTest::addColumn<QByteArray>("item");
    QTest::addColumn<QString>("said");  // what the report line says of the element; empty: no element
    QTest::newRow("a stray close tag in a field") << QByteArray("<e><S/><B>x</d></B></e>")
                                                  << QStringLiteral(", in its element B)");
    QTest::newRow("deeper in a field") << QByteArray("<e><B><p>x</d></p></B></e>") << QStringLiteral(", in its element B)");
    QTest::newRow("a field's broken start tag") << QByteArray("<e><S a='1' a='2'>x</S></e>")
                                                << QStringLiteral(", in its element S)");
    QTest::newRow("a control byte in the name") << QByteArray("<e><B\x01>x</d></B\x01></e>")
                                                << QStringLiteral(", in its element B\uFFFD)");
    QTest::newRow("between fields") << QByteArray("<e><B/></d></e>") << QString();
    QTest::newRow("the item's own start tag") << QByteArray("<e a='1' a='2'><S/></e>") << QString();
}

// The report line names the field a fault lies in.
void ElementValueTest::brokenElementNamed()
{
    QFETCH(QByteArray, item);
    QFETCH(QString, said);
    const QString line = NotWellFormedReason(CheckItem(std::string_view(item.constData(), size_t(item.size())), "<e"));
    QVERIFY2(said.isEmpty() ? !line.contains(QLatin1String("in its element")) : line.contains(said), qPrintable(line));
}

// Names and references are tested sixteen bytes at a time: every length and place about those
// blocks, names holding bytes that look like their end, and texts that end inside them.
void ElementValueTest::namesAndReferencesAtEveryPlace()
{
    const auto check = [](const QByteArray &item) {
        const ItemFault fault = CheckItem(std::string_view(item.constData(), size_t(item.size())), "<e");
        return QByteArray(fault.whole() ? "" : fault.what);
    };
    const QByteArray mismatch = "a close tag that does not match its start tag";
    const QByteArray unclosed = "a close tag that is never closed";
    for (int pad = 0; pad <= 17; ++pad) {
        const QByteArray before = "<e>" + QByteArray(pad, 't');
        for (const int length : {1, 2, 14, 15, 16, 17, 18, 31, 32, 33, 40}) {
            QByteArray name(length, 'N');
            for (int k = 0; k < length; ++k)
                name[k] = char('a' + (k * 7 + pad) % 26);
            const QByteArray open = before + "<" + name + " a='1'>x";
            QCOMPARE(check(open + "</" + name + "></e>"), QByteArray());
            QCOMPARE(check(open + "</" + name + " \n></e>"), QByteArray());
            QCOMPARE(check(before + "<" + name + "/><" + name + "\t/></e>"), QByteArray());
            QCOMPARE(check(open + "</" + name + "x></e>"), mismatch);
            QCOMPARE(check(open + "</" + name.left(length - 1) + "></e>"), mismatch);
            QCOMPARE(check(open + "</" + name), unclosed);
            QCOMPARE(check(open + "</" + name.left(length - 1)), mismatch);
            for (const int k : {0, length / 2, length - 1}) {
                QByteArray other = name;
                other[k] = 'Z';
                QCOMPARE(check(open + "</" + other + "></e>"), mismatch);
                // Bytes below a blank, and marks that end no name, are part of it.
                for (const char inside : {'\x01', '!', '#', '%', '-', '.', ':', '\x7f', '\xc3'}) {
                    QByteArray odd = name;
                    odd[k] = inside;
                    const QByteArray noTag = k == 0 && inside == '!' ? "a '<' that starts no tag" : "";
                    QCOMPARE(check(before + "<" + odd + ">x</" + odd + "></e>"), noTag);
                    QCOMPARE(check(before + "<" + odd + ">x</" + name + "></e>"), noTag.isEmpty() ? mismatch : noTag);
                }
            }
        }
        for (const char *reference : {"&lt;", "&gt;", "&amp;", "&quot;", "&#60;", "&nbsp;", "&lg;", "&ampx;"})
            QCOMPARE(check(before + reference + "</e>"), QByteArray());
        for (const char *cut : {"&", "&l", "&lt", "&gt", "&am", "&amp", "&#6", "&lt ;", "&a mp;"})
            QCOMPARE(check(before + cut + "</e>"), QByteArray("a '&' that starts no reference"));
        for (const char *end : {"&lt", "&amp", "&g"})
            QCOMPARE(check(before + end), QByteArray("a '&' that starts no reference"));
    }
}

// Escaped markup is passed a block of references at a time: a bad reference or a '<' at every
// place of a block, after and before runs of the common ones, is found where it stands, and a
// reference that runs over a block's end is read whole.
void ElementValueTest::referenceRunsAtEveryPlace()
{
    const QByteArray run = QByteArray("&lt;p&gt;x&amp;y&quot;z").repeated(3);
    const auto fault = [](const QByteArray &item) {
        const ItemFault f = CheckItem(std::string_view(item.constData(), size_t(item.size())), "<e");
        return f.whole() ? QStringLiteral("whole") : QStringLiteral("%1 at %2").arg(f.what).arg(f.at);
    };
    const QString noReference = QStringLiteral("a '&' that starts no reference at %1");
    for (int pad = 0; pad <= 40; ++pad) {
        const QByteArray before = "<e>" + run + QByteArray(pad, 'a');
        const int at = before.size();
        for (const QByteArray &good : {QByteArray("&lt;"), QByteArray("&quot;"), QByteArray("&#60;"), QByteArray("&nbsp;")})
            QCOMPARE(fault(before + good + run + "</e>"), QStringLiteral("whole"));
        for (const QByteArray &bad : {QByteArray("& "), QByteArray("&lt "), QByteArray("&amp"), QByteArray("&quot "),
                                      QByteArray("&#0;"), QByteArray("&;"), QByteArray("&&lt;")})
            QCOMPARE(fault(before + bad + run + "</e>"), noReference.arg(at));
        QCOMPARE(fault(before + "< " + run + "</e>"), QStringLiteral("a '<' that starts no tag at %1").arg(at));
        // Cut inside a reference: the text ends there.
        QCOMPARE(fault(before + "&quo"), noReference.arg(at));
    }
}

// The check keeps its lists from item to item: an item left broken with elements open, deep or
// with many attributes, changes nothing for the items checked after it.
void ElementValueTest::itemsCheckedOneAfterAnother()
{
    QByteArray deep = "<e>";
    for (int i = 0; i < 6000; ++i)
        deep += "<d a='1' b='2'>";
    QByteArray attributes = "<e><S/><a";
    for (int i = 0; i < 40; ++i)
        attributes += " n" + QByteArray::number(i) + "='1'";
    const QList<QByteArray> items = {deep + "x",         deep + "</x></e>",         attributes + " n3='2'/></e>",
                                     "<e><S>s</S></e>",  "<e><a x='1'/></e>",       "<e><S>s</T></e>",
                                     attributes + "/></e>"};
    const auto describe = [](const QByteArray &item) {
        const ItemFault fault = CheckItem(std::string_view(item.constData(), size_t(item.size())), "<e");
        return QStringLiteral("%1 %2 %3").arg(fault.whole() ? "" : fault.what).arg(fault.at).arg(fault.wholeChildren);
    };
    QStringList alone;
    for (const QByteArray &item : items)
        alone << describe(item);
    for (int round = 0; round < 3; ++round) {
        for (int i = items.size() - 1; i >= 0; --i) {
            describe(items[(i + round) % items.size()]);
            QCOMPARE(describe(items[i]), alone[i]);
        }
    }
}

void ElementValueTest::readableText_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("readable");
    QTest::newRow("plain stays") << QByteArray("a &lt;b&gt; &amp;") << QByteArray("a &lt;b&gt; &amp;");
    QTest::newRow("a comment holding a tag") << QByteArray("abc<!-- x <y/> z -->def") << QByteArray("abcdef");
    QTest::newRow("an instruction") << QByteArray("abc<?x y?>def") << QByteArray("abcdef");
    QTest::newRow("CDATA inside") << QByteArray("abc<![CDATA[d<e>&f]]>ghi") << QByteArray("abcd&lt;e>&amp;fghi");
    QTest::newRow("character references") << QByteArray("&#60;/body&#62; &#x41;&#233; &#38;amp; &quot;q&apos;")
                                          << QByteArray("&lt;/body&gt; A\xc3\xa9 &amp;amp; \"q'");
    QTest::newRow("references that never end stay")
        << QByteArray("&#12345678&#1 & x") << QByteArray("&#12345678&#1 & x");
}

void ElementValueTest::readableText()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, readable);
    QCOMPARE(ReadableElementBytes(raw), readable);
}

QTEST_GUILESS_MAIN(ElementValueTest)
#include "tst_elementvalue.moc"
