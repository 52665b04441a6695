#pragma once
// A contact's picture as a vCard PHOTO line. The archive keeps it as base64 text (folded, maybe
// with blanks); it is read in chunks, checked and encoded again, so a damaged picture is named
// rather than written as bytes no reader can show.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

struct ContactPhoto {
    QByteArray base64;  // the picture's bytes in base64, without breaks; empty when none is usable
    QByteArray type;    // "PNG", "JPEG", "GIF", "BMP", "TIFF", or empty when not known
    QString problem;    // why a stored picture is not written; empty when it is or none is stored
};

// Gives the archive bytes [offset, offset + length); fewer when they can no longer be read.
using ArchiveReader = std::function<QByteArray(qint64 offset, qint64 length)>;

// Reads the picture text at offset in chunks of about chunkBytes. No stored text (length 0)
// gives an empty photo without a problem.
ContactPhoto ReadContactPhoto(qint64 offset, qint64 length, const ArchiveReader &read,
                              qint64 chunkBytes = qint64(1) << 20);

// The PHOTO property name with its parameters ("PHOTO;ENCODING=b;TYPE=PNG").
QByteArray PhotoProperty(const ContactPhoto &photo);
