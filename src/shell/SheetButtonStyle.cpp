#include "shell/SheetButtonStyle.h"

QString SheetButtonStyle(const QString &pressedImage, bool whiteWhenDefault)
{
    const QString frame = QStringLiteral(" 2 8 2 8 stretch stretch; border-width: 2px 8px 2px 8px; ");
    const QString rest = QStringLiteral("border-image: url(\":/images/OK- Normal.png\")") + frame;
    const QString active = QStringLiteral("border-image: url(\"") + pressedImage + QStringLiteral("\")") + frame;
    QString white = QStringLiteral("QPushButton:pressed, QPushButton:focus, QPushButton:focus:pressed, "
                                   "QPushButton:default:focus:pressed");
    if (whiteWhenDefault)
        white += QStringLiteral(", QPushButton:default:pressed, QPushButton:default:focus");
    return QStringLiteral("QPushButton, QPushButton:disabled, QPushButton:default { color: black; ") + rest
        + QStringLiteral("min-height: 22px; }\n"
                         "QPushButton:pressed, QPushButton:focus, QPushButton:focus:pressed, "
                         "QPushButton:default:pressed, QPushButton:default:focus, "
                         "QPushButton:default:focus:pressed { ")
        + active + QStringLiteral("}\n") + white + QStringLiteral(" { color: white; }\n")
        + QStringLiteral("QPushButton:focus { padding: 1px -5px 1px -5px; }\n");
}
