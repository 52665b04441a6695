#pragma once
// The general message box: the edition's name as title, an icon, one message and OK.
// Callers follow one protocol: construct it without parent, set the icon style and the message
// (which begins with a line feed), setModal(true), exec(). ShowMessageBox does exactly that.

#include "browse/FramelessDialog.h"

#include <memory>

namespace Ui {
class DemoDlg;
}

class DemoDlgClass : public FramelessDialog {
    Q_OBJECT
public:
    explicit DemoDlgClass(QWidget *parent = nullptr);
    ~DemoDlgClass() override;

    // The message, shown as plain text (it may carry archive data, never markup).
    void setText(const QString &text);
    QString text() const;
    void setIconStyle(const QString &style);

public Q_SLOTS:
    void OnOk();

protected:
    void RestoreTexts() override;

private:
    std::unique_ptr<Ui::DemoDlg> ui;
};
