#pragma once
// The captions under the tool bar's buttons. They are plain labels on the tool bar, so the bar's
// layout does not place them: this keeps each one as wide as its text, centred under its
// button and above the bar's own widgets, and widens the gap before a button (or the button)
// when its caption would run into the previous one.

#include <QObject>
#include <QVector>

class QLabel;
class QToolBar;
class QWidget;

class ToolBarCaptions : public QObject {
public:
    struct Caption {
        QLabel *label;
        QWidget *button;  // the caption is centred under it
        QWidget *gap;     // the fixed-width spacer before the button; null: the button widens
    };

    // Captions in the bar's order, left to right.
    ToolBarCaptions(QToolBar *bar, const QVector<Caption> &captions);

    // Places the captions now (also done whenever the bar is laid out, resized or shown).
    void Place();

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QToolBar *m_bar;
    QVector<Caption> m_captions;
    QVector<int> m_designedTops;  // each caption's place in the form, the highest it may go
    bool m_placing = false;
    bool m_queued = false;
};
