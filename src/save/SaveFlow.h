#pragma once
// The save start's checks and the output folders it prepares: the run's stamp, the number of
// items to save, the free-space and same-file tests, the output roots and the .rge package
// files (the paths themselves come from OutputLayout.h). All run on the GUI thread before the saving thread starts; none shows a dialog, so the
// main window decides what to show from their results.

#include "save/OutputLayout.h"
#include "save/SaveType.h"

#include <QDateTime>
#include <QSet>
#include <QString>
#include <QtGlobal>

struct FldrAtribNode;
struct FileOffsetNode;
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

// Folder-list ids of folders whose own items go into the save although their state is not 1: a
// folder whose box only follows its subfolders (partly checked, or unchecked once its only
// subfolder is) keeps its own items unless the user unchecked that folder itself. The state codes
// stay as the boxes show them; this carries the folder's own choice beside them. Kept by the folder
// tree on the GUI thread; read by the save start and the saving thread (unchanged while one runs).
extern QSet<qint64> FoldersKeepingOwnItems;
// Folder-list ids of folders whose box shows checked only because every subfolder is, while the
// user left the folder's own items out (a deep folder checked alone checks its single-child
// parents). Kept and read as FoldersKeepingOwnItems is.
extern QSet<qint64> FoldersLeavingOwnItems;

// The folder's own items go into the save: its state is 1 and it does not leave them out, or it
// keeps them as above.
bool FolderOwnItemsChosen(const FldrAtribNode *node);

// True when the root node (the head of the list) is checked or partly checked, or any folder keeps
// its own items.
bool SelectionHasCheckedFolder(const FldrAtribNode *head);

// The record lists the count walks; CurrentSaveItemLists() takes the scan's globals.
struct SaveItemLists {
    const MailMLRC *mails = nullptr;
    const ContactInformation *contacts = nullptr;
    const CalenderInformation *calendar = nullptr;
    const TasksInformation *tasks = nullptr;
    const NotesInformation *notes = nullptr;
    // The item store files of contacts, calendar, tasks and notes, which a new archive copies
    // whole.
    const FileOffsetNode *stores[4] = {nullptr, nullptr, nullptr, nullptr};
};
SaveItemLists CurrentSaveItemLists();

// Items in the chosen folders (FolderOwnItemsChosen): the records of each list whose folder id is
// the node's, by the node's FolderKind (any other value is mail). Other nodes add nothing
// themselves. One pass per list.
qint64 CountCheckedItems(const FldrAtribNode *head, const SaveItemLists &lists);

// The items of the chosen folders by kind, as CountCheckedItems counts them.
struct SaveItemCounts {
    qint64 mails = 0;
    qint64 contacts = 0;
    qint64 calendar = 0;
    qint64 tasks = 0;
    qint64 notes = 0;
    // The item store files of the kinds with a chosen folder.
    qint64 storeFiles = 0;
    qint64 total() const { return mails + contacts + calendar + tasks + notes; }
};
SaveItemCounts CountChosenItems(const FldrAtribNode *head, const SaveItemLists &lists);
// Of those, the items a save of type writes: message files and pages hold mail only.
qint64 ItemsTheTypeWrites(SaveType type, const SaveItemCounts &counts);
// The progress steps a save of type takes, one per item it writes: for a new archive its
// messages, the store files of the chosen kinds and the categories list; else ItemsTheTypeWrites.
qint64 SaveProgressSteps(SaveType type, const SaveItemCounts &counts);
// "3 messages, 1 contact and 8 calendar items"; "" when every count is 0.
QString DescribeItemCounts(const SaveItemCounts &counts);

// The checked folders hold nothing the save type writes: the save does not start.
inline const char kNothingToSaveText[] = "\nThe checked folders hold no items to save.";
inline const char kTypeHoldsMailOnlyText[] =
    "\n%1 files hold mail only, and the checked folders hold no messages (they hold %2).";
// Items checked that the save type cannot hold, named at its end.
inline const char kTypeLeftOutText[] = "\n%1 files hold mail only; not saved: %2.";
// The name the save type's messages use ("EML"); "" for the types that hold every kind.
QString MailOnlyTypeName(SaveType type);
// kNothingToSaveText or kTypeHoldsMailOnlyText when a save of type would write nothing of the
// chosen folders; "" when it has something to write. A chosen mail folder other than the root may
// still give messages rebuilt from attachments whose message is lost, so it is not refused while
// the archive holds attachments.
QString NothingToSaveText(SaveType type, const FldrAtribNode *head, const SaveItemCounts &counts,
                          qint64 attachmentEntries);
// kTypeLeftOutText naming the chosen items the type cannot hold; "" when there are none.
QString TypeLeftOutText(SaveType type, const SaveItemCounts &counts);

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
