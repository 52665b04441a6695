#include "save/AttachmentIndex.h"

#include "save/MessageFields.h"
#include "scanner/ArchiveWalk.h"
#include "scanner/ScanGlobals.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// Entries looked at per third of a name: a larger group of names that share all but one third
// cannot tell a damaged name apart, and the look stays bounded.
constexpr size_t kNearLooked = 64;
// Damaged names' tails compared with a lost attachment's own part, and the fewest bytes of it a
// tail must hold: its number, an id's domain and part of the id itself.
constexpr int kTailsCompared = 4096;
constexpr int kShortestTail = 24;
// Field bytes a tail may start with: each reads as an id's character about one time in four, so
// more than a few before the tail are another name's.
constexpr int kFieldBytes = 8;
// Bytes of a folder's part that may differ where the own part holds the message's id and number.
constexpr int kFlippedBytes = 8;

const QByteArray kAttachmentsDir("com.microsoft.__Attachments/");

int commonSuffix(const QByteArray &a, const QByteArray &b)
{
    int n = 0;
    while (n < a.size() && n < b.size() && a[a.size() - 1 - n] == b[b.size() - 1 - n])
        ++n;
    return n;
}

// The name less its part-th third, hashed with its length and that part: two names of one length
// that differ in one byte share the hash of the third that holds it.
quint64 thirdLeftOut(const QByteArray &name, int part)
{
    const int n = name.size();
    const int from = n * part / 3, to = n * (part + 1) / 3;
    quint64 h = 14695981039346656037ull ^ (quint64(n) << 2 | quint64(part));
    const auto add = [&h, &name](int a, int b) {
        for (int i = a; i < b; ++i)
            h = (h ^ uchar(name[i])) * 1099511628211ull;
    };
    add(0, from);
    add(to, n);
    return h;
}

// A list's size is written with a few digits ("5.0614E4"): it agrees within its rounding. The
// exporter lists either the bytes or their size in base64 lines (72 or 76 characters, ended by
// one or two bytes).
bool sizeAgrees(const QString &listed, qint64 size)
{
    bool ok = false;
    const double value = listed.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0)
        return true;
    const auto near = [value](double bytes) { return std::fabs(value - bytes) <= 1 + value * 1e-4; };
    const double encoded = double((size + 2) / 3 * 4);
    return near(double(size)) || near(encoded * 73 / 72) || near(encoded * 74 / 72) || near(encoded * 77 / 76)
        || near(encoded * 78 / 76);
}

// Where two names of one length differ: -1 when in more than most places.
int bytesApart(const QByteArray &a, const QByteArray &b, int most)
{
    if (a.size() != b.size())
        return -1;
    int differ = 0;
    for (int i = 0; i < a.size() && differ <= most; ++i)
        differ += a[i] != b[i];
    return differ <= most ? differ : -1;
}

// Two names that differ in one run of at most most bytes, which may be longer or shorter in one of
// them (bytes lost from or put into a header's name): their common head and tail leave no more.
bool oneRunApart(const QByteArray &a, const QByteArray &b, int most)
{
    const int shorter = int(qMin(a.size(), b.size())), longer = int(qMax(a.size(), b.size()));
    if (longer - shorter > most)
        return false;
    int head = 0;
    while (head < shorter && a[head] == b[head])
        ++head;
    const int tail = qMin(commonSuffix(a, b), shorter - head);
    return longer - head - tail <= most;
}

// An attachment name's own part, the message's id and number ("<id>_NNNN" after its last "/"):
// empty when the name ends otherwise.
QByteArray numberedOwnPart(const QByteArray &name)
{
    const QByteArray own = name.mid(name.lastIndexOf('/') + 1);
    const int underscore = own.lastIndexOf('_');
    return underscore >= 1 && olm::attachmentNumbered(own, underscore) ? own : QByteArray();
}

}  // namespace

struct AttachmentIndex::NearNames {
    std::once_flag made;
    std::vector<std::pair<quint64, const FileOffsetNode *>> thirds;  // sorted by hash
    // Attachment entries by their own part: the message's id and number.
    QHash<QByteArray, QVector<const FileOffsetNode *>> byOwnPart;
    // Entries whose names name no message's attachment, by their names' lengths.
    QHash<int, QVector<const FileOffsetNode *>> ownerlessByLength;
};

QByteArray EntryNameKey(const QByteArray &name)
{
    // Nearly every name is already in this form: it is returned shared, not built again.
    if (!name.startsWith('/') && !name.startsWith("./") && !name.contains("//") && !name.contains("/./"))
        return name;
    QByteArray key;
    key.reserve(name.size());
    for (const QByteArray &part : name.split('/')) {
        if (part.isEmpty() || part == ".")
            continue;
        key += (key.isEmpty() ? "" : "/") + part;
    }
    // A folder entry keeps its closing slash.
    return name.endsWith('/') && !key.isEmpty() ? key + '/' : key;
}

QByteArray AttachmentOwnerKey(const QByteArray &entryName)
{
    const QByteArray key = EntryNameKey(entryName);
    const int dir = key.lastIndexOf(kAttachmentsDir);
    const int underscore = key.lastIndexOf('_');
    if (dir < 0 || key.indexOf('/', dir + kAttachmentsDir.size()) >= 0 || underscore <= dir + kAttachmentsDir.size()
        || !olm::attachmentNumbered(key, underscore))
        return QByteArray();
    return key.left(underscore);
}

void AttachmentIndex::build(const FileOffsetNode *head)
{
    m_byName.clear();
    m_byOwner.clear();
    m_byTail.clear();
    m_near = std::make_shared<NearNames>();
    for (const FileOffsetNode *node = head; node; node = node->pNext) {
        if (!node->pEntryName || !*node->pEntryName)
            continue;
        const QByteArray name = EntryNameKey(QByteArray(node->pEntryName));
        if (!name.startsWith("Local/") && !name.startsWith("Accounts/"))
            m_byTail[name.mid(name.lastIndexOf('/') + 1)].append(node);
        // A copy cut at the next entry (stray bytes that hold an earlier copy of the entry) gives
        // way to one of its whole size.
        const FileOffsetNode *&kept = m_byName[name];
        if (kept && !(kept->bSizeCut && !node->bSizeCut))
            continue;
        const QByteArray owner = AttachmentOwnerKey(name);
        if (!owner.isEmpty()) {
            QVector<const FileOffsetNode *> &nodes = m_byOwner[owner];
            const int at = kept ? nodes.indexOf(kept) : -1;
            if (at >= 0)
                nodes[at] = node;
            else
                nodes.append(node);
        }
        kept = node;
    }
    // "_0000" before "_0001": the order the message listed them in. Names of one owner differ
    // only in their numbers, compared as text of one length.
    for (QVector<const FileOffsetNode *> &nodes : m_byOwner) {
        std::stable_sort(nodes.begin(), nodes.end(), [](const FileOffsetNode *a, const FileOffsetNode *b) {
            const QByteArray x = EntryNameKey(a->pEntryName), y = EntryNameKey(b->pEntryName);
            return x.size() != y.size() ? x.size() < y.size() : x < y;
        });
    }
}

const FileOffsetNode *AttachmentIndex::find(const QString &url) const
{
    if (url.isEmpty())
        return nullptr;
    return m_byName.value(EntryNameKey(url.toUtf8()), nullptr);
}

const FileOffsetNode *AttachmentIndex::find(const AttachmentInfo &attachment) const
{
    return attachment.entry ? attachment.entry : find(attachment.url);
}

QVector<const FileOffsetNode *> AttachmentIndex::namedAfter(const QByteArray &messageEntry,
                                                            const QByteArray &messageId) const
{
    const QByteArray key = EntryNameKey(messageEntry);
    const int slash = key.lastIndexOf('/');
    if (slash < 0 || messageId.isEmpty() || messageId.contains('/'))
        return {};
    return m_byOwner.value(key.left(slash + 1) + kAttachmentsDir + messageId);
}

const FileOffsetNode *AttachmentIndex::nearName(const QString &url, const QString &listedSize,
                                                const QSet<QByteArray> &listed) const
{
    const QByteArray key = EntryNameKey(url.toUtf8());
    if (key.size() < 3 || !m_near || m_byName.contains(key))
        return nullptr;
    NearNames &near = nearNames();
    const FileOffsetNode *found = nullptr;
    for (int part = 0; part < 3; ++part) {
        const auto range = std::equal_range(near.thirds.begin(), near.thirds.end(),
                                            std::make_pair(thirdLeftOut(key, part), (const FileOffsetNode *)nullptr),
                                            [](const auto &a, const auto &b) { return a.first < b.first; });
        if (size_t(range.second - range.first) > kNearLooked)
            return nullptr;
        for (auto it = range.first; it != range.second; ++it) {
            const FileOffsetNode *node = it->second;
            const QByteArray name = EntryNameKey(QByteArray(node->pEntryName));
            if (node == found || listed.contains(name) || bytesApart(name, key, 1) != 1
                || (!listedSize.isEmpty() && !sizeAgrees(listedSize, node->llSize)))
                continue;
            // Two entries that near: which one the message meant is not known.
            if (found)
                return nullptr;
            found = node;
        }
    }
    if (found)
        return found;
    // A byte of the name turned NUL: the entry is listed under the name up to there.
    for (int cut = key.size() - 1; cut > key.indexOf('/'); --cut) {
        const FileOffsetNode *node = m_byName.value(key.left(cut), nullptr);
        if (!node || listed.contains(key.left(cut)) || (!listedSize.isEmpty() && !sizeAgrees(listedSize, node->llSize)))
            continue;
        if (found)
            return nullptr;
        found = node;
    }
    return found;
}

AttachmentIndex::NearNames &AttachmentIndex::nearNames() const
{
    NearNames &near = *m_near;
    std::call_once(near.made, [this, &near] {
        near.thirds.reserve(size_t(m_byName.size()) * 3);
        for (auto it = m_byName.cbegin(); it != m_byName.cend(); ++it) {
            for (int part = 0; part < 3; ++part)
                near.thirds.emplace_back(thirdLeftOut(it.key(), part), it.value());
            const QByteArray own = numberedOwnPart(it.key());
            if (!own.isEmpty())
                near.byOwnPart[own].append(it.value());
            if (AttachmentOwnerKey(it.key()).isEmpty())
                near.ownerlessByLength[it.key().size()].append(it.value());
        }
        std::sort(near.thirds.begin(), near.thirds.end());
    });
    return near;
}

const FileOffsetNode *AttachmentIndex::folderDamaged(const QString &url, const QSet<QByteArray> &listed) const
{
    const QByteArray key = EntryNameKey(url.toUtf8());
    const QByteArray own = numberedOwnPart(key);
    if (!m_near || own.isEmpty() || m_byName.contains(key))
        return nullptr;
    const FileOffsetNode *found = nullptr;
    for (const FileOffsetNode *node : nearNames().byOwnPart.value(own)) {
        const QByteArray name = EntryNameKey(QByteArray(node->pEntryName));
        // Bits flipped in the folder's part only, or a few of its bytes lost or put in: the own
        // part names the message.
        if (node == found || listed.contains(name) || name == key
            || (bytesApart(name, key, kFlippedBytes) <= 0 && !oneRunApart(name, key, kFlippedBytes)))
            continue;
        if (found)
            return nullptr;
        found = node;
    }
    return found;
}

const FileOffsetNode *AttachmentIndex::scatteredFlips(const QString &url, const QSet<QByteArray> &listed) const
{
    const QByteArray key = EntryNameKey(url.toUtf8());
    if (!m_near || numberedOwnPart(key).isEmpty() || m_byName.contains(key))
        return nullptr;
    const QVector<const FileOffsetNode *> nodes = nearNames().ownerlessByLength.value(key.size());
    // Many such names of one length cannot tell a damaged one apart, and the look stays bounded.
    if (size_t(nodes.size()) > kNearLooked)
        return nullptr;
    const FileOffsetNode *found = nullptr;
    for (const FileOffsetNode *node : nodes) {
        const QByteArray name = EntryNameKey(QByteArray(node->pEntryName));
        if (listed.contains(name) || bytesApart(name, key, kFlippedBytes) <= 0)
            continue;
        if (found)
            return nullptr;
        found = node;
    }
    return found;
}

const FileOffsetNode *AttachmentIndex::nameTail(const QString &url, const QSet<QByteArray> &listed) const
{
    const QByteArray key = EntryNameKey(url.toUtf8());
    const QByteArray own = key.mid(key.lastIndexOf('/') + 1);
    const int underscore = own.lastIndexOf('_');
    // Only an attachment's own numbered part is the message's alone.
    if (m_byTail.isEmpty() || underscore < 1 || !olm::attachmentNumbered(own, underscore) || m_byName.contains(key))
        return nullptr;
    // The own part whole, else its tail where the loss reached into it: long enough to hold
    // more of the id than its number and domain. Few names are damaged, and only so many are
    // compared with each lost attachment.
    QVector<const FileOffsetNode *> candidates = m_byTail.value(own);
    if (candidates.isEmpty() && m_byTail.size() <= kTailsCompared) {
        for (auto it = m_byTail.cbegin(); it != m_byTail.cend(); ++it) {
            // Field bytes that happen to be an id's characters may stand before the tail.
            const int same = commonSuffix(own, it.key());
            if (same >= kShortestTail && it.key().size() - same <= kFieldBytes)
                candidates += it.value();
        }
    }
    const FileOffsetNode *found = nullptr;
    for (const FileOffsetNode *node : qAsConst(candidates)) {
        const QByteArray name = EntryNameKey(QByteArray(node->pEntryName));
        if (node == found || listed.contains(name))
            continue;
        if (found)
            return nullptr;
        found = node;
    }
    return found;
}
