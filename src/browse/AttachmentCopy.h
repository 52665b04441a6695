#pragma once
// The private copy of one attachment that the previewer is handed: its file name, and its bytes
// copied out of the open archive.

#include <QString>
#include <QtGlobal>

struct FileOffsetNode;

// Attachments above this many bytes are not copied for the previewer.
constexpr qint64 kMaxPreviewCopySize = 10485760;

// The copy's file name: of the attachment's name only ASCII letters, digits, blanks, "." and "_"
// stay, so it can never name another folder. A name that leaves nothing, or only "." or "..",
// becomes "attachment", one that leaves only its extension "attachment-<hash of the name>" and
// its extension; one longer than a file name may be is cut, keeping its extension.
QString CleanAttachmentFileName(const QString &name);

// Writes the stored entry's bytes to a new private file at path, reading the archive through
// readAt in chunks. Bytes inside the archive that a read fails to deliver are written as zeros;
// nothing is made up past the archive's end. False when the file could not be made or written
// (nothing is left at path then).
bool CopyEntryToFile(const FileOffsetNode &node, const QString &path);
