#pragma once
// Mail rows of the item list, for the mail fill (ItemListFill.cpp).

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
struct MailMLRC;

// What one mail row shows.
struct MailRowTexts {
    QString sender;
    QString subject;  // "" shows "No Subject"
    QString date;
    QString snippet;
    bool hasSnippet = false;
};

// The message's entry name ("" when the record has none or it cannot be read).
QString MailEntryName(const MailMLRC &mail, qint64 fileSize);
MailRowTexts MailRowTextsFor(const MailMLRC &mail, qint64 fileSize);
// The row of mail (position = its place in the mail list), not yet in a list: a row filled
// while in a shown list costs a layout walk per value. The row keeps its texts; its widget is
// made when the row comes into view, so a folder of many mails costs widgets only for the rows
// on screen. Every mail row is MailRowHeight(list) high.
QTreeWidgetItem *MakeMailRow(const MailMLRC &mail, qint64 position, qint64 fileSize, const QWidget *list);
// The one height of every mail row on list: its three lines as the fonts draw the scripts mail
// is written in, measured once per font resolution.
int MailRowHeight(const QWidget *list);
// The row widget of a mail row, made now if it was not yet (null for other rows).
QWidget *EnsureMailRowWidget(QTreeWidget *list, QTreeWidgetItem *row);
// The row widget of a mail row if it has one now, else null.
QWidget *MailRowWidget(const QTreeWidget *list, QTreeWidgetItem *row);
// Makes the widgets of the mail rows now in the list's viewport and releases those of rows more
// than a screen of rows away from it.
void MakeVisibleMailRowWidgets(QTreeWidget *list);
