#include "shell/QParseDatabase.h"

#include "browse/BrowseGlobals.h"
#include "browse/FolderClick.h"
#include "browse/FolderTree.h"
#include "browse/PreviewJob.h"
#include "browse/QPreviewOfItems.h"
#include "browse/TextFit.h"
#include "platform/ArchiveSource.h"
#include "platform/Edition.h"
#include "scanner/ScanGlobals.h"
#include "shell/QZovuvozivMainWindow.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "shell/ShellWidgets.h"
#include "shell/finder/QSearchPSTFile.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QTreeWidget>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A click on the play sign clicks the Start button, when that can be clicked.
class PlaySignClick : public QObject {
public:
    explicit PlaySignClick(QPushButton *start) : m_start(start) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease && m_start && m_start->isEnabled()
            && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            m_start->click();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QPushButton> m_start;
};

}  // namespace

QParseDatabase::QParseDatabase(QWidget *parent) : QDialog(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    init();
    setFocusPolicy(Qt::NoFocus);
    bProcessRunning = false;
}

QParseDatabase::~QParseDatabase()
{
    StopAndWait();
}

void QParseDatabase::init()
{
    // A child of its dialog: dialogs live as long as the window, and so does the controller.
    m_pPreview = new QPreviewOfItems(this);
    label_2->setTextFormat(Qt::PlainText);
    label_2->setText(bforQRepairFO ? tr("Click 'Browse' to select the corrupted OLM file that needs to be repaired.")
                                   : tr("Click 'Browse' to select the OLM file that needs to be converted."));
    const QString style = QStringLiteral(
        "QPushButton { min-height: 22px; color: black; border-image: url(:/images/OK- Normal.png) 2 8 2 8 stretch; "
        "border-width: 2px 8px 2px 8px;}QPushButton:pressed {border-image: url(:/images/Preview-Normal.png) 2 8 2 8 "
        "stretch; border-width: 2px 8px 2px 8px; color: white;}");
    SearchButton->setStyleSheet(style);
    browseZovuvozivButton->setStyleSheet(style);
    // The play sign starts the scan as the Start button does.
    label_3->setCursor(Qt::PointingHandCursor);
    auto *playSign = new PlaySignClick(StartButton);
    playSign->setParent(label_3);
    label_3->installEventFilter(playSign);
    // The prompt wraps at larger fonts: its label grows to hold every line.
    KeepTextsFitting(this);
    ConnectSignals();
}

void QParseDatabase::ConnectSignals()
{
    StartButton->setStyleSheet(QStringLiteral("QPushButton:enabled {border-image: url(:/images/img_Start.png);}"));
    m_window = pMainWindow;
    connect(browseZovuvozivButton, &QPushButton::clicked, this, &QParseDatabase::OpenFileDialog);
    if (m_window) {
        // The newest dialog takes over the folder tree's clicks.
        QTreeWidget *tree = m_window->panes().folderTree;
        disconnect(tree, &QTreeWidget::itemClicked, nullptr, nullptr);
        connect(tree, &QTreeWidget::itemClicked, this, &QParseDatabase::ShowindivisualMailItemsInfo);
        // Moving with the keys shows the folder as a click does. A mouse press also moves the
        // current item, but its click follows and shows the folder then.
        disconnect(tree, &QTreeWidget::currentItemChanged, nullptr, nullptr);
        connect(tree, &QTreeWidget::currentItemChanged, this, [this, tree](QTreeWidgetItem *current) {
            if (current && tree->hasFocus() && QGuiApplication::mouseButtons() == Qt::NoButton)
                ShowindivisualMailItemsInfo(current, 0);
        });
    }
    connect(StartButton, &QPushButton::clicked, this, &QParseDatabase::OnStartScan);
    connect(StartButton, &QPushButton::pressed, this, &QParseDatabase::OnPressed);
    connect(StartButton, &QPushButton::released, this, &QParseDatabase::OnReleased);
    connect(SearchButton, &QPushButton::clicked, this, &QParseDatabase::SearchFile);
    if (m_window) {
        using Scan = QFolderInformationThread;
        using Window = QZovuvozivMainWindow;
        connect(&m_FolderInfoThread, &Scan::OnInitialSettings, m_window, &Window::SetInitialSettings);
        connect(&m_FolderInfoThread, &Scan::OnProgressvalue, m_window, &Window::SetProgressValue);
        connect(&m_FolderInfoThread, &Scan::OnFinishScanning, m_window, &Window::SetFinishSettingsForMail);
        connect(&m_FolderInfoThread, &Scan::InformationDlgOpen, m_window, &Window::OnInformationDlg);
        connect(&m_FolderInfoThread, &Scan::strInfo, m_window, &Window::OnStrInfo);
        connect(&m_FolderInfoThread, &Scan::ShowMessage, m_window, &Window::OnScanMessage);
        // The thread's own end, also of a stopped scan, which sends no finish signal.
        connect(&m_FolderInfoThread, &QThread::finished, m_window, &Window::OnScanEnded);
    }
}

void QParseDatabase::StopAndWait()
{
    if (m_FolderInfoThread.isRunning()) {
        bStopFlag = true;
        m_FolderInfoThread.wait();
        TakeScanResults();
    }
}

bool QParseDatabase::CanHoldAnEntry(int fd)
{
    const qint64 localHeaderSize = 30;
    struct stat st;
    return fstat(fd, &st) == 0 && qint64(st.st_size) >= localHeaderSize;
}

void QParseDatabase::ShowForNewFile()
{
    textEdit_FileSelected->clear();
    StartButton->setEnabled(false);
    show();
    raise();
    setFocus(Qt::OtherFocusReason);
}

int QParseDatabase::OpenDevice()
{
    const int fd = OpenArchiveFile(m_selectedFile.toUtf8());
    fileDescriptor = fd < 0 ? -1 : fd;
    return fd;
}

void QParseDatabase::OpenFileDialog()
{
    textEdit_FileSelected->clear();
    StartButton->setEnabled(false);
    m_selectedFile = GetOpenFileNameHooked(this, tr("All Files"), QString());
    m_strDatabasePath = m_selectedFile;
    if (!m_selectedFile.isEmpty()) {
        StartButton->setEnabled(true);
        textEdit_FileSelected->setText(m_selectedFile);
    }
}

void QParseDatabase::SearchFile()
{
    m_strDatabasePath.clear();
    m_selectedFile.clear();
    textEdit_FileSelected->clear();
    StartButton->setEnabled(false);
    hide();
    auto *finder = new QSearchPSTFile(this);
    connect(finder, &QSearchPSTFile::SendPathOfSelectedFile, this, &QParseDatabase::OnRecievePathOfSelectedFile);
    connect(finder, &QSearchPSTFile::HideFindWindow, this, &QParseDatabase::OnHideFindWindow);
    finder->show();
}

void QParseDatabase::OnRecievePathOfSelectedFile(QString strPath)
{
    if (strPath.isEmpty())
        return;
    oldInputfilePath = m_selectedFile;
    m_selectedFile = strPath;
    textEdit_FileSelected->setText(strPath);
    StartButton->setEnabled(true);
    setFocus(Qt::OtherFocusReason);
    show();
}

void QParseDatabase::OnHideFindWindow()
{
    if (bLastState) {
        setFocus(Qt::OtherFocusReason);
        show();
    }
}

void QParseDatabase::OnPressed()
{
    StartButton->setIcon(QIcon(QStringLiteral(":/images/img_Start.png")));
}

void QParseDatabase::OnReleased()
{
    StartButton->setIcon(QIcon(QStringLiteral(":/images/img_Start.png")));
}

void QParseDatabase::closeEvent(QCloseEvent *event)
{
    if (!oldInputfilePath.isEmpty())
        m_selectedFile = oldInputfilePath;
    hide();
    event->accept();
}

void QParseDatabase::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}

void QParseDatabase::OnStartScan()
{
    if (m_window)
        m_window->panes().folderTree->clear();
    if (m_selectedFile.isEmpty())
        return;
    // A stopped scan may still be finishing its entry: wait before freeing what it writes.
    StopAndWait();
    // A mail still being read for the preview is not shown from the lists freed here.
    CancelPreviewJob();
    MailItemCount = ContactItemCount = TaskItemCount = NotesItemCount = CalendarItemCount = 0;
    CleanListAndHash();
    if (m_window)
        m_window->RenewLargeItemList();
    if (fileDescriptor >= 0)
        ::close(fileDescriptor);
    fileDescriptor = -1;
    const int opened = OpenDevice();
    if (opened < 0 || !CanHoldAnEntry(fileDescriptor)) {
        if (fileDescriptor >= 0)
            ::close(fileDescriptor);
        fileDescriptor = -1;
        hide();
        ShowMessageBox(nullptr,
                       opened == kNotRegularFile
                           ? tr("\nThe selected file is not a regular file (a pipe, device or folder).")
                           : tr("\nThe scanned file is either an invalid file or heavily damaged."));
        return;
    }
    hide();
    const QByteArray latin = textEdit_FileSelected->text().toLatin1().left(135);
    memset(CurrentPath, 0, sizeof CurrentPath);
    memcpy(CurrentPath, latin.constData(), size_t(latin.size()));
    struct stat st;
    lSize = fstat(fileDescriptor, &st) == 0 ? qint64(st.st_size) : 0;
    if (m_window) {
        m_window->panes().itemList->show();
        m_window->panes().emptyItemList->hide();
    }
    m_FolderInfoThread.SetInitialSettings();
}

QTreeWidget *QParseDatabase::folderTree() const
{
    return m_window ? m_window->panes().folderTree : nullptr;
}

void QParseDatabase::CleanListAndHash()
{
    CleanBrowseResults();
}

void QParseDatabase::GenerateTree()
{
    GenerateFolderTree(folderTree(), m_selectedFile, FolderMaps{objMapFID_PID, objMapFID_Name});
}

void QParseDatabase::AddItemToTree(qint64 llFolderId)
{
    AddFolderToTree(llFolderId, FolderMaps{objMapFID_PID, objMapFID_Name});
}

void QParseDatabase::LeftTreeWidgetItem(QTreeWidgetItem *item)
{
    ApplyFolderBoxChange(item);
}

void QParseDatabase::MarkDirToRootCheckedOrUnchecked(unsigned char state, unsigned long long)
{
    MarkAllFolders(folderTree(), state);
}

void QParseDatabase::MarkChildAccordingToParent(QTreeWidgetItem *item, unsigned char state)
{
    MarkChildrenLikeParent(item, state);
}

void QParseDatabase::MarkParentAccordingToChild(QTreeWidgetItem *item)
{
    MarkParentsFromChildren(item);
}

void QParseDatabase::SetRecoverSelectedState()
{
    ::SetRecoverSelectedState(folderTree());
}

void QParseDatabase::ShowindivisualMailItemsInfo(QTreeWidgetItem *item, int)
{
    if (m_window)
        m_window->RenewLargeItemList();
    ShowClickedFolder(item, [this](quint32 kind) {
        if (m_window)
            m_window->ShowKindView(kind);
    });
}

void QParseDatabase::OnMessageSubjectChanged()
{
    PreviewFirstSelectedItem();
}
