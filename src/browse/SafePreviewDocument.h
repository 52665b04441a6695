#pragma once
// A text document for archive text shown as rich text. Archive HTML may name any local file in
// <img src> or a style sheet link; the toolkit would read such a file (a device or a pipe could
// even block the window). This document hands out only the program's own ":/" resources and
// inline data: pictures; pictures added with addResource (cid: parts) are found before it is
// asked. Its pictures are drawn from those resources only: the toolkit's own picture handler
// would open a plain path itself when the resource comes back empty.

#include <QTextDocument>

class QTextEdit;

class SafePreviewDocument : public QTextDocument {
    Q_OBJECT
public:
    explicit SafePreviewDocument(QObject *parent = nullptr);

    // Whether a resource of that name may be loaded at all.
    static bool IsAllowedResource(const QUrl &name);

protected:
    QVariant loadResource(int type, const QUrl &name) override;
};

// Gives the view a SafePreviewDocument of its own, unless it already has one; its earlier
// document stays its child. Returns the view's document.
QTextDocument *UseSafePreviewDocument(QTextEdit *view);
