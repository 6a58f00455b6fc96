// Draws the viewer's icon: a log sheet with time-stamped lines under a
// magnifying glass. Run once by scripts/make-icon; its output is committed as
// viewer/Resources/Log.png (the window icon) and viewer/Resources/Log.ico (the Windows file
// icon: one 256 x 256, 32-bit image, stored as PNG inside the ICO container),
// and the desktop's smaller sizes viewer/Resources/icons/Log-<N>.png, each
// drawn at its own size rather than scaled down from the large one.
#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtEndian>

#include <cstdio>

namespace {

constexpr int kSize = 256;

void drawBackground(QPainter& p)
{
    QLinearGradient fill(0, 0, 0, kSize);
    fill.setColorAt(0, QColor(0x2b, 0x6c, 0xb0));
    fill.setColorAt(1, QColor(0x17, 0x3f, 0x73));
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(8, 8, kSize - 16, kSize - 16), 40, 40);
}

void drawSheet(QPainter& p)
{
    const QRectF sheet(52, 34, 132, 178);
    const qreal fold = 30;
    QPainterPath outline;
    outline.moveTo(sheet.topLeft());
    outline.lineTo(sheet.right() - fold, sheet.top());
    outline.lineTo(sheet.right(), sheet.top() + fold);
    outline.lineTo(sheet.bottomRight());
    outline.lineTo(sheet.bottomLeft());
    outline.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf7, 0xf9, 0xfc));
    p.drawPath(outline);

    QPainterPath corner;
    corner.moveTo(sheet.right() - fold, sheet.top());
    corner.lineTo(sheet.right() - fold, sheet.top() + fold);
    corner.lineTo(sheet.right(), sheet.top() + fold);
    corner.closeSubpath();
    p.setBrush(QColor(0xc9, 0xd6, 0xe6));
    p.drawPath(corner);

    // Each record: a short dark time stamp line, then a longer message line.
    for (int i = 0; i < 5; ++i) {
        const qreal y = sheet.top() + 40 + i * 30;
        p.setBrush(QColor(0x2b, 0x6c, 0xb0));
        p.drawRoundedRect(QRectF(sheet.left() + 16, y, 40, 8), 4, 4);
        p.setBrush(QColor(0x9a, 0xa9, 0xbc));
        p.drawRoundedRect(QRectF(sheet.left() + 16, y + 13, i % 2 ? 70 : 96, 7), 3.5, 3.5);
    }
}

void drawMagnifier(QPainter& p)
{
    const QPointF centre(170, 166);
    const qreal radius = 40;
    QPen handle(QColor(0xf2, 0x9f, 0x1f), 22, Qt::SolidLine, Qt::RoundCap);
    p.setPen(handle);
    p.drawLine(centre + QPointF(30, 30), centre + QPointF(60, 60));

    p.setBrush(QColor(255, 255, 255, 90));
    p.setPen(QPen(QColor(0xf2, 0x9f, 0x1f), 14));
    p.drawEllipse(centre, radius, radius);
}

QImage drawIcon(int size = kSize)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(qreal(size) / kSize, qreal(size) / kSize);
    drawBackground(p);
    drawSheet(p);
    drawMagnifier(p);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QByteArray pngBytes(const QImage& image)
{
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

void appendLE16(QByteArray& out, quint16 v) { v = qToLittleEndian(v); out.append(reinterpret_cast<const char*>(&v), 2); }
void appendLE32(QByteArray& out, quint32 v) { v = qToLittleEndian(v); out.append(reinterpret_cast<const char*>(&v), 4); }

// ICONDIR with a single ICONDIRENTRY (0 in the size bytes means 256).
QByteArray icoWithPng(const QByteArray& png)
{
    QByteArray ico;
    appendLE16(ico, 0);
    appendLE16(ico, 1);
    appendLE16(ico, 1);
    ico.append(char(0)).append(char(0)).append(char(0)).append(char(0));
    appendLE16(ico, 1);
    appendLE16(ico, 32);
    appendLE32(ico, quint32(png.size()));
    appendLE32(ico, 22);
    return ico + png;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_icon OUT.png OUT.ico SIZES_DIR\n");
        return 2;
    }
    const QByteArray png = pngBytes(drawIcon());
    if (!writeFile(QString::fromLocal8Bit(argv[1]), png) || !writeFile(QString::fromLocal8Bit(argv[2]), icoWithPng(png)))
        return 1;
    // The sizes of the freedesktop icon theme below 256 (hicolor).
    for (int size : {16, 22, 24, 32, 48, 64, 128}) {
        const QString path = QStringLiteral("%1/Log-%2.png").arg(QString::fromLocal8Bit(argv[3])).arg(size);
        if (!writeFile(path, pngBytes(drawIcon(size))))
            return 1;
    }
    return 0;
}
