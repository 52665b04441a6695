#pragma once
// The offer of a newer version: the version details, a link to what is new, and Update (the
// download window) or Cancel. A frameless, application-modal window dragged by its top strip.

#include "browse/FramelessDialog.h"

#include <memory>

namespace Ui {
class ShowUpdateAvail;
}

class QMinorUpdate : public FramelessDialog {
    Q_OBJECT
public:
    // versionFile is the version text the check fetched; the details show its first line.
    explicit QMinorUpdate(QWidget *parent = nullptr, const QString &versionFile = VersionTextFile());
    ~QMinorUpdate() override;

    // The first line of the version text as the server wrote it, or "".
    QString GetVersion() const;

private Q_SLOTS:
    void DownloadApp();
    void CancelDownload();
    void WhatNewInUpdate();

protected:
    void FillChildRects() override;
    void RestoreTexts() override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    static QString VersionTextFile();
    void ShowNewVersionDetails();
    void ApplyEdition();

    std::unique_ptr<Ui::ShowUpdateAvail> ui;
    QString m_versionFile;
    QPoint dragPosition;
};
