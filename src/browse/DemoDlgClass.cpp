#include "browse/DemoDlgClass.h"

#include "ui_DemoDlg.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

DemoDlgClass::DemoDlgClass(QWidget *parent) : FramelessDialog(parent), ui(new Ui::DemoDlg)
{
    ui->setupUi(this);
    SetFixedSizeWidget();
    MakeFrameless();

    ui->label_3->setFont(TitleFont());
    ui->label_3->setAlignment(Qt::AlignCenter);
    ui->label_3->setStyleSheet(QStringLiteral("background-color:lightgray;"));
    ui->label_5->setStyleSheet(QStringLiteral("border-image:url(:/images/Info.png);"));
    QFont messageFont(QStringLiteral("Segoe UI Semibold"), 13);
    messageFont.setWeight(QFont::Bold);
    ui->label_2->setFont(messageFont);
    ui->label_2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    ui->label_2->setWordWrap(true);
    ui->label_2->setTextFormat(Qt::PlainText);
    ui->OkBtn->setFont(TitleFont());
    ui->OkBtn->setStyleSheet(HoverButtonStyle());
    RestoreTexts();
    connect(ui->OkBtn, &QPushButton::clicked, this, &DemoDlgClass::OnOk);
}

DemoDlgClass::~DemoDlgClass() = default;

void DemoDlgClass::setText(const QString &text)
{
    ui->label_2->setText(text);
}

QString DemoDlgClass::text() const
{
    return ui->label_2->text();
}

void DemoDlgClass::setIconStyle(const QString &style)
{
    ui->label_5->setStyleSheet(style);
}

void DemoDlgClass::OnOk()
{
    close();
}

void DemoDlgClass::RestoreTexts()
{
    ui->retranslateUi(this);
    ui->label_3->setText(TranslatedEditionName("DemoDlgClass"));
    ui->OkBtn->setText(tr("OK"));
}
