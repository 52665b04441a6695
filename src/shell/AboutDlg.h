#pragma once
// The About box: the edition's name, a notice line, the program version, the operating system's
// name and version, a link to the support site and a button that opens the licence agreement.
// Modal and frameless; the main window makes a new one for each showing.

#include "browse/FramelessDialog.h"

#include <memory>

namespace Ui {
class AboutDialog;
}

class AboutDlg : public FramelessDialog {
    Q_OBJECT
public:
    explicit AboutDlg(QWidget *parent = nullptr);
    ~AboutDlg() override;

    // Geometry, text colours, then the system rows, the notice line and the support link.
    void SetFixedSizeWidget() override;
    // The edition's picture.
    void init();
    // The operating system's name and version (from the toolkit, no command is run) and the notice.
    void GetInfo();
    // The support link from the settings keys "SupportName_EN" and "SupportLink_EN".
    void GetSUpport();

public Q_SLOTS:
    // Opens HelpFilePath + "/Eula.pdf" with the desktop's viewer; a failure shows nothing.
    void OpenLicense();

protected:
    void FillChildRects() override;
    void RestoreTexts() override;

private:
    // Palettes, fonts, text formats and style sheets of the form's widgets.
    void SetLook();
    void SetEnglishGeometry();
    void ApplyTextColours();
    void OnSupportLinkActivated(const QString &link);

    std::unique_ptr<Ui::AboutDialog> ui;
    int m_nFrameWidth = 0;
    int m_nFrameHeight = 0;
};

// The HTML anchor of the support link: both the target and the shown text escaped, so that any
// settings value shows as itself and cannot break out of the anchor.
QString SupportAnchorHtml(const QString &name, const QString &link);
