#include "shell/AboutDlg.h"

#include "platform/DesktopOpener.h"
#include "platform/PlistSettings.h"
#include "shell/Edition.h"
#include "shell/ShellGlobals.h"
#include "shell/SupportLinks.h"

#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSysInfo>

namespace Ui {
class AboutDialog {
public:
    QFrame *MainFrame;
    QLabel *label;   // title strip
    QLabel *LabelPixmap;
    QFrame *frame;   // information panel
    QLabel *label_18, *label_12, *label_20, *line1, *label_6, *label_17, *label_16, *line2;
    QLabel *label_22, *OSLabel, *label_15, *VersionLabel, *SupportBtn;
    QPushButton *LicenseButton, *CloseButton;

    void setupUi(QDialog *dialog)
    {
        dialog->setObjectName(QStringLiteral("AboutDialog"));
        MainFrame = new QFrame(dialog);
        MainFrame->setObjectName(QStringLiteral("MainFrame"));
        MainFrame->setFrameShape(QFrame::Box);
        MainFrame->setFrameShadow(QFrame::Plain);
        label = makeLabel(MainFrame, "label");
        LabelPixmap = makeLabel(dialog, "LabelPixmap");
        frame = new QFrame(dialog);
        frame->setObjectName(QStringLiteral("frame"));
        frame->setFrameShape(QFrame::NoFrame);
        frame->setAutoFillBackground(true);
        label_18 = makeLabel(frame, "label_18");
        label_12 = makeLabel(frame, "label_12");
        label_20 = makeLabel(frame, "label_20");
        line1 = makeLabel(frame, "line1");
        label_6 = makeLabel(frame, "label_6");
        label_17 = makeLabel(frame, "label_17");
        label_16 = makeLabel(frame, "label_16");
        line2 = makeLabel(frame, "line2");
        label_22 = makeLabel(frame, "label_22");
        OSLabel = makeLabel(frame, "OSLabel");
        label_15 = makeLabel(frame, "label_15");
        VersionLabel = makeLabel(frame, "VersionLabel");
        SupportBtn = makeLabel(frame, "SupportBtn");
        LicenseButton = makeButton(frame, "LicenseButton");
        CloseButton = makeButton(frame, "CloseButton");
        QObject::connect(CloseButton, &QPushButton::clicked, dialog, &QDialog::close);
        retranslateUi(dialog);
    }

    void retranslateUi(QDialog *dialog)
    {
        auto tr = [](const char *text) { return QCoreApplication::translate("AboutDialog", text); };
        const QString heading = QStringLiteral("<span style=\"font-weight:600; color:#000000;\">%1</span>");
        const QString caption = QStringLiteral("<b>%1 : </b>");
        dialog->setWindowTitle(tr("About"));
        label_20->setText(heading.arg(tr("Product Information")));
        label_16->setText(heading.arg(tr("System Information")));
        label_6->setText(caption.arg(tr("Version")));
        label_22->setText(caption.arg(tr("OS")));
        label_15->setText(caption.arg(tr("Version")));
        label_17->setText(QStringLiteral("3.0.0.0"));
        LicenseButton->setText(tr("View User License"));
        CloseButton->setText(tr("Close"));
        for (QLabel *text : {label, label_18, label_12, OSLabel, VersionLabel, SupportBtn})
            text->setText(QString());
    }

private:
    static QLabel *makeLabel(QWidget *parent, const char *name)
    {
        auto *label = new QLabel(parent);
        label->setObjectName(QLatin1String(name));
        return label;
    }
    static QPushButton *makeButton(QWidget *parent, const char *name)
    {
        auto *button = new QPushButton(parent);
        button->setObjectName(QLatin1String(name));
        button->setFocusPolicy(Qt::NoFocus);
        return button;
    }
};
} // namespace Ui

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

} // namespace

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
    ui->SupportBtn->setOpenExternalLinks(false);   // opened through OpenUrl, like every link
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
    FramelessDialog::SetFixedSizeWidget();
    ui->MainFrame->setFixedSize(m_nFrameWidth, m_nFrameHeight);
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
    m_nWidth = 602;
    m_nHeight = 368;
    m_nFrameWidth = 602;
    m_nFrameHeight = 368;
    const int closeX = bForappstore ? 23 : 200;
    m_childRects = {
        {ui->MainFrame, QRect(0, 0, 602, 368)},     {ui->label, QRect(0, 0, 601, 29)},
        {ui->LabelPixmap, QRect(0, 30, 215, 335)},  {ui->frame, QRect(216, 30, 385, 335)},
        {ui->label_18, QRect(24, 15, 310, 20)},     {ui->label_12, QRect(24, 40, 331, 20)},
        {ui->label_20, QRect(24, 72, 141, 16)},     {ui->line1, QRect(162, 80, 200, 1)},
        {ui->label_6, QRect(24, 116, 90, 16)},      {ui->label_17, QRect(115, 116, 250, 18)},
        {ui->label_16, QRect(24, 158, 128, 16)},    {ui->line2, QRect(162, 165, 200, 1)},
        {ui->label_22, QRect(24, 180, 90, 16)},     {ui->OSLabel, QRect(115, 180, 266, 16)},
        {ui->label_15, QRect(24, 202, 90, 16)},     {ui->VersionLabel, QRect(115, 202, 180, 16)},
        {ui->SupportBtn, QRect(26, 251, 181, 22)},  {ui->LicenseButton, QRect(19, 282, 160, 26)},
        {ui->CloseButton, QRect(closeX, 282, 83, 26)},
    };
}

void AboutDlg::ApplyTextColours()
{
    const QList<QLabel *> texts{ui->label_18, ui->label_12, ui->label_20, ui->label_6, ui->label_17,
                                ui->label_16, ui->label_22, ui->OSLabel, ui->label_15, ui->VersionLabel};
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
