#include "shell/QParseDatabase.h"

#include "platform/ArchiveSource.h"
#include "scanner/QFolderInformationThread.h"
#include "scanner/ScanGlobals.h"
#include "shell/ShellGlobals.h"

#include <QFile>

#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QParseDatabase::QParseDatabase(QObject *parent)
    : QObject(parent), m_scanner(new QFolderInformationThread(this))
{
}

QParseDatabase::~QParseDatabase()
{
    StopAndWait();
}

void QParseDatabase::ConnectSignals(QObject *mainWindow)
{
    connect(m_scanner, SIGNAL(OnInitialSettings(long long)), mainWindow, SLOT(SetInitialSettings(long long)));
    connect(m_scanner, SIGNAL(OnProgressvalue(long long)), mainWindow, SLOT(SetProgressValue(long long)));
    connect(m_scanner, SIGNAL(strInfo(QString)), mainWindow, SLOT(OnStrInfo(QString)));
    connect(m_scanner, SIGNAL(OnFinishScanning()), mainWindow, SLOT(SetFinishSettingsForMail()));
    connect(m_scanner, SIGNAL(InformationDlgOpen()), mainWindow, SLOT(OnInformationDlg()));
    connect(m_scanner, SIGNAL(ShowMessage(QString)), mainWindow, SLOT(OnScanMessage(QString)));
    connect(this, SIGNAL(ShowMessage(QString)), mainWindow, SLOT(OnScanMessage(QString)));
}

void QParseDatabase::StopAndWait()
{
    if (m_scanner->isRunning()) {
        bStopFlag = true;
        m_scanner->wait();
    }
}

void QParseDatabase::CleanListAndHash()
{
    CleanScanResults();
}

bool QParseDatabase::HasArchiveHead(int fd)
{
    static const unsigned char head[5] = {0x50, 0x4B, 0x03, 0x04, 0x2D};
    unsigned char got[5] = {0, 0, 0, 0, 0};
    return readAt(fd, 0, got, 5) == 5 && memcmp(got, head, 5) == 0;
}

bool QParseDatabase::OnStartScan(const QString &path)
{
    StopAndWait();
    MailItemCount = ContactItemCount = TaskItemCount = NotesItemCount = CalendarItemCount = 0;
    CleanListAndHash();
    if (fileDescriptor >= 0)
        ::close(fileDescriptor);
    fileDescriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fileDescriptor < 0 || fstat(fileDescriptor, &st) != 0 || !HasArchiveHead(fileDescriptor)) {
        if (fileDescriptor >= 0)
            ::close(fileDescriptor);
        fileDescriptor = -1;
        Q_EMIT ShowMessage(QStringLiteral("\nThe scanned file is either an invalid file or heavily damaged."));
        return false;
    }
    lSize = st.st_size;
    m_scanner->SetInitialSettings();
    return true;
}
