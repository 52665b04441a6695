#include "update/QMinorUpdate.h"

#include "platform/DesktopOpener.h"
#include "platform/Edition.h"
#include "platform/PlistSettings.h"
#include "shell/ShellGlobals.h"
#include "update/QDownloadApp.h"
#include "update/UpdateDrag.h"
#include "update/UpdateForms.h"
#include "update/UpdateGlobals.h"
#include "update/UpdateLogic.h"

#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QTextStream>

#include <fcntl.h>

namespace {

// The designed font is not on every system and a wider stand-in would clip the link's text.
void shrinkToFit(QPushButton *button)
{
    QFont font = button->font();
    const int room = button->width() - 8;
    while (font.pointSize() > 10 && QFontMetrics(font).horizontalAdvance(button->text()) > room)
        font.setPointSize(font.pointSize() - 1);
    button->setFont(font);
    // Still too wide at a readable size: grow to the right, where the form leaves room.
    const int needed = QFontMetrics(font).horizontalAdvance(button->text()) + 8;
    if (needed > button->width())
        button->resize(needed, button->height());
}

}  // namespace

QMinorUpdate::QMinorUpdate(QWidget *parent, const QString &versionFile)
    : FramelessDialog(parent), ui(new Ui::ShowUpdateAvail), m_versionFile(versionFile)
{
    ui->setupUi(this);
    SetFixedSizeWidget();
    ShowNewVersionDetails();
    MakeFrameless();
    ApplyEdition();
    ui->UpdateButton->setStyleSheet(QStringLiteral("QPushButton{border-image: url(:/images/Preview-Normal.png);}"));
    ui->CancelButton->setStyleSheet(QStringLiteral("QPushButton:enabled {border-image: url(:/images/Normal.png);}"));
    ui->WhatsNewBtn->setStyleSheet(QStringLiteral("QPushButton{color:blue;}"));
    connect(ui->WhatsNewBtn, &QPushButton::clicked, this, &QMinorUpdate::WhatNewInUpdate);
    connect(ui->UpdateButton, &QPushButton::clicked, this, &QMinorUpdate::DownloadApp);
    connect(ui->CancelButton, &QPushButton::clicked, this, &QMinorUpdate::CancelDownload);
    shrinkToFit(ui->WhatsNewBtn);
    ui->label_6->setFont(TitleFont());
    ui->label_6->setAlignment(Qt::AlignCenter);
    ui->label_6->setText(tr("Update"));
    ui->label_6->setStyleSheet(QStringLiteral("background-color:lightgray;"));
    QPalette palette = ui->UpdateButton->palette();
    palette.setBrush(QPalette::All, QPalette::ButtonText, QBrush(Qt::white));
    ui->UpdateButton->setPalette(palette);
    ui->UpdateButton->setText(tr("Update"));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(KeptOnScreen(screen->availableGeometry(), CentredAbove(screen->geometry().size(), size()), size()));
}

QMinorUpdate::~QMinorUpdate() = default;

QString QMinorUpdate::VersionTextFile()
{
    return VersionTxtPath;
}

void QMinorUpdate::ApplyEdition()
{
    const QString picture =
        bforQConverterFO ? QStringLiteral("img_SoftwareUpdateConverter.png") : QStringLiteral("img_SoftwareUpdate.png");
    setWindowTitle(EditionName());
    ui->label_5->setStyleSheet(
        QStringLiteral("QLabel#label_5{ \nimage: url(:/images/%1);\nborder: none;\n}").arg(picture));
    ui->label_2->setPixmap(QPixmap(QStringLiteral(":/images/") + picture));
}

void QMinorUpdate::FillChildRects()
{
    m_nWidth = 488;
    m_nHeight = 363;
    m_childRects = {
        {ui->CancelButton, QRect(280, 320, 91, 31)}, {ui->UpdateButton, QRect(386, 320, 91, 31)},
        {ui->label, QRect(150, 55, 321, 41)},        {ui->label_2, QRect(0, 30, 481, 351)},
        {ui->label_6, QRect(0, 0, 492, 29)},         {ui->textEdit, QRect(140, 110, 331, 121)},
        {ui->WhatsNewBtn, QRect(129, 238, 180, 28)},
    };
}

void QMinorUpdate::RestoreTexts()
{
    ui->retranslateUi(this);
    setWindowTitle(EditionName());
    ui->label_6->setText(tr("Update"));  // the form leaves the strip empty
}

QString QMinorUpdate::GetVersion() const
{
    QFile file(m_versionFile);
    if (m_versionFile.isEmpty() || !OpenUnlinked(file, m_versionFile, O_RDONLY))
        return QString();
    QTextStream stream(&file);
    return stream.readLine();
}

void QMinorUpdate::ShowNewVersionDetails()
{
    const QString update = bforQConverterFO ? tr("Update: Tillomar ") : tr("Update: Corvask ");
    // Plain text: the version comes from the server and is never read as markup.
    ui->textEdit->setAcceptRichText(false);
    ui->textEdit->setPlainText(tr("New version details: \n") + update + GetVersion() + QLatin1Char('\n'));
}

void QMinorUpdate::WhatNewInUpdate()
{
    const QUrl link(ReadPlistString(strPlistPath, QStringLiteral("WhatsNewLink_EN")), QUrl::TolerantMode);
    const QString scheme = link.scheme().toLower();
    if (scheme == QLatin1String("https") || scheme == QLatin1String("http"))
        OpenUrl(link);
}

void QMinorUpdate::CancelDownload()
{
    if (!m_versionFile.isEmpty())
        QFile::remove(m_versionFile);
    hide();
}

void QMinorUpdate::DownloadApp()
{
    auto *download = new QDownloadApp(this);
    hide();
    download->show();
}

void QMinorUpdate::mousePressEvent(QMouseEvent *event)
{
    UpdateDrag::Press(this, event, dragPosition);
    QDialog::mousePressEvent(event);
}

void QMinorUpdate::mouseMoveEvent(QMouseEvent *event)
{
    QDialog::mouseMoveEvent(event);
    UpdateDrag::Move(this, event, dragPosition);
}

void QMinorUpdate::mouseReleaseEvent(QMouseEvent *event)
{
    QDialog::mouseReleaseEvent(event);
    UpdateDrag::Release();
}

void QMinorUpdate::keyPressEvent(QKeyEvent *event)
{
    UpdateDrag::Key(event);
}

void QMinorUpdate::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LanguageChange) {
        RestoreTexts();
        SetFixedSizeWidget();
        shrinkToFit(ui->WhatsNewBtn);
    }
    QDialog::changeEvent(event);
}
