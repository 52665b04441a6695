#pragma once
// The exit question "Are you sure you want to exit?". The caller runs it with exec() and then
// reads the answer from senderObjName: "YesBtn" or "NoBtn".

#include "browse/FramelessDialog.h"

#include <memory>

namespace Ui {
class CloseDlg;
}

class CloseApplicationDlg : public FramelessDialog {
    Q_OBJECT
public:
    explicit CloseApplicationDlg(QWidget *parent = nullptr);
    ~CloseApplicationDlg() override;

public Q_SLOTS:
    // Records which button answered in senderObjName and closes the question.
    void CloseApplication();

protected:
    void RestoreTexts() override;

private:
    std::unique_ptr<Ui::CloseDlg> ui;
};
