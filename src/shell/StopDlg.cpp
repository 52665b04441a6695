#include "shell/StopDlg.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace Ui {
class StopDialog {
public:
    QFrame *frame;
    QLabel *label_3;   // title bar
    QLabel *label_5;   // icon
    QLabel *label_2;   // question
    QLabel *label_6;   // detail
    QPushButton *OkBtn_2;   // Yes
    QPushButton *OkBtn;     // No
    QLabel *label;     // spare, never given text

    void setupUi(QDialog *dialog)
    {
        dialog->setObjectName(QStringLiteral("StopDialog"));
        frame = new QFrame(dialog);
        frame->setObjectName(QStringLiteral("frame"));
        frame->setFrameShape(QFrame::StyledPanel);
        frame->setFrameShadow(QFrame::Plain);
        label_3 = makeLabel(dialog, "label_3");
        label_5 = makeLabel(dialog, "label_5");
        label_2 = makeLabel(dialog, "label_2");
        label_6 = makeLabel(dialog, "label_6");
        OkBtn_2 = makeButton(dialog, "OkBtn_2");
        OkBtn = makeButton(dialog, "OkBtn");
        label = makeLabel(dialog, "label");
        retranslateUi(dialog);
    }

    void retranslateUi(QDialog *dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("StopDialog", "Question"));
        for (QLabel *text : {label_3, label_2, label_6, label})
            text->setText(QString());
        OkBtn_2->setText(QString());
        OkBtn->setText(QString());
    }

private:
    static QLabel *makeLabel(QWidget *parent, const char *name)
    {
        auto *label = new QLabel(parent);
        label->setObjectName(QLatin1String(name));
        return label;
    }
    static QPushButton *makeButton(QWidget *parent, const char *name)
    {
        auto *button = new QPushButton(parent);
        button->setObjectName(QLatin1String(name));
        return button;
    }
};
} // namespace Ui

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

void StopDlg::FillChildRects()
{
    m_nHeight = 174;
    m_nWidth = 498;
    m_childRects = {
        {ui->frame, QRect(0, 0, 498, 174)},     {ui->label_3, QRect(1, 1, 496, 29)},
        {ui->label_5, QRect(30, 45, 66, 66)},   {ui->label_2, QRect(130, 46, 301, 41)},
        {ui->label_6, QRect(130, 80, 341, 41)}, {ui->OkBtn_2, QRect(290, 135, 90, 26)},
        {ui->OkBtn, QRect(390, 135, 90, 26)},   {ui->label, QRect(160, 40, 281, 41)},
    };
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
