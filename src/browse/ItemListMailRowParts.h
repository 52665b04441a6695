#pragma once
// The pieces of the mail rows that lie in files of their own: the row widget is made in
// ItemListMailRow.cpp and placed over its row in MailRowWidgets.cpp.

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace mailrow {

constexpr char kRowWidgetName[] = "mailRow";

// The widget of a mail row without its texts. It follows the text column's width for as long
// as it lives, whichever row it shows then.
QWidget *newRowWidget(QTreeWidget *list);
// Shows row's texts on a row widget, new or one a row further away gave up.
void showRowTexts(QWidget *widget, const QTreeWidgetItem *row, const QTreeWidget *list);

}  // namespace mailrow
