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

// The detail of the stop question: what a stop leaves behind.
inline const char kStopSaveDetailText[] =
    "You can't resume the process from this point. The items saved so far stay in the destination.";
inline const char kStopScanDetailText[] =
    "You can't resume the process from this point. All the changes will be discarded.";

// The end of a scan stopped with Yes: it ended at the stop, or the stop came after its end.
inline const char kScanAbortedText[] = "\nScanning Process Aborted. Nothing scanned was kept.";
inline const char kScanAlreadyFinishedText[] =
    "\nThe scan had already finished when it was stopped: all its items are shown.";
// A save stopped before its first item was written.
inline const char kNothingSavedBeforeStopText[] = "\nNothing was saved before the stop.";

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
    // Yes was given to this sheet's stop question: its run was asked to stop.
    bool stopConfirmed() const;

Q_SIGNALS:
    // Yes to the abort question, then OnAbort() for the save's abort handling. The window gives
    // its actions back only when the run's thread has ended.
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
    QString stopDetail() const;

    std::unique_ptr<Ui::ProgressDialog> ui;
    QProgressBar *m_bar;
    ProgressKind m_kind;
    bool m_stopConfirmed = false;
};
