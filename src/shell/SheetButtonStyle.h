#pragma once
// The picture-framed push buttons of the progress sheet, the summary and the Save As sheet: the
// normal picture at rest, another picture (and white text) while pressed or focused.

#include <QString>

// pressedImage: the resource shown while pressed or focused. whiteWhenDefault: white text also
// in the default-pressed and default-focused states.
QString SheetButtonStyle(const QString &pressedImage, bool whiteWhenDefault);
