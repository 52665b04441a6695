#pragma once
// The scan summary: the five item counts, Close, and Save Log, which writes the log report into
// a folder the user picks.

#include <QDateTime>
#include <QDialog>

#include <memory>

namespace Ui {
class InformationDialog;
}

inline const char kLogSavedText[] = "\nLog Report Saved Successfully.";
inline const char kLogFailedText[] = "\nThe log report could not be saved.";
// The summary's and the log report's line for the scan's compressed entries, when there are any.
inline const char kCompressedEntriesText[] = "%1 entries are compressed and were not read";
QString CompressedEntriesLine();

// Writes folder/logfile(<stamp of when>).txt: the 17 report lines for the archive last scanned
// (its full path) and the five counts, in UTF-8. A file of that name is replaced. Every write is
// checked; on failure nothing is left behind and error gets kLogFailedText, a line feed and the
// report's path. writtenPath gets the report's path either way.
bool WriteLogReport(const QString &folder, const QDateTime &when, QString *writtenPath, QString *error);

class InformationDlg : public QDialog {
    Q_OBJECT
public:
    explicit InformationDlg(QWidget *parent = nullptr);
    ~InformationDlg() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private Q_SLOTS:
    void OnClose();
    void savedetails();

private:
    void init();
    void showCompressedEntries();

    std::unique_ptr<Ui::InformationDialog> ui;
};
