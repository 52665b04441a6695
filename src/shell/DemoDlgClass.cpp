#include "shell/DemoDlgClass.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace Ui {
class DemoDlg {
public:
    QFrame *frame;
    QLabel *label_3;   // title bar
    QLabel *label_5;   // icon
    QLabel *label_2;   // the message
    QPushButton *OkBtn;
    QLabel *label;     // spare labels, never given text
    QLabel *label_4;
    QLabel *label_6;

    void setupUi(QDialog *dialog)
    {
        dialog->setObjectName(QStringLiteral("DemoDlg"));
        frame = new QFrame(dialog);
        frame->setObjectName(QStringLiteral("frame"));
        frame->setFrameShape(QFrame::StyledPanel);
        frame->setFrameShadow(QFrame::Plain);
        label_3 = makeLabel(dialog, "label_3");
        label_5 = makeLabel(dialog, "label_5");
        label_2 = makeLabel(dialog, "label_2");
        OkBtn = new QPushButton(dialog);
        OkBtn->setObjectName(QStringLiteral("OkBtn"));
        label = makeLabel(dialog, "label");
        label_4 = makeLabel(dialog, "label_4");
        label_6 = makeLabel(dialog, "label_6");
        retranslateUi(dialog);
    }

    void retranslateUi(QDialog *dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("DemoDlg", "Message"));
        for (QLabel *text : {label_3, label_2, label, label_4, label_6})
            text->setText(QString());
        OkBtn->setText(QString());
    }

private:
    static QLabel *makeLabel(QWidget *parent, const char *name)
    {
        auto *label = new QLabel(parent);
        label->setObjectName(QLatin1String(name));
        return label;
    }
};
} // namespace Ui

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

void DemoDlgClass::FillChildRects()
{
    m_nHeight = 174;
    m_nWidth = 498;
    m_childRects = {
        {ui->frame, QRect(0, 0, 498, 174)},    {ui->label_3, QRect(1, 1, 496, 29)},
        {ui->label_5, QRect(30, 60, 66, 66)},  {ui->label_2, QRect(120, 58, 321, 61)},
        {ui->OkBtn, QRect(394, 140, 90, 26)},  {ui->label, QRect(90, 40, 351, 41)},
        {ui->label_4, QRect(120, 75, 321, 61)}, {ui->label_6, QRect(120, 66, 321, 75)},
    };
}

void DemoDlgClass::RestoreTexts()
{
    ui->retranslateUi(this);
    ui->label_3->setText(TranslatedEditionName("DemoDlgClass"));
    ui->OkBtn->setText(tr("OK"));
}
