#pragma once
// Where each save type puts its output below the destination the user chose, and the one test
// that keeps the output off the archive being read. The save start, the mail format rows, the
// contact, calendar, task and note files and the OLM writer all take their paths from here.

#include "save/SaveType.h"

#include <QString>

// The OLM save's output file inside the destination folder.
inline const char kRepairedOlmFileName[] = "RepairedOLMfile.olm";

// The output root of a save: the destination itself for the OLM save, "Main Identity<stamp>.rge"
// for the package, "Repaired Data<stamp>" for the HTML pages, "Converted Data<stamp>" for the
// others. Empty for SaveTypeInvalid.
QString OutputRootFor(SaveType type, const QString &saveDir, const QString &stamp);
// The report a save writes when it has anything to name (items not saved or saved incomplete,
// recovered attachments, entries not read): "Save Report<stamp>.txt" in the output root, or
// beside the package for the package save.
inline const char kSaveReportFileName[] = "Save Report%1.txt";
QString SaveReportPathFor(SaveType type, const QString &saveDir, const QString &stamp);
// Where the writers put their output: the OLM file itself for the OLM save, otherwise the
// output root.
QString WriterOutputFor(SaveType type, const QString &saveDir, const QString &stamp);

// True when path names the archive open as fd (same device and inode, symbolic links followed),
// so writing there would overwrite the archive being read. False when either cannot be examined.
bool IsSameFile(int fd, const QString &path);
