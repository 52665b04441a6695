#pragma once
// The "Select OLM File" dialog: picks an archive (Browse or the file finder), checks its head and
// runs the scanner over it. The same class is the browsing controller of the folder tree.

#include "browse/QThreadmailclicked.h"
#include "scanner/QFolderInformationThread.h"
#include "shell/BrowseWindowUi.h"

#include <QDialog>
#include <QList>
#include <QMetaObject>

class QTreeWidgetItem;

class QParseDatabase : public QDialog, public Ui::BrowseWindow {
    Q_OBJECT
public:
    explicit QParseDatabase(QWidget *parent = nullptr);
    ~QParseDatabase() override;

    QFolderInformationThread m_FolderInfoThread;
    QThreadmailclicked m_MailClickedThread;

    QFolderInformationThread *scanner() { return &m_FolderInfoThread; }
    void init();
    void ConnectSignals();
    int OpenDevice();
    // Stops a running scan and waits for it, so nothing frees what it still writes.
    void StopAndWait();
    // Checks the first bytes of an archive: a local header of version 45.
    static bool HasArchiveHead(int fd);

    // Browsing side.
    static void CleanListAndHash();
    void GenerateTree();
    void AddItemToTree(qint64 llFolderId);
    void LeftTreeWidgetItem(QTreeWidgetItem *item);
    void MarkDirToRootCheckedOrUnchecked(unsigned char state, unsigned long long id);
    void MarkChildAccordingToParent(QTreeWidgetItem *item, unsigned char state);
    void MarkParentAccordingToChild(QTreeWidgetItem *item);
    // Brings every column-7 code and node state in line with the boxes, parents following their
    // children; also after boxes were set without propagation.
    void SetRecoverSelectedState();

public Q_SLOTS:
    void ShowindivisualMailItemsInfo(QTreeWidgetItem *item, int column);
    void OnPressed();
    void OnReleased();
    void OnmailClicked();
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
};
