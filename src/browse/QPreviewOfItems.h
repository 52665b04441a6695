#pragma once
// The preview controller: shows the selected row of the item list in the preview panes. One
// object, made by the open/scan dialog and kept in m_pPreview; GUI thread only. It keeps no
// state between selections: each one finds its record afresh and rebuilds the pane from the
// record and the archive.

#include <QColor>
#include <QObject>
#include <QString>

#include "browse/ItemTexts.h"
#include <memory>
// --- attachment tiles ---
#include "browse/ThreadOLMPreview.h"
// --- end of attachment tiles ---

class QTextBrowser;
class QTreeWidgetItem;
struct ContactInformation;
struct TasksInformation;
struct NotesInformation;
// --- mail and calendar previews ---
struct CalenderInformation;
struct MailMLRC;
// --- end of mail and calendar previews ---

// Colour of the lines of the contact, calendar, task and note previews, the contact's headings aside.
inline QColor PreviewTextColour()
{
    return QColor(68, 68, 68, 255);
}
// Colour of the section headings of the contact preview.
inline QColor PreviewHeadingColour()
{
    return QColor(25, 104, 232, 255);
}

// Prepares the text preview for a contact, calendar item, task or note: the mail header view
// cleared and hidden, the mail HTML view closed, the text preview shown, emptied, in "Lucida
// Grande" 12 and without text interaction. The text preview never loads local files named by
// archive HTML. Returns the text preview, null when the window has no panes.
QTextBrowser *ResetItemPreviewPane();

// Appends label + value + "\n" as a new paragraph of the text preview (followed by an empty
// one), as text: a value that looks like markup is shown as written.
void AppendPreviewLine(const QString &label, const QString &value);

// Ends every preview: the item shown from its first line, and the keyboard on the folder tree so
// that arrow keys move between folders, unless it is on the item list, whose rows are then being
// walked by keys.
void FinishItemPreview();

class QPreviewOfItems : public QObject {
    Q_OBJECT
public:
    // Owned by the open/scan dialog that makes it, so it goes with that dialog.
    explicit QPreviewOfItems(QObject *parent = nullptr);
    ~QPreviewOfItems() override;

    // The previews of each kind, given the record of a current row (PreviewRowItem), each in a
    // file of its own (ContactPreview, CalendarPreview, TaskPreview, NotePreview, MailPreview).
    // Static: they use only the main window's panes and the archive.
    // Display name, then the sections of a contact's fields and its notes.
    static void writePreviewItemsForContact(ContactInformation *record);
    // Name, start and due dates, priority and note of a task.
    static void writePreviewItemsForTask(TasksInformation *record);
    // Title and text of a note.
    static void writePreviewItemsForNotes(NotesInformation *record);

    // --- mail and calendar previews ---
    // Summary, location and the description read back from the archive.
    static void writePreviewItemsForCalendar(CalenderInformation *record);
    // Header labels, attachment tiles and body of a mail, from its record, its message XML and
    // its body text in the archive (read on the preview's worker through a descriptor of its own).
    static void MessageFieldsForThePreview(MailMLRC *pRecord);
    // --- end of mail and calendar previews ---

public Q_SLOTS:
    // Shows one item-list row by its kind; the column is not read.
    void OnMessageSubjectClicked(QTreeWidgetItem *pItemSelected, int nCol = 0);

    // --- attachment tiles ---
    // Each acts on the tile that sent the signal (browse/AttachmentTiles.h); without one, nothing.
    // The pointer entered or left: the hover or normal picture, the pressed one while it is down.
    void OnShowHoverImageattwidget();
    void OnShowNormalImageattwidget();
    // Copies the attachment into a private file and hands it to the previewer, once the press
    // has been handled (the tile may be gone by then; what it named is kept).
    void OnShowPressImageattwidget();
    void OnShowReleaseImageattwidget();

public:
    // Size text of an attachment from its byte count text: "1536" gives "1.5 KB".
    static QString GetSize(QString size);
    // Launches the previewer for the tiles' copies.
    ThreadOLMPreview m_previewThread;
    // --- end of attachment tiles ---
};
