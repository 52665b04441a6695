#pragma once
// What became of every item of a new archive, and every line the save's report says of it.
// An item is a message with its attachments, a store file, the category list, or an entry of
// no message; its outcome follows from what it lost, which names it got and whether one of its
// entries stands in the archive at the end.

#include <QString>
#include <QStringList>
#include <QVector>

class OlmItemBook {
public:
    // archive: the new archive's path as the lines name it.
    explicit OlmItemBook(QString archive) : m_archive(std::move(archive)) {}

    // A new item, named what (the log's words); returns its number.
    int begin(const QString &what);
    // Something of the item is lost: damaged bytes, an attachment cut or missing.
    void lost(int item, const QString &why);
    // The item's entry was written under another name: nothing of it is lost.
    void renamed(int item, const QString &why);
    // One of the item's entries stands in the archive.
    void stands(int item);
    // The item is one the save counts (a message or a store file) and its entry was written.
    void counted(int item);
    // The item was not written: its text can no longer be read.
    void unreadable(const QString &what);
    // The item was left out, and why: nothing of it is in the archive.
    void leftOut(int item, const QString &why);
    // The archive could not be finished and is gone: every item it was to hold is not saved.
    void lose(const QString &why);

    const QString &what(int item) const { return m_items[item].what; }
    // Items in the archive at the end, whole or incomplete.
    qint64 written() const;
    // The item is one of written()'s as it stands now.
    bool countsAsWritten(int item) const;
    // Items not saved, one line each naming the item and why.
    QStringList failures() const;
    // Items written with something lost, one line each.
    QStringList incompletes() const;
    // Items written whole under a name of their own, one line each.
    QStringList renames() const;
    // Items the archive held or was to hold when it went.
    qint64 itemsLost() const { return m_itemsLost; }

private:
    struct Item {
        QString what;
        QStringList lost;
        QStringList renamed;
        QString leftOut;  // why it is not in the archive; empty: it may be
        bool counted = false;
        bool stands = false;
    };
    bool saved(const Item &item) const { return !m_gone && item.leftOut.isEmpty() && (item.counted || item.stands); }
    static void addOnce(QStringList &list, const QString &line);

    QString m_archive;
    QVector<Item> m_items;
    QStringList m_unreadable;
    bool m_gone = false;
    QString m_goneWhy;
    qint64 m_itemsLost = 0;
};
