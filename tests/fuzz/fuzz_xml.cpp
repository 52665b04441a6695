// libFuzzer target over the element and attribute reader. The input drives a generator of
// well-formed message XML in every form a writer may choose (element order, attribute order and
// quotes, blanks and line breaks in tags, literal tabs and line breaks in attribute values,
// self-closing tags, CDATA, comments, processing instructions, named and numeric character
// references); the reader's values must equal those of QXmlStreamReader, a conforming XML reader.
// The raw input is also read as it stands, and one input in eight repeated to a mebibyte, so a
// reader whose cost grows faster than its input runs into the per-input time limit.

#include "scanner/ElementValue.h"
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
    static const char *const kNamed[][2] = {{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}, {"&quot;", "\""}, {"&apos;", "'"}};
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
};

QByteArray subjectElement(Choices &c, Message *m)
{
    const QByteArray name = "OPFMessageCopySubject";
    QByteArray text;
    for (unsigned n = c.next(12); n > 0; --n)
        textPiece(c, &text, &m->subject, true);
    if (text.isEmpty() && c.next(2))
        return startTag(c, name) + "/>";
    return startTag(c, name) + '>' + text + closeTag(c, name);
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

Message generate(Choices &c)
{
    Message m;
    QByteArray parts[3] = {subjectElement(c, &m), toElement(c, &m), startTag(c, "OPFMessageIsOutgoing") + "/>"};
    for (int i = 2; i > 0; --i)
        std::swap(parts[i], parts[c.next(unsigned(i) + 1)]);
    m.xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><emails><email>";
    for (const QByteArray &p : parts)
        m.xml += (c.next(4) == 0 ? QByteArray("<!-- <OPFMessageCopySubject>no</OPFMessageCopySubject> -->") : "") + p
            + blank(c, false);
    m.xml += "</email></emails>";
    return m;
}

QString decoded(std::string_view raw)
{
    return UnescapeXmlEntities(QString::fromUtf8(raw.data(), int(raw.size())), EntityForm::Scanned);
}

// What QXmlStreamReader reads: the subject's text and every address entry's two attributes.
void oracle(const QByteArray &xml, QString *subject, QStringList *addresses, QStringList *names)
{
    QXmlStreamReader r(xml);
    while (!r.atEnd()) {
        if (r.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (r.name() == QLatin1String("OPFMessageCopySubject")) {
            *subject = r.readElementText();
        } else if (r.name() == QLatin1String("emailAddress")) {
            *addresses << r.attributes().value(QLatin1String("OPFContactEmailAddressAddress")).toString();
            *names << r.attributes().value(QLatin1String("OPFContactEmailAddressName")).toString();
        }
    }
    if (r.hasError())
        fail("well-formedness", r.errorString(), QString(), xml);
}

void compare(const Message &m)
{
    // FUZZ_XML_SHOW=1 prints what an input generates, to follow a finding by eye.
    static const bool show = qEnvironmentVariableIsSet("FUZZ_XML_SHOW");
    if (show)
        fprintf(stderr, "%s\n", m.xml.constData());
    QString subject;
    QStringList addresses, names;
    oracle(m.xml, &subject, &addresses, &names);
    if (subject != m.subject)
        fail("the generator's subject", m.subject, subject, m.xml);
    const std::string_view text(m.xml.constData(), size_t(m.xml.size()));
    const ItemElements item(text, "</email>", {"<OPFMessageCopyToAddresses", "<OPFMessageCopySubject"});
    std::string plain;
    const QString ours = decoded(PlainElementText(ElementBytes(item.item(), item.value("<OPFMessageCopySubject")), &plain));
    if (ours.trimmed() != subject.trimmed())
        fail("subject", ours, subject, m.xml);
    QStringList ourAddresses, ourNames;
    ForEachStartTag(ElementBytes(item.item(), item.value("<OPFMessageCopyToAddresses")), "<emailAddress",
                    [&](std::string_view tag) {
                        const auto value = [&](std::string_view name) {
                            std::string_view raw;
                            std::string normalised;
                            return FindAttribute(tag, name, &raw, &normalised) ? decoded(raw) : QString();
                        };
                        ourAddresses << value("OPFContactEmailAddressAddress");
                        ourNames << value("OPFContactEmailAddressName");
                        return true;
                    });
    if (ourAddresses != addresses)
        fail("addresses", ourAddresses.join(QLatin1Char('|')), addresses.join(QLatin1Char('|')), m.xml);
    if (ourNames != names)
        fail("names", ourNames.join(QLatin1Char('|')), names.join(QLatin1Char('|')), m.xml);
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
    while (choices.left())
        compare(generate(choices));
    return 0;
}
