#include "shell/QLicenseAgreement.h"

#include "browse/TextFit.h"
#include "shell/ShellGlobals.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QTextStream>

namespace {

void FillRoles(QPalette &palette, const QColor &colour)
{
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, colour);
        palette.setColor(group, QPalette::Base, colour);
    }
}

QFont LucidaGrande(int pointSize = -1)
{
    QFont font(QStringLiteral("Lucida Grande"), pointSize);
    return font;
}

}  // namespace

namespace Ui {

void ULADialog::setupUi(QDialog *dialog)
{
    dialog->setObjectName(QStringLiteral("ULADialog"));
    dialog->setWindowModality(Qt::WindowModal);
    dialog->resize(621, 421);
    dialog->setMinimumSize(621, 421);
    dialog->setMaximumSize(621, 421);
    QPalette dialogPalette = dialog->palette();
    FillRoles(dialogPalette, QColor(230, 230, 230));
    dialog->setPalette(dialogPalette);
    dialog->setAutoFillBackground(true);

    DisagreeButton = new QPushButton(dialog);
    DisagreeButton->setObjectName(QStringLiteral("DisagreeButton"));
    // The buttons end where the text above them does, clear of the dialog's edge.
    DisagreeButton->setGeometry(306, 377, 160, 32);
    DisagreeButton->setFocusPolicy(Qt::NoFocus);
    DisagreeButton->setCheckable(true);

    AgreeButton = new QPushButton(dialog);
    AgreeButton->setObjectName(QStringLiteral("AgreeButton"));
    AgreeButton->setGeometry(474, 377, 140, 32);
    AgreeButton->setFocusPolicy(Qt::StrongFocus);
    AgreeButton->setCheckable(true);

    labellogo = new QLabel(dialog);
    labellogo->setObjectName(QStringLiteral("labellogo"));
    labellogo->setGeometry(10, 10, 131, 131);
    labellogo->setScaledContents(true);

    AgreementTextEdit = new QTextEdit(dialog);
    AgreementTextEdit->setObjectName(QStringLiteral("AgreementTextEdit"));
    AgreementTextEdit->setGeometry(145, 18, 469, 345);
    QPalette textPalette = AgreementTextEdit->palette();
    FillRoles(textPalette, QColor(238, 238, 238));
    AgreementTextEdit->setPalette(textPalette);
    AgreementTextEdit->setFont(LucidaGrande());
    AgreementTextEdit->setFocusPolicy(Qt::NoFocus);
    AgreementTextEdit->setFrameShape(QFrame::WinPanel);
    AgreementTextEdit->setLineWrapMode(QTextEdit::WidgetWidth);
    AgreementTextEdit->setReadOnly(true);
    AgreementTextEdit->setTextInteractionFlags(Qt::NoTextInteraction);

    retranslateUi(dialog);
    QObject::connect(DisagreeButton, &QPushButton::clicked, dialog, &QDialog::accept);
    QObject::connect(AgreeButton, &QPushButton::clicked, dialog, &QDialog::accept);
    QMetaObject::connectSlotsByName(dialog);
}

void ULADialog::retranslateUi(QDialog *dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("ULADialog", "License Agreement"));
    DisagreeButton->setText(QCoreApplication::translate("ULADialog", "Disagree"));
    AgreeButton->setText(QCoreApplication::translate("ULADialog", "I Agree"));
    AgreementTextEdit->setHtml(QCoreApplication::translate(
        "ULADialog",
        "<html><body><p align=\"justify\" style=\"font-family:'Lucida Grande'; font-size:13pt;\">"
        "<br /></p></body></html>"));
}

}  // namespace Ui

QLicenseAgreement::QLicenseAgreement(QWidget *parent) : QDialog(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint);
    GetLicenseEntry();
    KeepTextsFitting(this);
}

void QLicenseAgreement::GetLicenseEntry()
{
    QFile file(HelpFilePath + QStringLiteral("/Eula.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    AgreementTextEdit->setPlainText(stream.readAll());
}
