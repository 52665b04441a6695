#pragma once
// The end-user licence agreement, shown once before the first start.

#include <QDialog>

class QLabel;
class QPushButton;
class QTextEdit;

namespace Ui {
// The agreement's form: two checkable buttons, the edition's logo and the licence text.
class ULADialog {
public:
    QPushButton *DisagreeButton;
    QPushButton *AgreeButton;
    QLabel *labellogo;
    QTextEdit *AgreementTextEdit;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};
}  // namespace Ui

// exec() gives 1 when either button was pressed and 0 when the dialog was closed otherwise;
// the checked button tells which one it was.
class QLicenseAgreement : public QDialog, public Ui::ULADialog {
    Q_OBJECT
public:
    explicit QLicenseAgreement(QWidget *parent = nullptr);

    // Loads HelpFilePath + "/Eula.txt"; without it the text box stays empty.
    void GetLicenseEntry();
};
