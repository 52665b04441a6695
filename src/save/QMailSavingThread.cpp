#include "save/QMailSavingThread.h"

#include "platform/HandOver.h"
#include "platform/WorkerGlobals.h"
#include "save/CompressedEntries.h"
#include "save/OutputLayout.h"
#include "save/SaveFlow.h"
#include "save/SaveGlobals.h"
#include "save/SavePause.h"
#include "save/SaveReport.h"
#include "save/SaveRun.h"
#include "scanner/FolderAttributes.h"
#include "scanner/FolderKinds.h"

#include <QDebug>
#include <QDir>
#include <QSet>
#include <QStandardPaths>

#include <atomic>
#include <csignal>
#include <ctime>

namespace {

// A stop test of the running save answered "stop": some item was left unwritten. A stop asked
// after the last test (the save had already ended) leaves the save whole.
std::atomic<bool> stopSeen{false};

bool isMailKind(quint32 kind)
{
    return kind != FolderKindContacts && kind != FolderKindCalendar && kind != FolderKindTasks
        && kind != FolderKindNotes;
}

// Attachments no saved message names, each in a recovered message of its own: the archive type
// copies their entries instead. Only an item to write asks the stop test, so a save whose last
// item is written ends behind an open stop question.
void saveRecoveredAttachments(SaveType type, const QSet<qint64> &mailFolders, MailSaveContext &context,
                              const std::function<void(qint64)> &announceSteps)
{
    if (stopSeen)
        return;
    const MailFormatStyle *style = nullptr;
    switch (type) {
    case SaveTypeRGE:
        style = &RgePackageStyle();
        break;
    case SaveTypeMBOX:
        style = &AppleMailStyle();
        break;
    case SaveTypeEMLX:
        style = &EmlxStyle();
        break;
    case SaveTypeEML:
        style = &EmlStyle();
        break;
    case SaveTypeHTML:
        style = &HtmlStyle();
        break;
    default:
        return;
    }
    const QVector<const FileOffsetNode *> entries = UnnamedAttachmentEntries(mailFolders, context);
    // Each makes a message, one step more than the bar was started with.
    if (!entries.isEmpty())
        announceSteps(entries.size());
    SaveRecoveredAttachments(entries, *style, context);
}

}  // namespace

QString SaveFailedText(qint64 failed)
{
    return QString::fromLatin1(kSaveItemsFailedText).arg(failed);
}

QString SaveWrittenText(const SaveOutcome &outcome, const QString &savedText)
{
    if (outcome.written <= 0)
        return QString::fromLatin1(kNothingSavedText);
    QString what = DescribeItemCounts(outcome.writtenByKind);
    if (outcome.writtenByKind.total() != outcome.written)
        what = QStringLiteral("%1 item%2").arg(outcome.written).arg(outcome.written == 1 ? "" : "s");
    return savedText.arg(what, QDir::toNativeSeparators(outcome.output));
}

QString SaveReportNamedText(const SaveOutcome &outcome)
{
    if (outcome.reportPath.isEmpty())
        return QString();
    return QString::fromLatin1(kSaveReportNamedText).arg(QDir::toNativeSeparators(outcome.reportPath));
}

QString SaveProblemText(const SaveOutcome &outcome)
{
    QString text;
    if (outcome.failed > 0)
        text += SaveFailedText(outcome.failed);
    if (outcome.incomplete > 0)
        text += QString::fromLatin1(kSaveItemsIncompleteText).arg(outcome.incomplete);
    if (outcome.unreadEntries > 0)
        text += QString::fromLatin1(kSaveUnreadEntriesText).arg(outcome.unreadEntries);
    if (outcome.copiedEntries > 0)
        text += QString::fromLatin1(kSaveCopiedEntriesText).arg(outcome.copiedEntries);
    if (!outcome.notWritten.isEmpty())
        text += QString::fromLatin1(kSaveNotWrittenText).arg(outcome.notWritten.join(QStringLiteral(", ")));
    if (!outcome.reportError.isEmpty())
        text += QString::fromLatin1(kSaveReportFailedText).arg(outcome.reportError);
    if (!text.isEmpty())
        text += SaveReportNamedText(outcome);
    return text;
}

SaveRun::SaveRun(bool mailLookups)
    : attachments(mailLookups ? tmpAtFOStart : nullptr),
      messages(mailLookups ? IndexMessagesByFolder(TmpMlrcPtrStart) : QHash<qint64, QVector<const MailMLRC *>>())
{
    // Copies: the window may pick the next save's destination while this one still writes.
    mail.saveDir = saveDir;
    mail.strTime = strTime;
    mail.attachments = &attachments;
    mail.messagesByFolder = &messages;
}

QMailSavingThread::QMailSavingThread(QObject *parent) : QThread(parent)
{
    bStopFlag = false;
}

QMailSavingThread::~QMailSavingThread()
{
    if (isRunning()) {
        bStopFlag = true;
        wait();
    }
}

bool QMailSavingThread::SetInitialSettings(QString path, int index)
{
    // A second save while one runs would change the running save's type and output under it.
    if (isRunning())
        return false;
    MarkTaken(this);  // the last run's writes, seen by this thread and the run it starts
    const SaveType type = SaveTypeForIndex(index);
    if (type == SaveTypeInvalid)
        return false;
    strDatabasePath = path;
    nSaveType = type;
    ResumeSave();
    // A file-size limit must fail the write (EFBIG, reported like a full disk), not kill the
    // program with a cut file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    return StartWorker(*this, bStopFlag);
}

SaveOutcome QMailSavingThread::outcome() const
{
    std::lock_guard<std::mutex> lock(m_outcomeLock);
    return m_outcome;
}

bool QMailSavingThread::stopRequested()
{
    // Every item passes here before it is written: the place to wait while the stop question is
    // open.
    WaitWhileSavePaused(SavePauseRole::Writer);
    // The confirmed stop sets both; bStopFlag alone still holds after the window has cleared
    // stopflag behind its abort message.
    const bool stop = stopflag || bStopFlag;
    if (stop)
        stopSeen = true;
    return stop;
}

void QMailSavingThread::reportItem(const QString &text)
{
    if (!m_run)
        return;
    if (text != m_run->lastInfo) {
        m_run->lastInfo = text;
        Q_EMIT strInfo(text);
    }
    ++m_run->ticks;
    Q_EMIT OnProgressvalueMainWindow();
}

bool QMailSavingThread::tickItems(qint64 count, const QString &text)
{
    for (qint64 i = 0; i < count; ++i) {
        if (stopRequested())
            return false;
        reportItem(text);
    }
    return true;
}

void QMailSavingThread::reportNotWritten(const QString &what, qint64 count)
{
    if (m_run && count > 0 && !m_run->notWritten.contains(what))
        m_run->notWritten.append(what);
}

void QMailSavingThread::run()
{
    // Whoever starts the next save has waited for this one to end: what this run wrote is handed
    // to that thread on every way out.
    struct HandBack {
        const void *run;
        ~HandBack() { MarkHandedOver(run); }
    } handBack{this};
    bProcessRunning = true;
    // The zone is set up once here, before the formatting threads start: their local times
    // (localtime_r) then only read it.
    tzset();
    cont = cal = task = note = mail = false;
    {
        std::lock_guard<std::mutex> lock(m_outcomeLock);
        m_outcome = SaveOutcome();
    }
    const SaveType type = nSaveType;
    stopSeen = false;
    bool stopped = bStopFlag;
    if (!stopped) {
        // The archive writer keeps lookups of its own.
        m_run.reset(new SaveRun(type != SaveTypeOLM));
        m_run->mail.stopRequested = &QMailSavingThread::stopRequested;
        m_run->mail.workerThreads = m_saveThreads;
        m_run->mail.reportProgress = [this] { reportItem(QStringLiteral("Saving Mail Folders...")); };
        NoteCompressedEntries(m_run->mail);
        // Leftovers of earlier saves stopped hard (the archive writer sweeps its own).
        if (type != SaveTypeOLM)
            m_run->mail.removed += RemoveEarlierSaveParts(m_run->mail.saveDir);
        QString olmFolderIds;
        QSet<qint64> mailFolders;
        QSet<quint32> kindsSaved;
        QSet<qint64> &foldersNotSaved = m_run->foldersNotSaved;
        if (StartFldrAtrib) {
            Q_EMIT OnInitialSettingsMainWindow(SizeOfAllMails);
            // Each folder saves its own items only; its subfolders have nodes of their own. A
            // partly checked folder keeps its own items unless the user unchecked it.
            for (const FldrAtribNode *node = StartFldrAtrib; node; node = node->pNext) {
                if (!FolderOwnItemsChosen(node))
                    continue;
                const qint64 failedBefore = m_run->mail.failed;
                const qint64 writtenBefore = m_run->mail.written;
                saveFolder(type, node->llFolderId, node->dwKind, &olmFolderIds);
                kindsSaved.insert(node->dwKind);
                countWritten(node->dwKind, m_run->mail.written - writtenBefore);
                if (m_run->mail.failed > failedBefore)
                    foldersNotSaved.insert(node->llFolderId);
                if (isMailKind(node->dwKind))
                    mailFolders.insert(RecordFolderId(node->llFolderId));
            }
        }
        if (type == SaveTypeOLM) {
            OLMSaving(olmFolderIds);
        } else {
            const qint64 writtenBefore = m_run->mail.written;
            saveRecoveredAttachments(type, mailFolders, m_run->mail, [this](qint64 n) { Q_EMIT moreSteps(n); });
            countWritten(FolderKindMail, m_run->mail.written - writtenBefore);
            if (type == SaveTypeRGE || type == SaveTypeMBOX)
                NoteStoresNotWhole(m_run->mail, WriterOutputFor(type, m_run->mail.saveDir, m_run->mail.strTime),
                                   kindsSaved);
        }
    }
    stopped = stopped || stopSeen;
    if (!stopped)
        moveContainer();
    finishRun(stopped);
}

void QMailSavingThread::countWritten(quint32 kind, qint64 written)
{
    SaveItemCounts &counts = m_run->writtenByKind;
    switch (kind) {
    case FolderKindContacts:
        counts.contacts += written;
        break;
    case FolderKindCalendar:
        counts.calendar += written;
        break;
    case FolderKindTasks:
        counts.tasks += written;
        break;
    case FolderKindNotes:
        counts.notes += written;
        break;
    default:
        counts.mails += written;
        break;
    }
}

void QMailSavingThread::saveFolder(SaveType type, qint64 folderId, quint32 kind, QString *olmFolderIds)
{
    // A kind's own "Folder1" stands for the records that carry the dummy folder id.
    const unsigned long long recordFolder = quint64(RecordFolderId(folderId));
    switch (type) {
    case SaveTypeOLM:
        switch (kind) {
        case FolderKindContacts:
            cont = true;
            break;
        case FolderKindCalendar:
            cal = true;
            break;
        case FolderKindTasks:
            task = true;
            break;
        case FolderKindNotes:
            note = true;
            break;
        default:
            *olmFolderIds += QString::number(recordFolder) + QLatin1Char(';');
            mail = true;
            break;
        }
        return;
    case SaveTypeRGE:
    case SaveTypeMBOX:
        appmaildata = type == SaveTypeMBOX;
        switch (kind) {
        case FolderKindContacts:
            OnContactSaving(recordFolder);
            break;
        case FolderKindCalendar:
            OnCalenderSaving(recordFolder);
            break;
        case FolderKindTasks:
            OnTaskSaving(recordFolder);
            break;
        case FolderKindNotes:
            OnNotesSaving(recordFolder);
            break;
        default:
            if (type == SaveTypeRGE)
                OnMailSaving(recordFolder);
            else
                SaveAsMBOX(recordFolder);
            break;
        }
        return;
    case SaveTypeEMLX:
    case SaveTypeEML:
    case SaveTypeHTML: {
        // Every checked folder goes to the message-file writer, which writes the messages of the
        // id it gets. A contacts, calendar, task or note folder keeps its own id, which no message
        // carries: its "Folder1" must not write the mail "Folder1" a second time.
        const bool mailKind = kind != FolderKindContacts && kind != FolderKindCalendar && kind != FolderKindTasks
            && kind != FolderKindNotes;
        const unsigned long long id = mailKind ? recordFolder : quint64(folderId);
        if (type == SaveTypeEMLX)
            SaveAsEMLX(id);
        else if (type == SaveTypeEML)
            SaveAsEML(id);
        else
            SaveAsHTML(id);
        return;
    }
    case SaveTypeInvalid:
        return;
    }
}

void QMailSavingThread::OnMailSaving(unsigned long long folderId)
{
    if (m_run)
        SaveMailFolder(folderId, RgePackageStyle(), m_run->mail);
}

void QMailSavingThread::SaveAsMBOX(unsigned long long folderId)
{
    if (m_run)
        SaveMailFolder(folderId, AppleMailStyle(), m_run->mail);
}

void QMailSavingThread::moveContainer()
{
    // No part of the program names a container, so this copies and removes nothing. Were one
    // named, it is removed only after a complete copy: a failed copy must not lose it.
    const bool moved = copyDir(strContainerPath, saveDir) && RemoveDir(strContainerPath);
    if (!strContainerPath.isEmpty() && !moved && m_run) {
        ++m_run->mail.failed;
        m_run->mail.failures << QStringLiteral("output folder %1 not moved to %2").arg(strContainerPath, saveDir);
    }
}

void QMailSavingThread::writeReport(SaveOutcome &result, SaveType type, const QString &saveDir, const QString &stamp)
{
    const QByteArray text = SaveReportText(result);
    if (text.isEmpty())
        return;
    const QString path = SaveReportPathFor(type, saveDir, stamp);
    QString written, error;
    if (!path.isEmpty() && WriteSaveReport(path, text, &written, &error)) {
        result.reportPath = written;
        return;
    }
    result.reportError = QStringLiteral("\"%1\": %2")
                             .arg(QDir::toNativeSeparators(written.isEmpty() ? path : written),
                                  error.isEmpty() ? QStringLiteral("no output folder") : error);
    qWarning().noquote() << "Report not written:" << result.reportError;
    // A window user never sees the lines on standard error: the report goes where it can be
    // written, and the finish message names that place.
    const QString spare = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (!spare.isEmpty()
        && WriteSaveReport(spare + QLatin1Char('/') + QString::fromLatin1(kSaveReportFileName).arg(stamp), text,
                           &written, &error))
        result.reportPath = written;
}

void QMailSavingThread::finishRun(bool stopped)
{
    SaveOutcome result;
    result.stopped = stopped;
    if (m_run) {
        result.items = m_run->ticks;
        result.written = m_run->mail.written;
        result.failed = m_run->mail.failed;
        result.incomplete = m_run->mail.incomplete;
        result.unreadEntries = m_run->mail.unreadEntries;
        result.copiedEntries = m_run->copiedEntries;
        result.failures = m_run->mail.failures;
        result.incompletes = m_run->mail.incompletes;
        result.unread = m_run->mail.unread;
        result.recovered = m_run->mail.recovered;
        result.removed = m_run->mail.removed;
        result.notWritten = m_run->notWritten;
        result.foldersNotSaved = m_run->foldersNotSaved;
        result.writtenByKind = m_run->writtenByKind;
        result.output = WriterOutputFor(nSaveType, m_run->mail.saveDir, m_run->mail.strTime);
        writeReport(result, nSaveType, m_run->mail.saveDir, m_run->mail.strTime);
    }
    m_run.reset();
    for (const QString &line : qAsConst(result.failures))
        qWarning().noquote() << "Not saved:" << line;
    for (const QString &line : qAsConst(result.incompletes))
        qWarning().noquote() << "Saved incomplete:" << line;
    for (const QString &line : qAsConst(result.unread))
        qWarning().noquote() << "Not read:" << line;
    for (const QString &line : qAsConst(result.recovered))
        qWarning().noquote() << "Recovered:" << line;
    for (const QString &line : qAsConst(result.removed))
        qWarning().noquote() << "Removed:" << line;
    for (const QString &what : qAsConst(result.notWritten))
        qWarning().noquote() << "Not written by this version:" << what;
    {
        std::lock_guard<std::mutex> lock(m_outcomeLock);
        m_outcome = result;
    }
    // Flags first: the window treats the finish signal as the end of the run.
    bStopFlag = false;
    bProcessRunning = false;
    if (!stopped)
        Q_EMIT OnFinishScanning();
}
