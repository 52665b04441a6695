#pragma once
// The attachment strip of the mail preview: one tile per attachment in the main window's
// attachment grid, two to a row where the pane has room for two, else one. Pressing a tile copies
// the attachment out of the archive into a private file and shows that in the previewer
// (QPreviewOfItems' tile slots, browse/ThreadOLMPreview.h).
// GUI thread only.

#include <QString>

class AttachmentIndex;
struct MailMessageFields;

// The scanned archive's attachment entries by name, built once per fill serial (browse/ItemListFill.h)
// so that it never holds records freed since.
const AttachmentIndex &CurrentAttachmentIndex();

// Shown when an attachment cannot be copied out or shown; %1 names it.
inline const char kAttachmentNotOpenedText[] = "\nThis attachment could not be opened:\n%1";
void TellAttachmentNotOpened(const QString &name);

// Removes the tiles shown before, then lays out one tile per attachment of fields (icon, name,
// size, tool tip) and connects it to the preview controller: the first batch now, the next ones
// as the header's view is scrolled near the end of those made. A mail without attachments leaves
// the grid empty.
void ShowAttachmentTiles(const MailMessageFields &fields);
// Removes every tile: hidden at once and deleted once the event loop runs again, so a tile whose
// own event is being handled is never deleted under it.
void ClearAttachmentTiles();
