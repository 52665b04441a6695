#include "save/CompressedEntries.h"

#include "save/mail/MailWriter.h"

void NoteCompressedEntries(MailSaveContext &context)
{
    Q_UNUSED(context);
}
