#pragma once
// An archive whose attachments are what mail carries (documents that are zips of their own, a
// text, a picture, bytes holding CR LF pairs of their own, bytes without any LF), and the same
// archive after a copy wrote each LF as CR LF once or twice.

#include "OlmXml.h"
#include "TestArchiveBuilder.h"

#include <QVector>

struct LineEndArchive {
    QByteArray bytes;
    QStringList names;          // attachment entry names, in archive order
    QVector<QByteArray> datas;  // their bytes as stored in the intact archive
};

inline QByteArray LineEndDocument(int i)
{
    TestArchiveBuilder inner;
    inner.addEntry(QStringLiteral("[Content_Types].xml"), QByteArray("<?xml?>\n<Types>\n</Types>\n"));
    QByteArray lines;
    for (int k = 0; k < 30 + i; ++k)
        lines += "line " + QByteArray::number(k) + " of part " + QByteArray::number(i) + "\n";
    inner.addEntry(QStringLiteral("word/document.xml"), lines);
    return inner.finish();
}

// times: how often every LF was written as CR LF (0: intact).
inline LineEndArchive MakeLineEndArchive(int times, bool directory)
{
    const QString folder = QStringLiteral("Local/com.microsoft.__Messages/Inbox/");
    QVector<QPair<QString, QByteArray>> files;
    files.append({QStringLiteral("report.docx"), LineEndDocument(0)});
    files.append({QStringLiteral("notes.txt"), QByteArray("first line\nsecond line\n\nlast\n")});
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    for (int k = 0; k < 64; ++k)
        png += char(k * 37) + QByteArray("\n\r") + char(k);
    files.append({QStringLiteral("picture.png"), png});
    files.append({QStringLiteral("windows.txt"), QByteArray("CR LF ends\r\nhere\r\na lone CR\rand LF\n")});
    files.append({QStringLiteral("plain.bin"), QByteArray("no line end at all, \r only a CR").repeated(4)});
    files.append({QStringLiteral("archive.zip"), LineEndDocument(1)});
    TestArchiveBuilder b;
    QVector<OlmXml::ContactItem> contacts;
    for (int i = 0; i < 3; ++i)
        contacts.append({QStringLiteral("First%1").arg(i), QStringLiteral("Last"), QString(),
                         QStringLiteral("line\n").repeated(5), QString()});
    b.addEntry(QStringLiteral("Local/Address Book/Contacts.xml"), OlmXml::contacts(contacts));
    LineEndArchive out;
    for (int i = 0; i < files.size(); ++i) {
        const QString url = folder + QStringLiteral("com.microsoft.__Attachments/file%1_0000").arg(i);
        OlmXml::MailItem m;
        m.subject = QStringLiteral("Subject %1").arg(i);
        m.body = QStringLiteral("Body %1\nsecond line").arg(i);
        m.sent = QStringLiteral("2018-06-21T03:26:46");
        m.attachmentNames = QStringList{files[i].first};
        m.attachmentUrls = QStringList{url};
        b.addEntry(folder + QStringLiteral("message_%1.xml").arg(i, 5, 10, QLatin1Char('0')), OlmXml::emails({m}));
        b.addEntry(url, files[i].second);
        out.names << url;
        out.datas << files[i].second;
    }
    out.bytes = b.finish(directory);
    for (int k = 0; k < times; ++k)
        out.bytes.replace("\n", "\r\n");
    return out;
}
