#include "save/SaveReport.h"

#include "save/QMailSavingThread.h"
#include "save/SafeNames.h"
#include "save/pim/PimFiles.h"

#include <QDir>
#include <QFileInfo>

#include <limits>

namespace {

void appendLines(QByteArray &text, const char *label, const QStringList &lines)
{
    for (const QString &line : lines) {
        text += label;
        // A line from the archive (a subject, a name) must not split into two report lines.
        QString flat = line;
        flat.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
        text += flat.toUtf8();
        text += '\n';
    }
}

}  // namespace

QByteArray SaveReportText(const SaveOutcome &outcome)
{
    QByteArray text;
    appendLines(text, "Not saved: ", outcome.failures);
    appendLines(text, "Saved incomplete: ", outcome.incompletes);
    appendLines(text, "Not read: ", outcome.unread);
    appendLines(text, "Recovered: ", outcome.recovered);
    appendLines(text, "Removed: ", outcome.removed);
    return text;
}

bool WriteSaveReport(const QString &path, const QByteArray &text, QString *written, QString *error)
{
    const QFileInfo info(path);
    // The output root may not exist yet: a save whose every item failed made nothing there.
    if (!QDir().mkpath(info.path())) {
        *written = path;
        *error = QStringLiteral("the folder could not be made");
        return false;
    }
    // The stamp may hold dots: only the last extension is split off, for the numbered names.
    const QString name = info.fileName();
    const QString extension = FileExtension(name, std::numeric_limits<int>::max());
    const PimFile file{info.path(), name.left(name.size() - extension.size()), extension, 0, 0};
    return WritePimFile(file, text, written, error);
}
