#include "shell/DemoDlgClass.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

DemoDlgClass::DemoDlgClass(QWidget *parent) : QDialog(parent), m_text(new QLabel(this)), m_icon(new QLabel(this))
{
    setObjectName(QStringLiteral("DemoDlgClass"));
    setModal(true);
    m_text->setObjectName(QStringLiteral("messageText"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    auto *ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    auto *layout = new QVBoxLayout(this);
    m_icon->setFixedSize(48, 48);
    layout->addWidget(m_icon);
    layout->addWidget(m_text);
    layout->addLayout(buttons);
}

void DemoDlgClass::setText(const QString &text)
{
    m_text->setText(text);
}

QString DemoDlgClass::text() const
{
    return m_text->text();
}

void DemoDlgClass::setIconStyle(const QString &style)
{
    m_icon->setStyleSheet(style);
}
