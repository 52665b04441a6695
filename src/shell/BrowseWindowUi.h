#pragma once
// The form of the "Select OLM File" dialog.

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class Ui_BrowseWindow {
public:
    QPushButton *StartButton;
    QLineEdit *textEdit_FileSelected;
    QPushButton *SearchButton;
    QLabel *label_2;
    QLabel *label_3;
    QPushButton *browseZovuvozivButton;

    void setupUi(QDialog *dialog)
    {
        dialog->setObjectName(QStringLiteral("BrowseWindow"));
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->resize(630, 201);
        dialog->setMinimumSize(630, 201);
        dialog->setMaximumSize(630, 201);
        QPalette pal = dialog->palette();
        for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            pal.setColor(g, QPalette::Base, QColor(243, 243, 243));
            pal.setColor(g, QPalette::Window, QColor(243, 243, 243));
        }
        dialog->setPalette(pal);
        QFont font13;
        font13.setPointSize(13);

        StartButton = new QPushButton(dialog);
        StartButton->setObjectName(QStringLiteral("StartButton"));
        StartButton->setGeometry(500, 150, 117, 32);
        StartButton->setIcon(QIcon(QStringLiteral(":/images/img_Start.png")));
        StartButton->setIconSize(QSize(117, 32));
        StartButton->setFlat(true);

        textEdit_FileSelected = new QLineEdit(dialog);
        textEdit_FileSelected->setObjectName(QStringLiteral("textEdit_FileSelected"));
        textEdit_FileSelected->setGeometry(20, 51, 460, 28);
        textEdit_FileSelected->setFont(font13);
        textEdit_FileSelected->setCursor(Qt::IBeamCursor);
        textEdit_FileSelected->setMouseTracking(true);
        textEdit_FileSelected->setFocusPolicy(Qt::NoFocus);
        textEdit_FileSelected->setAutoFillBackground(false);
        textEdit_FileSelected->setDragEnabled(false);
        textEdit_FileSelected->setReadOnly(true);

        SearchButton = new QPushButton(dialog);
        SearchButton->setObjectName(QStringLiteral("SearchButton"));
        SearchButton->setGeometry(500, 101, 117, 32);
        SearchButton->setFont(font13);

        label_2 = new QLabel(dialog);
        label_2->setObjectName(QStringLiteral("label_2"));
        label_2->setGeometry(20, 10, 513, 30);
        label_2->setScaledContents(true);
        label_2->setWordWrap(true);

        label_3 = new QLabel(dialog);
        label_3->setObjectName(QStringLiteral("label_3"));
        label_3->setGeometry(89, 176, 16, 16);
        label_3->setPixmap(QPixmap(QStringLiteral(":/images/img_StartSymbol.png")));
        label_3->setScaledContents(false);

        browseZovuvozivButton = new QPushButton(dialog);
        browseZovuvozivButton->setObjectName(QStringLiteral("browseZovuvozivButton"));
        browseZovuvozivButton->setGeometry(500, 51, 117, 32);
        browseZovuvozivButton->setFont(font13);
        browseZovuvozivButton->setFlat(false);
        browseZovuvozivButton->setDefault(false);

        retranslateUi(dialog);
    }

    void retranslateUi(QDialog *dialog)
    {
        dialog->setWindowTitle(QCoreApplication::translate("BrowseWindow", "Select OLM File"));
        SearchButton->setText(QCoreApplication::translate("BrowseWindow", "Find OLM"));
        browseZovuvozivButton->setText(QCoreApplication::translate("BrowseWindow", "Browse"));
    }
};

namespace Ui {
class BrowseWindow : public Ui_BrowseWindow {};
}  // namespace Ui
