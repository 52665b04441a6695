#include "browse/MyButton1.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>

namespace {

QLabel *tileLabel(QWidget *tile, const char *name, int pointSize, const QString &style)
{
    auto *label = new QLabel(tile);
    label->setObjectName(QLatin1String(name));
    // Attachment names come from the archive: never read as markup.
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    if (pointSize > 0)
        font.setPointSize(pointSize);
    label->setFont(font);
    label->setStyleSheet(style);
    return label;
}

}  // namespace

MyButton1::MyButton1(QWidget *parent) : QPushButton(parent)
{
    setAttribute(Qt::WA_MouseTracking);
    setCheckable(true);
    setMinimumHeight(kLeastTileHeight);
    setFixedWidth(kAttachmentTileWidth);

    const QString iconStyle = QStringLiteral("QLabel { background: transparent;  border: none; }");
    m_pIconLabel = tileLabel(this, "attachmentIcon", 0, iconStyle);
    m_pIconLabel->setFixedWidth(30);
    m_pNameLabel = tileLabel(this, "attachmentName", 11, iconStyle);
    m_pNameLabel->setFixedWidth(140);
    m_pSizeLabel =
        tileLabel(this, "attachmentSize", 10, QStringLiteral("QLabel { background: transparent; border: none; }"));
    m_pSizeLabel->setFixedWidth(140);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(1, 2, 0, 2);
    row->addWidget(m_pIconLabel);
    m_pTextLayout = new QVBoxLayout;
    m_pTextLayout->setSpacing(1);
    m_pTextLayout->addWidget(m_pNameLabel);
    m_pTextLayout->addWidget(m_pSizeLabel);
    row->addLayout(m_pTextLayout);
}

void MyButton1::setElidedText(const QString &name, const QString &size)
{
    const int room = width() - m_pIconLabel->width() - 10;
    m_pNameLabel->setText(m_pNameLabel->fontMetrics().elidedText(name, Qt::ElideRight, room));
    m_pSizeLabel->setText(size);
    // Both lines as tall as their texts as drawn (a name in a taller script gets a taller line),
    // and the tile as tall as they need.
    for (QLabel *label : {m_pNameLabel, m_pSizeLabel}) {
        label->ensurePolished();
        label->setFixedHeight(label->sizeHint().height());
    }
    setMinimumHeight(qMax(kLeastTileHeight, layout()->totalMinimumSize().height()));
}

void MyButton1::mousePressEvent(QMouseEvent *event)
{
    QPushButton::mousePressEvent(event);
    Q_EMIT OnPressPixmap();
}

void MyButton1::mouseReleaseEvent(QMouseEvent *event)
{
    QPushButton::mouseReleaseEvent(event);
    Q_EMIT OnReleasePixmap();
}

void MyButton1::mouseDoubleClickEvent(QMouseEvent *event)
{
    QPushButton::mousePressEvent(event);
}

void MyButton1::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void MyButton1::enterEvent(QEvent *event)
{
    QWidget::enterEvent(event);
    Q_EMIT ChangePixmap();
}

void MyButton1::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    Q_EMIT OnUpdatePixmap();
}
