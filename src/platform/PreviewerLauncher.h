#pragma once
// The attachment previewer on this system: the program "FileUtil.app" beside the executable when
// one that can be run is there, else the desktop's default viewer. It is only ever handed a
// private copy of an attachment, in a folder of the user's own that nobody else can read, and a
// previewer we started is ended by the process id it was started with, never by a name pattern.

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

namespace PreviewerHooks {
// When set, receives every start of the previewer program instead of the system and returns the
// started process's id (0 or less: it did not start). Called on the launcher's thread.
extern std::function<qint64(const QString &program, const QStringList &arguments)> startProgram;
// When set, gives the previewer program's path instead of the one beside the executable.
extern std::function<QString()> programPath;
}  // namespace PreviewerHooks

// The previewer program beside the executable, or empty when none that can be run is there.
QString PreviewerProgramPath();

// The private folder for attachment copies, created with mode 0700 when missing; empty when it
// cannot be made or is not a real folder of the user's own.
QString AttachmentCopyFolder();

// Creates path afresh as a file only the user can read or write (0600), never through a link and
// never into something that was already there. The open descriptor, or -1.
int CreatePrivateFile(const QString &path);

// One previewer process, known by the id it was started with. Used from one thread at a time.
class PreviewerProcess {
public:
    // Starts program with file as its one argument, without a shell. True when it started. When
    // it later ends with a non-zero status (it could not show the file), failed runs on the GUI
    // thread, unless context (an object of the GUI thread) is gone by then.
    bool launch(const QString &program, const QString &file, QObject *context = nullptr,
                std::function<void()> failed = {});
    // The process started last still runs that program (an id the system gave to another process
    // since does not count).
    bool isRunning() const;
    // Asks the process started last to end, by its id only. True when it was asked or is gone.
    bool terminate();
    qint64 processId() const { return m_pid; }

private:
    qint64 m_pid = 0;
    QString m_program;
};
