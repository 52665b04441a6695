#pragma once
// Entries the scan listed but did not read because they are compressed (an archive packed again
// by a common zip tool deflates every entry). A save names each of them and never reports them
// as saved.

struct MailSaveContext;

// Adds the scan's compressed entries to context: their count and one report line each; then the
// entries the scan found in one source and not the other, or read at another extent.
void NoteCompressedEntries(MailSaveContext &context);
