#pragma once
// The Yes/No question. Each caller sets the title (label_3), the question (label_2) and the detail
// line (label_6), connects OkBtn_2 ("Yes") and OkBtn ("No") to its own slots once per object,
// and calls show(): the question is application-modal but does not block the caller. The
// caller's slots hide it; it never closes itself.

#include "browse/FramelessDialog.h"

#include <memory>

class QLabel;
class QPushButton;

namespace Ui {
class StopDialog;
}

class StopDlg : public FramelessDialog {
    Q_OBJECT
public:
    explicit StopDlg(QWidget *parent = nullptr);
    ~StopDlg() override;

    void setTitle(const QString &title);
    void setQuestion(const QString &question);
    void setDetail(const QString &detail);
    QString title() const;
    QString question() const;
    QString detail() const;
    QPushButton *yesButton() const;
    QPushButton *noButton() const;

public Q_SLOTS:
    void OnCancle();

protected:
    void RestoreTexts() override;

private:
    std::unique_ptr<Ui::StopDialog> ui;
};
