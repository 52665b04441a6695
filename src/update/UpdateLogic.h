#pragma once
// The arithmetic of the update windows, free of widgets and network: the value of a version
// text, the decision between the offered and the running version, the shared version rows, the
// window placement and the download's progress texts.

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QUrl>

// The running program's version.
QString BuiltInVersion();

struct VersionParts {
    int major = 0;
    int minor = 0;
    int revision = 0;
    int build = 0;
};

// The four numbers of a version text, read at fixed character positions ("M.m.r.b" or
// "MM.m.r.b"); a text whose first dotted piece is longer uses its first character for the
// three lower numbers. A character that is no number counts 0.
VersionParts VersionComponents(const QString &text);
// M*1000 + m*100 + r*10 + b of VersionComponents.
int VersionValue(const QString &text);

enum class UpdateOutcome {
    NotAVersion,     // the answer names no version: a login page, an empty text
    AlreadyCurrent,  // the stored installed version already names the offered one
    Older,           // the offered value is below ours
    Same,            // the offered text is our version
    OfferMajor,
    OfferMinor,
    NoGreater,  // not older, yet no number above ours
};

// True when line is a version as VersionComponents reads it: a digit, then only digits and dots.
bool IsVersionText(const QString &line);
// True when storedVNo, trimmed, is not empty and occurs in line.
bool StoredVersionCovers(const QString &line, const QString &storedVNo);
// What to do with the trimmed first line of the server's version text.
UpdateOutcome DecideUpdate(const QString &line, const QString &storedVNo);

// Fills the three rows of softwareUpdate for an offer: NUL-padded, cut to 31 Latin-1 bytes.
void FillUpdateRows(char rows[3][32], bool major, const QString &version);
// One row as text, read up to its NUL and never past its 32 bytes.
QString UpdateRowText(const char row[32]);

// Where a window of size window sits on a desktop of size desktop: centred, 50 pixels higher.
QPoint CentredAbove(QSize desktop, QSize window);
// The place nearest `at` where a window of size window lies whole inside available (its top left
// corner inside when the window is larger), so its buttons can be reached.
QPoint KeptOnScreen(const QRect &available, QPoint at, QSize window);
// A message for a window: words longer than a line get places to break, and a message longer
// than a window holds keeps its start and end. Messages may name what a server sent.
QString ShownMessage(const QString &message);

// Only https, or plain http to this machine, may serve the version text and the program.
bool IsAllowedUpdateUrl(const QUrl &url);

struct DownloadProgressTexts {
    QString elapsed;  // "Time Elapsed: ... copied) "
    QString rate;     // "Transfer Rate: ... KB/sec ", empty when not shown
};
DownloadProgressTexts ProgressTexts(qint64 received, qint64 total, qint64 elapsedMs);

// Range and value of the download bar: a busy bar (0, 0) when the total is unknown, else a
// value out of 1000.
struct ProgressBarState {
    int maximum = 0;
    int value = 0;
};
ProgressBarState ProgressBarFor(qint64 received, qint64 total);
