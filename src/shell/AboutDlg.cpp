#include "shell/AboutDlg.h"

#include "platform/DesktopOpener.h"
#include "platform/Edition.h"
#include "platform/PlistSettings.h"
#include "shell/ShellGlobals.h"
#include "shell/SupportLinks.h"

#include "ui_AboutDialog.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSysInfo>

namespace {

QFont segoeFont(int pointSize)
{
    return QFont(QStringLiteral("Segoe UI"), pointSize);
}

QString aboutButtonStyle()
{
    const QString normal = QStringLiteral("border-image: url(:/images/OK- Normal.png) 2 8 2 8 stretch stretch;");
    const QString lit = QStringLiteral("border-image: url(:/images/Preview-Normal.png) 2 8 2 8 stretch stretch;");
    return QStringLiteral("QPushButton { min-height: 22px; color: black; border-width: 2px 8px 2px 8px; %1 }"
                          "QPushButton:disabled, QPushButton:default { %1 }"
                          "QPushButton:pressed, QPushButton:default:pressed { %2 color: white; }"
                          "QPushButton:focus, QPushButton:default:focus { %2 padding: 1px -5px 1px -5px; }"
                          "QPushButton:default:focus:pressed { %2 color: white; }")
        .arg(normal, lit);
}

// Black text, grey when disabled.
QPalette captionPalette(QPalette palette)
{
    palette.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    return palette;
}

}  // namespace

QString SupportAnchorHtml(const QString &name, const QString &link)
{
    return QStringLiteral("<a href=\"%1\">%2</a>").arg(link.toHtmlEscaped(), name.toHtmlEscaped());
}

AboutDlg::AboutDlg(QWidget *parent) : FramelessDialog(parent), ui(new Ui::AboutDialog)
{
    ui->setupUi(this);
    setModal(true);
    SetLook();
    RestoreTexts();
    SetFixedSizeWidget();
    init();
    connect(ui->CloseButton, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->LicenseButton, &QPushButton::clicked, this, &AboutDlg::OpenLicense);
    connect(ui->SupportBtn, &QLabel::linkActivated, this, &AboutDlg::OnSupportLinkActivated);
    MakeFrameless();
}

AboutDlg::~AboutDlg() = default;

void AboutDlg::SetLook()
{
    QPalette background = palette();
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base})
        background.setColor(QPalette::All, role, QColor(253, 253, 253));
    setPalette(background);
    QPalette border = ui->MainFrame->palette();
    border.setColor(QPalette::Active, QPalette::WindowText, QColor(150, 150, 150));
    border.setColor(QPalette::Inactive, QPalette::WindowText, QColor(150, 150, 150));
    border.setColor(QPalette::Disabled, QPalette::WindowText, QColor(118, 116, 108));
    ui->MainFrame->setPalette(border);

    const QList<QLabel *> richTexts{ui->label_20, ui->label_6, ui->label_17, ui->label_16, ui->label_22, ui->label_15};
    for (QLabel *text : richTexts) {
        text->setTextFormat(Qt::RichText);
        text->setFont(segoeFont(12));
    }
    // Values from the settings file or the system show as they are.
    for (QLabel *text : {ui->label_12, ui->OSLabel, ui->VersionLabel})
        text->setTextFormat(Qt::PlainText);
    ui->OSLabel->setFont(segoeFont(12));
    ui->VersionLabel->setFont(segoeFont(12));
    ui->label_12->setFont(TitleFont(12));
    ui->label_18->setTextFormat(Qt::PlainText);
    ui->label_18->setFont(TitleFont());
    ui->label->setFont(TitleFont());
    ui->label->setAlignment(Qt::AlignCenter);
    ui->label->setStyleSheet(QStringLiteral("background-color:lightgray;"));
    ui->label->setPalette(captionPalette(ui->label->palette()));
    ui->SupportBtn->setFont(segoeFont(14));
    ui->SupportBtn->setTextFormat(Qt::RichText);
    ui->SupportBtn->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    ui->SupportBtn->setOpenExternalLinks(false);  // opened through OpenUrl, like every link
    ui->LabelPixmap->setScaledContents(true);
    ui->line1->setScaledContents(true);
    ui->line2->setScaledContents(true);
    for (QPushButton *button : {ui->LicenseButton, ui->CloseButton}) {
        button->setFont(segoeFont(13));
        button->setStyleSheet(aboutButtonStyle());
    }
    if (bForappstore) {
        ui->LicenseButton->hide();
        ui->label_17->setFont(TitleFont());
    }
}

void AboutDlg::SetFixedSizeWidget()
{
    // The frame's form size first: the fitting that ends the base call may widen it.
    if (m_nFrameWidth > 0)
        ui->MainFrame->setFixedSize(m_nFrameWidth, m_nFrameHeight);
    FramelessDialog::SetFixedSizeWidget();
    ApplyTextColours();
    GetInfo();
    GetSUpport();
}

void AboutDlg::init()
{
    ui->LabelPixmap->setPixmap(QPixmap(bforQConverterFO ? QStringLiteral(":/images/img_AboutDlg.png")
                                                        : QStringLiteral(":/images/img_About1.png")));
}

void AboutDlg::GetInfo()
{
    ui->OSLabel->setText(QSysInfo::prettyProductName());
    const QString version = QSysInfo::productVersion();
    ui->VersionLabel->setText(version == QLatin1String("unknown") ? QString() : version);
    QString notice = ReadPlistString(strPlistPath, QStringLiteral("CopyrightText"));
    if (notice.isEmpty())
        notice = tr("Copyright \u00a9 Qarvion. All rights reserved.");
    ui->label_12->setText(notice);
}

void AboutDlg::GetSUpport()
{
    const QString name = ReadPlistString(strPlistPath, QStringLiteral("SupportName_EN"));
    const QString link = ReadPlistString(strPlistPath, QStringLiteral("SupportLink_EN"));
    ui->SupportBtn->setText(SupportAnchorHtml(name, link));
}

void AboutDlg::OpenLicense()
{
    OpenFileOrTell(HelpFilePath + QStringLiteral("/Eula.pdf"));
}

void AboutDlg::OnSupportLinkActivated(const QString &link)
{
    OpenAddressOrTell(QUrl(link, QUrl::TolerantMode), link);
}

void AboutDlg::FillChildRects()
{
    SetEnglishGeometry();
}

void AboutDlg::SetEnglishGeometry()
{
    FramelessDialog::FillChildRects();
    m_nFrameWidth = ui->MainFrame->width();
    m_nFrameHeight = ui->MainFrame->height();
    // The store variant has no licence button: Close takes the place on the left.
    if (bForappstore)
        m_childRects.append({ui->CloseButton, QRect(23, 282, 83, 26)});
}

void AboutDlg::ApplyTextColours()
{
    const QList<QLabel *> texts{ui->label_18, ui->label_12, ui->label_20, ui->label_6,  ui->label_17,
                                ui->label_16, ui->label_22, ui->OSLabel,  ui->label_15, ui->VersionLabel};
    for (QLabel *text : texts)
        text->setPalette(captionPalette(text->palette()));
}

void AboutDlg::RestoreTexts()
{
    ui->retranslateUi(this);
    ui->label->setText(tr("About"));
    const QPixmap rule(QStringLiteral(":/images/img_Line.png"));
    ui->line1->setPixmap(rule);
    ui->line2->setPixmap(rule);
    setWindowTitle(TranslatedEditionName("AboutDlg"));
    ui->label_18->setText(EditionName());
    if (bForappstore)
        ui->label_17->setText(QStringLiteral("3.0.0"));
    // The system rows, the notice and the link are filled again by SetFixedSizeWidget.
}
