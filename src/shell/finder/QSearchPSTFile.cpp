#include "shell/finder/QSearchPSTFile.h"

#include "browse/TextFit.h"
#include "shell/ShellHooks.h"
#include "shell/StopDlg.h"
#include "ui_SearchDlg.h"

#include <QCloseEvent>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMovie>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidgetItem>

QString strSelectedPath;
QPointer<StopDlg> stopDlgObj1;

QSearchPSTFile::QSearchPSTFile(QWidget *parent) : QDialog(parent), ui(new Ui::SearchDlg)
{
    ui->setupUi(this);
    m_formWidth = width();
    ConnectSignals();

    QTreeWidget *list = ui->FileTreeWidget;
    const int widths[] = {250, 75, 80, 80, 80};
    for (int column = 0; column < 5; ++column)
        list->setColumnWidth(column, widths[column]);
    list->setAlternatingRowColors(true);
    list->setIndentation(0);
    list->setSortingEnabled(false);
    list->header()->setSortIndicatorShown(false);

    ui->SourceComboBox->clear();
    ui->OKButton->setEnabled(false);
    ui->ClearListButton->setEnabled(false);
    ui->ClearListButton->hide();
    ui->SourceComboBox->hide();
    ui->StopButton->hide();
    ui->SearchInFolderButton->hide();
    ui->SearchButton->setEnabled(true);
    ApplyStyleSheets();
    KeepTextsFitting(this);
}

QSearchPSTFile::~QSearchPSTFile()
{
    FinishThread();
    delete ui;
}

void QSearchPSTFile::ConnectSignals()
{
    connect(ui->StopButton, &QPushButton::clicked, this, &QSearchPSTFile::OnStopSearching);
    connect(ui->SearchButton, &QPushButton::clicked, this, &QSearchPSTFile::StartFileSearch);
    connect(ui->ClearListButton, &QPushButton::clicked, this, &QSearchPSTFile::OnClearList);
    connect(ui->CloseButton, &QPushButton::clicked, this, &QSearchPSTFile::OnClose);
    connect(ui->SearchInFolderButton, &QPushButton::clicked, this, &QSearchPSTFile::OnSearchInFolder);
    connect(ui->FileTreeWidget, &QTreeWidget::itemClicked, this, &QSearchPSTFile::OnItemSelection);
    // A row chosen with the arrow keys is picked as a click picks it.
    connect(ui->FileTreeWidget, &QTreeWidget::itemSelectionChanged, this, &QSearchPSTFile::OnSelectionChanged);
    connect(ui->OKButton, &QPushButton::clicked, this, &QSearchPSTFile::OnOK);
}

void QSearchPSTFile::ApplyStyleSheets()
{
    // The picture names hold a blank, so the addresses are quoted.
    const QString buttonStyle =
        QStringLiteral("QPushButton { border-image: url(\":/images/OK- Normal.png\"); }"
                       "QPushButton:focus { border-image: url(\":/images/OK- Normal.png\"); }"
                       "QPushButton:disabled { border-image: url(\":/images/OK- Normal.png\"); }"
                       "QPushButton:default { border-image: url(\":/images/OK- Normal.png\"); }"
                       "QPushButton:pressed { border-image: url(\":/images/Preview-Normal.png\"); }");
    const QString stopStyle = QStringLiteral("QPushButton { border-image: url(\":/images/OK- Normal.png\"); }"
                                             "QPushButton:focus { border-image: url(\":/images/stop.png\"); }"
                                             "QPushButton:pressed { border-image: url(\":/images/stop.png\"); }");
    for (QPushButton *button : {ui->SearchInFolderButton, ui->SearchButton, ui->OKButton, ui->CloseButton})
        button->setStyleSheet(buttonStyle);
    ui->StopButton->setStyleSheet(stopStyle);
}

QString QSearchPSTFile::SizeText(qint64 bytes)
{
    constexpr qint64 KB = 1024;
    constexpr qint64 MB = KB * 1024;
    constexpr qint64 GB = MB * 1024;
    if (bytes < KB)
        return QString::number(bytes) + QStringLiteral(" Byte");
    if (bytes < MB)
        return QString::number(double(bytes) / KB, 'f', 2) + QStringLiteral(" KB");
    if (bytes < GB)
        return QString::number(double(bytes) / MB, 'f', 2) + QStringLiteral(" MB");
    return QString::number(double(bytes) / GB, 'f', 2) + QStringLiteral(" GB");
}

QString QSearchPSTFile::SearchRootFor(const QString &chosenFolder)
{
    if (chosenFolder.startsWith(QLatin1String("/private/var/root")) || chosenFolder.startsWith(QLatin1String("/Users")))
        return chosenFolder;
    return chosenFolder + QLatin1Char('/');
}

bool QSearchPSTFile::HoldsResults() const
{
    return pLastItem && ui->FileTreeWidget->indexOfTopLevelItem(pLastItem) >= 0;
}

void QSearchPSTFile::ClearResults()
{
    ui->FileTreeWidget->clear();
    pLastItem = nullptr;
    ui->OKButton->setEnabled(false);
}

void QSearchPSTFile::AddResultRow(const FoundArchive &found)
{
    auto *row = new QTreeWidgetItem(ui->FileTreeWidget);
    row->setText(0, found.path);
    row->setText(1, SizeText(found.size));
    row->setText(2, found.created.toString(Qt::TextDate));
    row->setText(3, found.accessed.toString(Qt::TextDate));
    row->setText(4, found.modified.toString(Qt::TextDate));
    pLastItem = row;
}

void QSearchPSTFile::StopAnimation()
{
    if (pScanMovie)
        pScanMovie->stop();
    ui->MovieLabel->hide();
}

void QSearchPSTFile::ShowIdleButtons()
{
    ui->StopButton->hide();
    ui->SearchButton->show();
    ui->SearchInFolderButton->setEnabled(true);
    ui->SourceComboBox->setEnabled(true);
    StopAnimation();
}

void QSearchPSTFile::FinishThread()
{
    if (!pSearchThread)
        return;
    pSearchThread->RequestStop();
    pSearchThread->wait();
}

void QSearchPSTFile::OnSearchInFolder()
{
    ChooseFolder();
}

bool QSearchPSTFile::ChooseFolder()
{
    // Asked first: a cancelled choice keeps the location and the results already listed.
    const QString folder = GetExistingDirectoryHooked(this, tr("Open Directory"), QStringLiteral("/"));
    if (folder.isEmpty())
        return false;
    if (HoldsResults())
        ClearResults();
    ui->lineEdit_folderselect->setText(folder);
    ui->SearchButton->setEnabled(true);
    QComboBox *chosen = ui->SourceComboBox;
    const int earlier = chosen->findText(folder);
    if (earlier >= 0)
        chosen->removeItem(earlier);
    chosen->addItem(QFileIconProvider().icon(QFileInfo(folder)), folder);
    chosen->setCurrentIndex(chosen->count() - 1);
    return true;
}

void QSearchPSTFile::StartFileSearch()
{
    if (!ChooseFolder())
        return;
    const QString folder = ui->lineEdit_folderselect->text();

    if (HoldsResults())
        ClearResults();
    ui->ClearListButton->setEnabled(false);
    ui->OKButton->setEnabled(false);
    ui->SearchInFolderButton->setEnabled(false);
    ui->SourceComboBox->setEnabled(false);
    ui->SearchButton->hide();
    ui->StopButton->show();
    ui->StopButton->setFocus();

    ui->MovieLabel->setMovie(nullptr);
    delete pScanMovie;
    pScanMovie = new QMovie(QStringLiteral(":/images/img_Scan.gif"), QByteArray(), this);
    ui->MovieLabel->setMovie(pScanMovie);
    ui->MovieLabel->show();
    pScanMovie->start();

    // A stopped search may still be leaving its last folder; it ends before the next one starts,
    // so the two never share the search flags. Its late finish signal is told apart by sender().
    if (pSearchThread) {
        FinishThread();
        pSearchThread->deleteLater();
    }
    pSearchThread = new QPSTSearchingThread(this);
    connect(pSearchThread, &QPSTSearchingThread::FinshScanningProcess, this, &QSearchPSTFile::OnFinshScanningProcess,
            Qt::QueuedConnection);
    pSearchThread->strSearchPath.append(SearchRootFor(folder));
    m_searching = true;
    pSearchThread->SetInitialSettings();
}

void QSearchPSTFile::OnFinshScanningProcess()
{
    auto *from = qobject_cast<QPSTSearchingThread *>(sender());
    if (from && from != pSearchThread)
        return;  // an earlier search that was stopped
    ClearResults();
    StopAnimation();
    if (!m_searching || !pSearchThread || pSearchThread->StopRequested())
        return;  // stopped: the stop answer has already reset the finder
    m_searching = false;

    const QVector<FoundArchive> found = pSearchThread->Results();
    for (const FoundArchive &archive : found)
        AddResultRow(archive);
    if (!HoldsResults())
        ShowMessageBox(nullptr, tr("\nSearch completed. No OLM file found."));
    ui->ClearListButton->setEnabled(HoldsResults());
    ShowIdleButtons();
}

void QSearchPSTFile::OnItemSelection(QTreeWidgetItem *item, int /*column*/)
{
    if (!item)
        return;
    strSelectedPath = item->text(0);
    ui->OKButton->setEnabled(true);
}

void QSearchPSTFile::OnSelectionChanged()
{
    const QList<QTreeWidgetItem *> selected = ui->FileTreeWidget->selectedItems();
    if (!selected.isEmpty())
        OnItemSelection(selected.constFirst(), 0);
}

void QSearchPSTFile::OnOK()
{
    hide();
    Q_EMIT SendPathOfSelectedFile(strSelectedPath);
}

void QSearchPSTFile::OnClearList()
{
    ClearResults();
    ui->ClearListButton->setEnabled(false);
}

void QSearchPSTFile::OnStopSearching()
{
    if (stopDlgObj1) {
        stopDlgObj1->hide();
        stopDlgObj1->deleteLater();
    }
    stopDlgObj1 = new StopDlg(this);
    stopDlgObj1->setTitle(tr("Abort"));
    stopDlgObj1->setQuestion(tr("Do you want to abort the current process?"));
    // True here: a stopped search clears its list.
    stopDlgObj1->setDetail(tr("You can't resume the process from this point. All the changes will be discarded."));
    connect(stopDlgObj1->yesButton(), &QPushButton::clicked, this, &QSearchPSTFile::OnsearchStopProcess);
    connect(stopDlgObj1->noButton(), &QPushButton::clicked, this, &QSearchPSTFile::OnsearchRunProcess);
    stopDlgObj1->show();
}

void QSearchPSTFile::OnsearchRunProcess()
{
    if (stopDlgObj1)
        stopDlgObj1->hide();
}

void QSearchPSTFile::OnsearchStopProcess()
{
    if (stopDlgObj1)
        stopDlgObj1->hide();
    // The search may have ended while the question was open; its results then stay listed.
    if (!m_searching)
        return;
    m_searching = false;
    // Ends only our own walk; it stops at its next directory entry.
    if (pSearchThread)
        pSearchThread->RequestStop();
    bStopFlagSearching = true;
    bProcessRunningSearching = false;
    ClearResults();
    ui->ClearListButton->setEnabled(false);
    ShowIdleButtons();
}

bool QSearchPSTFile::CloseFinder()
{
    if (bProcessRunningSearching) {
        ShowMessageBox(nullptr, tr("\nFirst stop the currently running process."));
        return false;
    }
    // A stopped walk may still be unwinding; it must not outlive the finder's use.
    FinishThread();
    hide();
    Q_EMIT HideFindWindow();
    return true;
}

void QSearchPSTFile::OnClose()
{
    CloseFinder();
}

void QSearchPSTFile::closeEvent(QCloseEvent *event)
{
    if (CloseFinder())
        event->accept();
    else
        event->ignore();
}

void QSearchPSTFile::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    KeepInsideWindow();
}

void QSearchPSTFile::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    KeepInsideWindow();
}

void QSearchPSTFile::KeepInsideWindow()
{
    // The window of the dialog that opened the finder, or the finder's own parent window.
    const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
    while (owner && owner->parentWidget())
        owner = owner->parentWidget()->window();
    int most = screen() ? screen()->availableGeometry().width() : QWIDGETSIZE_MAX;
    if (owner && owner != this && owner->isVisible())
        most = qMin(most, owner->width());
    const int limit = qMax(m_formWidth, most);
    if (width() <= limit)
        return;
    setMinimumWidth(qMin(minimumWidth(), limit));
    setMaximumWidth(limit);
    resize(limit, height());
}

void QSearchPSTFile::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}
