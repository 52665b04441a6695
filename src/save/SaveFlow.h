#pragma once
// The save start's checks and the output folders it prepares: the run's stamp, the number of
// items to save, the free-space and same-file tests, the output roots and the .rge package
// files (the paths themselves come from OutputLayout.h). All run on the GUI thread before the saving thread starts; none shows a dialog, so the
// main window decides what to show from their results.

#include "save/OutputLayout.h"
#include "save/SaveType.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

struct FldrAtribNode;
struct MailMLRC;
struct ContactInformation;
struct CalenderInformation;
struct TasksInformation;
struct NotesInformation;

// Messages of the save start and its end (each begins with a line feed, as every message does).
inline const char kSelectFolderText[] = "\nSelect a folder to save.";
inline const char kInsufficientSpaceText[] =
    "\nInsufficient disk space. Select another location to save recovered data.";
inline const char kSameAsArchiveText[] =
    "\nThe selected OLM file would be overwritten. Select another location to save recovered data.";
inline const char kOutputFolderFailedText[] = "\nThe output folder could not be created.";
inline const char kPackageFilesFailedText[] = "\nThe output folder could not be written.";
inline const char kOldRootNotRemovedText[] = "\nThe existing output folder could not be removed.";
inline const char kFilesSavedText[] = "\nFiles Saved Successfully.";      // repair edition
inline const char kMailboxSavedText[] = "\nMailbox Saved Successfully.";  // converter edition
inline const char kSaveAbortedText[] = "\nSaving Process Aborted. Files Saved Partially.";

// The replace question on the shared question dialog (label_3, label_2, label_6). The same
// words for every save type; the detail names what is already there.
inline const char kReplaceTitle[] = "Corvask";
inline const char kReplaceQuestion[] = "Do you want to replace it?";
inline const char kReplaceDetail[] = "%1 already exists at this location.";
// kReplaceDetail naming the file or folder name of root.
QString ReplaceDetailText(const QString &root);

// The progress sheet of a save: status line and heading per edition.
inline const char kSavingStatusText[] = "Saving Files...";
inline const char kSavingHeadingRepair[] = "Please wait while the selected OLM is saved...";
inline const char kSavingHeadingConverter[] = "Please wait while the selected mailbox is saved...";

// "\nFiles Saved Successfully." or "\nMailbox Saved Successfully." for this build.
QString SaveSuccessText();

// "(" + "d MMM yyyy,hh-mm-ss" + ")", with English month names whatever the user's locale, so
// the names of the output folders and of the log report do not change with the locale.
QString MakeSaveTimeStamp(const QDateTime &when);

// True when the root node (the head of the list) is checked or partly checked.
bool SelectionHasCheckedFolder(const FldrAtribNode *head);

// The record lists the count walks; CurrentSaveItemLists() takes the scan's globals.
struct SaveItemLists {
    const MailMLRC *mails = nullptr;
    const ContactInformation *contacts = nullptr;
    const CalenderInformation *calendar = nullptr;
    const TasksInformation *tasks = nullptr;
    const NotesInformation *notes = nullptr;
};
SaveItemLists CurrentSaveItemLists();

// Items in the checked folders (nodes in state 1): the records of each list whose folder id is
// the node's, by the node's FolderKind (any other value is mail).
// Nodes in state 2 or 3 add nothing themselves. One pass per list.
qint64 CountCheckedItems(const FldrAtribNode *head, const SaveItemLists &lists);

// What the replace question is asked about when it exists: the output root, or the OLM save's
// own file.
QString ReplaceTestRootFor(SaveType type, const QString &saveDir, const QString &stamp);

// More bytes available at dir than the archive's size (equal is too little).
bool HasEnoughFreeSpace(const QString &dir, qint64 archiveSize);

// The OLM save would write onto the archive being read.
bool OutputOverwritesArchive(SaveType type, const QString &saveDir, int archiveFd);

// What the save start does once a destination is chosen (steps after the folder dialog).
enum class SaveStartStep {
    Cancelled,          // no destination: return without a message
    InsufficientSpace,  // kInsufficientSpaceText, then run the save start again
    OverwritesArchive,  // kSameAsArchiveText, then stop
    InvalidType,        // no usable list entry: stop
    AskReplace,         // the replace question for root
    Create,             // CreateMailFolder, then start the saving thread
};
struct SaveStartPlan {
    SaveStartStep step = SaveStartStep::Cancelled;
    SaveType type = SaveTypeInvalid;
    QString root;  // the existing root to replace (AskReplace), else the output root
};
SaveStartPlan PlanSaveStart(int listIndex, const QString &saveDir, const QString &stamp, qint64 archiveSize,
                            int archiveFd);

// Makes the output root and its item folders for the save type, and the package files for
// SaveTypeRGE. The root is made one level deep inside saveDir, and is the save's own: when its
// timed name is taken, *stamp gets "_2", "_3"... (the first free one), which the save then uses.
// Fails (with a message in error) unless the root ends up a writable folder with every item
// folder in place; for the OLM save it checks that saveDir is a writable folder.
bool CreateMailFolder(SaveType type, const QString &saveDir, QString *stamp, QString *error);

// The message, contact, calendar and note files that saves stopped hard left unnamed (where the
// file system makes no unnamed files) in the output roots of earlier saves in saveDir: removed
// when no live save holds them, one line each. Mailboxes under a hidden name hold whole messages
// and stay.
QStringList RemoveEarlierSaveParts(const QString &saveDir);

// What the replace question's Yes does before the save starts: the earlier output root goes
// (RemoveOutputRoot), except an earlier archive of the OLM save, which the new one replaces
// only once whole.
bool ClearForReplace(SaveType type, const QString &root, QString *error);

// Writes "Contents/PkgInfo", "Contents/Info.plist" and "Archive.xml" below root (with or
// without a trailing "/"). Each file is replaced as a whole, never appended to.
bool CreateFilesInMainIdentity(const QString &root, QString *error);

// Removes an earlier output root before the save replaces it: a folder with everything below it,
// a symbolic link as the link only (its target stays), a file as the file. An empty path and a
// path that does not exist do nothing and succeed. Fails when anything is left.
bool RemoveOutputRoot(const QString &path, QString *error);

// Replaces the file at path with bytes: an existing file (or link) of that name is removed, the
// new file is created afresh (never written through a link, never appended to), and every write
// is checked. On failure nothing is left at path and why gets the system's reason.
bool ReplaceFileContents(const QString &path, const QByteArray &bytes, QString *why = nullptr);

// The package files' exact bytes.
QByteArray PkgInfoBytes();
QByteArray InfoPlistBytes();
QByteArray ArchiveXmlBytes();
