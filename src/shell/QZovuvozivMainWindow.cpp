#include "shell/QZovuvozivMainWindow.h"

#include "scanner/ScanGlobals.h"
#include "shell/DemoDlgClass.h"
#include "shell/QParseDatabase.h"
#include "shell/ShellHooks.h"

#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>

QZovuvozivMainWindow::QZovuvozivMainWindow(QWidget *parent)
    : QMainWindow(parent), m_parse(new QParseDatabase(this)), m_progress(new QProgressBar(this)),
      m_status(new QLabel(this)), m_summary(new QLabel(this))
{
    setObjectName(QStringLiteral("QZovuvozivMainWindow"));
    setMinimumSize(1050, 640);
    m_summary->setObjectName(QStringLiteral("summaryLabel"));
    m_summary->setAlignment(Qt::AlignCenter);
    setCentralWidget(m_summary);
    m_progress->setObjectName(QStringLiteral("scanProgress"));
    m_progress->setVisible(false);
    statusBar()->addWidget(m_status, 1);
    statusBar()->addPermanentWidget(m_progress);
    QAction *open = menuBar()->addMenu(tr("File"))->addAction(tr("Open"));
    open->setObjectName(QStringLiteral("actionOpen"));
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, this, &QZovuvozivMainWindow::OnOpen);
    m_parse->ConnectSignals(this);
}

QZovuvozivMainWindow::~QZovuvozivMainWindow()
{
    m_parse->StopAndWait();
}

QString QZovuvozivMainWindow::summaryText() const
{
    return m_summary->text();
}

void QZovuvozivMainWindow::SetInitialSettings(long long maximum)
{
    m_progress->setRange(0, int(qBound<long long>(0, maximum, INT_MAX)));
    m_progress->setValue(0);
    m_progress->setVisible(true);
    m_summary->clear();
}

void QZovuvozivMainWindow::SetProgressValue(long long value)
{
    m_progress->setValue(int(qBound<long long>(0, value, m_progress->maximum())));
}

void QZovuvozivMainWindow::OnStrInfo(QString text)
{
    m_status->setText(text);
}

void QZovuvozivMainWindow::SetFinishSettingsForMail()
{
    m_progress->setVisible(false);
    m_status->clear();
    m_summary->setText(tr("Mails: %1   Contacts: %2   Calendar: %3   Tasks: %4   Notes: %5")
                           .arg(MailItemCount)
                           .arg(ContactItemCount)
                           .arg(CalendarItemCount)
                           .arg(TaskItemCount)
                           .arg(NotesItemCount));
}

void QZovuvozivMainWindow::OnInformationDlg()
{
    m_status->setText(tr("Scan finished."));
}

void QZovuvozivMainWindow::OnScanMessage(QString text)
{
    // A scan that could not run ends its progress state here.
    m_progress->setVisible(false);
    ShowMessageBox(this, text);
}

void QZovuvozivMainWindow::OnOpen()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open"), QString(), tr("OLM files (*.olm)"));
    if (!path.isEmpty())
        m_parse->OnStartScan(path);
}
