// The texts of a mail row: sender, subject, date and the excerpt of its body.

#include "browse/DrawnText.h"
#include "browse/ItemListFill.h"
#include "browse/ItemListMailRow.h"
#include "browse/MailPreview.h"
#include "browse/SelectionPalette.h"
#include "platform/ArchiveSource.h"
#include "save/MessageFields.h"
#include "save/mail/MailHeaders.h"
#include "scanner/ElementValue.h"
#include "scanner/ScanGlobals.h"
#include "scanner/XmlEntities.h"

#include <QDateTime>
#include <QHash>
#include <QStringList>

namespace {

constexpr int kSnippetChars = 160;
// The excerpt is made from the start of the body only (a damaged record may claim gigabytes), and
// the markup in it is walked once here, never laid out: a row costs the same whatever its body holds.
constexpr qint64 kSnippetReadLimit = 128 * 1024;
constexpr qint32 kMaxEntryName = 65535;

bool isOneOf(const QString &name, const QStringList &names)
{
    for (const QString &n : names) {
        if (name.compare(n, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// Elements whose content a reader never sees.
bool isHiddenElement(const QString &name)
{
    static const QStringList names = {QStringLiteral("style"), QStringLiteral("script"), QStringLiteral("title")};
    return isOneOf(name, names);
}

// Elements that end a line, so their texts do not run together.
bool isBreakingElement(const QString &name)
{
    static const QStringList names = {
        QStringLiteral("p"),  QStringLiteral("div"), QStringLiteral("br"),        QStringLiteral("tr"),
        QStringLiteral("td"), QStringLiteral("th"),  QStringLiteral("li"),        QStringLiteral("table"),
        QStringLiteral("h1"), QStringLiteral("h2"),  QStringLiteral("h3"),        QStringLiteral("h4"),
        QStringLiteral("h5"), QStringLiteral("h6"),  QStringLiteral("hr"),        QStringLiteral("pre"),
        QStringLiteral("dt"), QStringLiteral("dd"),  QStringLiteral("blockquote")};
    return isOneOf(name, names);
}

// What a character reference (the text between '&' and ';') stands for; "" for one not known,
// which then stays as written.
QString referenceText(const QString &name)
{
    if (name.startsWith(QLatin1Char('#'))) {
        const bool hex = name.size() > 1 && (name.at(1) == QLatin1Char('x') || name.at(1) == QLatin1Char('X'));
        bool ok = false;
        const uint code = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return QString();
        return QString::fromUcs4(&code, 1);
    }
    static const QHash<QString, QString> named = {
        {QStringLiteral("amp"), QStringLiteral("&")},      {QStringLiteral("lt"), QStringLiteral("<")},
        {QStringLiteral("gt"), QStringLiteral(">")},       {QStringLiteral("quot"), QStringLiteral("\"")},
        {QStringLiteral("apos"), QStringLiteral("'")},     {QStringLiteral("nbsp"), QStringLiteral(" ")},
        {QStringLiteral("copy"), QString(QChar(0xA9))},    {QStringLiteral("reg"), QString(QChar(0xAE))},
        {QStringLiteral("trade"), QString(QChar(0x2122))}, {QStringLiteral("hellip"), QString(QChar(0x2026))},
        {QStringLiteral("mdash"), QString(QChar(0x2014))}, {QStringLiteral("ndash"), QString(QChar(0x2013))},
        {QStringLiteral("lsquo"), QString(QChar(0x2018))}, {QStringLiteral("rsquo"), QString(QChar(0x2019))},
        {QStringLiteral("ldquo"), QString(QChar(0x201C))}, {QStringLiteral("rdquo"), QString(QChar(0x201D))},
        {QStringLiteral("bull"), QString(QChar(0x2022))},  {QStringLiteral("middot"), QString(QChar(0xB7))},
        {QStringLiteral("euro"), QString(QChar(0x20AC))},  {QStringLiteral("zwnj"), QString(QChar(0x200B))},
        {QStringLiteral("shy"), QString(QChar(0x200B))}};
    return named.value(name);
}

// Collects the excerpt: blanks run together into one space, none at the start, no zero-width
// spaces; full one character past the excerpt's length.
class ExcerptText {
public:
    bool full() const { return m_text.size() > kSnippetChars; }
    void add(QChar c)
    {
        if (c.isSpace()) {
            if (!m_text.isEmpty() && !m_text.endsWith(QLatin1Char(' ')))
                m_text += QLatin1Char(' ');
        } else if (c != QChar(0x200B)) {
            m_text += c;
        }
    }
    void add(const QString &text)
    {
        for (const QChar c : text)
            add(c);
    }
    QString text() const
    {
        QString text = m_text;
        if (text.size() > kSnippetChars) {
            int keep = kSnippetChars;
            if (text.at(keep - 1).isHighSurrogate())
                --keep;
            text.truncate(keep);
        }
        if (text.endsWith(QLatin1Char(' ')))
            text.chop(1);
        text.squeeze();
        return text;
    }

private:
    QString m_text;
};

bool startsTag(const QString &text, int at)
{
    if (at + 1 >= text.size())
        return false;
    const QChar next = text.at(at + 1);
    return next.isLetter() || next == QLatin1Char('/') || next == QLatin1Char('!') || next == QLatin1Char('?');
}

// The tag at text[at] ('<'): where the text after it starts, and what it adds to the excerpt.
int skipTag(const QString &text, int at, ExcerptText &excerpt)
{
    if (QStringView(text).mid(at, 4) == QLatin1String("<!--")) {
        const int end = text.indexOf(QLatin1String("-->"), at + 4);
        return end < 0 ? text.size() : end + 3;
    }
    const int close = text.indexOf(QLatin1Char('>'), at);
    if (close < 0)
        return text.size();
    const bool closing = text.at(at + 1) == QLatin1Char('/');
    const int start = at + (closing ? 2 : 1);
    int end = start;
    while (end < close && text.at(end).isLetterOrNumber())
        ++end;
    const QString name = text.mid(start, end - start);
    if (!closing && isHiddenElement(name) && text.at(close - 1) != QLatin1Char('/')) {
        const int after = text.indexOf(QLatin1String("</") + name, close, Qt::CaseInsensitive);
        return after < 0 ? text.size() : after;
    }
    if (isBreakingElement(name))
        excerpt.add(QLatin1Char(' '));
    return close + 1;
}

// The text a reader sees at the start of markup or text, up to the excerpt's length.
QString excerptOf(const QString &text)
{
    ExcerptText excerpt;
    int at = 0;
    while (at < text.size() && !excerpt.full()) {
        const QChar c = text.at(at);
        if (c == QLatin1Char('<') && startsTag(text, at)) {
            at = skipTag(text, at, excerpt);
            continue;
        }
        if (c == QLatin1Char('&')) {
            const int semicolon = text.indexOf(QLatin1Char(';'), at + 1);
            const QString shown = semicolon > at + 1 && semicolon - at <= 10
                ? referenceText(text.mid(at + 1, semicolon - at - 1))
                : QString();
            if (!shown.isEmpty()) {
                excerpt.add(shown);
                at = semicolon + 1;
                continue;
            }
        }
        excerpt.add(c);
        ++at;
    }
    return excerpt.text();
}

// Bytes read, before the body and after it, to find the sender's address of a mail whose
// senders have no names.
constexpr qint64 kSenderReadLimit = 16 * 1024;

QString senderAddressIn(const QByteArray &bytes)
{
    const std::string_view text(bytes.constData(), size_t(bytes.size()));
    const ElementSpan span = GetElementValue(text, "<OPFMessageCopyFromAddresses");
    QString address;
    if (!span.found)
        return address;
    ForEachStartTag(ElementBytes(text, span), "<emailAddress", [&](std::string_view tag) {
        std::string_view raw;
        std::string normalised;
        if (FindAttribute(tag, "OPFContactEmailAddressAddress", &raw, &normalised))
            address =
                UnescapeXmlEntities(QString::fromUtf8(raw.data(), int(raw.size())), EntityForm::Scanned).trimmed();
        return address.isEmpty();
    });
    return address;
}

// The first sender's address from the mail's element: the plain body comes before the senders,
// so what follows the body is read when the head does not hold them. Bounded either way.
QString senderAddress(const MailMLRC &mail, qint64 fileSize)
{
    const qint64 start = mail.llDataOffset, end = mail.llDataOffset + qint64(mail.dwDataLength);
    if (start <= 0 || end <= start || start >= fileSize)
        return QString();
    QString address = senderAddressIn(ReadArchiveBytes(start, qMin(qMin(end, fileSize) - start, kSenderReadLimit)));
    const qint64 afterBody = mail.llBodyOffset + qint64(mail.dwBodyLength);
    if (address.isEmpty() && mail.llBodyOffset > start && afterBody < qMin(end, fileSize))
        address = senderAddressIn(ReadArchiveBytes(afterBody, qMin(qMin(end, fileSize) - afterBody, kSenderReadLimit)));
    return address;
}

}  // namespace

QString MailSenderText(const char *fromNames)
{
    QString text = QString::fromUtf8(fromNames ? fromNames : "");
    if (text.count(QLatin1Char(';')) < 2) {
        text.remove(QLatin1Char(';'));
        return text;
    }
    text.chop(1);
    return text.mid(text.lastIndexOf(QLatin1Char(';')) + 1);
}

bool MailShownSeconds(const MailMLRC &mail, const QString &entryName, qint64 *seconds)
{
    MessageTimes times = RecordTimes(mail);
    if (!(times.hasSent && times.hasReceived) && mail.dwDataLength > 0) {
        // A time the record cannot hold (before 1970, after 2106) is read from the message's
        // XML, as the writers read it; the times stand after the bodies, so its head and its tail
        // are read, never the whole of a large message.
        constexpr qint64 kBound = 16 * 1024;
        const qint64 length = mail.dwDataLength;
        QByteArray xml = ReadArchiveBytes(mail.llDataOffset, qMin(length, 2 * kBound), 2 * kBound);
        if (length > 2 * kBound)
            xml += "\n" + ReadArchiveBytes(mail.llDataOffset + length - kBound, kBound, kBound);
        times = ReadMessageTimes(mail, &xml);
    }
    const MailTime t = ChooseMailTime(mail, ClassifyMailFolder(entryName), MailTimeRule::DateHeader, times);
    if (t.kind != MailTime::Record)
        return false;
    // As the Date header holds it: years 1900 to 9999.
    *seconds = ClampMailSeconds(t.seconds);
    return true;
}

QString MailDateText(const MailMLRC &mail, const QString &entryName)
{
    if (entryName.isEmpty())
        return QString();
    // A mail without the time its folder shows has no date, as in the preview: not 1970.
    qint64 seconds = 0;
    if (!MailShownSeconds(mail, entryName, &seconds))
        return QString();
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime).toString(QStringLiteral("dd/MM/yyyy"));
}

QString MailSnippet(const QByteArray &body)
{
    QByteArray bytes = body;
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    QString text = QString::fromUtf8(bytes);
    // The preview's order, whose "&amp;lt;" is gone by its turn.
    text = UnescapeXmlEntities(text, EntityForm::Preview);
    return excerptOf(text);
}

QString MailEntryName(const MailMLRC &mail, qint64 fileSize)
{
    if (mail.nNameLength <= 0 || mail.nNameLength > kMaxEntryName || mail.llNameOffset <= 0)
        return QString();
    QByteArray name = ReadArchiveBytes(mail.llNameOffset, qMin<qint64>(mail.nNameLength, fileSize - mail.llNameOffset));
    const int nul = name.indexOf('\0');
    if (nul >= 0)
        name.truncate(nul);
    return QString::fromUtf8(name);
}

MailRowTexts MailRowTextsFor(const MailMLRC &mail, qint64 fileSize)
{
    MailRowTexts t;
    t.date = MailDateText(mail, MailEntryName(mail, fileSize));
    t.sender = MailSenderText(mail.pFromNames);
    // Senders without names show their address, as the preview's header does, not a blank.
    if (t.sender.trimmed().isEmpty())
        t.sender = senderAddress(mail, fileSize);
    t.subject = QString::fromUtf8(mail.pSubject ? mail.pSubject : "");
    t.hasSnippet = mail.llBodyOffset > 0 && mail.dwBodyLength != 0;
    if (t.hasSnippet)
        t.snippet = MailSnippet(ReadArchiveBytes(
            mail.llBodyOffset,
            qMin<qint64>(qMin<qint64>(mail.dwBodyLength, kSnippetReadLimit), fileSize - mail.llBodyOffset)));
    return t;
}
