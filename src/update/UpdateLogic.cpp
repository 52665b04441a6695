#include "update/UpdateLogic.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QStringList>

#include <algorithm>
#include <cstring>

QString BuiltInVersion()
{
    return QStringLiteral("3.0.0.0");
}

namespace {

// The number in the characters [from, from + count) of text; missing or invalid characters
// count 0.
int numberAt(const QString &text, int from, int count)
{
    if (from >= text.size())
        return 0;
    bool ok = false;
    const int value = text.mid(from, count).toInt(&ok, 10);
    return ok ? value : 0;
}

}  // namespace

VersionParts VersionComponents(const QString &text)
{
    const QStringList pieces = text.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const int firstLength = pieces.isEmpty() ? 0 : pieces.first().size();
    VersionParts parts;
    if (firstLength == 1 || firstLength == 2) {
        const int at = firstLength + 1;  // the first dot follows the major number
        parts.major = numberAt(text, 0, firstLength);
        parts.minor = numberAt(text, at, 1);
        parts.revision = numberAt(text, at + 2, 1);
        parts.build = numberAt(text, at + 4, 1);
    } else {
        parts.minor = parts.revision = parts.build = numberAt(text, 0, 1);
    }
    return parts;
}

int VersionValue(const QString &text)
{
    const VersionParts p = VersionComponents(text);
    return p.major * 1000 + p.minor * 100 + p.revision * 10 + p.build;
}

bool StoredVersionCovers(const QString &line, const QString &storedVNo)
{
    const QString stored = storedVNo.trimmed();
    return !stored.isEmpty() && line.contains(stored, Qt::CaseSensitive);
}

bool IsVersionText(const QString &line)
{
    const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    if (line.isEmpty() || !isDigit(line.front()))
        return false;
    return std::all_of(line.begin(), line.end(), [&](QChar c) { return isDigit(c) || c == QLatin1Char('.'); });
}

UpdateOutcome DecideUpdate(const QString &line, const QString &storedVNo)
{
    // Checked first: a page that merely contains the stored version is still no version text.
    if (!IsVersionText(line))
        return UpdateOutcome::NotAVersion;
    if (StoredVersionCovers(line, storedVNo))
        return UpdateOutcome::AlreadyCurrent;
    // Compared as unsigned: a negative value from a leading "-" is not "older".
    if (quint32(VersionValue(BuiltInVersion())) > quint32(VersionValue(line)))
        return UpdateOutcome::Older;
    if (line.compare(BuiltInVersion(), Qt::CaseInsensitive) == 0)
        return UpdateOutcome::Same;
    const VersionParts offered = VersionComponents(line);
    const VersionParts ours = VersionComponents(BuiltInVersion());
    if (offered.major > ours.major)
        return UpdateOutcome::OfferMajor;
    if (offered.minor > ours.minor || offered.revision > ours.revision || offered.build > ours.build)
        return UpdateOutcome::OfferMinor;
    return UpdateOutcome::NoGreater;
}

void FillUpdateRows(char rows[3][32], bool major, const QString &version)
{
    const QByteArray texts[3] = {
        major ? QByteArrayLiteral("Major") : QByteArrayLiteral("Minor"),
        version.toLatin1(),  // characters outside Latin-1 become '?'
        major ? QByteArrayLiteral("Major Update") : QByteArrayLiteral("Minor Update"),
    };
    for (int i = 0; i < 3; ++i) {
        std::memset(rows[i], 0, sizeof rows[i]);
        qstrncpy(rows[i], texts[i].constData(), sizeof rows[i]);
    }
}

QString UpdateRowText(const char row[32])
{
    return QString::fromLatin1(row, int(qstrnlen(row, 32)));
}

QPoint CentredAbove(QSize desktop, QSize window)
{
    return QPoint((desktop.width() - window.width()) / 2, (desktop.height() - window.height()) / 2 - 50);
}

QPoint KeptOnScreen(const QRect &available, QPoint at, QSize window)
{
    const int x = qMax(available.left(), qMin(at.x(), available.right() + 1 - window.width()));
    const int y = qMax(available.top(), qMin(at.y(), available.bottom() + 1 - window.height()));
    return QPoint(x, y);
}

QString ShownMessage(const QString &message)
{
    constexpr int kMaxChars = 300;
    constexpr int kMaxWord = 20;
    QString text = message;
    if (text.size() > kMaxChars)
        text = text.left(kMaxChars / 2) + QChar(0x2026) + text.right(kMaxChars / 2);
    QString shown;
    int word = 0;
    for (const QChar c : qAsConst(text)) {
        word = c.isSpace() ? 0 : word + 1;
        if (word > kMaxWord) {
            shown += QChar(0x200B);  // zero-width space: a line may break here
            word = 1;
        }
        shown += c;
    }
    return shown;
}

bool IsAllowedUpdateUrl(const QUrl &url)
{
    if (!url.isValid() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return true;
    if (scheme != QLatin1String("http"))
        return false;
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

DownloadProgressTexts ProgressTexts(qint64 received, qint64 total, qint64 elapsedMs)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("QDownloadApp", text); };
    const qint64 seconds = elapsedMs / 1000;
    DownloadProgressTexts texts;
    texts.elapsed = tr("Time Elapsed: ") + QString::number(seconds) + tr(" sec ") + QLatin1Char('(')
        + QString::number(received / 1048576.0, 'f', 2) + tr(" MB of  ") + QString::number(total / 1048576.0, 'f', 2)
        + tr(" MB copied) ");
    if (seconds <= 0)
        return texts;
    const qint64 rate = (received / 1048576) * 1024 / seconds;  // whole megabytes, as always shown
    if (rate > 0)
        texts.rate = tr("Transfer Rate: ") + QString::number(rate) + tr(" KB/sec ");
    return texts;
}

ProgressBarState ProgressBarFor(qint64 received, qint64 total)
{
    if (total <= 0)
        return {};
    return {1000, int(qBound<qint64>(0, received, total) * 1000 / total)};
}
