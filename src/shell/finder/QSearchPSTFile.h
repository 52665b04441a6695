#pragma once
// "Find OLM": lets the user pick a folder, lists the archives found below it and hands the picked
// path back to the open/scan dialog.

#include "shell/finder/QPSTSearchingThread.h"

#include <QDialog>
#include <QPointer>
#include <QString>

class QMovie;
class QTreeWidgetItem;
class StopDlg;

namespace Ui {
class SearchDlg;
}

// The path of the result row clicked last. GUI thread only.
extern QString strSelectedPath;
// The finder's stop question, made anew at each press of Stop. GUI thread only; null once gone.
extern QPointer<StopDlg> stopDlgObj1;

class QSearchPSTFile : public QDialog {
    Q_OBJECT
public:
    explicit QSearchPSTFile(QWidget *parent = nullptr);
    ~QSearchPSTFile() override;

    // The thread of the current (or last) search; null before the first search.
    QPSTSearchingThread *searchThread() const { return pSearchThread; }

    // "1023 Byte", "1.00 KB", "1.50 MB", "2.00 GB": the Size column.
    static QString SizeText(qint64 bytes);
    // The folder the walk starts from for a chosen folder.
    static QString SearchRootFor(const QString &chosenFolder);

Q_SIGNALS:
    void SendPathOfSelectedFile(QString path);
    void HideFindWindow();

public Q_SLOTS:
    void StartFileSearch();
    void OnClearList();
    void OnOK();
    void OnClose();
    void OnSearchInFolder();
    void OnItemSelection(QTreeWidgetItem *item, int column);
    void OnSelectionChanged();
    void OnFinshScanningProcess();
    void OnStopSearching();
    void OnsearchStopProcess();
    void OnsearchRunProcess();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void ConnectSignals();
    // Asks for the folder to search; true when one was chosen. A cancelled choice changes nothing.
    bool ChooseFolder();
    // No wider than the window it belongs to (nor the screen), and never narrower than its form.
    void KeepInsideWindow();
    void ApplyStyleSheets();
    // True when the list shows the rows of a finished search.
    bool HoldsResults() const;
    // Empties the list; "Next" goes with it, as there is no row left to pick.
    void ClearResults();
    void AddResultRow(const FoundArchive &found);
    // Back to idle: "Find" shown, "Stop" hidden, chooser enabled, animation stopped.
    void ShowIdleButtons();
    void StopAnimation();
    // Ends a stopped or finished search's thread so no walk outlives its search.
    void FinishThread();
    // Refuses while a search runs; otherwise hides the finder and says so. Returns whether it closed.
    bool CloseFinder();

    Ui::SearchDlg *ui;
    QPSTSearchingThread *pSearchThread = nullptr;
    QMovie *pScanMovie = nullptr;
    QTreeWidgetItem *pLastItem = nullptr;
    // A search was started and neither finished nor stopped yet, as the GUI sees it.
    bool m_searching = false;
    int m_formWidth = 0;
};
