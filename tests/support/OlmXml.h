#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// Item XML in the exporter's form: every element carries xml:space="preserve",
// children appear sorted by element name, there is no XML declaration and no
// trailing newline. All text and attribute values are inserted verbatim, so
// callers escape them (escape()) or deliberately don't. Empty fields are omitted.
// Output is UTF-8.
namespace OlmXml {

using Address = QPair<QString, QString>; // address, display name

struct MailItem {
    QString subject;
    QString body;
    QString htmlBody;
    QString sent;                   // e.g. 2006-01-11T05:17:59
    QString received;
    QList<Address> from;
    QList<Address> to;
    QList<Address> cc;
    QStringList attachmentNames;
    QStringList attachmentUrls;     // parallel to attachmentNames; missing/empty: no URL attribute
    QString outgoing;               // the exporter writes 0E0 / 1E0
    QString priority;               // 1..5
    QString messageId;
};

struct ContactItem {
    QString first, last, displayName, notes, picture;
};

struct EventItem {
    QString summary, location, description, start, end;
};

struct TaskItem {
    QString name, note, priority;
};

struct NoteItem {
    QString title, text;
};

// &amp; &lt; &gt; &quot;
QString escape(const QString &text);

// <name xml:space="preserve">text</name>
QByteArray element(const QString &name, const QString &text);
QByteArray elementRaw(const QByteArray &name, const QByteArray &text);
// <name xml:space="preserve">children</name>, for items such as <email>
QByteArray item(const QString &name, const QByteArray &children);
// <root xml:space="preserve" elementCount="count">items</root>
QByteArray list(const QString &root, int count, const QByteArray &items);

QByteArray email(const MailItem &m);
QByteArray contact(const ContactItem &c);
QByteArray appointment(const EventItem &e);
QByteArray task(const TaskItem &t);
QByteArray note(const NoteItem &n);

QByteArray emails(const QVector<MailItem> &items);
QByteArray contacts(const QVector<ContactItem> &items);
QByteArray appointments(const QVector<EventItem> &items);
QByteArray tasks(const QVector<TaskItem> &items);
QByteArray notes(const QVector<NoteItem> &items);
// <categories elementCount="N"> (no xml:space on this root) with colour attributes.
QByteArray categories(const QStringList &names);

} // namespace OlmXml
