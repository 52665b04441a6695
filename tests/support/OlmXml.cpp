#include "OlmXml.h"

#include <QMap>

namespace OlmXml {

namespace {

const QByteArray kPreserve = QByteArrayLiteral(" xml:space=\"preserve\"");

// Children keyed by element name: QMap's byte order is the exporter's order.
using Fields = QMap<QByteArray, QByteArray>;

void addText(Fields &f, const char *name, const QString &text)
{
    if (!text.isEmpty())
        f.insert(name, elementRaw(name, text.toUtf8()));
}

void addChildren(Fields &f, const char *name, const QByteArray &children)
{
    if (!children.isEmpty())
        f.insert(name, elementRaw(name, children));
}

QByteArray attr(const char *name, const QString &value)
{
    return ' ' + QByteArray(name) + "=\"" + value.toUtf8() + '"';
}

QByteArray joined(const Fields &f)
{
    QByteArray out;
    for (const QByteArray &v : f)
        out += v;
    return out;
}

QByteArray addresses(const QList<Address> &list)
{
    QByteArray out;
    for (const Address &a : list) {
        out += "<emailAddress" + kPreserve + attr("OPFContactEmailAddressAddress", a.first);
        if (!a.second.isEmpty())
            out += attr("OPFContactEmailAddressName", a.second);
        out += attr("OPFContactEmailAddressType", QStringLiteral("0")) + "></emailAddress>";
    }
    return out;
}

QByteArray attachments(const MailItem &m)
{
    QByteArray out;
    for (int i = 0; i < m.attachmentNames.size(); ++i) {
        const QString &name = m.attachmentNames.at(i);
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        out += "<messageAttachment" + kPreserve;
        if (dot >= 0 && dot + 1 < name.size())
            out += attr("OPFAttachmentContentExtension", name.mid(dot + 1));
        out += attr("OPFAttachmentContentType", QStringLiteral("application/octet-stream"));
        out += attr("OPFAttachmentName", name);
        const QString url = m.attachmentUrls.value(i);
        if (!url.isEmpty())
            out += attr("OPFAttachmentURL", url);
        out += "></messageAttachment>";
    }
    return out;
}

template <typename T, typename Fn>
QByteArray makeList(const char *root, const QVector<T> &items, Fn one)
{
    QByteArray body;
    for (const T &it : items)
        body += one(it);
    return list(QString::fromLatin1(root), items.size(), body);
}

} // namespace

QString escape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        default: out += c;
        }
    }
    return out;
}

QByteArray elementRaw(const QByteArray &name, const QByteArray &text)
{
    return '<' + name + kPreserve + '>' + text + "</" + name + '>';
}

QByteArray element(const QString &name, const QString &text)
{
    return elementRaw(name.toUtf8(), text.toUtf8());
}

QByteArray item(const QString &name, const QByteArray &children)
{
    return elementRaw(name.toUtf8(), children);
}

QByteArray list(const QString &root, int count, const QByteArray &items)
{
    const QByteArray r = root.toUtf8();
    return '<' + r + kPreserve + " elementCount=\"" + QByteArray::number(count) + "\">" + items + "</" + r + '>';
}

QByteArray email(const MailItem &m)
{
    Fields f;
    addChildren(f, "OPFMessageCopyAttachmentList", attachments(m));
    addText(f, "OPFMessageCopyBody", m.body);
    addChildren(f, "OPFMessageCopyCCAddresses", addresses(m.cc));
    addChildren(f, "OPFMessageCopyFromAddresses", addresses(m.from));
    addText(f, "OPFMessageCopyHTMLBody", m.htmlBody);
    addText(f, "OPFMessageCopyMessageID", m.messageId);
    addText(f, "OPFMessageCopyReceivedTime", m.received);
    addText(f, "OPFMessageCopySentTime", m.sent);
    addText(f, "OPFMessageCopySubject", m.subject);
    addChildren(f, "OPFMessageCopyToAddresses", addresses(m.to));
    addText(f, "OPFMessageGetPriority", m.priority);
    addText(f, "OPFMessageIsOutgoing", m.outgoing);
    return item(QStringLiteral("email"), joined(f));
}

QByteArray contact(const ContactItem &c)
{
    Fields f;
    addText(f, "OPFContactAddPicture", c.picture);
    addText(f, "OPFContactCopyDisplayName", c.displayName);
    addText(f, "OPFContactCopyFirstName", c.first);
    addText(f, "OPFContactCopyLastName", c.last);
    addText(f, "OPFContactCopyNotesPlain", c.notes);
    return item(QStringLiteral("contact"), joined(f));
}

QByteArray appointment(const EventItem &e)
{
    Fields f;
    addText(f, "OPFCalendarEventCopyDescriptionPlain", e.description);
    addText(f, "OPFCalendarEventCopyEndTime", e.end);
    addText(f, "OPFCalendarEventCopyLocation", e.location);
    addText(f, "OPFCalendarEventCopyStartTime", e.start);
    addText(f, "OPFCalendarEventCopySummary", e.summary);
    return item(QStringLiteral("appointment"), joined(f));
}

QByteArray task(const TaskItem &t)
{
    Fields f;
    addText(f, "OPFTaskCopyName", t.name);
    addText(f, "OPFTaskCopyNote", t.note);
    addText(f, "OPFTaskGetPriority", t.priority);
    return item(QStringLiteral("task"), joined(f));
}

QByteArray note(const NoteItem &n)
{
    Fields f;
    addText(f, "OPFNoteCopyText", n.text);
    addText(f, "OPFNoteCopyTitle", n.title);
    return item(QStringLiteral("note"), joined(f));
}

QByteArray emails(const QVector<MailItem> &items) { return makeList("emails", items, email); }
QByteArray contacts(const QVector<ContactItem> &items) { return makeList("contacts", items, contact); }
QByteArray appointments(const QVector<EventItem> &items) { return makeList("appointments", items, appointment); }
QByteArray tasks(const QVector<TaskItem> &items) { return makeList("tasks", items, task); }
QByteArray notes(const QVector<NoteItem> &items) { return makeList("notes", items, note); }

QByteArray categories(const QStringList &names)
{
    // Colours as the exporter writes them, reused in turn.
    static const char *const colours[] = {
        "r:0.61 g:0.61 b:0.61", "r:0.63 g:0.26 b:0.80", "r:0.40 g:0.27 b:0.80",
        "r:0.89 g:0.15 b:0.15", "r:0.26 g:0.60 b:0.00", "r:0.31 g:0.49 b:0.80",
    };
    constexpr int nColours = sizeof colours / sizeof colours[0];
    QByteArray out = "<categories elementCount=\"" + QByteArray::number(names.size()) + "\">";
    for (int i = 0; i < names.size(); ++i) {
        out += "<category" + kPreserve + attr("OPFCategoryCopyBackgroundColor", QLatin1String(colours[i % nColours]))
             + attr("OPFCategoryCopyName", names.at(i)) + "></category>";
    }
    return out + "</categories>";
}

} // namespace OlmXml
