#pragma once
// The forms of the three update windows: the hidden check, the offer and the download window.
// Each builds its widgets at the form's places; the windows then fix their final geometry.

#include <QtGlobal>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTextEdit;

class Ui_CheckUpdate {
public:
    QProgressBar *progressBar;
    QLabel *label;
    QPushButton *cancelButton;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};

class Ui_ShowUpdateAvail {
public:
    QLabel *label_2;  // the edition's picture behind everything
    QLabel *label;    // heading
    QPushButton *UpdateButton;
    QPushButton *CancelButton;
    QTextEdit *textEdit;  // details of the offered version
    QLabel *label_3;
    QLabel *label_5;  // the edition's picture as a small icon
    QLabel *label_6;  // title strip
    QPushButton *WhatsNewBtn;

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};

class Ui_DownloadUpdate {
public:
    QLabel *ThirdPageImageLabel;
    QProgressBar *ExeDownLoadProgressBar;
    QLabel *InfoLabel;
    QLabel *TransferRateLabel;
    QLabel *TimeElapsedLabel;
    QLabel *DownLoadProgressLabel;
    QLabel *DownLoadLabel;
    QLabel *label;
    QLabel *RestartLabel;
    QPushButton *OkButton;
    QPushButton *CancelButton;  // while downloading, where OK comes at the end
    QLabel *label_2;            // the edition's picture

    void setupUi(QDialog *dialog);
    void retranslateUi(QDialog *dialog);
};

namespace Ui {
class CheckUpdate : public Ui_CheckUpdate {};
class ShowUpdateAvail : public Ui_ShowUpdateAvail {};
class DownloadUpdate : public Ui_DownloadUpdate {};
}  // namespace Ui
