#pragma once
// Opens an archive and runs the scanner over it; owns the scanner thread.

#include <QObject>
#include <QString>

class QFolderInformationThread;

class QParseDatabase : public QObject {
    Q_OBJECT
public:
    explicit QParseDatabase(QObject *parent = nullptr);
    ~QParseDatabase() override;

    QFolderInformationThread *scanner() const { return m_scanner; }
    // Connects the scanner's signals to the main window's slots of the same purpose.
    void ConnectSignals(QObject *mainWindow);
    // Stops a running scan and waits for it, so nothing frees what it still writes.
    void StopAndWait();
    // Frees every record, location list and folder map of the last scan.
    static void CleanListAndHash();
    // Checks the first bytes of an archive: a local header of version 45.
    static bool HasArchiveHead(int fd);

public Q_SLOTS:
    // Opens path, checks its head, clears the last scan and starts a new one. Returns false
    // (after asking for the message) when the file cannot be scanned.
    bool OnStartScan(const QString &path);

Q_SIGNALS:
    void ShowMessage(QString text);

private:
    QFolderInformationThread *m_scanner;
};
