#pragma once
// The preview controller: shows the selected row of the item list in the preview panes. One
// object, made by the open/scan dialog and kept in m_pPreview; GUI thread only. It keeps no
// state between selections: each one finds its record afresh and rebuilds the pane from the
// record and the archive.

#include <QColor>
#include <QObject>
#include <QString>

class QTreeWidgetItem;
struct ContactInformation;
struct TasksInformation;
struct NotesInformation;

// Colour of every line of the contact, task and note previews.
inline QColor PreviewTextColour() { return QColor(68, 68, 68, 255); }
// Colour of the section headings of the contact preview.
inline QColor PreviewHeadingColour() { return QColor(25, 104, 232, 255); }

// Prepares the text preview for a contact, task or note: the mail header view cleared and
// hidden, the mail HTML view closed, the text preview shown, emptied, in "Lucida Grande" 12 and
// without text interaction. The text preview never loads local files named by archive HTML.
void ResetItemPreviewPane();

// Appends label + value + "\n" as a new paragraph of the text preview (followed by an empty
// one). The view's rich-text detection applies: a value that looks like HTML is shown as HTML.
void AppendPreviewLine(const QString &label, const QString &value);

class QPreviewOfItems : public QObject {
    Q_OBJECT
public:
    // Owned by the open/scan dialog that makes it, so it goes with that dialog.
    explicit QPreviewOfItems(QObject *parent = nullptr);
    ~QPreviewOfItems() override;

    // Record lookups: a row whose record cannot be found (stale, of another kind, null) leaves
    // the pane as it is. The column is not read.
    void OnContactItemClicked(QTreeWidgetItem *pItemSelected, int nCol);
    void OnTaskItemClicked(QTreeWidgetItem *pItemSelected, int nCol);
    void OnNoteItemClicked(QTreeWidgetItem *pItemSelected, int nCol);

    // Display name, then the sections of a contact's fields and its notes.
    void writePreviewItemsForContact(ContactInformation *record);
    // Name, start and due dates, priority and note of a task.
    void writePreviewItemsForTask(TasksInformation *record);
    // Title and text of a note.
    void writePreviewItemsForNotes(NotesInformation *record);

public Q_SLOTS:
    // Shows one item-list row by its kind; the column is not read.
    void OnMessageSubjectClicked(QTreeWidgetItem *pItemSelected, int nCol = 0);
};
