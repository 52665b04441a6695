#pragma once
// Entries the scan listed but did not read because they are compressed (an archive packed again
// by a common zip tool deflates every entry). A save names each of them and never reports them
// as saved.

#include <QSet>
#include <QString>

struct MailSaveContext;

// Adds the scan's compressed entries to context: their count and one report line each; then the
// entries the scan found in one source and not the other, or read at another extent.
void NoteCompressedEntries(MailSaveContext &context);
// Counts each store whose items were written from a damaged copy, with none whole, as saved
// incomplete, when the save wrote items of its kind (kindsSaved: folder kinds).
void NoteStoresNotWhole(MailSaveContext &context, const QString &output, const QSet<quint32> &kindsSaved);
