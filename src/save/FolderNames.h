#pragma once

#include <QString>

// The folder path below the mail folder that a message's entry name gives, made of safe
// components; "Folder1" when the name gives none.
QString MailFolderRelativePath(const QString &entryName);
