#pragma once
// The save's report: a plain UTF-8 text file in the output root naming, one line each, every item
// not saved or saved incomplete, every recovered attachment and every entry not read: what it
// is, where in the archive, why. The finish message only gives counts; this file says which.

#include <QByteArray>
#include <QString>

struct SaveOutcome;

// The report's text, one line per item; empty when the save has nothing to report.
QByteArray SaveReportText(const SaveOutcome &outcome);

// Writes text as a new file at path (never over an existing one: the next free "name_N" then).
// Returns false with the reason in *error; *written is the file made.
bool WriteSaveReport(const QString &path, const QByteArray &text, QString *written, QString *error);
