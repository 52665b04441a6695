#include "browse/AttachmentTiles.h"

#include "browse/AttachmentCopy.h"
#include "browse/BrowseGlobals.h"
#include "browse/BrowsePanes.h"
#include "browse/ItemListFill.h"
#include "browse/MessageBox.h"
#include "browse/MyButton1.h"
#include "browse/QPreviewOfItems.h"
#include "browse/ResizeFollower.h"
#include "platform/Edition.h"
#include "platform/PreviewerLauncher.h"
#include "save/AttachmentIndex.h"
#include "save/BidiControls.h"
#include "save/MessageFields.h"
#include "scanner/ScanGlobals.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QMimeDatabase>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTextDocument>
#include <QTimer>
#include <QVector>

#include <limits>

namespace {

// The fill serial (browse/ItemListFill.h) a tile was made under: once it has changed, the
// records the tile was made from may have been freed, and a press on it opens nothing.
const char kTileSerialProperty[] = "fillserial";

const QLatin1String kWhiteText("QPushButton {color : rgb(255,255,255);}");

// One index per fill serial, so a press never looks up an entry of records freed since.
struct CachedIndex {
    bool built = false;
    quint64 serial = 0;
    AttachmentIndex index;
};

const FileOffsetNode *attachmentEntry(const QString &url)
{
    return CurrentAttachmentIndex().find(url);
}

// The type icon by the name's extension alone: the name is the archive's, never a local file.
QPixmap fileTypePixmap(const QString &name, QStyle *style)
{
    static const QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(QFileInfo(name).fileName(), QMimeDatabase::MatchExtension);
    const QIcon fallback = style->standardIcon(QStyle::SP_FileIcon);
    const QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName(), fallback));
    return icon.pixmap(25, 25, QIcon::Normal, QIcon::Off);
}

MyButton1 *makeTile(QWidget *parent, const AttachmentInfo &attachment, QPreviewOfItems *preview)
{
    auto *tile = new MyButton1(parent);
    tile->setObjectName(QStringLiteral("attachmentTile"));
    tile->setStyleSheet(QStringLiteral("QPushButton{border-image: url(:/images/Rectangle_605.png)}") + kWhiteText);
    tile->setProperty("attachmentname", attachment.name);
    tile->setProperty("attachmenturl", attachment.url);
    tile->setProperty(kTileSerialProperty, qulonglong(g_itemListFillSerial));
    // Shown without the controls that reorder it, as the save writes it.
    const QString shown = WithoutBidiControls(attachment.name);
    tile->m_pIconLabel->setPixmap(fileTypePixmap(shown, tile->style()));
    tile->setElidedText(shown, QPreviewOfItems::GetSize(attachment.size));
    // Tool tips guess at markup: give the name as escaped text so it shows as written.
    tile->setToolTip(Qt::convertFromPlainText(shown, Qt::WhiteSpaceNoWrap));
    if (preview) {
        QObject::connect(tile, &MyButton1::ChangePixmap, preview, &QPreviewOfItems::OnShowHoverImageattwidget);
        QObject::connect(tile, &MyButton1::OnUpdatePixmap, preview, &QPreviewOfItems::OnShowNormalImageattwidget);
        QObject::connect(tile, &MyButton1::OnPressPixmap, preview, &QPreviewOfItems::OnShowPressImageattwidget);
        QObject::connect(tile, &MyButton1::OnReleasePixmap, preview, &QPreviewOfItems::OnShowReleaseImageattwidget);
    }
    return tile;
}

// Copies the attachment the tile named and starts the previewer on the copy.
void openAttachment(ThreadOLMPreview &launcher, const QString &name, const QString &url, quint64 serial)
{
    if (serial != g_itemListFillSerial)
        return;
    const FileOffsetNode *entry = attachmentEntry(url);
    // A compressed entry's bytes are not the attachment.
    if (!entry || entry->bCompressed) {
        TellAttachmentNotOpened(name);
        return;
    }
    if (quint64(entry->llSize) > quint64(kMaxPreviewCopySize)) {
        ShowMessageBox(nullptr,
                       QCoreApplication::translate("QPreviewOfItems",
                                                   "\nFile size is greater than 10Mb.\n Preview is not available."),
                       MarkIconStyle());
        return;
    }
    const QString folder = AttachmentCopyFolder();
    const QString copy = folder + QLatin1Char('/') + CleanAttachmentFileName(name);
    if (folder.isEmpty() || !CopyEntryToFile(*entry, copy)) {
        TellAttachmentNotOpened(name);
        return;
    }
    launcher.SetInitialSettings(PreviewerProgramPath(), copy);
    launcher.start();
}

// Two tiles to a row where the header has room for two beside its scroll bar, else one, so no
// tile is placed where a narrow pane would cut it off. The grid's right margin gives way before
// the second column does.
const char kTileColumnsProperty[] = "tileColumns";
const char kDesignedRightMargin[] = "designedRightMargin";

int tileColumns()
{
    const QScrollArea *area = Panes().mailHeaderScroll;
    QGridLayout *grid = Panes().attachmentGrid;
    if (!area || !grid)
        return 2;
    QMargins margins = grid->contentsMargins();
    if (!grid->property(kDesignedRightMargin).isValid())
        grid->setProperty(kDesignedRightMargin, margins.right());
    const int designed = grid->property(kDesignedRightMargin).toInt();
    const int spare = area->width() - area->verticalScrollBar()->sizeHint().width() - margins.left()
        - 2 * kAttachmentTileWidth - grid->horizontalSpacing();
    margins.setRight(spare >= 0 ? qMin(designed, spare) : designed);
    if (margins != grid->contentsMargins())
        grid->setContentsMargins(margins);
    return spare >= 0 ? 2 : 1;
}

// Lays the shown tiles out again, in their order, when the header's width changes their count
// to a row.
void placeTilesAgain()
{
    QGridLayout *grid = Panes().attachmentGrid;
    const int columns = tileColumns();
    if (!grid || grid->property(kTileColumnsProperty).toInt() == columns)
        return;
    grid->setProperty(kTileColumnsProperty, columns);
    QList<QWidget *> tiles;
    while (QLayoutItem *item = grid->takeAt(0)) {
        if (item->widget())
            tiles.append(item->widget());
        delete item;
    }
    for (int i = 0; i < tiles.size(); ++i)
        grid->addWidget(tiles.at(i), i / columns, i % columns);
}

// Tiles are made as the header's view comes near them: a batch at first, the next one whenever the
// view is scrolled to within a screen of the last tile made. A mail of thousands of attachments
// costs the window what the tiles on screen do.
constexpr int kTileBatch = 40;

struct PendingTiles {
    QVector<AttachmentInfo> attachments;
    int made = 0;
    bool scheduled = false;
};

PendingTiles &pendingTiles()
{
    static PendingTiles pending;
    return pending;
}

void makeNextTiles()
{
    PendingTiles &pending = pendingTiles();
    QGridLayout *grid = Panes().attachmentGrid;
    if (!grid)
        return;
    const int columns = qMax(1, grid->property(kTileColumnsProperty).toInt());
    const int end = qMin(int(pending.attachments.size()), pending.made + kTileBatch);
    for (int i = pending.made; i < end; ++i)
        grid->addWidget(makeTile(grid->parentWidget(), pending.attachments.at(i), m_pPreview), i / columns,
                        i % columns);
    pending.made = end;
}

// More tiles once the view shows the end of those made, a turn of the event loop later: never
// inside the scroll that asked for them.
void followHeaderScroll()
{
    QScrollArea *area = Panes().mailHeaderScroll;
    const char installed[] = "makesTilesOnScroll";
    if (!area || area->property(installed).toBool())
        return;
    area->setProperty(installed, true);
    QScrollBar *bar = area->verticalScrollBar();
    const auto nearEnd = [bar] {
        PendingTiles &pending = pendingTiles();
        if (pending.scheduled || pending.made >= pending.attachments.size()
            || bar->value() < bar->maximum() - bar->pageStep())
            return;
        pending.scheduled = true;
        QTimer::singleShot(0, bar, [] {
            pendingTiles().scheduled = false;
            makeNextTiles();
        });
    };
    QObject::connect(bar, &QAbstractSlider::valueChanged, bar, nearEnd);
    QObject::connect(bar, &QAbstractSlider::rangeChanged, bar, nearEnd);
}

}  // namespace

const AttachmentIndex &CurrentAttachmentIndex()
{
    static CachedIndex cache;
    if (!cache.built || cache.serial != g_itemListFillSerial) {
        cache.index.build(tmpAtFOStart);
        cache.serial = g_itemListFillSerial;
        cache.built = true;
    }
    return cache.index;
}

void TellAttachmentNotOpened(const QString &name)
{
    const QString shown = name.isEmpty() ? QStringLiteral("attachment") : WithoutBidiControls(name);
    ShowMessageBox(nullptr, QString::fromLatin1(kAttachmentNotOpenedText).arg(shown), MarkIconStyle());
}

void ClearAttachmentTiles()
{
    pendingTiles().attachments.clear();
    pendingTiles().made = 0;
    QGridLayout *grid = Panes().attachmentGrid;
    if (!grid)
        return;
    while (QLayoutItem *item = grid->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

void ShowAttachmentTiles(const MailMessageFields &fields)
{
    ClearAttachmentTiles();
    QGridLayout *grid = Panes().attachmentGrid;
    if (!grid)
        return;
    FollowResize(Panes().mailHeaderScroll, QStringLiteral("paneWidthFollower"),
                 [](const QResizeEvent &) { placeTilesAgain(); });
    const int columns = tileColumns();
    grid->setProperty(kTileColumnsProperty, columns);
    // The grid takes each tile over from the parent it is made with.
    pendingTiles().attachments = fields.attachments;
    pendingTiles().made = 0;
    makeNextTiles();
    followHeaderScroll();
}

void QPreviewOfItems::OnShowHoverImageattwidget()
{
    if (auto *tile = qobject_cast<QPushButton *>(sender())) {
        tile->setStyleSheet((tile->isDown()
                                 ? QLatin1String("QPushButton{border-image: url(:/images/Rectangle_607.png);}")
                                 : QLatin1String("QPushButton{border-image: url(:/images/Rectangle_606.png);}"))
                            + kWhiteText);
    }
}

void QPreviewOfItems::OnShowNormalImageattwidget()
{
    if (auto *tile = qobject_cast<QPushButton *>(sender())) {
        tile->setStyleSheet((tile->isDown()
                                 ? QLatin1String("QPushButton{border-image: url(:/images/Rectangle_607.png)}")
                                 : QLatin1String("QPushButton{border-image: url(:/images/Rectangle_605.png)}"))
                            + kWhiteText);
    }
}

void QPreviewOfItems::OnShowPressImageattwidget()
{
    if (bForappstore)
        return;
    QObject *tile = sender();
    if (!tile)
        return;
    const QString name = tile->property("attachmentname").toString();
    const QString url = tile->property("attachmenturl").toString();
    const QVariant serial = tile->property(kTileSerialProperty);
    if (!serial.isValid())
        return;
    // Run after the tile's press handler: the copy may show a modal message, and a nested event
    // loop inside the handler could see the tile deleted under it.
    const quint64 madeUnder = serial.toULongLong();
    QTimer::singleShot(0, this,
                       [this, name, url, madeUnder] { openAttachment(m_previewThread, name, url, madeUnder); });
}

void QPreviewOfItems::OnShowReleaseImageattwidget()
{
}

QString QPreviewOfItems::GetSize(QString size)
{
    size.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double number = size.toDouble(&ok);
    // Negative, huge and unreadable counts are not sizes: shown as 0 or the largest count.
    qint64 bytes = 0;
    if (ok && number >= 9.2e18)
        bytes = std::numeric_limits<qint64>::max();
    else if (ok && number > 0)
        bytes = qint64(number);
    // Below a kilobyte the bytes themselves: "0.00 KB" would hide a small file's size.
    if (bytes < 1024)
        return bytes == 1 ? tr("1 byte") : tr("%1 bytes").arg(bytes);
    QString unit = tr(" KB");
    double value = double(bytes) / 1024.0;
    if (bytes > 1073741823) {
        unit = tr(" GB");
        value = double(bytes) / 1073741824.0;
    } else if (bytes > 1048575) {
        unit = tr(" MB");
        value = double(bytes) / 1048576.0;
    }
    // At most two decimals, cut rather than rounded, and one blank before the unit.
    QString text = QStringLiteral("%1").arg(value, 0, 'g', 8);
    const int dot = text.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        text.truncate(dot + 3);
    return text + unit;
}
