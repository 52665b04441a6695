#include "browse/MessageBox.h"

#include "browse/DemoDlgClass.h"

namespace ShellHooks {
std::function<void(const QString &, const QString &)> messageBox;
}  // namespace ShellHooks

QString MarkIconStyle()
{
    return QStringLiteral("border-image:url(:/images/Mark.png);");
}

QString SuccessIconStyle()
{
    return QStringLiteral("border-image:url(:/images/Check.png);");
}

void ShowMessageBox(QWidget *parent, const QString &text, const QString &iconStyle)
{
    if (ShellHooks::messageBox) {
        ShellHooks::messageBox(text, iconStyle);
        return;
    }
    DemoDlgClass box(parent);
    box.setIconStyle(iconStyle);
    box.setText(text);
    box.setModal(true);
    box.exec();
}
