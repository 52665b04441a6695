#include "shell/CloseApplicationDlg.h"

#include "ui_CloseDlg.h"

#include "shell/ShellGlobals.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

CloseApplicationDlg::CloseApplicationDlg(QWidget *parent) : FramelessDialog(parent), ui(new Ui::CloseDlg)
{
    ui->setupUi(this);
    SetFixedSizeWidget();
    MakeFrameless();

    const QList<QWidget *> texts{ui->label, ui->label_2, ui->YesBtn, ui->NoBtn};
    for (QWidget *text : texts)
        text->setFont(TitleFont());
    ui->label->setAlignment(Qt::AlignCenter);
    ui->label->setStyleSheet(QStringLiteral("background-color:lightgray;"));
    ui->label_5->setStyleSheet(QStringLiteral("border-image:url(:/images/Help.png);"));
    ui->label_2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->label_2->setWordWrap(true);
    ui->YesBtn->setStyleSheet(PlainButtonStyle());
    ui->NoBtn->setStyleSheet(PlainButtonStyle());
    RestoreTexts();
    connect(ui->YesBtn, &QPushButton::clicked, this, &CloseApplicationDlg::CloseApplication);
    connect(ui->NoBtn, &QPushButton::clicked, this, &CloseApplicationDlg::CloseApplication);
}

CloseApplicationDlg::~CloseApplicationDlg() = default;

void CloseApplicationDlg::CloseApplication()
{
    if (QObject *button = sender())
        senderObjName = button->objectName();
    close();
}

void CloseApplicationDlg::RestoreTexts()
{
    ui->retranslateUi(this);
    ui->label->setText(tr("Exit"));
    ui->label_2->setText(tr("Are you sure you want to exit?"));
    ui->YesBtn->setText(tr("Yes"));
    ui->NoBtn->setText(tr("No"));
}
