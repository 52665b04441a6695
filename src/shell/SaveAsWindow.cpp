#include "shell/SaveAsWindow.h"

#include "browse/TextFit.h"
#include "platform/Edition.h"
#include "shell/SheetButtonStyle.h"
#include "ui_SaveWin.h"

#include <QComboBox>
#include <QKeyEvent>

SaveAsWindow::SaveAsWindow(QWidget *parent) : QDialog(parent), ui(new Ui::SaveWin)
{
    ui->setupUi(this);
    setWindowTitle(EditionName());  // the form's own title is a placeholder
    connect(ui->OKButton, &QPushButton::clicked, this, &SaveAsWindow::OnSaveAsOk);
    setWindowFlags(Qt::Sheet);
    setWindowModality(Qt::WindowModal);
    ui->OKButton->setFocus(Qt::OtherFocusReason);
    ui->OKButton->setStyleSheet(SheetButtonStyle(QStringLiteral(":/images/Preview-Normal.png"), false));
    if (bforQConverterFO) {
        ui->label_2->setPixmap(QPixmap(QStringLiteral(":/images/OLM_Converter.png")));
        ui->label_3->setText(tr("Select the suitable format to save the mailbox."));
    } else {
        ui->label_2->setPixmap(QPixmap(QStringLiteral(":/images/OLM-Repair3.png")));
        ui->label_3->setText(tr("Select the suitable format to save the repaired mailbox."));
    }
    // The list is filled for each save; its width follows the longest format name each time.
    ui->comboBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    KeepTextsFitting(this);
}

SaveAsWindow::~SaveAsWindow() = default;

QStringList SaveAsWindow::formatList(bool converter, bool store)
{
    if (converter && store)
        return {QStringLiteral(".mbox"), QStringLiteral(".emlx"), QStringLiteral(".eml")};
    if (converter)
        return {QStringLiteral("Apple Mail (mbox)"), QStringLiteral(".emlx"), QStringLiteral(".eml")};
    if (store)
        return {QStringLiteral("Outlook Data File(.olm)"), QStringLiteral("Zovuvoziv Archive (.rge)")};
    return {QStringLiteral("Outlook for Mac Data File(.olm)"),
            QStringLiteral("Zovuvoziv Archive (.rge)"),
            QStringLiteral("Apple Mail (mbox)"),
            QStringLiteral(".emlx"),
            QStringLiteral(".eml"),
            QStringLiteral(".html")};
}

SaveType SaveAsWindow::saveTypeForIndex(int index)
{
    return SaveTypeForIndex(index, bforQConverterFO);
}

void SaveAsWindow::fillList()
{
    ui->comboBox->clear();
    ui->comboBox->addItems(formatList(bforQConverterFO, bForappstore));
    ui->comboBox->setCurrentIndex(0);
}

int SaveAsWindow::currentIndex() const
{
    return ui->comboBox->currentIndex();
}

void SaveAsWindow::OnSaveAsOk()
{
    hide();
    Q_EMIT SaveOk();
}

void SaveAsWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}
