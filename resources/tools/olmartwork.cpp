// Build-time tool: renders the program's SVG artwork to PNG and to an animated GIF, and prints the
// agreement text to PDF. Runs on the offscreen platform, so it needs no display.
//
//   olmartwork png  <in.svg> <out.png> <width> <height> [normal|muted|disabled]
//   olmartwork gif  <in.svg> <out.gif> <width> <height> <frames>
//   olmartwork pdf  <in.txt> <out.pdf> <title>

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgRenderer>
#include <QTextDocument>
#include <QTextStream>

#include <cstdio>

namespace {

int Fail(const QString &message)
{
    std::fprintf(stderr, "olmartwork: %s\n", qPrintable(message));
    return 1;
}

QImage Render(QSvgRenderer &svg, int width, int height, qreal angle = 0)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    if (angle != 0) {
        painter.translate(width / 2.0, height / 2.0);
        painter.rotate(angle);
        painter.translate(-width / 2.0, -height / 2.0);
    }
    svg.render(&painter, QRectF(0, 0, width, height));
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

// Greys the picture for the inactive state of a button; "disabled" also fades it.
void Mute(QImage &image, bool fade)
{
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = line[x];
            const int grey = qBound(0, int(qGray(p) * 0.7 + 150 * 0.3), 255);
            const int alpha = fade ? qAlpha(p) * 45 / 100 : qAlpha(p);
            line[x] = qRgba(grey, grey, grey, alpha);
        }
    }
}

int RenderPng(const QStringList &args)
{
    if (args.size() < 6)
        return Fail(QStringLiteral("png needs <in.svg> <out.png> <width> <height>"));
    QSvgRenderer svg(args.at(2));
    if (!svg.isValid())
        return Fail(QStringLiteral("cannot read ") + args.at(2));
    QImage image = Render(svg, args.at(4).toInt(), args.at(5).toInt());
    const QString mode = args.size() > 6 ? args.at(6) : QStringLiteral("normal");
    if (mode == QLatin1String("muted") || mode == QLatin1String("disabled"))
        Mute(image, mode == QLatin1String("disabled"));
    if (!image.save(args.at(3), "PNG"))
        return Fail(QStringLiteral("cannot write ") + args.at(3));
    return 0;
}

// --- GIF --------------------------------------------------------------------------------------

// LSB-first bit packer into the GIF's sub-blocks of at most 255 bytes.
class GifBits {
public:
    void put(int code, int width)
    {
        m_acc |= quint32(code) << m_count;
        m_count += width;
        while (m_count >= 8) {
            m_bytes.append(char(m_acc & 0xff));
            m_acc >>= 8;
            m_count -= 8;
        }
    }
    QByteArray blocks()
    {
        if (m_count > 0)
            m_bytes.append(char(m_acc & 0xff));
        QByteArray out;
        for (int i = 0; i < m_bytes.size(); i += 255) {
            const QByteArray chunk = m_bytes.mid(i, 255);
            out.append(char(chunk.size()));
            out.append(chunk);
        }
        out.append('\0');
        return out;
    }

private:
    QByteArray m_bytes;
    quint32 m_acc = 0;
    int m_count = 0;
};

// Codes stay 9 bits wide: every pixel is sent as a literal and the table is cleared before it
// could grow past 9 bits. Larger than real LZW, but tiny for a 30-pixel animation.
QByteArray EncodeIndices(const QByteArray &indices)
{
    const int clear = 256, end = 257, width = 9;
    GifBits bits;
    bits.put(clear, width);
    int sinceClear = 0;
    for (char index : indices) {
        if (sinceClear == 250) {
            bits.put(clear, width);
            sinceClear = 0;
        }
        bits.put(quint8(index), width);
        ++sinceClear;
    }
    bits.put(end, width);
    return QByteArray(1, char(8)) + bits.blocks();
}

void PutWord(QByteArray &out, int value)
{
    out.append(char(value & 0xff));
    out.append(char((value >> 8) & 0xff));
}

// Index 0 is transparent; pixels at least half opaque take their colour, reduced to 3-2-2 bits
// (128 colours) only when the frames hold more than 255.
void Palettise(const QList<QImage> &frames, QVector<QRgb> &palette, QList<QByteArray> &indexed)
{
    auto opaque = [](QRgb p) { return qAlpha(p) >= 128; };
    QHash<QRgb, int> colours;
    bool reduce = false;
    for (const QImage &frame : frames)
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb p = frame.pixel(x, y) | 0xff000000u;
                if (opaque(frame.pixel(x, y)) && !colours.contains(p)) {
                    colours.insert(p, 0);
                    reduce = reduce || colours.size() > 255;
                }
            }
    auto key = [reduce](QRgb p) {
        return reduce ? (p & 0xffe0c0c0u) : (p | 0xff000000u);
    };
    palette = {qRgb(255, 255, 255)};
    QHash<QRgb, int> index;
    for (const QImage &frame : frames) {
        QByteArray out;
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x) {
                const QRgb p = frame.pixel(x, y);
                if (!opaque(p)) {
                    out.append('\0');
                    continue;
                }
                const QRgb k = key(p);
                auto it = index.find(k);
                if (it == index.end()) {
                    it = index.insert(k, palette.size());
                    palette.append(k);
                }
                out.append(char(it.value()));
            }
        indexed.append(out);
    }
    palette.resize(256);
}

int RenderGif(const QStringList &args)
{
    if (args.size() < 7)
        return Fail(QStringLiteral("gif needs <in.svg> <out.gif> <width> <height> <frames>"));
    QSvgRenderer svg(args.at(2));
    if (!svg.isValid())
        return Fail(QStringLiteral("cannot read ") + args.at(2));
    const int width = args.at(4).toInt(), height = args.at(5).toInt();
    const int count = qMax(1, args.at(6).toInt());
    QList<QImage> frames;
    for (int i = 0; i < count; ++i)
        frames.append(Render(svg, width, height, 360.0 * i / count));
    QVector<QRgb> palette;
    QList<QByteArray> indexed;
    Palettise(frames, palette, indexed);

    QByteArray gif("GIF89a");
    PutWord(gif, width);
    PutWord(gif, height);
    gif.append(char(0xf7)); // global table of 256 colours
    gif.append('\0');
    gif.append('\0');
    for (QRgb c : palette) {
        gif.append(char(qRed(c)));
        gif.append(char(qGreen(c)));
        gif.append(char(qBlue(c)));
    }
    gif.append(QByteArray("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19)); // loop for ever
    for (const QByteArray &pixels : indexed) {
        gif.append(QByteArray("\x21\xf9\x04\x09", 4)); // restore background, index 0 transparent
        PutWord(gif, 8);                                // 80 ms per frame
        gif.append('\0');
        gif.append('\0');
        gif.append(char(0x2c));
        PutWord(gif, 0);
        PutWord(gif, 0);
        PutWord(gif, width);
        PutWord(gif, height);
        gif.append('\0');
        gif.append(EncodeIndices(pixels));
    }
    gif.append(char(0x3b));

    QFile out(args.at(3));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(gif) != gif.size()
        || !out.flush())
        return Fail(QStringLiteral("cannot write ") + args.at(3));
    return 0;
}

// --- PDF --------------------------------------------------------------------------------------

int RenderPdf(const QStringList &args)
{
    if (args.size() < 5)
        return Fail(QStringLiteral("pdf needs <in.txt> <out.pdf> <title>"));
    QFile in(args.at(2));
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return Fail(QStringLiteral("cannot read ") + args.at(2));
    QTextStream stream(&in);
    stream.setCodec("UTF-8");
    const QString text = stream.readAll();

    {
        QPdfWriter writer(args.at(3));
        writer.setTitle(args.at(4));
        writer.setCreator(args.at(4));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter);
        QTextDocument document;
        document.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
        document.setPlainText(text);
        document.print(&writer);
    }
    QFile check(args.at(3));
    if (!check.open(QIODevice::ReadOnly) || !check.read(5).startsWith("%PDF-"))
        return Fail(QStringLiteral("cannot write ") + args.at(3));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString mode = args.value(1);
    if (mode == QLatin1String("png"))
        return RenderPng(args);
    if (mode == QLatin1String("gif"))
        return RenderGif(args);
    if (mode == QLatin1String("pdf"))
        return RenderPdf(args);
    return Fail(QStringLiteral("usage: olmartwork png|gif|pdf ..."));
}
