#pragma once
// The "Select OLM File" dialog: picks an archive (Browse or the file finder) and runs the
// scanner over it. The folder tree's clicks come here too, and go on to browsing.

#include "scanner/QFolderInformationThread.h"
#include "shell/BrowseWindowUi.h"

#include <QDialog>
#include <QList>
#include <QMetaObject>

class QTreeWidget;
class QTreeWidgetItem;
class QZovuvozivMainWindow;

class QParseDatabase : public QDialog, public Ui::BrowseWindow {
    Q_OBJECT
public:
    explicit QParseDatabase(QWidget *parent = nullptr);
    ~QParseDatabase() override;

    QFolderInformationThread m_FolderInfoThread;

    QFolderInformationThread *scanner() { return &m_FolderInfoThread; }
    void init();
    void ConnectSignals();
    int OpenDevice();
    // Stops a running scan and waits for it, so nothing frees what it still writes.
    void StopAndWait();
    // Shows the sheet again with no file chosen: the window keeps one sheet for every open.
    void ShowForNewFile();
    // Whether the file is long enough to hold one entry's local header. Its first bytes are not
    // judged: a damaged head or a re-packed archive may still hold items the scan finds.
    static bool CanHoldAnEntry(int fd);

    // The folder tree, done by browsing (FolderTree.h, FolderClick.h).
    static void CleanListAndHash();
    void GenerateTree();
    void AddItemToTree(qint64 llFolderId);
    void LeftTreeWidgetItem(QTreeWidgetItem *item);
    void MarkDirToRootCheckedOrUnchecked(unsigned char state, unsigned long long id);
    void MarkChildAccordingToParent(QTreeWidgetItem *item, unsigned char state);
    void MarkParentAccordingToChild(QTreeWidgetItem *item);
    void SetRecoverSelectedState();

public Q_SLOTS:
    void ShowindivisualMailItemsInfo(QTreeWidgetItem *item, int column);
    void OnPressed();
    void OnReleased();
    void OnMessageSubjectChanged();
    void SearchFile();

private Q_SLOTS:
    void OnStartScan();
    void OpenFileDialog();
    void OnHideFindWindow();
    void OnRecievePathOfSelectedFile(QString strPath);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // The window whose panes and views this dialog serves.
    QZovuvozivMainWindow *m_window = nullptr;
    QTreeWidget *folderTree() const;
};
