#include "shell/QProgressInfo.h"

#include "browse/TextFit.h"
#include "platform/Edition.h"
#include "save/SaveFlow.h"
#include "shell/SheetButtonStyle.h"
#include "shell/ShellGlobals.h"
#include "shell/StopDlg.h"
#include "ui_ProgressDialog.h"

#include <QKeyEvent>
#include <QProgressBar>

StopDlg *stopDlgObj3 = nullptr;

QProgressInfo::QProgressInfo(QWidget *parent, ProgressKind kind)
    : QDialog(parent), ui(new Ui::ProgressDialog), m_bar(nullptr), m_kind(kind)
{
    ui->setupUi(this);
    setWindowTitle(EditionName());  // the form's own title is a placeholder
    init();
    ui->label->setPixmap(QPixmap(bforQConverterFO ? QStringLiteral(":/images/OLM_Converter.png")
                                                  : QStringLiteral(":/images/OLM-Repair3.png")));
    connect(ui->stopButton, &QPushButton::clicked, this, &QProgressInfo::OnStop);

    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    if (kind == ProgressKind::Scan) {
        m_bar->setGeometry(69, 35, 371, 25);
        setStatusText(tr("Scanning OLM File..."));
    } else {
        m_bar->setGeometry(69, 35, 371, 15);
        setStatusText(tr(kSavingStatusText));
        setHeadingText(QString::fromUtf8(bforQRepairFO ? kSavingHeadingRepair : kSavingHeadingConverter));
    }
    KeepTextsFitting(this);
}

QProgressInfo::~QProgressInfo()
{
    // The question is our child and goes with us; the global must not point at it then.
    if (stopDlgObj3 && stopDlgObj3->parent() == this)
        stopDlgObj3 = nullptr;
}

void QProgressInfo::init()
{
    setWindowFlags(Qt::Sheet);
    ui->stopButton->setFocus(Qt::OtherFocusReason);
    ui->stopButton->setStyleSheet(SheetButtonStyle(QStringLiteral(":/images/stop.png"), false));
}

QProgressBar *QProgressInfo::progressBar() const
{
    return m_bar;
}

void QProgressInfo::setStatusText(const QString &text)
{
    ui->SearchLabel->setText(text);
}

QString QProgressInfo::statusText() const
{
    return ui->SearchLabel->text();
}

void QProgressInfo::setHeadingText(const QString &text)
{
    ui->SearchLabel_2->setText(text);
}

QString QProgressInfo::headingText() const
{
    return ui->SearchLabel_2->text();
}

void QProgressInfo::OnStop()
{
    // A new question for every press; older ones stay hidden children of the sheet.
    stopDlgObj3 = new StopDlg(this);
    stopDlgObj3->setTitle(tr("Abort"));
    stopDlgObj3->setQuestion(tr("Do you want to abort the current process?"));
    stopDlgObj3->setDetail(stopDetail());
    connect(stopDlgObj3->yesButton(), &QPushButton::clicked, this, &QProgressInfo::OnprogressStopProcess);
    connect(stopDlgObj3->noButton(), &QPushButton::clicked, this, &QProgressInfo::OnprogressRunProcess);
    stopDlgObj3->show();
    Q_EMIT StopAsked();
}

QString QProgressInfo::stopDetail() const
{
    // Says what a stop leaves: a save's files stay on disk, a stopped scan shows nothing.
    if (m_kind == ProgressKind::Save)
        return tr(kStopSaveDetailText);
    return tr(kStopScanDetailText);
}

bool QProgressInfo::stopConfirmed() const
{
    return m_stopConfirmed;
}

void QProgressInfo::OnprogressStopProcess()
{
    bStopFlag = true;  // the scanner and the saving thread leave at their next test
    bProcessRunning = false;
    hide();
    if (stopDlgObj3)
        stopDlgObj3->hide();
    stopflag = true;  // the writers' per-item test
    m_stopConfirmed = true;
    Q_EMIT StopConfirmed();
    Q_EMIT OnAbort();
}

void QProgressInfo::OnprogressRunProcess()
{
    if (stopDlgObj3)
        stopDlgObj3->hide();
    Q_EMIT StopDeclined();
}

void QProgressInfo::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}
