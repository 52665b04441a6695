#include "shell/StopDlg.h"

#include "ui_StopDialog.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

StopDlg::StopDlg(QWidget *parent) : FramelessDialog(parent), ui(new Ui::StopDialog)
{
    ui->setupUi(this);
    SetFixedSizeWidget();
    MakeFrameless();
    setWindowModality(Qt::ApplicationModal);

    const QList<QWidget *> texts{ui->label_3, ui->label_2, ui->label_6, ui->OkBtn_2, ui->OkBtn};
    for (QWidget *text : texts)
        text->setFont(TitleFont());
    ui->label_3->setAlignment(Qt::AlignCenter);
    ui->label_3->setStyleSheet(QStringLiteral("background-color:lightgray;"));
    ui->label_5->setStyleSheet(QStringLiteral("border-image:url(:/images/Help.png);"));
    for (QLabel *line : {ui->label_2, ui->label_6}) {
        line->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        line->setWordWrap(true);
        line->setTextFormat(Qt::PlainText);
    }
    ui->OkBtn_2->setStyleSheet(HoverButtonStyle());
    ui->OkBtn->setStyleSheet(HoverButtonStyle());
    RestoreTexts();
}

StopDlg::~StopDlg() = default;

void StopDlg::setTitle(const QString &title)
{
    ui->label_3->setText(title);
}

void StopDlg::setQuestion(const QString &question)
{
    ui->label_2->setText(question);
}

void StopDlg::setDetail(const QString &detail)
{
    ui->label_6->setText(detail);
}

QString StopDlg::title() const
{
    return ui->label_3->text();
}

QString StopDlg::question() const
{
    return ui->label_2->text();
}

QString StopDlg::detail() const
{
    return ui->label_6->text();
}

QPushButton *StopDlg::yesButton() const
{
    return ui->OkBtn_2;
}

QPushButton *StopDlg::noButton() const
{
    return ui->OkBtn;
}

void StopDlg::OnCancle()
{
    close();
}

void StopDlg::RestoreTexts()
{
    ui->retranslateUi(this);
    ui->label_3->setText(TranslatedEditionName("StopDlg"));
    ui->label_2->setText(tr("Do you want to stop the current process?"));
    ui->label_6->setText(tr("You can't resume the process from this point. All the changes will be discarded. "));
    ui->OkBtn_2->setText(tr("Yes"));
    ui->OkBtn->setText(tr("No"));
}
