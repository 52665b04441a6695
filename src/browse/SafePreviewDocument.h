#pragma once
// A text document for archive text shown as rich text. Archive HTML may name any local file in
// <img src> or a style sheet link; the toolkit would read such a file (a device or a pipe could
// even block the window). This document hands out only the program's own ":/" resources and
// inline data: pictures; pictures added with addResource (cid: parts) are found before it is
// asked. Its pictures are drawn from those resources only: the toolkit's own picture handler
// would open a plain path itself when the resource comes back empty.

#include <QImage>
#include <QTextDocument>

class QTextEdit;

// Pictures of up to this many pixels are decoded whole; larger ones are decoded scaled down to
// it where their format can be read so, and not at all where not.
constexpr qint64 kMaxPreviewPicturePixels = qint64(4096) * 4096;
// What one document's decoded pictures may take in all; pictures past it are not shown.
constexpr qint64 kMaxPreviewPicturesBytes = qint64(256) * 1024 * 1024;

// A picture's bytes decoded within the pixel bound and within room bytes; null when it cannot
// be, or does not tell its size in its header. Runs on any thread.
QImage DecodePreviewPicture(QByteArray bytes, qint64 room);

class SafePreviewDocument : public QTextDocument {
    Q_OBJECT
public:
    explicit SafePreviewDocument(QObject *parent = nullptr);

    // Whether a resource of that name may be loaded at all.
    static bool IsAllowedResource(const QUrl &name);
    // Takes bytes from what the document's pictures may still take; false when they do not fit.
    bool TakePictureRoom(qint64 bytes);
    qint64 PictureRoom() const { return m_pictureRoom; }

    // Empties the document; one that was showing a handed-over twin (HandOverLaidOut) lays itself
    // out again from then on.
    void clear() override;

protected:
    // A data: picture is decoded once, here, within the bounds, and kept decoded: the view draws
    // and lays it out again without decoding it.
    QVariant loadResource(int type, const QUrl &name) override;

private:
    qint64 m_pictureRoom = kMaxPreviewPicturesBytes;
};

// Makes shown show twin, a document of the same content already laid out (on a worker), without
// laying shown out: shown draws and measures through twin, and twin alone is laid out again, for a
// new width. shown takes twin over. A change of shown's content makes a new twin of it.
void HandOverLaidOut(QTextDocument *shown, QTextDocument *twin);

// Gives the view a SafePreviewDocument of its own, unless it already has one; its earlier
// document stays its child. Returns the view's document.
QTextDocument *UseSafePreviewDocument(QTextEdit *view);
