#include "browse/FramelessDialog.h"

#include "browse/TextFit.h"
#include "platform/Edition.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>

FramelessDialog::FramelessDialog(QWidget *parent) : QDialog(parent)
{
}

FramelessDialog::~FramelessDialog() = default;

void FramelessDialog::SetFixedSizeWidget()
{
    m_childRects.clear();
    FillChildRects();
    setFixedSize(m_nWidth, m_nHeight);
    for (const ChildRect &child : qAsConst(m_childRects))
        child.widget->setGeometry(child.rect);
    // The rectangles are the least each child gets; texts set later are fitted when shown.
    KeepTextsFitting(this);
}

void FramelessDialog::FillChildRects()
{
    if (!m_formSize.isValid()) {
        m_formSize = size();
        for (QWidget *child : findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            m_formRects.append({child, child->geometry()});
    }
    m_nWidth = m_formSize.width();
    m_nHeight = m_formSize.height();
    m_childRects = m_formRects;
}

QString FramelessDialog::TranslatedEditionName(const char *context)
{
    return bforQConverterFO ? QCoreApplication::translate(context, "Tillomar")
                            : QCoreApplication::translate(context, "Corvask");
}

void FramelessDialog::MakeFrameless()
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
}

QString FramelessDialog::HoverButtonStyle()
{
    return QStringLiteral("QPushButton:enabled {border-image: url(:/images/all Small-2.png);}"
                          "QPushButton:hover { border-image: url(:/images/all Small-1.png);}"
                          "QPushButton:pressed { border-image: url(:/images/all Small-1.png);}");
}

QString FramelessDialog::PlainButtonStyle()
{
    return QStringLiteral("QPushButton:enabled {border-image: url(:/images/all Small-2.png);}"
                          "QPushButton:pressed { border-image: url(:/images/all Small-1.png);}");
}

QFont FramelessDialog::TitleFont(int pointSize)
{
    QFont font(QStringLiteral("Lucida Grande"), pointSize);
    font.setBold(false);
    font.setItalic(false);
    return font;
}

void FramelessDialog::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_bDragging = true;
    m_dragPosition = event->globalPos() - frameGeometry().topLeft();
    event->accept();
}

void FramelessDialog::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    move(event->globalPos() - m_dragPosition);
    event->accept();
}

void FramelessDialog::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_bDragging)
        return;
    move(pos() + event->pos() - m_dragPosition);
    m_dragPosition = event->pos();
    m_bDragging = false;
}

void FramelessDialog::keyPressEvent(QKeyEvent *event)
{
    // Escape would reject the dialog; only its own buttons may end it.
    if (event->key() == Qt::Key_Escape)
        return;
    QDialog::keyPressEvent(event);
}

void FramelessDialog::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        RestoreTexts();
        const auto buttons = findChildren<QPushButton *>();
        for (QPushButton *button : buttons) {
            QPalette palette = button->palette();
            palette.setBrush(QPalette::All, QPalette::ButtonText, QBrush(Qt::black));
            button->setPalette(palette);
        }
        SetFixedSizeWidget();
    }
    QDialog::changeEvent(event);
}
