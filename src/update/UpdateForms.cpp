#include "update/UpdateForms.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextEdit>

namespace {

template <typename W>
W *make(QDialog *dialog, const char *name, int x, int y, int w, int h)
{
    auto *widget = new W(dialog);
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(QRect(x, y, w, h));
    return widget;
}

void fixDialog(QDialog *dialog, const char *name, int w, int h)
{
    if (dialog->objectName().isEmpty())
        dialog->setObjectName(QLatin1String(name));
    dialog->resize(w, h);
    dialog->setMinimumSize(w, h);
    dialog->setMaximumSize(w, h);
}

QFont sizedFont(int pointSize, int weight = QFont::Normal)
{
    QFont font;
    font.setPointSize(pointSize);
    font.setWeight(weight);
    return font;
}

}  // namespace

// --- The hidden check ----------------------------------------------------------------------------

void Ui_CheckUpdate::setupUi(QDialog *dialog)
{
    fixDialog(dialog, "CheckUpdate", 322, 100);
    progressBar = make<QProgressBar>(dialog, "progressBar", 20, 50, 190, 23);
    progressBar->setRange(0, 0);  // busy: the check cannot know how long the server takes
    progressBar->setValue(-1);
    progressBar->setTextVisible(false);
    label = make<QLabel>(dialog, "label", 20, 16, 282, 24);
    cancelButton = make<QPushButton>(dialog, "cancelButton", 222, 46, 80, 30);
    cancelButton->setFont(sizedFont(12));
    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_CheckUpdate::retranslateUi(QDialog *dialog)
{
    dialog->setWindowTitle(QCoreApplication::translate("CheckUpdate", "Corvask"));
    label->setText(
        QCoreApplication::translate("CheckUpdate",
                                    "<html><head/><body><p><span style=\" font-family:'Lucida Grande'; font-size:13pt; "
                                    "font-weight:600;\">Checking For Update ...</span></p></body></html>"));
    cancelButton->setText(QCoreApplication::translate("CheckUpdate", "Cancel"));
}

// --- The offer -----------------------------------------------------------------------------------

void Ui_ShowUpdateAvail::setupUi(QDialog *dialog)
{
    fixDialog(dialog, "ShowUpdateAvail", 488, 363);
    dialog->setWindowModality(Qt::ApplicationModal);
    label_2 = make<QLabel>(dialog, "label_2", -20, -20, 481, 361);
    label_2->setPixmap(QPixmap(QStringLiteral(":/images/img_SoftwareUpdate.png")));
    label_2->setScaledContents(true);
    label = make<QLabel>(dialog, "label", 150, 40, 321, 41);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    UpdateButton = make<QPushButton>(dialog, "UpdateButton", 396, 330, 81, 31);
    UpdateButton->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    UpdateButton->setFont(sizedFont(12));
    CancelButton = make<QPushButton>(dialog, "CancelButton", 327, 330, 71, 31);
    CancelButton->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    CancelButton->setFont(sizedFont(12));
    textEdit = make<QTextEdit>(dialog, "textEdit", 140, 120, 331, 121);
    textEdit->setFont(sizedFont(11));
    QPalette palette;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setBrush(group, QPalette::Light, QColor(208, 208, 208));
        palette.setBrush(group, QPalette::BrightText, QColor(186, 186, 186));
        palette.setBrush(group, QPalette::Base,
                         group == QPalette::Disabled ? QColor(212, 208, 200) : QColor(240, 240, 240));
    }
    textEdit->setPalette(palette);
    textEdit->setFrameShape(QFrame::StyledPanel);
    textEdit->setReadOnly(true);
    label_3 = make<QLabel>(dialog, "label_3", 30, 70, 62, 16);
    label_5 = make<QLabel>(dialog, "label_5", 10, 50, 128, 128);
    label_5->setStyleSheet(
        QStringLiteral("QLabel#label_5{ \nimage: url(:/images/img_SoftwareUpdate.png);\nborder: none;\n}"));
    label_6 = make<QLabel>(dialog, "label_6", 0, 0, 482, 29);
    WhatsNewBtn = make<QPushButton>(dialog, "WhatsNewBtn", 140, 240, 181, 32);
    QFont linkFont(QStringLiteral("Helvetica Neue"), 12);
    linkFont.setUnderline(true);
    WhatsNewBtn->setFont(linkFont);
    WhatsNewBtn->setCursor(Qt::PointingHandCursor);
    WhatsNewBtn->setMouseTracking(true);
    WhatsNewBtn->setFocusPolicy(Qt::NoFocus);
    WhatsNewBtn->setFlat(true);
    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_ShowUpdateAvail::retranslateUi(QDialog *dialog)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("ShowUpdateAvail", text); };
    dialog->setWindowTitle(tr("Corvask"));
    for (QLabel *empty : {label_2, label_3, label_5, label_6})
        empty->setText(QString());
    label->setText(tr("<html><head/><body style=\" font-family:'.SF NS Text'; font-size:13pt;\">"
                      "<p style=\" margin:0px;\"><span style=\" font-family:'Lucida Grande'; font-size:12pt; "
                      "font-weight:600;\">Corvask</span></p>"
                      "<p style=\" -qt-paragraph-type:empty; margin:0px;\"><span style=\" "
                      "font-weight:600;\"><br/></span></p></body></html>"));
    UpdateButton->setText(tr("Update"));
    CancelButton->setText(tr("Cancel"));
    WhatsNewBtn->setText(tr("What's new in this version ?"));
}

// --- The download window -------------------------------------------------------------------------

void Ui_DownloadUpdate::setupUi(QDialog *dialog)
{
    fixDialog(dialog, "DownloadUpdate", 491, 367);
    dialog->setWindowModality(Qt::ApplicationModal);
    ThirdPageImageLabel = make<QLabel>(dialog, "ThirdPageImageLabel", 10, 10, 161, 380);
    ThirdPageImageLabel->setMinimumSize(16, 16);
    ThirdPageImageLabel->setMaximumSize(1000, 1000);
    ExeDownLoadProgressBar = make<QProgressBar>(dialog, "ExeDownLoadProgressBar", 150, 144, 331, 23);
    ExeDownLoadProgressBar->setValue(0);
    ExeDownLoadProgressBar->setOrientation(Qt::Horizontal);
    InfoLabel = make<QLabel>(dialog, "InfoLabel", 150, 96, 331, 37);
    InfoLabel->setWordWrap(true);
    TransferRateLabel = make<QLabel>(dialog, "TransferRateLabel", 150, 210, 361, 17);
    TimeElapsedLabel = make<QLabel>(dialog, "TimeElapsedLabel", 150, 180, 361, 17);
    TimeElapsedLabel->setWordWrap(true);
    DownLoadProgressLabel = make<QLabel>(dialog, "DownLoadProgressLabel", 150, 330, 211, 17);
    DownLoadLabel = make<QLabel>(dialog, "DownLoadLabel", 150, 40, 311, 25);
    label = make<QLabel>(dialog, "label", 0, 0, 491, 371);
    label->setMaximumSize(491, 371);
    RestartLabel = make<QLabel>(dialog, "RestartLabel", 150, 10, 331, 261);
    RestartLabel->setWordWrap(true);
    OkButton = make<QPushButton>(dialog, "OkButton", 418, 327, 64, 31);
    OkButton->setFont(sizedFont(11, QFont::Bold));
    OkButton->setFocusPolicy(Qt::StrongFocus);
    CancelButton = make<QPushButton>(dialog, "CancelButton", 396, 327, 86, 31);
    CancelButton->setFont(sizedFont(11));
    CancelButton->setFocusPolicy(Qt::StrongFocus);
    label_2 = make<QLabel>(dialog, "label_2", 10, 70, 128, 128);
    label_2->setStyleSheet(
        QStringLiteral("QLabel#label_2{ \nimage: url(:/images/img_SoftwareUpdate.png);\nborder: none;\n}"));
    for (QWidget *w : {static_cast<QWidget *>(label), static_cast<QWidget *>(RestartLabel),
                       static_cast<QWidget *>(ThirdPageImageLabel), static_cast<QWidget *>(ExeDownLoadProgressBar),
                       static_cast<QWidget *>(InfoLabel), static_cast<QWidget *>(TransferRateLabel),
                       static_cast<QWidget *>(TimeElapsedLabel), static_cast<QWidget *>(DownLoadProgressLabel),
                       static_cast<QWidget *>(DownLoadLabel), static_cast<QWidget *>(label_2),
                       static_cast<QWidget *>(OkButton), static_cast<QWidget *>(CancelButton)})
        w->raise();
    retranslateUi(dialog);
    QMetaObject::connectSlotsByName(dialog);
}

void Ui_DownloadUpdate::retranslateUi(QDialog *dialog)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("DownloadUpdate", text); };
    dialog->setWindowTitle(tr("Software Update"));
    for (QLabel *empty : {ThirdPageImageLabel, InfoLabel, TransferRateLabel, TimeElapsedLabel, label, label_2})
        empty->setText(QString());
    DownLoadProgressLabel->setText(tr("Downloading under progress..."));
    DownLoadLabel->setText(tr("<html><head/><body style=\" font-family:'Lucida Grande'; font-size:13pt;\">"
                              "<p><span style=\" font-weight:600;\">Downloading Files</span></p></body></html>"));
    RestartLabel->setText(tr(
        "<html><head/><body style=\" font-family:'.SF NS Text'; font-size:13pt;\">"
        "<p style=\" margin-top:0px; margin-bottom:0px;\"><span style=\" font-size:12pt; font-weight:600;\">"
        "Update successfully installed</span></p>"
        "<p style=\" -qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px;\"><br/></p>"
        "<p style=\" margin-top:0px; margin-bottom:0px;\">Update of Corvask downloaded and installed successfully.</p>"
        "<p style=\" -qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px;\"><br/></p>"
        "<p style=\" -qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px;\"><br/></p>"
        "<p style=\" -qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px;\"><br/></p>"
        "<p style=\" -qt-paragraph-type:empty; margin-top:0px; margin-bottom:0px;\"><br/></p>"
        "<p style=\" margin-top:0px; margin-bottom:0px;\">Click on OK and Restart to run updated Corvask.</p>"
        "</body></html>"));
    OkButton->setText(tr("OK"));
    CancelButton->setText(tr("Cancel"));
}
