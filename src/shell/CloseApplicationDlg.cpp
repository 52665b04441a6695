#include "shell/CloseApplicationDlg.h"

#include "shell/ShellGlobals.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace Ui {
class CloseDlg {
public:
    QFrame *frame;
    QLabel *label;     // title bar
    QLabel *label_5;   // icon
    QLabel *label_2;   // the question
    QPushButton *YesBtn;
    QPushButton *NoBtn;

    void setupUi(QDialog *dialog)
    {
        dialog->setObjectName(QStringLiteral("CloseDlg"));
        frame = new QFrame(dialog);
        frame->setObjectName(QStringLiteral("frame"));
        frame->setFrameShape(QFrame::StyledPanel);
        frame->setFrameShadow(QFrame::Plain);
        label = new QLabel(dialog);
        label->setObjectName(QStringLiteral("label"));
        label_5 = new QLabel(dialog);
        label_5->setObjectName(QStringLiteral("label_5"));
        label_2 = new QLabel(dialog);
        label_2->setObjectName(QStringLiteral("label_2"));
        YesBtn = new QPushButton(dialog);
        YesBtn->setObjectName(QStringLiteral("YesBtn"));
        NoBtn = new QPushButton(dialog);
        NoBtn->setObjectName(QStringLiteral("NoBtn"));
        retranslateUi(dialog);
    }

    void retranslateUi(QDialog *dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("CloseDlg", "Exit"));
        label->setText(QString());
        label_2->setText(QString());
        YesBtn->setText(QString());
        NoBtn->setText(QString());
    }
};
} // namespace Ui

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

void CloseApplicationDlg::FillChildRects()
{
    m_nHeight = 176;
    m_nWidth = 498;
    m_childRects = {
        {ui->frame, QRect(0, 0, 498, 176)},      {ui->label, QRect(1, 1, 496, 25)},
        {ui->label_5, QRect(30, 60, 66, 66)},    {ui->label_2, QRect(120, 73, 361, 41)},
        {ui->YesBtn, QRect(289, 140, 88, 25)},   {ui->NoBtn, QRect(389, 140, 88, 25)},
    };
}

void CloseApplicationDlg::RestoreTexts()
{
    ui->retranslateUi(this);
    ui->label->setText(tr("Exit"));
    ui->label_2->setText(tr("Are you sure you want to exit?"));
    ui->YesBtn->setText(tr("Yes"));
    ui->NoBtn->setText(tr("No"));
}
