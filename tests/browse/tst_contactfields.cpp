// The contact fields cut out of a contact's element: fit bounds, per-field rules, lists, and the
// sample archive's contacts against their XML.

#include "browse/ContactFields.h"

#include "ArchiveFile.h"
#include "ScanTestUtil.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace {

QByteArray element(const QByteArray &name, const QByteArray &text)
{
    return "<" + name + " xml:space=\"preserve\">" + text + "</" + name + ">";
}

QByteArray contact(const QByteArray &children)
{
    return "<contact xml:space=\"preserve\">" + children + "</contact>";
}

QByteArray contacts(const QByteArray &items)
{
    return "<contacts xml:space=\"preserve\" elementCount=\"1\">" + items + "</contacts>";
}

// One list item as the exporter writes it: 73 bytes before the address, 69 after.
QByteArray emailItem(const QByteArray &address)
{
    return "<contactEmailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\"" + address
           + "\" OPFContactEmailAddressIsDefault=\"0\" OPFContactEmailAddressType=\"0\"></contactEmailAddress>";
}

QByteArray child(const QByteArray &name)
{
    return "<string xml:space=\"preserve\">" + name + "</string>";
}

ContactPreviewFields extract(const QByteArray &item)
{
    return ExtractContactFields(std::string_view(item.constData(), size_t(item.size())));
}

const ContactFieldRow *rowOf(const QByteArray &elementName)
{
    for (const ContactFieldRow &row : ContactFieldRows()) {
        if (elementName == row.element)
            return &row;
    }
    return nullptr;
}

// The stored text of a field (slot k of a list).
QString fieldText(const ContactPreviewFields &f, const ContactFieldRow &row, int slot = 0)
{
    const char *p = reinterpret_cast<const char *>(&f) + row.offset + size_t(slot) * size_t(row.room);
    return QString::fromUtf8(p, int(strnlen(p, size_t(row.room))));
}

QStringList slotTexts(const ContactPreviewFields &f, const char *elementName)
{
    const ContactFieldRow *row = rowOf(elementName);
    QStringList list;
    for (int k = 0; row && k < row->slotCount; ++k)
        list << fieldText(f, *row, k);
    while (!list.isEmpty() && list.last().isEmpty())
        list.removeLast();
    return list;
}

bool allZero(const ContactPreviewFields &f)
{
    static const ContactPreviewFields zero = [] {
        ContactPreviewFields z;
        memset(&z, 0, sizeof z);
        return z;
    }();
    return memcmp(&f, &zero, sizeof f) == 0;
}

} // namespace

class ContactFieldsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void tableShape();
    void textFields_data();
    void textFields();
    void age_data();
    void age();
    void lists_data();
    void lists();
    void rowsWithoutFieldStoreNothing();
    void laterContactOverwrites();
    void noContactCloseTagGivesNothing();
    void sampleContacts_data();
    void sampleContacts();

private:
    QByteArray m_oldTz;
};

void ContactFieldsTest::initTestCase()
{
    m_oldTz = qgetenv("TZ");
    qputenv("TZ", "UTC0");
    tzset();
}

void ContactFieldsTest::cleanupTestCase()
{
    qputenv("TZ", m_oldTz);
    tzset();
}

void ContactFieldsTest::tableShape()
{
    const QVector<ContactFieldRow> &rows = ContactFieldRows();
    QCOMPARE(rows.size(), 62);
    QCOMPARE(ContactElementTagTable().size(), 62);
    QCOMPARE(ContactElementTagTable().first(), QByteArray("<OPFContactCopyCategoryList"));
    QCOMPARE(ContactElementTagTable().last(), QByteArray("<OPFContactCopyBloodType"));
    int stored = 0;
    for (const ContactFieldRow &row : rows) {
        if (row.rule == ContactRule::None)
            continue;
        ++stored;
        // Every field lies inside the struct, and no two rows share one.
        QVERIFY(row.offset + size_t(row.room) * size_t(row.slotCount) <= sizeof(ContactPreviewFields));
        for (const ContactFieldRow &other : rows)
            QVERIFY(&other == &row || other.rule == ContactRule::None || other.offset != row.offset);
    }
    QCOMPARE(stored, 48);
}

void ContactFieldsTest::textFields_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("suffix of 7 bytes stored") << QByteArray("OPFContactCopySetNameSuffix") << QByteArray("Esquire") << "Esquire";
    QTest::newRow("suffix of 8 bytes dropped") << QByteArray("OPFContactCopySetNameSuffix") << QByteArray("Esquires") << "";
    QTest::newRow("zip of 31 bytes stored") << QByteArray("OPFContactCopyBusinessZip") << QByteArray(31, '9') << QString(31, '9');
    QTest::newRow("zip of 32 bytes dropped") << QByteArray("OPFContactCopyBusinessZip") << QByteArray(32, '9') << "";
    QTest::newRow("blood type AB stored") << QByteArray("OPFContactCopyBloodType") << QByteArray("AB") << "AB";
    QTest::newRow("blood type AB+ dropped") << QByteArray("OPFContactCopyBloodType") << QByteArray("AB+") << "";
    QTest::newRow("country of 63 ASCII letters stored") << QByteArray("OPFContactCopyHomeCountry") << QByteArray(63, 'c')
                                                        << QString(63, 'c');
    QTest::newRow("country of 40 two-byte letters dropped")
        << QByteArray("OPFContactCopyHomeCountry") << QString(40, QChar(0xe9)).toUtf8() << "";
    QTest::newRow("business country of 64 dropped") << QByteArray("OPFContactCopyBusinessCountry") << QByteArray(64, 'c') << "";
    QTest::newRow("title of 117 stored") << QByteArray("OPFContactCopyTitle") << QByteArray(117, 't') << QString(117, 't');
    QTest::newRow("title of 118 dropped") << QByteArray("OPFContactCopyTitle") << QByteArray(118, 't') << "";
    QTest::newRow("bound tested after trimming") << QByteArray("OPFContactCopySetNameSuffix") << QByteArray(" \n Esquire\t ")
                                                 << "Esquire";
    QTest::newRow("inner white space kept") << QByteArray("OPFContactCopyNickName") << QByteArray(" a \n b ") << "a \n b";
    QTest::newRow("company: entities undone once") << QByteArray("OPFContactCopyBusinessCompany")
                                                   << QByteArray("M\xc3\xbcller &amp; Co. KG")
                                                   << QStringLiteral("M\u00fcller & Co. KG");
    QTest::newRow("company: an escaped entity stays one") << QByteArray("OPFContactCopyBusinessCompany")
                                                          << QByteArray("A&amp;amp;B") << "A&amp;B";
    QTest::newRow("street: entities undone once") << QByteArray("OPFContactCopyHomeStreetAddress")
                                                  << QByteArray("1 &lt;Main&gt; St") << "1 <Main> St";
    QTest::newRow("accented letters come back unchanged") << QByteArray("OPFContactCopyHomeCity")
                                                          << QByteArray("Z\xc3\xbcrich") << QStringLiteral("Z\u00fcrich");
    QTest::newRow("department: encoded ampersand") << QByteArray("OPFContactCopyBusinessDepartment") << QByteArray("R&amp;D")
                                                   << "R&D";
    QTest::newRow("department: escaped lt stays an entity") << QByteArray("OPFContactCopyBusinessDepartment")
                                                            << QByteArray("&amp;lt;") << "&lt;";
    QTest::newRow("department: an escaped nbsp stays one") << QByteArray("OPFContactCopyBusinessDepartment")
                                                           << QByteArray("a&amp;nbsp;b") << "a&nbsp;b";
    QTest::newRow("department: numeric references undone") << QByteArray("OPFContactCopyBusinessDepartment")
                                                           << QByteArray("R&#38;D &#x2014;") << "R&D \u2014";
    QTest::newRow("department: nbsp alone is one blank") << QByteArray("OPFContactCopyBusinessDepartment")
                                                         << QByteArray("&nbsp;") << " ";
    QTest::newRow("department: upper case untouched") << QByteArray("OPFContactCopyBusinessDepartment")
                                                      << QByteArray("&LT;") << "&LT;";
    QTest::newRow("department: bound after decoding") << QByteArray("OPFContactCopyBusinessDepartment")
                                                      << "&amp;" + QByteArray(126, 'd') << "&" + QString(126, 'd');
    QTest::newRow("street: blank after each line feed") << QByteArray("OPFContactCopyBusinessStreetAddress")
                                                        << QByteArray("1 Main St\nSuite 2") << "1 Main St\n Suite 2";
    QTest::newRow("street: CR LF gets the blank after LF") << QByteArray("OPFContactCopyBusinessStreetAddress")
                                                           << QByteArray("a\r\nb") << "a\r\n b";
    QTest::newRow("street: outer line feeds trimmed first") << QByteArray("OPFContactCopyBusinessStreetAddress")
                                                            << QByteArray("\na\n") << "a";
    QTest::newRow("street: 505 bytes with 5 line feeds stored")
        << QByteArray("OPFContactCopyBusinessStreetAddress") << QByteArray(100, 's') + QByteArray(5, '\n') + QByteArray(400, 's')
        << QString(100, 's') + QString("\n \n \n \n \n ") + QString(400, 's');
    QTest::newRow("street: 505 bytes with 6 line feeds dropped")
        << QByteArray("OPFContactCopyBusinessStreetAddress") << QByteArray(100, 's') + QByteArray(6, '\n') + QByteArray(399, 's')
        << "";
    QTest::newRow("home street keeps line feeds as written") << QByteArray("OPFContactCopyHomeStreetAddress")
                                                             << QByteArray("a\nb") << "a\nb";
    QTest::newRow("birthday as local date") << QByteArray("OPFContactCopyBirthday") << QByteArray("2018-06-20T06:00:00")
                                            << "2018-06-20";
    QTest::newRow("anniversary fits its 11 bytes") << QByteArray("OPFContactCopyAnniversary")
                                                   << QByteArray("1999-12-31T08:00:00") << "1999-12-31";
    QTest::newRow("unreadable date shows nothing") << QByteArray("OPFContactCopyCustomDate1") << QByteArray("someday")
                                                   << "";
    QTest::newRow("month 13 shows nothing") << QByteArray("OPFContactCopyAnniversary")
                                            << QByteArray("2001-13-01T00:00:00") << "";
    QTest::newRow("date beyond year 9999 gives none") << QByteArray("OPFContactCopyCustomDate2")
                                                      << QByteArray("12345-01-01T00:00:00") << "";
    QTest::newRow("empty value stores nothing") << QByteArray("OPFContactCopyBirthday") << QByteArray("  ") << "";
    QTest::newRow("main phone has no Copy in its name") << QByteArray("OPFContactMainPhone") << QByteArray("1111") << "1111";
}

void ContactFieldsTest::textFields()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(QString, expected);
    const ContactFieldRow *row = rowOf(name);
    QVERIFY(row);
    const ContactPreviewFields f = extract(contacts(contact(element(name, value))));
    QCOMPARE(fieldText(f, *row), expected);
}

void ContactFieldsTest::age_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("age");
    QTest::newRow("plain") << QByteArray("42") << 42;
    QTest::newRow("between blanks") << QByteArray(" 42 ") << 42;
    QTest::newRow("letters") << QByteArray("abc") << 0;
    QTest::newRow("zero") << QByteArray("0") << 0;
    QTest::newRow("the exporter's float form") << QByteArray("0E0") << 0;
    QTest::newRow("negative") << QByteArray("-3") << -3;
    QTest::newRow("beyond 32 bits") << QByteArray("99999999999") << 0;
}

void ContactFieldsTest::age()
{
    QFETCH(QByteArray, value);
    QFETCH(int, age);
    QCOMPARE(extract(contacts(contact(element("OPFContactCopyAge", value)))).nAge, age);
}

void ContactFieldsTest::lists_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QStringList>("expected");

    const QByteArray email = "OPFContactCopyEmailAddressList";
    QTest::newRow("three addresses") << email << emailItem("a@x") + emailItem("b@x") + emailItem("c@x")
                                     << QStringList{"a@x", "b@x", "c@x"};
    QTest::newRow("empty second item leaves a gap")
        << email << emailItem("a@x") + emailItem("") + emailItem("c@x") << QStringList{"a@x", "", "c@x"};
    QTest::newRow("items keep their white space") << email << emailItem(" a@x ") << QStringList{" a@x "};
    QTest::newRow("item cut before the list's end keeps its address")
        << email << emailItem("a@x") + "<contactEmailAddress OPFContactEmailAddressAddress=\"b@x\">"
        << QStringList{"a@x", "b@x"};
    QTest::newRow("close tag with blanks, self-closing item, CDATA holding no item")
        << email << "<contactEmailAddress OPFContactEmailAddressAddress=\"a@x\"></contactEmailAddress \r\n>"
                    "<![CDATA[" + emailItem("ghost@x") + "]]><contactEmailAddress OPFContactEmailAddressAddress='b@x' />"
        << QStringList{"a@x", "b@x"};
    QTest::newRow("address read as XML: references undone, a line break a blank")
        << email << emailItem("a&amp;b&#46;c\n@x") << QStringList{"a&b.c @x"};
    QTest::newRow("comment hiding an item is no item")
        << email << emailItem("a@x") + "<!-- " + emailItem("ghost@x") + " -->" + emailItem("b@x")
        << QStringList{"a@x", "b@x"};
    QTest::newRow("address read by name after the other attributes")
        << email << QByteArray("<contactEmailAddress OPFContactEmailAddressType=\"0\" OPFContactEmailAddressIsDefault=\"1\" "
                               "OPFContactEmailAddressAddress=\"late@x\"></contactEmailAddress>")
        << QStringList{"late@x"};
    QTest::newRow("address in single quotes, no xml:space")
        << email << QByteArray("<contactEmailAddress OPFContactEmailAddressAddress='q@x'></contactEmailAddress>")
        << QStringList{"q@x"};
    QTest::newRow("item without an address attribute gives an empty slot")
        << email << "<contactEmailAddress OPFContactEmailAddressType=\"0\"/>" + emailItem("b@x") << QStringList{"", "b@x"};
    QTest::newRow("text between items is no item")
        << email << QByteArray(73, 'h') + "</contactEmailAddress>" + emailItem("b@x") << QStringList{"b@x"};
    QByteArray fifteen;
    QStringList thirteen;
    for (int k = 1; k <= 15; ++k) {
        fifteen += emailItem("m" + QByteArray::number(k) + "@x");
        if (k <= 13)
            thirteen << QStringLiteral("m%1@x").arg(k);
    }
    QTest::newRow("items past the 13th slot are ignored") << email << fifteen << thirteen;
    QTest::newRow("address of 127 bytes stored, 128 not")
        << email << emailItem(QByteArray(127, 'a')) + emailItem(QByteArray(128, 'b')) << QStringList{QString(127, 'a')};
    QTest::newRow("IM list") << QByteArray("OPFContactCopyIMAddressList") << emailItem("im@x") << QStringList{"im@x"};
    QTest::newRow("self-closing IM item")
        << QByteArray("OPFContactCopyIMAddressList")
        << QByteArray("<contactEmailAddress xml:space=\"preserve\" OPFContactEmailAddressAddress=\"im@x\"/>")
        << QStringList{"im@x"};
    QTest::newRow("default address row is passed over")
        << QByteArray("OPFContactCopyDefaultEmailAddress") << emailItem("d@x") << QStringList();

    const QByteArray kids = "OPFContactCopyChildren";
    QTest::newRow("two children") << kids << child("Bart") + child("Lisa") << QStringList{"Bart", "Lisa"};
    QTest::newRow("children past the third are ignored")
        << kids << child("a") + child("b") + child("c") + child("d") << QStringList{"a", "b", "c"};
    QTest::newRow("child of 127 characters stored") << kids << child(QByteArray(127, 'k')) << QStringList{QString(127, 'k')};
    QTest::newRow("child of 128 characters dropped") << kids << child(QByteArray(128, 'k')) << QStringList();
    QTest::newRow("child of 64 two-byte letters dropped") << kids << child(QString(64, QChar(0xe9)).toUtf8())
                                                          << QStringList();
    QTest::newRow("child without xml:space, close tag with a blank")
        << kids << QByteArray("<string>x</string >") + child("b") << QStringList{"x", "b"};
    QTest::newRow("children read as XML: references, CDATA, comments")
        << kids << child("Tom &amp; J&#233;rry") + child("<![CDATA[a</string>&amp;]]>") + child("Li<!-- </string> -->sa")
        << QStringList{QStringLiteral("Tom & J\u00e9rry"), "a</string>&amp;", "Lisa"};
    QTest::newRow("empty child keeps its slot") << kids << child("") + "<string/>" + child("c") << QStringList{"", "", "c"};
    QTest::newRow("child keeps its trailing blank") << kids << child("Maggie ") << QStringList{"Maggie "};
}

void ContactFieldsTest::lists()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, value);
    QFETCH(QStringList, expected);
    const ContactPreviewFields f = extract(contacts(contact(element(name, value))));
    const char *field = name == "OPFContactCopyChildren"        ? "OPFContactCopyChildren"
                        : name == "OPFContactCopyIMAddressList" ? "OPFContactCopyIMAddressList"
                                                                : "OPFContactCopyEmailAddressList";
    QCOMPARE(slotTexts(f, field), expected);
    if (expected.isEmpty())
        QVERIFY(allZero(f));
}

void ContactFieldsTest::rowsWithoutFieldStoreNothing()
{
    QByteArray children;
    for (const ContactFieldRow &row : ContactFieldRows()) {
        if (row.rule == ContactRule::None)
            children += element(row.element, "value");
    }
    QVERIFY(allZero(extract(contacts(contact(children)))));
}

void ContactFieldsTest::laterContactOverwrites()
{
    const QByteArray item = contacts(
        contact(element("OPFContactCopyTitle", "Dr") + element("OPFContactCopyNickName", "Nick")
                + element("OPFContactCopyEmailAddressList", emailItem("a@x") + emailItem("b@x")))
        + contact(element("OPFContactCopyTitle", "Mr") + element("OPFContactCopyEmailAddressList", emailItem("c@x"))));
    const ContactPreviewFields f = extract(item);
    QCOMPARE(QString::fromUtf8(f.szTitle), QStringLiteral("Mr"));
    QCOMPARE(QString::fromUtf8(f.szNickName), QStringLiteral("Nick"));
    // A list is not cleared between parts: slot 2 keeps the first contact's item.
    QCOMPARE(slotTexts(f, "OPFContactCopyEmailAddressList"), (QStringList{"c@x", "b@x"}));
}

void ContactFieldsTest::noContactCloseTagGivesNothing()
{
    QVERIFY(allZero(extract("<contact>" + element("OPFContactCopyTitle", "Mr"))));
    QVERIFY(allZero(extract(QByteArray())));
    // Longer sibling first: the shorter row finds its own element.
    const ContactPreviewFields f = extract(contact(element("OPFContactCopyHomePhone2", "555-2")
                                                   + element("OPFContactCopyHomePhone", "555-1")));
    QCOMPARE(QString::fromUtf8(f.szHomePhone), QStringLiteral("555-1"));
    QCOMPARE(QString::fromUtf8(f.szHomePhone2), QStringLiteral("555-2"));
    const ContactPreviewFields g = extract(contact(element("OPFContactCopyBusinessPhone2", "111")));
    QCOMPARE(QString::fromUtf8(g.szBusinessPhone), QString());
    QCOMPARE(QString::fromUtf8(g.szBusinessPhone2), QStringLiteral("111"));
}

void ContactFieldsTest::sampleContacts_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QVariantMap>("text");
    QTest::addColumn<QStringList>("emails");
    QTest::addColumn<QStringList>("ims");
    QTest::addColumn<QStringList>("children");

    // From python3 (zipfile + re) over Local/Address Book/Contacts.xml, TZ=UTC0.
    const QVariantMap jane{
        {"OPFContactCopyHomeWebPage", "homewen.not.mail"}, {"OPFContactCopySetNameSuffix", "Esq"},
        {"OPFContactCopyTitle", "Mr"}, {"OPFContactCopyNickName", "Homey"},
        {"OPFContactCopyBusinessTitle", "human bean"}, {"OPFContactCopyBusinessCompany", "Burns Nuclear Plant"},
        {"OPFContactCopyBusinessDepartment", "Nuclear"}, {"OPFContactCopyBusinessHomePage", "workweb.not.mail"},
        {"OPFContactCopyBirthday", "2018-06-20"}, {"OPFContactCopyBusinessCountry", "Canada"},
        {"OPFContactCopyBusinessState", "AB"}, {"OPFContactCopyBusinessStreetAddress", "777"},
        {"OPFContactCopyBusinessZip", "t3c3v2"}, {"OPFContactCopyHomeCity", "Springfield"},
        {"OPFContactCopyHomeCountry", "Canada"}, {"OPFContactCopyHomeState", "AB"},
        {"OPFContactCopyHomeStreetAddress", "742 Evergreen Terrace"}, {"OPFContactCopyHomeZip", "t3h0x2"},
        {"OPFContactCopyHomePhone", "4444"}, {"OPFContactCopyHomePhone2", "222"}, {"OPFContactCopyHomeFax", "444"},
        {"OPFContactCopyBusinessPhone", "321-111-2222"}, {"OPFContactCopyBusinessPhone2", "111"},
        {"OPFContactCopyBusinessFax", "555"}, {"OPFContactCopyPager", "7777"},
        {"OPFContactCopyCellPhone", "123-123-1234"}, {"OPFContactMainPhone", "1111"},
        {"OPFContactCopyAssistantPhone", "333-555-6666"}, {"OPFContactCopyCustomPhone1", "333"},
        {"OPFContactCopyCustomPhone3", "777"}, {"OPFContactCopyCustom1Data", "dfdf"},
        {"OPFContactCopyCustom2Data", "dfdf"}, {"OPFContactCopyCustom3Data", "erer"},
        {"OPFContactCopyCustom4Data", "ggg"}, {"OPFContactCustomData5", "yyy"}, {"OPFContactCustomData6", "qqq"},
        {"OPFContactCustomData7", "444"}, {"OPFContactCustomData8", "8889"},
        {"OPFContactCopyCustomDate1", "2018-06-20"}, {"OPFContactCopyCustomDate2", "2018-06-20"},
        {"OPFContactCopyAnniversary", "2018-06-20"}, {"OPFContactCopySpousesName", "Marge"},
        {"OPFContactCopyInterests", "TV"}, {"OPFContactCopyBloodType", "G"}};
    QTest::newRow("tom: names only") << 0 << QVariantMap() << QStringList() << QStringList() << QStringList();
    QTest::newRow("Jane Doe: every field") << 1 << jane << QStringList{"jane@not.mail", "other@not.mail", "home@not.mail"}
                                           << QStringList{"jane@nosuch.mail"} << QStringList{"3"};
    QTest::newRow("Bart Simpson: one address") << 2 << QVariantMap() << QStringList{"bart@simpsonggggg.com"}
                                               << QStringList() << QStringList();
    QTest::newRow("Test Followup") << 3 << QVariantMap() << QStringList() << QStringList() << QStringList();
    QTest::newRow("private contact") << 4 << QVariantMap() << QStringList() << QStringList() << QStringList();
}

void ContactFieldsTest::sampleContacts()
{
    QFETCH(int, index);
    QFETCH(QVariantMap, text);
    QFETCH(QStringList, emails);
    QFETCH(QStringList, ims);
    QFETCH(QStringList, children);

    QFile file(QStringLiteral(OLM_SAMPLE_ARCHIVE));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray sample = file.readAll();
    scanBytes(sample);
    ArchiveFile archive(sample);
    QVERIFY(archive.isOpen());
    QCOMPARE(contacts().size(), 5);
    const ContactInformation *c = contacts().at(index);
    const ContactPreviewFields f = ReadContactPreviewFields(c->llItemOffset, c->dwItemLength);
    for (const ContactFieldRow &row : ContactFieldRows()) {
        if (row.rule == ContactRule::None || row.rule == ContactRule::Number || row.slotCount > 1)
            continue;
        QCOMPARE(fieldText(f, row), text.value(QString::fromLatin1(row.element)).toString());
    }
    QCOMPARE(f.nAge, 0);  // "0E0" is no number
    QCOMPARE(slotTexts(f, "OPFContactCopyEmailAddressList"), emails);
    QCOMPARE(slotTexts(f, "OPFContactCopyIMAddressList"), ims);
    QCOMPARE(slotTexts(f, "OPFContactCopyChildren"), children);
    CleanScanResults();
}

QTEST_GUILESS_MAIN(ContactFieldsTest)
#include "tst_contactfields.moc"
