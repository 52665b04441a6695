#include "browse/SafePreviewDocument.h"

#include <QAbstractTextDocumentLayout>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTextEdit>
#include <QTextFormat>
#include <QTextObjectInterface>
#include <QUrl>

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

}  // namespace

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
    return QTextDocument::loadResource(type, name);
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
