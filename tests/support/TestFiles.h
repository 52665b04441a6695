#pragma once
// Files the tests write: a picture's PNG bytes, an archive put where a test opens it.

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QString>

inline QByteArray PngOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A square picture of one colour.
inline QByteArray PngOf(int side, Qt::GlobalColor colour)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(colour);
    return PngOf(image);
}

// Writes bytes to path, replacing what stood there; false when the file could not be written whole.
inline bool WriteTestFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() && f.flush();
}
