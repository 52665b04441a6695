#pragma once
// One attachment tile of the mail preview: a file-type icon, the attachment's name cut to fit
// and its size. The tile only reports the pointer and the button; the preview controller
// changes its picture and opens the attachment (browse/AttachmentTiles.h).

#include <QPushButton>

class QLabel;
class QVBoxLayout;

constexpr int kAttachmentTileWidth = 180;
constexpr int kLeastTileHeight = 35;

class MyButton1 : public QPushButton {
    Q_OBJECT
public:
    explicit MyButton1(QWidget *parent = nullptr);

    // Shows name cut at the right to the room beside the icon, and size as it is. Both are shown
    // as plain text, whatever markup they hold; the tile grows to their height as drawn.
    void setElidedText(const QString &name, const QString &size);

    QLabel *m_pIconLabel = nullptr;
    QVBoxLayout *m_pTextLayout = nullptr;
    QLabel *m_pNameLabel = nullptr;
    QLabel *m_pSizeLabel = nullptr;

Q_SIGNALS:
    void ChangePixmap();     // the pointer entered
    void OnUpdatePixmap();   // the pointer left
    void OnPressPixmap();    // the button went down
    void OnReleasePixmap();  // the button came up

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    // The second press of a double-click: the tile goes down again without another open.
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    // Moves stop at the tile, so a tile dragged off while down stays down until the release.
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
};
