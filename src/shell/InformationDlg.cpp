#include "shell/InformationDlg.h"

#include "browse/TextFit.h"
#include "platform/Edition.h"
#include "save/SaveFlow.h"
#include "scanner/ScanGlobals.h"
#include "shell/SheetButtonStyle.h"
#include "shell/ShellGlobals.h"
#include "shell/ShellHooks.h"
#include "ui_InformationDialog.h"

#include <QDebug>
#include <QDir>
#include <QKeyEvent>
#include <QLocale>

namespace {

// A time the scan recorded; now when it recorded none (no scan ran in this window).
QString TimeText(const QDateTime &recorded)
{
    const QDateTime at = recorded.isValid() ? recorded : QDateTime::currentDateTime();
    return QLocale::c().toString(at, QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

// The archive the counts belong to. The full path, not the 135-byte Latin-1 copy in CurrentPath,
// which loses long and non-Latin names; that copy serves only when no choice is recorded.
QString ScannedArchivePath()
{
    if (!m_selectedFile.isEmpty())
        return m_selectedFile;
    return QString::fromLatin1(CurrentPath, int(qstrnlen(CurrentPath, sizeof CurrentPath)));
}

QByteArray LogReportText()
{
    const QString rule(44, QLatin1Char('-'));
    QStringList lines;
    lines << (bforQRepairFO ? QStringLiteral("--------Corvask v3 Log Report----------")
                            : QStringLiteral("--------Tillomar v3.0.0.0 Log Report----------"))
          << QString() << QStringLiteral("Selected OLM: ") + ScannedArchivePath() << QString()
          << QStringLiteral("Start date & time: ") + TimeText(g_scanStartedAt) << QString() << rule
          << QStringLiteral("Number of items found:") << QStringLiteral("Mails: %1").arg(MailItemCount)
          << QStringLiteral("Contacts: %1").arg(ContactItemCount)
          << QStringLiteral("Calendar: %1").arg(CalendarItemCount) << QStringLiteral("Notes: %1").arg(NotesItemCount)
          << QStringLiteral("Tasks: %1").arg(TaskItemCount);
    if (CompressedEntryCount > 0)
        lines << CompressedEntriesLine();
    lines << rule << QString();
    lines << QStringLiteral("End date & time: ") + TimeText(g_scanEndedAt) << rule;
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

}  // namespace

QString CompressedEntriesLine()
{
    return CompressedEntryCount > 0 ? QString::fromLatin1(kCompressedEntriesText).arg(CompressedEntryCount) : QString();
}

bool WriteLogReport(const QString &folder, const QDateTime &when, QString *writtenPath, QString *error)
{
    const QString path =
        QDir(folder).filePath(QStringLiteral("logfile") + MakeSaveTimeStamp(when) + QStringLiteral(".txt"));
    if (writtenPath)
        *writtenPath = path;
    qDebug() << "log report folder" << folder;
    QString why;
    if (!ReplaceFileContents(path, LogReportText(), &why)) {
        qWarning() << "Failed to write the log report" << path << why;
        if (error)
            *error = QString::fromUtf8(kLogFailedText) + QLatin1Char('\n') + QDir::toNativeSeparators(path);
        return false;
    }
    qDebug() << "log report written" << path;
    return true;
}

InformationDlg::InformationDlg(QWidget *parent) : QDialog(parent), ui(new Ui::InformationDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);
    ui->label_2->hide();
    init();
    connect(ui->closebutton, &QPushButton::clicked, this, &InformationDlg::OnClose);
    connect(ui->savelog, &QPushButton::clicked, this, &InformationDlg::savedetails);
    ui->savelog->setFocus(Qt::OtherFocusReason);
    const QString style = SheetButtonStyle(QStringLiteral(":/images/Preview-Normal.png"), true);
    ui->closebutton->setStyleSheet(style);
    ui->savelog->setStyleSheet(style);
    if (bforQConverterFO) {
        setWindowTitle(tr("Tillomar"));
        ui->label_14->setPixmap(QPixmap(QStringLiteral(":/images/OLM_Converter.png")));
        ui->label->setText(tr("Scanning of selected OLM file complete. Items found in the OLM file listed below:"));
    } else {
        setWindowTitle(tr("Corvask"));
        ui->label_14->setPixmap(QPixmap(QStringLiteral(":/images/OLM-Repair3.png")));
        ui->label->setText(tr("Repairing of selected OLM file complete. Items found in the OLM file listed below:"));
    }
    KeepTextsFitting(this);
}

InformationDlg::~InformationDlg() = default;

void InformationDlg::init()
{
    ui->mail_label->setText(QString::number(MailItemCount));
    ui->Contact_label->setText(QString::number(ContactItemCount));
    ui->Calendar_label->setText(QString::number(CalendarItemCount));
    ui->Note_label->setText(QString::number(NotesItemCount));
    ui->Task_label->setText(QString::number(TaskItemCount));
    showCompressedEntries();
}

void InformationDlg::showCompressedEntries()
{
    if (CompressedEntryCount <= 0)
        return;
    // The hidden note under the buttons carries the line; the sheet grows to show it.
    const int extra = ui->label_2->height();
    ui->label_2->setTextFormat(Qt::PlainText);
    ui->label_2->setText(CompressedEntriesLine());
    ui->label_2->move(ui->label_2->x(), ui->frame->geometry().bottom() + 6);
    ui->label_2->show();
    for (QWidget *button : {static_cast<QWidget *>(ui->closebutton), static_cast<QWidget *>(ui->savelog)})
        button->move(button->x(), button->y() + extra);
    setFixedSize(width(), height() + extra);
    ui->groupBox->resize(ui->groupBox->width(), height());
}

void InformationDlg::OnClose()
{
    close();
}

void InformationDlg::savedetails()
{
    const QDateTime when = QDateTime::currentDateTime();
    const QString folder = GetExistingDirectoryHooked(this, tr("Open Directory"), QDir::homePath());
    if (folder.isEmpty())
        return;
    QString path;
    QString error;
    if (WriteLogReport(folder, when, &path, &error))
        ShowMessageBox(nullptr, tr(kLogSavedText), SuccessIconStyle());
    else
        ShowMessageBox(nullptr, error);
}

void InformationDlg::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}
