// libFuzzer target over the item walk and the element and attribute reader. The input drives a
// generator of whole message stores in every form a writer may choose (element order, attribute
// order and quotes, blanks and line breaks in every start and close tag, literal tabs and line
// breaks in attribute values, self-closing tags, CDATA, comments, processing instructions between
// items and after the root, named and numeric character references in texts, dates and
// addresses); the items and values must equal those of QXmlStreamReader, a conforming XML reader.
// One store in four is then broken in one of the ways damage breaks them: the conforming reader
// must fail on it, and ours must name the broken item and take nothing from a broken element.
// The raw input is also read as it stands, and one input in eight repeated to a mebibyte, so a
// reader whose cost grows faster than its input runs into the per-input time limit.

#include "scanner/ElementValue.h"
#include "scanner/WellFormed.h"
#include "scanner/XmlEntities.h"

#include <QCoreApplication>
#include <QStringList>
#include <QXmlStreamReader>

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

[[noreturn]] void fail(const char *what, const QString &ours, const QString &oracle, const QByteArray &xml)
{
    fprintf(stderr, "fuzz_xml: %s differs\n ours:   [%s]\n oracle: [%s]\n xml: %s\n", what, qPrintable(ours),
            qPrintable(oracle), xml.constData());
    fflush(stderr);
    __builtin_trap();
}

// Choices taken from the input, zeros once it is used up.
class Choices {
public:
    Choices(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    unsigned next(unsigned n) { return m_at < m_size ? m_data[m_at++] % n : 0; }
    bool left() const { return m_at < m_size; }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

const char *const kBlanks[] = {"", " ", "\n", "\t ", "\r\n  "};

QByteArray blank(Choices &c, bool some)
{
    const unsigned k = c.next(5);
    return some && k == 0 ? QByteArray(" ") : QByteArray(kBlanks[k]);
}

// A quoted attribute value holding text that would end a tag if read without its quotes.
QByteArray attribute(Choices &c, const QByteArray &name, const QByteArray &escaped)
{
    const char quote = c.next(2) ? '"' : '\'';
    QByteArray value = escaped;
    value.replace(quote, quote == '"' ? "&quot;" : "&apos;");
    return blank(c, true) + name + blank(c, false) + '=' + blank(c, false) + quote + value + quote;
}

// One piece of text in escaped form and what it means.
void textPiece(Choices &c, QByteArray *xml, QString *meaning, bool markup)
{
    static const char *const kNamed[][2] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}, {"&apos;", "'"}};
    static const uint kCodes[] = {0x41, 0xE9, 0x20AC, 0x1F600, 0x3C, 0x26, 0x9, 0xA, 0xD};
    switch (c.next(markup ? 7 : 4)) {
    case 0: {
        static const char kPlain[] = "abc xyz>;/=-?!'\"";
        const char ch = kPlain[c.next(sizeof(kPlain) - 1)];
        xml->append(ch);
        meaning->append(QLatin1Char(ch));
        break;
    }
    case 1: {
        const auto &e = kNamed[c.next(5)];
        xml->append(e[0]);
        meaning->append(QLatin1String(e[1]));
        break;
    }
    case 2: {
        const uint code = kCodes[c.next(9)];
        xml->append(c.next(2) ? QByteArray("&#x") + QByteArray::number(code, 16) + ';'
                              : QByteArray("&#") + QByteArray::number(code) + ';');
        const char32_t ch = char32_t(code);
        meaning->append(QString::fromUcs4(&ch, 1));
        break;
    }
    case 3:
        xml->append("\xc3\xbc");
        meaning->append(QChar(0xFC));
        break;
    case 4:
        xml->append(c.next(2) ? "<!-- <emailAddress OPFContactEmailAddressAddress=\"ghost@evil.example\"/> -->"
                              : "<!--</OPFMessageCopySubject>-->");
        break;
    case 5:
        xml->append("<?pi </OPFMessageCopyToAddresses> ?>");
        break;
    default: {
        static const char *const kCdata[] = {"Tom & Jerry <3", "&amp;", "</OPFMessageCopySubject>", "]]", ""};
        const char *t = kCdata[c.next(5)];
        xml->append(QByteArray("<![CDATA[") + t + "]]>");
        meaning->append(QString::fromUtf8(t));
        break;
    }
    }
}

// A piece of an attribute value: as textPiece, or a literal tab or line break, which XML reads
// as one blank (a CR LF pair too), unlike the same characters written as references.
void attributePiece(Choices &c, QByteArray *xml, QString *meaning)
{
    static const char *const kBreaks[] = {"\t", "\n", "\r", "\r\n"};
    if (c.next(4) != 0)
        return textPiece(c, xml, meaning, false);
    xml->append(kBreaks[c.next(4)]);
    meaning->append(QLatin1Char(' '));
}

QByteArray startTag(Choices &c, const QByteArray &name, QByteArray attributes = QByteArray())
{
    if (c.next(2))
        attributes.prepend(attribute(c, "xml:space", "preserve"));
    if (c.next(3) == 0)
        attributes.append(attribute(c, "note", "a>b /> &lt;c&gt;"));
    return '<' + name + attributes + blank(c, false);
}

QByteArray closeTag(Choices &c, const QByteArray &name)
{
    return "</" + name + blank(c, false) + '>';
}

struct Message {
    QByteArray xml;
    QString subject;
    QStringList addresses;
    QStringList names;
    QString date;
    QString url;
    QString body;
};

QByteArray textElement(Choices &c, const QByteArray &name, QString *meaning, unsigned pieces)
{
    QByteArray text;
    for (unsigned n = c.next(pieces); n > 0; --n)
        textPiece(c, &text, meaning, true);
    if (text.isEmpty() && c.next(2))
        return startTag(c, name) + "/>";
    return startTag(c, name) + '>' + text + closeTag(c, name);
}

QByteArray subjectElement(Choices &c, Message *m)
{
    return textElement(c, "OPFMessageCopySubject", &m->subject, 12);
}

// A note-like text of the kind the writers read back whole.
QByteArray bodyElement(Choices &c, Message *m)
{
    return textElement(c, "OPFMessageCopyBody", &m->body, 16);
}

// A date with references, comments, CDATA or an instruction inside.
QByteArray dateElement(Choices &c, Message *m)
{
    static const char *const kForms[][2] = {{"2020-01-0&#50;T10:00:00", "2020-01-02T10:00:00"},
                                            {"2020-01-02T10:<!-- x -->00:00", "2020-01-02T10:00:00"},
                                            {"<![CDATA[2020-01-02]]>T10:00:00", "2020-01-02T10:00:00"},
                                            {"2020-01-02<?p?>T10:00:00", "2020-01-02T10:00:00"},
                                            {" 2020-01-02T10:00:00 ", " 2020-01-02T10:00:00 "}};
    const auto &form = kForms[c.next(5)];
    m->date = QString::fromLatin1(form[1]);
    const QByteArray name = "OPFMessageCopySentTime";
    return startTag(c, name) + '>' + form[0] + closeTag(c, name);
}

QByteArray attachmentList(Choices &c, Message *m)
{
    static const char *const kUrls[][2] = {{"a/x&#64;y", "a/x@y"}, {"a/&#x41;&amp;b", "a/A&b"}, {"a/plain", "a/plain"}};
    const auto &url = kUrls[c.next(3)];
    m->url = QString::fromLatin1(url[1]);
    const QByteArray name = "OPFMessageCopyAttachmentList";
    const QByteArray tag = "<messageAttachment" + attribute(c, "OPFAttachmentURL", url[0]) + blank(c, false);
    return startTag(c, name) + '>' + (c.next(2) ? tag + "/>" : tag + '>' + closeTag(c, "messageAttachment"))
        + closeTag(c, name);
}

QByteArray addressTag(Choices &c, Message *m)
{
    QByteArray attrs[3];
    QString address, nameText;
    QByteArray escaped, nameEscaped;
    for (unsigned n = 1 + c.next(6); n > 0; --n)
        attributePiece(c, &escaped, &address);
    for (unsigned n = c.next(6); n > 0; --n)
        attributePiece(c, &nameEscaped, &nameText);
    attrs[0] = attribute(c, "OPFContactEmailAddressAddress", escaped);
    attrs[1] = attribute(c, "OPFContactEmailAddressName", nameEscaped);
    // A look-alike name must not be taken for the address.
    attrs[2] = attribute(c, "OPFContactEmailAddressAddressX", "lookalike");
    for (int i = 2; i > 0; --i)
        std::swap(attrs[i], attrs[c.next(unsigned(i) + 1)]);
    m->addresses << address;
    m->names << nameText;
    const QByteArray tag = "<emailAddress" + attrs[0] + attrs[1] + attrs[2] + blank(c, false);
    return c.next(2) ? tag + "/>" : tag + '>' + closeTag(c, "emailAddress");
}

QByteArray toElement(Choices &c, Message *m)
{
    const QByteArray name = "OPFMessageCopyToAddresses";
    QByteArray list;
    for (unsigned n = c.next(5); n > 0; --n) {
        list += addressTag(c, m);
        QString ignored;  // text between entries means nothing to either reader
        if (c.next(4) == 0)
            textPiece(c, &list, &ignored, true);
    }
    return startTag(c, name) + '>' + list + closeTag(c, name);
}

// Blanks, comments, instructions (and, inside the root, CDATA) between items and after the root.
QByteArray misc(Choices &c, bool inRoot)
{
    static const char *const kMisc[] = {"", "\n",
                                        "<!-- <email><OPFMessageCopySubject>no</OPFMessageCopySubject></email> -->",
                                        "<?pi </email> ?>", "<![CDATA[</email><email>]]>"};
    return blank(c, false) + kMisc[c.next(inRoot ? 5 : 4)];
}

Message generate(Choices &c)
{
    Message m;
    QByteArray parts[6] = {subjectElement(c, &m), toElement(c, &m),   startTag(c, "OPFMessageIsOutgoing") + "/>",
                           dateElement(c, &m),    bodyElement(c, &m), attachmentList(c, &m)};
    for (int i = 5; i > 0; --i)
        std::swap(parts[i], parts[c.next(unsigned(i) + 1)]);
    m.xml = startTag(c, "email") + '>';
    for (const QByteArray &p : parts)
        m.xml += (c.next(4) == 0 ? QByteArray("<!-- <OPFMessageCopySubject>no</OPFMessageCopySubject> -->") : "") + p
            + blank(c, false);
    m.xml += closeTag(c, "email");
    return m;
}

struct Store {
    QByteArray xml;
    QVector<Message> messages;
};

Store generateStore(Choices &c)
{
    Store s;
    s.xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + misc(c, false) + startTag(c, "emails") + '>';
    for (unsigned n = 1 + c.next(3); n > 0; --n) {
        s.messages << generate(c);
        s.xml += misc(c, true) + s.messages.last().xml;
    }
    s.xml += misc(c, true) + closeTag(c, "emails") + misc(c, false) + misc(c, false);
    return s;
}

QString decoded(std::string_view raw)
{
    return UnescapeXmlEntities(QString::fromUtf8(raw.data(), int(raw.size())), EntityForm::Scanned);
}

// What QXmlStreamReader reads of each message.
struct Read {
    QString subject, date, url, body;
    QStringList addresses, names;
};

QVector<Read> oracle(const QByteArray &xml, QString *error)
{
    QVector<Read> items;
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringRef name = r.name();
        if (name == QLatin1String("email")) {
            items.append(Read());
        } else if (items.isEmpty()) {
            continue;
        } else if (name == QLatin1String("OPFMessageCopySubject")) {
            items.last().subject = r.readElementText();
        } else if (name == QLatin1String("OPFMessageCopySentTime")) {
            items.last().date = r.readElementText();
        } else if (name == QLatin1String("OPFMessageCopyBody")) {
            items.last().body = r.readElementText();
        } else if (name == QLatin1String("messageAttachment")) {
            items.last().url = r.attributes().value(QLatin1String("OPFAttachmentURL")).toString();
        } else if (name == QLatin1String("emailAddress")) {
            items.last().addresses << r.attributes().value(QLatin1String("OPFContactEmailAddressAddress")).toString();
            items.last().names << r.attributes().value(QLatin1String("OPFContactEmailAddressName")).toString();
        }
    }
    if (r.hasError())
        *error = r.errorString();
    return items;
}

const std::initializer_list<std::string_view> kTags = {"<OPFMessageCopyToAddresses", "<OPFMessageCopySubject",
                                                       "<OPFMessageCopySentTime", "<OPFMessageCopyBody",
                                                       "<OPFMessageCopyAttachmentList"};

// What our reader reads of one item, as the scan and the writers read it: only its sound part.
Read ours(std::string_view span, ItemFault *fault)
{
    *fault = CheckItem(span, "<email");
    const std::string sound = SoundPart(span, *fault);
    const ItemElements item(sound, kTags);
    Read read;
    const auto bytes = [&](const char *tag) { return ElementBytes(item.item(), item.value(tag)); };
    std::string plain;
    read.subject = decoded(PlainElementText(bytes("<OPFMessageCopySubject"), &plain));
    read.date = ElementText(bytes("<OPFMessageCopySentTime"));
    const std::string_view body = bytes("<OPFMessageCopyBody");
    read.body = UnescapeXmlEntities(QString::fromUtf8(ReadableElementBytes(QByteArray(body.data(), int(body.size())))),
                                    EntityForm::Notes);
    ForEachStartTag(bytes("<OPFMessageCopyAttachmentList"), "<messageAttachment", [&](std::string_view tag) {
        std::string_view raw;
        std::string normalised;
        if (FindAttribute(tag, "OPFAttachmentURL", &raw, &normalised))
            read.url = UnescapeXmlEntities(
                UnescapeXmlEntities(QString::fromUtf8(raw.data(), int(raw.size())), EntityForm::Six),
                EntityForm::Numeric);
        return true;
    });
    ForEachStartTag(bytes("<OPFMessageCopyToAddresses"), "<emailAddress", [&](std::string_view tag) {
        const auto value = [&](std::string_view name) {
            std::string_view raw;
            std::string normalised;
            return FindAttribute(tag, name, &raw, &normalised) ? decoded(raw) : QString();
        };
        read.addresses << value("OPFContactEmailAddressAddress");
        read.names << value("OPFContactEmailAddressName");
        return true;
    });
    return read;
}

QVector<Read> ourItems(const QByteArray &xml, QVector<ItemFault> *faults, bool *rootClosed)
{
    QVector<Read> items;
    const std::string_view text(xml.constData(), size_t(xml.size()));
    SplitItemElements(
        text, "</email>", {},
        [&](const ItemElements &item, size_t from) {
            ItemFault fault;
            items << ours(text.substr(from, item.end() + item.closeLength()), &fault);
            faults->append(fault);
            return true;
        },
        rootClosed);
    return items;
}

void compare(const Store &s)
{
    // FUZZ_XML_SHOW=1 prints what an input generates, to follow a finding by eye.
    static const bool show = qEnvironmentVariableIsSet("FUZZ_XML_SHOW");
    if (show)
        fprintf(stderr, "%s\n", s.xml.constData());
    QString error;
    const QVector<Read> want = oracle(s.xml, &error);
    if (!error.isEmpty())
        fail("well-formedness", error, QString(), s.xml);
    if (want.size() != s.messages.size())
        fail("the generator's items", QString::number(s.messages.size()), QString::number(want.size()), s.xml);
    QVector<ItemFault> faults;
    bool rootClosed = false;
    const QVector<Read> got = ourItems(s.xml, &faults, &rootClosed);
    if (got.size() != want.size() || !rootClosed)
        fail("items", QString::number(got.size()), QString::number(want.size()), s.xml);
    for (int i = 0; i < got.size(); ++i) {
        const Read &o = want[i], &g = got[i];
        const Message &m = s.messages[i];
        if (o.subject != m.subject)
            fail("the generator's subject", m.subject, o.subject, s.xml);
        if (!faults[i].whole())
            fail("a whole item named broken", QString::fromLatin1(faults[i].what), QString(), s.xml);
        if (g.subject.trimmed() != o.subject.trimmed())
            fail("subject", g.subject, o.subject, s.xml);
        if (g.date != o.date.trimmed())
            fail("date", g.date, o.date, s.xml);
        if (g.url != o.url)
            fail("attachment address", g.url, o.url, s.xml);
        if (g.body != o.body)
            fail("note text", g.body, o.body, s.xml);
        if (g.addresses != o.addresses)
            fail("addresses", g.addresses.join(QLatin1Char('|')), o.addresses.join(QLatin1Char('|')), s.xml);
        if (g.names != o.names)
            fail("names", g.names.join(QLatin1Char('|')), o.names.join(QLatin1Char('|')), s.xml);
    }
}

// One way damage breaks a store, each hiding a ghost address a careless reader would take.
QByteArray broken(Choices &c, const Store &s)
{
    static const char kGhost[] = "ghost@evil.example";
    const QByteArray ghostTag = QByteArray("<emailAddress OPFContactEmailAddressAddress=\"") + kGhost + "\"/>";
    QByteArray xml = s.xml;
    const int to = xml.indexOf("<OPFMessageCopyToAddresses");
    const int toEnd = xml.indexOf('>', to) + 1;
    switch (c.next(6)) {
    case 0:  // an address tag never closed
        return xml.insert(toEnd, QByteArray("<emailAddress OPFContactEmailAddressAddress=\"") + kGhost + "\" ");
    case 1:  // a second root after the first
        return xml + "<emails><email><OPFMessageCopyToAddresses>" + ghostTag
            + "</OPFMessageCopyToAddresses></email></emails>";
    case 2:  // a quote that never closes
        return xml.insert(toEnd,
                          QByteArray("<emailAddress OPFContactEmailAddressName=\"x OPFContactEmailAddressAddress=\"")
                              + kGhost + "\"/>");
    case 3:  // a comment never closed
        return xml.insert(toEnd, "<!-- " + ghostTag);
    case 4:  // a bare '&' before the address
        return xml.insert(toEnd, "a & b" + ghostTag);
    default:  // a close tag that closes nothing open
        return xml.insert(toEnd, "</OPFMessageCopySubject>" + ghostTag);
    }
}

void compareBroken(Choices &c, const Store &s)
{
    const QByteArray xml = broken(c, s);
    QString error;
    oracle(xml, &error);
    if (error.isEmpty())
        fail("damage the conforming reader accepts", QString(), QString(), xml);
    QVector<ItemFault> faults;
    bool rootClosed = false;
    const QVector<Read> got = ourItems(xml, &faults, &rootClosed);
    if (got.size() > s.messages.size())
        fail("an invented item", QString::number(got.size()), QString::number(s.messages.size()), xml);
    bool named = false;
    for (int i = 0; i < got.size(); ++i) {
        named = named || !faults[i].whole();
        if (got[i].addresses.contains(QLatin1String("ghost@evil.example")))
            fail("an invented address", got[i].addresses.join(QLatin1Char('|')), QString(), xml);
    }
    // Damage inside the items names one; damage after the root adds none.
    if (!named && !xml.endsWith("</emails>"))
        fail("a broken item not named", QString(), QString(), xml);
}
// Any bytes: every reader entry point runs, nothing may crash or take more than linear time.
void readRaw(std::string_view text)
{
    const ItemElements item(text, "</email>", {"<OPFMessageCopySubject", "<OPFMessageCopyFromAddresses"});
    const ElementSpan span = item.value("<OPFMessageCopyFromAddresses");
    if (span.found && (span.start < 0 || span.length < 0 || size_t(span.start + span.length) > item.item().size()))
        fail("span", QString::number(span.start), QString::number(span.length), QByteArray());
    size_t tags = 0;
    ForEachStartTag(ElementBytes(item.item(), span), "<emailAddress", [&](std::string_view tag) {
        std::string_view raw;
        std::string normalised;
        tags += FindAttribute(tag, "OPFContactEmailAddressAddress", &raw, &normalised);
        return true;
    });
    ForEachStartTag(text, "<emailAddress", [&](std::string_view) { return ++tags > 0; });
    std::string plain;
    PlainElementText(text, &plain);
    GetElementValue(text, "<OPFMessageCopySubject");
    const ItemFault fault = CheckItem(text, "<email");
    const std::string sound = SoundPart(text, fault);
    if (!fault.whole() && sound.size() > text.size() + (size_t(64) << 20))
        fail("sound part", QString::number(sound.size()), QString::number(text.size()), QByteArray());
    ReadableElementBytes(QByteArray::fromRawData(text.data(), int(text.size())));
    EndsWithRootClose(text, "emails");
    QVector<ItemFault> faults;
    bool closed = false;
    ourItems(QByteArray::fromRawData(text.data(), int(text.size())), &faults, &closed);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication *app = new QCoreApplication(*argc, *argv);
    (void)app;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view raw(reinterpret_cast<const char *>(data), size);
    readRaw(raw);
    if (size > 0 && data[0] % 8 == 0) {
        std::string big;
        while (big.size() < (1u << 20))
            big.append(raw.empty() ? std::string_view("<emailAddress ") : raw);
        readRaw(big);
    }
    Choices choices(data, size);
    while (choices.left()) {
        const Store store = generateStore(choices);
        compare(store);
        if (choices.next(4) == 0)
            compareBroken(choices, store);
    }
    return 0;
}
