#pragma once
// What the program's own dialogs share: no system title bar (they draw their own), dragging with
// the left mouse button, the Escape key swallowed, and a fixed size with every child placed at a
// fixed rectangle, re-applied with the texts when the language changes. Size and rectangles come
// from the dialog's form (its .ui file); a dialog built otherwise gives its own table. They are
// the minimum: the dialog and its children grow until every text fits at the fonts in use.

#include <QDialog>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QVector>

class FramelessDialog : public QDialog {
    Q_OBJECT
public:
    explicit FramelessDialog(QWidget *parent = nullptr);
    ~FramelessDialog() override;

    // Fills m_childRects, fixes the dialog's size, places every child at its rectangle, then grows
    // them where their texts need more room.
    virtual void SetFixedSizeWidget();

protected:
    struct ChildRect {
        QWidget *widget;
        QRect rect;
    };

    // m_nWidth, m_nHeight and one rectangle per placed child. By default the size and the places
    // the form gave, taken once, right after setupUi.
    virtual void FillChildRects();
    // The form's retranslateUi followed by the class's own texts (a language change loses the
    // texts a caller set, as the form's retranslation blanks every label).
    virtual void RestoreTexts() = 0;

    // The edition's product name, translated in the given class's context.
    static QString TranslatedEditionName(const char *context);
    // Makes window flags frameless; call once the form is built.
    void MakeFrameless();
    // The push-button style sheets of the message box and question (with hover) and of the exit
    // question (without).
    static QString HoverButtonStyle();
    static QString PlainButtonStyle();
    // "Lucida Grande" at the given size, the font of titles and buttons.
    static QFont TitleFont(int pointSize = 13);

    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

    QPoint m_dragPosition;
    bool m_bDragging = false;
    int m_nHeight = 0;
    int m_nWidth = 0;
    QVector<ChildRect> m_childRects;

private:
    QSize m_formSize;
    QVector<ChildRect> m_formRects;
};
