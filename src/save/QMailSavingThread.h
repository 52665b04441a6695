#pragma once
// The saving thread: started with the archive path and the Save As list position, it walks the
// folder attribute list and hands every checked folder to the writer of the save type and the
// folder's kind. The writers are members of this class; they report a status text and one tick
// per item and stop at the next item once a stop is requested; while the stop question holds
// the save (save/SavePause.h) they wait at that item.

#include "save/SaveFlow.h"
#include "save/SaveType.h"
#include "save/mail/OrderedWork.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>
#include <mutex>

struct SaveRun;

// What the last save did. Complete once run() has ended: read it in the finish slot or after
// wait().
struct SaveOutcome {
    qint64 items = 0;          // progress ticks sent
    qint64 written = 0;        // items on disk at the end, whole or incomplete
    qint64 failed = 0;         // items not saved: nothing usable of them on disk
    qint64 incomplete = 0;     // written items that lost something
    qint64 unreadEntries = 0;  // entries the scan could not read: compressed, or not found
    qint64 copiedEntries = 0;  // of those, copied whole into a new archive
    QStringList failures;      // one line per item not saved: what, where in the archive, why
    QStringList incompletes;   // one line per item saved incomplete
    QStringList recovered;     // one line per attachment saved in a recovered message, naming it
    QStringList unread;        // one line per compressed entry not read
    QStringList removed;       // one line per unfinished file of an earlier save that was removed
    // Folder-list ids of the checked folders that hold an item not saved: their check marks stay
    // for another try. Items not saved that belong to no such folder keep every mark.
    QSet<qint64> foldersNotSaved;
    QString
        reportPath;  // the save's report in its output root (else in the user's cache folder); empty when none was written
    QString reportError;     // the report due that could not be written: its path and why; else empty
    bool stopped = false;    // the user stopped the save
    QStringList notWritten;  // kinds or formats asked for whose writer wrote nothing, once each
    // Of written, what the writers of each kind wrote (messages rebuilt from attachments count
    // as messages); all 0 for a new archive, whose items are its entries.
    SaveItemCounts writtenByKind;
    QString output;  // the save's output root, or the new archive
};

// The end of a save that wrote everything it was given: what it wrote and where, or that it wrote
// nothing. Like every message they start with a line feed.
inline const char kItemsSavedText[] = "\n%1 saved in \"%2\".";
inline const char kNothingSavedText[] = "\nNothing was saved: the checked folders held no items this save type writes.";
// kItemsSavedText for outcome ("3 messages and 1 contact", else "12 items"); kNothingSavedText
// when it wrote nothing. savedText: kItemsSavedText as the window shows it (translated).
QString SaveWrittenText(const SaveOutcome &outcome, const QString &savedText = QString::fromLatin1(kItemsSavedText));

// The end message of a save that was not stopped but could not write everything. Like every
// message it starts with a line feed.
inline const char kSaveItemsFailedText[] = "\n%1 item(s) could not be saved. Files Saved Partially.";
QString SaveFailedText(qint64 failed);
// Items written with something lost: they count as saved, yet the save is not a full success.
inline const char kSaveItemsIncompleteText[] = "\n%1 item(s) were saved incomplete.";
// Entries the scan could not read (compressed, or not where the archive says): named, never taken for saved.
inline const char kSaveUnreadEntriesText[] =
    "\n%1 entries of the archive were not read (compressed, or not found where the archive says).";
// Compressed entries a new archive holds as they were, without their bytes having been read.
inline const char kSaveCopiedEntriesText[] = "\n%1 entries are compressed and were copied as they are, unread.";
// Names the save's report, which lists every item of the lines above.
inline const char kSaveReportNamedText[] = "\nEach item is listed in \"%1\".";
// A report was due but could not be written: the message says so, never success.
inline const char kSaveReportFailedText[] = "\nThe list of these items could not be written to %1.";
// kSaveReportNamedText for the report the save wrote (a save whose only lines are recovered
// attachments is a success that still has a report); "" when none was written.
QString SaveReportNamedText(const SaveOutcome &outcome);
// Names what the save could not write yet, for the end message.
inline const char kSaveNotWrittenText[] = "\nThis version cannot save: %1.";
// The end message of a save with items not saved, saved incomplete or not read, or unwritten
// kinds, naming the report; "" when everything was written whole.
QString SaveProblemText(const SaveOutcome &outcome);

class QMailSavingThread : public QThread {
    Q_OBJECT
public:
    explicit QMailSavingThread(QObject *parent = nullptr);
    // Stops a running save and waits for it.
    ~QMailSavingThread() override;

    // Starts a save of the given type (SaveTypeForIndex of index) at low priority. Refused
    // (false, nothing changes, the running save goes on untouched) while a save runs, or for a
    // position without a save type.
    bool SetInitialSettings(QString path, int index);
    // Threads the save uses, the saving thread included: with two or more, all but one format
    // messages while the saving thread writes them; 1: the saving thread does it all. The
    // machine's cores, at most eight, unless set. Read when a save starts.
    void SetSaveThreads(int threads) { m_saveThreads = qMax(1, threads); }
    int saveThreads() const { return m_saveThreads; }

    SaveType saveType() const { return nSaveType; }
    QString databasePath() const { return strDatabasePath; }
    SaveOutcome outcome() const;

    // The output tree step, in-process: copyDir copies source (a folder, file or link) into the
    // folder destination, or to destination when that does not exist; links are copied as links.
    // RemoveDir removes path and everything below it without following links. An empty path does
    // nothing. Both return false when something could not be copied or removed.
    bool copyDir(const QString &source, const QString &destination);
    bool RemoveDir(const QString &path);

Q_SIGNALS:
    void OnInitialSettingsMainWindow(unsigned int count);
    void OnProgressvalueMainWindow();
    // count more steps than the save was started with are coming: items found only while saving
    // (attachments no message names). Sent before their first step.
    void moreSteps(qint64 count);
    void OnFinishScanning();
    void strInfo(QString text);
    // Declared for the window's connection; a save never sends it.
    void OnFinishScanningMainWindow();

protected:
    void run() override;

    // The writers, one call per checked folder with the id its records carry. Virtual so a test
    // can see which writer gets which folder.
    virtual void OnContactSaving(unsigned long long folderId);
    virtual void OnCalenderSaving(unsigned long long folderId);
    virtual void OnTaskSaving(unsigned long long folderId);
    virtual void OnNotesSaving(unsigned long long folderId);
    virtual void OnMailSaving(unsigned long long folderId);
    virtual void SaveAsMBOX(unsigned long long folderId);
    virtual void SaveAsEMLX(unsigned long long folderId);
    virtual void SaveAsEML(unsigned long long folderId);
    virtual void SaveAsHTML(unsigned long long folderId);
    // Called once after the walk of an OLM save with the checked mail folders' ids ("a;b;").
    virtual void OLMSaving(QString folderIds);

    // For the writers: the stop test of every item (where a held save waits), and the status
    // text plus one tick.
    static bool stopRequested();
    void reportItem(const QString &text);
    // count items, each a stop test and a report; false when the stop ended the walk.
    bool tickItems(qint64 count, const QString &text);
    // A writer that cannot write its kind or format yet names it here when it was given count
    // items, so the end of the save never reports them as saved.
    void reportNotWritten(const QString &what, qint64 count);
    // The state of the save that runs; null outside run().
    SaveRun *currentRun() const { return m_run.get(); }

private:
    void saveFolder(SaveType type, qint64 folderId, quint32 kind, QString *olmFolderIds);
    // Adds written items to the counts of the kind's writers.
    void countWritten(quint32 kind, qint64 written);
    void moveContainer();
    void finishRun(bool stopped);
    // Writes the report of result when it has anything to name, and notes where or why not.
    void writeReport(SaveOutcome &result, SaveType type, const QString &saveDir, const QString &stamp);

    SaveType nSaveType = SaveTypeInvalid;
    QString strDatabasePath;  // kept for the shell; the writers take their paths from the globals
    std::unique_ptr<SaveRun> m_run;
    // A lock of the standard library, which ThreadSanitizer sees (the toolkit's is locked inside
    // the toolkit, out of its sight).
    mutable std::mutex m_outcomeLock;
    SaveOutcome m_outcome;
    int m_saveThreads = DefaultSaveThreads();
};
