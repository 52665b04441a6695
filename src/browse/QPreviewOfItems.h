#pragma once
// The preview controller: shows the selected item of the item list in the preview panes.

#include <QObject>

class QTreeWidgetItem;

class QPreviewOfItems : public QObject {
    Q_OBJECT
public:
    explicit QPreviewOfItems(QObject *parent = nullptr);
    void OnMessageSubjectClicked(QTreeWidgetItem *item);
};
