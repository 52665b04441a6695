#include "save/pim/ContactPhoto.h"

#include "save/MessageFields.h"

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isBase64Char(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

QByteArray pictureType(const QByteArray &head)
{
    if (head.startsWith("\x89PNG\r\n\x1a\n"))
        return "PNG";
    if (head.startsWith("\xFF\xD8\xFF"))
        return "JPEG";
    if (head.startsWith("GIF87a") || head.startsWith("GIF89a"))
        return "GIF";
    if (head.startsWith("BM"))
        return "BMP";
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return "TIFF";
    return QByteArray();
}

// Checks the stored text group by group and gathers its characters without blanks; decoded
// and encoded again in whole groups, whose bytes (a multiple of 3 but at the end) join into one
// text.
class Base64Check {
public:
    bool take(const QByteArray &raw)
    {
        for (const char c : raw) {
            if (isBlank(c))
                continue;
            const int place = int(m_count % 4);
            if (c == '=') {
                // Padding fills the last group from its third character on.
                if (m_ended || place < 2)
                    return false;
                m_padding = true;
            } else if (m_padding || m_ended || !isBase64Char(c)) {
                return false;
            }
            m_clean += c;
            ++m_count;
            if (m_padding && m_count % 4 == 0)
                m_ended = true;
        }
        if (m_clean.size() >= 4 * 65536)
            flush();
        return true;
    }
    bool finish(QByteArray *base64, QByteArray *head)
    {
        flush();
        *base64 = m_out;
        *head = m_head;
        return m_count % 4 == 0 && !m_out.isEmpty();
    }

private:
    void flush()
    {
        const int whole = m_clean.size() / 4 * 4;
        const QByteArray bytes = QByteArray::fromBase64(m_clean.left(whole));
        if (m_head.size() < 16)
            m_head += bytes.left(16 - m_head.size());
        m_out += bytes.toBase64();
        m_clean.remove(0, whole);
    }

    QByteArray m_clean, m_out, m_head;
    qint64 m_count = 0;
    bool m_padding = false, m_ended = false;
};

}  // namespace

ContactPhoto ReadContactPhoto(qint64 offset, qint64 length, const ArchiveReader &read, qint64 chunkBytes)
{
    ContactPhoto photo;
    if (length <= 0)
        return photo;
    if (length > kMaxArchiveTextRead) {
        photo.problem = QStringLiteral("its picture is too large to save");
        return photo;
    }
    Base64Check check;
    for (qint64 done = 0; done < length;) {
        const qint64 n = qMin(qMax<qint64>(chunkBytes, 1), length - done);
        const QByteArray raw = read(offset + done, n);
        if (raw.size() != n) {
            photo.problem = QStringLiteral("its picture can no longer be read from the archive");
            return photo;
        }
        if (!check.take(raw)) {
            photo.problem = QStringLiteral("its picture is not readable base64 data");
            return photo;
        }
        done += n;
    }
    QByteArray head;
    if (!check.finish(&photo.base64, &head)) {
        photo.base64.clear();
        photo.problem = QStringLiteral("its picture is not readable base64 data");
        return photo;
    }
    photo.type = pictureType(head);
    return photo;
}

QByteArray PhotoProperty(const ContactPhoto &photo)
{
    QByteArray name = "PHOTO;ENCODING=b";
    if (!photo.type.isEmpty())
        name += ";TYPE=" + photo.type;
    return name;
}
