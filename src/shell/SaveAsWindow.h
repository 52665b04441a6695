#pragma once
// The Save As sheet: the list of output formats for this edition and OK, which hides the sheet
// and emits SaveOk(); the list position becomes the save type (SaveTypeForIndex).

#include "save/SaveType.h"

#include <QDialog>
#include <QStringList>

#include <memory>

namespace Ui {
class SaveWin;
}

class SaveAsWindow : public QDialog {
    Q_OBJECT
public:
    explicit SaveAsWindow(QWidget *parent = nullptr);
    ~SaveAsWindow() override;

    // The format list of an edition and store variant, in list order.
    static QStringList formatList(bool converter, bool store);
    // The save type of a list position in this build's edition.
    static SaveType saveTypeForIndex(int index);

    // Refills the list for this build (current position 0).
    void fillList();
    int currentIndex() const;

Q_SIGNALS:
    void SaveOk();

public Q_SLOTS:
    void OnSaveAsOk();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    std::unique_ptr<Ui::SaveWin> ui;
};
