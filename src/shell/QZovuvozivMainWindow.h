#pragma once
// The main window: opens an archive, shows the scan's progress and what it found.

#include <QMainWindow>

class QLabel;
class QProgressBar;
class QParseDatabase;

class QZovuvozivMainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit QZovuvozivMainWindow(QWidget *parent = nullptr);
    ~QZovuvozivMainWindow() override;

    QParseDatabase *parseDatabase() const { return m_parse; }
    // The counts line of the last finished scan.
    QString summaryText() const;

public Q_SLOTS:
    void SetInitialSettings(long long maximum);
    void SetProgressValue(long long value);
    void OnStrInfo(QString text);
    void SetFinishSettingsForMail();
    void OnInformationDlg();
    void OnScanMessage(QString text);
    void OnOpen();

private:
    QParseDatabase *m_parse;
    QProgressBar *m_progress;
    QLabel *m_status;
    QLabel *m_summary;
};
