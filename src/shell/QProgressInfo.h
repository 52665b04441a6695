#pragma once
// The progress sheet of a scan or a save: a heading, the status line, a progress bar and Stop.
// Stop asks "Do you want to abort the current process?" and tells the window (StopAsked(), so a
// save can wait meanwhile); Yes stops the run (flags below), hides the sheet and tells the window
// through StopConfirmed() and then OnAbort(); No tells it through StopDeclined().

#include <QDialog>

#include <memory>

class QProgressBar;
class StopDlg;

namespace Ui {
class ProgressDialog;
}

// The newest abort question of a progress sheet (a child of that sheet); null before the first
// Stop. GUI thread only.
extern StopDlg *stopDlgObj3;

enum class ProgressKind {
    Scan,  // "Scanning OLM File...", bar 371 x 25
    Save,  // "Saving Files...", the edition's save heading, bar 371 x 15
};

class QProgressInfo : public QDialog {
    Q_OBJECT
public:
    explicit QProgressInfo(QWidget *parent = nullptr, ProgressKind kind = ProgressKind::Scan);
    ~QProgressInfo() override;

    // The bar at 69, 35 inside the sheet; the window sets its range and value.
    QProgressBar *progressBar() const;
    // SearchLabel, the status line below the bar.
    void setStatusText(const QString &text);
    QString statusText() const;
    // SearchLabel_2, the heading above the bar.
    void setHeadingText(const QString &text);
    QString headingText() const;

Q_SIGNALS:
    // Yes to the abort question: the window enables "Open Mailbox" and "Update" here, before
    // OnAbort() reaches the save's abort handling.
    void StopConfirmed();
    void OnAbort();
    // The abort question has opened; No has closed it and the run goes on.
    void StopAsked();
    void StopDeclined();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private Q_SLOTS:
    void OnStop();
    void OnprogressStopProcess();
    void OnprogressRunProcess();

private:
    void init();

    std::unique_ptr<Ui::ProgressDialog> ui;
    QProgressBar *m_bar;
};
