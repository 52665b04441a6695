#include "browse/SafePreviewDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTextFormat>
#include <QTextFrame>
#include <QTextObjectInterface>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <cmath>

namespace {

// Draws <img> objects from the document's resources, never from a file of its own choosing.
class ResourceImageHandler : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    explicit ResourceImageHandler(QObject *parent) : QObject(parent) {}

    QSizeF intrinsicSize(QTextDocument *doc, int posInDocument, const QTextFormat &format) override
    {
        Q_UNUSED(posInDocument);
        const QTextImageFormat f = format.toImageFormat();
        const QImage image = imageOf(doc, f);
        QSizeF size(f.width(), f.height());
        if (image.isNull())
            return QSizeF(qMax(size.width(), 0.0), qMax(size.height(), 0.0));
        // A missing side keeps the picture's proportions.
        if (size.width() > 0 && size.height() <= 0)
            size.setHeight(image.height() * size.width() / qMax(1, image.width()));
        else if (size.height() > 0 && size.width() <= 0)
            size.setWidth(image.width() * size.height() / qMax(1, image.height()));
        else if (size.width() <= 0)
            size = image.size();
        // A picture wider than the page is shown at the page's width: the toolkit gives the line
        // before such a picture the picture's height, which left the pane blank above it.
        const qreal page = doc->pageSize().width() - 2 * doc->documentMargin();
        if (page > 0 && size.width() > page)
            size = QSizeF(page, size.height() * page / size.width());
        return size;
    }

    void drawObject(QPainter *painter, const QRectF &rect, QTextDocument *doc, int posInDocument,
                    const QTextFormat &format) override
    {
        Q_UNUSED(posInDocument);
        const QImage image = imageOf(doc, format.toImageFormat());
        if (!image.isNull())
            painter->drawImage(rect, image);
    }

private:
    static QImage imageOf(QTextDocument *doc, const QTextImageFormat &format)
    {
        QString name = format.name();
        if (name.startsWith(QLatin1String(":/")))
            name.prepend(QLatin1String("qrc"));
        const QVariant data = doc->resource(QTextDocument::ImageResource, QUrl(name));
        switch (data.userType()) {
        case QMetaType::QImage:
            return qvariant_cast<QImage>(data);
        case QMetaType::QPixmap:
            return qvariant_cast<QPixmap>(data).toImage();
        case QMetaType::QByteArray:
            return QImage::fromData(data.toByteArray());
        default:
            return QImage();
        }
    }
};

// The bytes a data: address carries ("data:[type][;base64],payload"); empty when it is no such
// address.
QByteArray dataAddressBytes(const QUrl &name)
{
    const QByteArray address = name.toEncoded();
    const int comma = address.indexOf(',');
    if (comma < 0)
        return QByteArray();
    const QByteArray payload = QByteArray::fromPercentEncoding(address.mid(comma + 1));
    return address.left(comma).endsWith(";base64") ? QByteArray::fromBase64(payload) : payload;
}

// Copies the pictures shown names from what from holds, so both draw the same.
void copyPictures(const QTextDocument *from, QTextDocument *to)
{
    for (QTextBlock block = to->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QUrl name(format.toImageFormat().name());
            const QVariant picture = from->resource(QTextDocument::ImageResource, name);
            if (picture.isValid())
                to->addResource(QTextDocument::ImageResource, name, picture);
        }
    }
}

// The layout of a document shown through a twin laid out elsewhere: every question is answered
// by the twin's layout, at the same positions, since both hold the same content.
class TwinLayout : public QAbstractTextDocumentLayout {
public:
    TwinLayout(QTextDocument *shown, QTextDocument *twin) : QAbstractTextDocumentLayout(shown) { adopt(twin); }

    void draw(QPainter *painter, const PaintContext &context) override { twinLayout()->draw(painter, context); }
    int hitTest(const QPointF &point, Qt::HitTestAccuracy accuracy) const override
    {
        return twinLayout()->hitTest(point, accuracy);
    }
    int pageCount() const override { return twinLayout()->pageCount(); }
    QSizeF documentSize() const override { return twinLayout()->documentSize(); }
    QRectF frameBoundingRect(QTextFrame *frame) const override
    {
        return twinLayout()->frameBoundingRect(twinFrame(frame));
    }
    QRectF blockBoundingRect(const QTextBlock &block) const override
    {
        return twinLayout()->blockBoundingRect(m_twin->findBlock(block.position()));
    }

protected:
    void documentChanged(int from, int oldLength, int length) override
    {
        QTextDocument *shown = document();
        if (from == 0 && oldLength == 0 && length == shown->characterCount() && length == m_length) {
            // The same content at a new page size: only the twin is laid out again, if at all, once
            // the view has settled on a width (it tries several as it takes a document over).
            m_wanted = shown->pageSize();
            if (m_wanted.width() > 0 && !m_relayoutPending && QThread::currentThread() == thread()) {
                m_relayoutPending = true;
                QTimer::singleShot(0, this, [this] {
                    m_relayoutPending = false;
                    if (m_wanted.width() > 0 && m_twin->pageSize() != m_wanted)
                        m_twin->setPageSize(m_wanted);
                });
            }
            return;
        }
        // New content: a new twin of it.
        auto *twin = new SafePreviewDocument;
        twin->setUndoRedoEnabled(false);
        twin->setDefaultFont(shown->defaultFont());
        twin->setDefaultTextOption(shown->defaultTextOption());
        twin->setDocumentMargin(shown->documentMargin());
        QTextCursor(twin).insertFragment(QTextDocumentFragment(shown));
        copyPictures(shown, twin);
        twin->setPageSize(shown->pageSize());
        delete m_twin;
        adopt(twin);
        emit documentSizeChanged(documentSize());
        emit update();
    }

private:
    QAbstractTextDocumentLayout *twinLayout() const { return m_twin->documentLayout(); }

    void adopt(QTextDocument *twin)
    {
        m_twin = twin;
        m_length = document()->characterCount();
        twin->setParent(this);
        QAbstractTextDocumentLayout *layout = twin->documentLayout();
        connect(layout, &QAbstractTextDocumentLayout::update, this, &QAbstractTextDocumentLayout::update);
        connect(layout, &QAbstractTextDocumentLayout::documentSizeChanged, this,
                &QAbstractTextDocumentLayout::documentSizeChanged);
        connect(layout, &QAbstractTextDocumentLayout::pageCountChanged, this,
                &QAbstractTextDocumentLayout::pageCountChanged);
    }

    // The twin's frame at the same place: the innermost one there that spans the same positions.
    QTextFrame *twinFrame(QTextFrame *frame) const
    {
        if (!frame || frame == document()->rootFrame())
            return m_twin->rootFrame();
        for (QTextFrame *twin = m_twin->frameAt(frame->firstPosition()); twin; twin = twin->parentFrame()) {
            if (twin->firstPosition() == frame->firstPosition() && twin->lastPosition() == frame->lastPosition())
                return twin;
        }
        return m_twin->rootFrame();
    }

    QTextDocument *m_twin = nullptr;
    int m_length = 0;
    QSizeF m_wanted;
    bool m_relayoutPending = false;
};

}  // namespace

void HandOverLaidOut(QTextDocument *shown, QTextDocument *twin)
{
    shown->setDocumentLayout(new TwinLayout(shown, twin));
}

void SafePreviewDocument::clear()
{
    QTextDocument::clear();
    // Laid out by the toolkit again, with this document's own picture handler.
    if (dynamic_cast<TwinLayout *>(documentLayout())) {
        setDocumentLayout(nullptr);
        documentLayout()->registerHandler(QTextFormat::ImageObject, new ResourceImageHandler(this));
    }
}

QImage DecodePreviewPicture(QByteArray bytes, qint64 room)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // The header tells the decoded size: a small file may claim a huge picture, and a picture
    // that does not tell is not decoded.
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty())
        return QImage();
    const qint64 pixels = qint64(size.width()) * size.height();
    QSize shown = size;
    if (pixels > kMaxPreviewPicturePixels) {
        // Larger pictures are decoded scaled, where their reader can do so row by row.
        if (!reader.supportsOption(QImageIOHandler::ScaledSize))
            return QImage();
        const double factor = std::sqrt(double(kMaxPreviewPicturePixels) / double(pixels));
        shown = QSize(qMax(1, int(size.width() * factor)), qMax(1, int(size.height() * factor)));
        reader.setScaledSize(shown);
    }
    if (qint64(shown.width()) * shown.height() * 4 > room)
        return QImage();
    const QImage picture = reader.read();
    return picture.sizeInBytes() > room ? QImage() : picture;
}

SafePreviewDocument::SafePreviewDocument(QObject *parent) : QTextDocument(parent)
{
    documentLayout()->registerHandler(QTextFormat::ImageObject, new ResourceImageHandler(this));
}

bool SafePreviewDocument::IsAllowedResource(const QUrl &name)
{
    const QString scheme = name.scheme().toLower();
    if (scheme == QLatin1String("qrc") || scheme == QLatin1String("data"))
        return true;
    return scheme.isEmpty() && name.path().startsWith(QLatin1String(":/"));
}

QVariant SafePreviewDocument::loadResource(int type, const QUrl &name)
{
    if (!IsAllowedResource(name))
        return QVariant();
    if (type == ImageResource && name.scheme().compare(QLatin1String("data"), Qt::CaseInsensitive) == 0) {
        const QImage picture = DecodePreviewPicture(dataAddressBytes(name), m_pictureRoom);
        m_pictureRoom -= picture.sizeInBytes();
        // Kept as found, a picture that could not be decoded too: it is not tried again.
        addResource(type, name, picture);
        return picture;
    }
    return QTextDocument::loadResource(type, name);
}

bool SafePreviewDocument::TakePictureRoom(qint64 bytes)
{
    if (bytes > m_pictureRoom)
        return false;
    m_pictureRoom -= bytes;
    return true;
}

QTextDocument *UseSafePreviewDocument(QTextEdit *view)
{
    if (!qobject_cast<SafePreviewDocument *>(view->document())) {
        // The view as parent: ":/" names are resolved by the view's own loader.
        view->setDocument(new SafePreviewDocument(view));
    }
    return view->document();
}

#include "SafePreviewDocument.moc"
