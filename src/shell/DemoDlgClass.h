#pragma once
// The general message box: an icon, the text and OK.

#include <QDialog>

class QLabel;

class DemoDlgClass : public QDialog {
    Q_OBJECT
public:
    explicit DemoDlgClass(QWidget *parent = nullptr);
    void setText(const QString &text);
    void setIconStyle(const QString &style);
    QString text() const;

private:
    QLabel *m_text;
    QLabel *m_icon;
};
