// The drawing layer on a TDIB's own memory, the clipboard's picture formats, the
// "dib" image format and the picture control, all on the offscreen platform.

#include "core/Stream.h"
#include "core/imaging/XDIBClipboard.h"
#include "ui/imaging/XDIBCanvas.h"
#include "ui/imaging/XDIBClipboardQt.h"
#include "ui/imaging/XDIBImageComp.h"
#include "ui/imaging/XDIBImageHandler.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <cstring>
#include <memory>

using namespace zx;

namespace {

// The colour value 0x00BBGGRR of a 24-bit pixel, read through ScanLine.
std::uint32_t At(const TDIB& picture, int x, int y)
{
    return picture.Pixel(x, y);
}

TDIB Filled(int width, int height, int bitCount, std::uint8_t value)
{
    TDIB picture;
    picture.SetSize(width, height, bitCount);
    std::memset(picture.Bits(), value, std::size_t(picture.Size()));
    return picture;
}

} // namespace

class tst_XDIBCanvas : public QObject {
    Q_OBJECT

private slots:
    void canvasAndScanLineSeeTheSameRows()
    {
        TDIB picture = Filled(7, 5, 24, 0);
        {
            TDIBCanvas canvas(picture);
            canvas.SetBrushColor(QColor(0x10, 0x20, 0x30));
            // The top row from the canvas's point of view...
            canvas.FillRect(0, 0, 7, 1);
            // ...and a rectangle whose right and bottom edges are left out.
            canvas.SetBrushColor(Qt::white);
            canvas.FillRect(2, 2, 4, 4);
        }
        // ...is ScanLine(0): the bottom-up storage is turned the right way.
        const std::uint8_t* top = picture.ConstScanLine(0);
        QCOMPARE(int(top[0]), 0x30); // blue
        QCOMPARE(int(top[1]), 0x20);
        QCOMPARE(int(top[2]), 0x10); // red
        QCOMPARE(At(picture, 6, 0), 0x302010u);
        QCOMPARE(At(picture, 0, 1), 0u);
        QCOMPARE(At(picture, 2, 2), 0xFFFFFFu);
        QCOMPARE(At(picture, 3, 3), 0xFFFFFFu);
        QCOMPARE(At(picture, 4, 3), 0u);
        QCOMPARE(At(picture, 3, 4), 0u);

        // And the other way: a row written directly shows on the canvas.
        picture.ScanLine(4)[0] = 0xAB;
        TDIBCanvas canvas(picture);
        canvas.SetBrushColor(Qt::red);
        canvas.FillRect(6, 4, 7, 5);
        QCOMPARE(int(picture.ConstScanLine(4)[0]), 0xAB);
        QCOMPARE(At(picture, 6, 4), 0x0000FFu);
    }

    void drawingUnsharesTheStorage()
    {
        TDIB a = Filled(4, 4, 24, 0x55);
        TDIB b(a);
        QCOMPARE(a.ConstBits(), b.ConstBits());
        {
            TDIBCanvas canvas(b);
            canvas.SetBrushColor(Qt::black);
            canvas.FillRect(0, 0, 4, 4);
        }
        QVERIFY(a.ConstBits() != b.ConstBits());
        QCOMPARE(At(a, 1, 1), 0x555555u);
        QCOMPARE(At(b, 1, 1), 0u);

        // A copy taken while a canvas is open keeps the pixels it was taken
        // with; the canvas goes on drawing into its own picture.
        TDIBCanvas canvas(a);
        const TDIB snapshot(a);
        canvas.SetBrushColor(Qt::white);
        canvas.FillRect(0, 0, 2, 2);
        QCOMPARE(At(snapshot, 0, 0), 0x555555u);
        QCOMPARE(At(a, 0, 0), 0xFFFFFFu);
        canvas.FillRect(2, 2, 3, 3);
        QCOMPARE(At(a, 2, 2), 0xFFFFFFu);
        QCOMPARE(At(snapshot, 2, 2), 0x555555u);
    }

    void thirtyTwoBitPicturesToo()
    {
        TDIB picture = Filled(3, 2, 32, 0);
        TDIBCanvas canvas(picture);
        canvas.SetBrushColor(QColor(1, 2, 3));
        canvas.FillRect(0, 0, 1, 1);
        // The pixel's raw word has blue in the low byte.
        QCOMPARE(picture.Pixel(0, 0) & 0xFFFFFFu, 0x010203u);
        QCOMPARE(picture.Pixel(1, 1), 0u);
    }

    void linesLeaveOutTheirEndPoint()
    {
        TDIB picture = Filled(10, 10, 24, 0);
        TDIBCanvas canvas(picture);
        canvas.SetPenColor(Qt::white);
        canvas.MoveTo(1, 1);
        canvas.LineTo(6, 1);
        canvas.LineTo(6, 4);
        for (int x = 1; x <= 5; ++x)
            QCOMPARE(At(picture, x, 1), 0xFFFFFFu);
        QCOMPARE(At(picture, 6, 1), 0xFFFFFFu); // the second line's start
        QCOMPARE(At(picture, 6, 3), 0xFFFFFFu);
        QCOMPARE(At(picture, 6, 4), 0u);
        QCOMPARE(At(picture, 0, 1), 0u);
        QCOMPARE(canvas.PenPos(), QPoint(6, 4));
        // A diagonal steps one pixel in each direction.
        canvas.MoveTo(0, 9);
        canvas.LineTo(3, 6);
        QCOMPARE(At(picture, 0, 9), 0xFFFFFFu);
        QCOMPARE(At(picture, 2, 7), 0xFFFFFFu);
        QCOMPARE(At(picture, 3, 6), 0u);
    }

    void drawsPicturesUnscaledAndStretchedByNearestNeighbour()
    {
        // A 2 x 2 source of four colours, 8 bits with its own colour table.
        TDIB source;
        source.SetSize(2, 2, 8);
        for (int i = 0; i < 4; ++i)
            source.ColorTable()[i]
                = { std::uint8_t(10 * i), std::uint8_t(20 * i), std::uint8_t(30 * i), 0 };
        source.UpdatePalette();
        source.ScanLine(0)[0] = 0;
        source.ScanLine(0)[1] = 1;
        source.ScanLine(1)[0] = 2;
        source.ScanLine(1)[1] = 3;

        TDIB target = Filled(6, 6, 24, 0xFF);
        TDIBCanvas canvas(target);
        canvas.Draw(-1, 5, source); // clipped on the left and at the bottom
        QCOMPARE(At(target, 0, 5), (30u | 20u << 8 | 10u << 16));
        QCOMPARE(At(target, 1, 5), 0xFFFFFFu);
        canvas.StretchDraw(0, 0, 4, 4, source);
        QCOMPARE(At(target, 0, 0), 0u);
        QCOMPARE(At(target, 1, 1), 0u);
        QCOMPARE(At(target, 2, 0), (30u | 20u << 8 | 10u << 16));
        QCOMPARE(At(target, 3, 3), (90u | 60u << 8 | 30u << 16));
        QCOMPARE(At(target, 4, 0), 0xFFFFFFu);

        // Drawing a picture onto a copy of itself keeps the canvas on its rows.
        TDIB copy(target);
        canvas.Draw(1, 0, copy);
        QCOMPARE(At(target, 1, 0), 0u);
        canvas.SetBrushColor(Qt::black);
        canvas.FillRect(5, 5, 6, 6);
        QCOMPARE(At(target, 5, 5), 0u);
    }

    void textChangesOnlyGlyphPixels()
    {
        TDIB picture = Filled(80, 40, 24, 0x40);
        TDIBCanvas canvas(picture);
        TCanvasFont font;
        font.Height = 20;
        font.Color = Qt::white;
        canvas.SetFont(font);
        const QSize extent = canvas.TextExtent(QStringLiteral("Wave"));
        QVERIFY(extent.width() > 10);
        QVERIFY(extent.height() <= 20 && extent.height() >= 15);
        canvas.TextOut(4, 4, QStringLiteral("Wave"));
        int changed = 0;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 80; ++x)
                if (At(picture, x, y) != 0x404040u) {
                    ++changed;
                    // Everything drawn lies in the text's cell.
                    QVERIFY2(
                        x >= 4 && x < 4 + extent.width() + 2 && y >= 4 && y < 4 + extent.height(),
                        qPrintable(QStringLiteral("%1,%2").arg(x).arg(y)));
                }
        QVERIFY(changed > 20);
        // The background between the glyphs is untouched: the cell is not filled.
        QVERIFY(changed < extent.width() * extent.height() / 2);
    }

    void rotatedTextTurnsAboutTheCellCorner()
    {
        TDIB picture = Filled(60, 60, 24, 0);
        TDIBCanvas canvas(picture);
        TCanvasFont font;
        font.Height = 16;
        font.Color = Qt::white;
        font.Escapement = 900; // a quarter turn anticlockwise: the text runs upwards
        canvas.SetFont(font);
        canvas.TextOut(10, 50, QStringLiteral("IIII"));
        int minY = 60, maxX = -1;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x)
                if (At(picture, x, y) != 0) {
                    minY = std::min(minY, y);
                    maxX = std::max(maxX, x);
                    QVERIFY(y <= 50 && x >= 10);
                }
        QVERIFY(minY < 40);
        QVERIFY(maxX < 10 + 17);
    }

    void cellFontsFitTheirCell()
    {
        for (int cell : { 8, 13, 20, 57, 150 }) {
            const QFontMetrics metrics(MakeCellFont(QStringLiteral("Sans Serif"), cell));
            QVERIFY(metrics.height() <= cell);
            QVERIFY(metrics.height() >= cell - cell / 5 - 2);
        }
    }

    // A picture 65535 pixels wide asks for cells of tens of thousands of
    // pixels, where the font engine's line heights overflow to negative
    // numbers: the search once stepped up through them for ever. Now it ends,
    // at the size limit, with a line that fits; and a large cell below the
    // limit still gets the largest size that fits.
    void hugeCellFontsEndAtTheLimit()
    {
        for (const char* family : { "DejaVu Sans", "C059", "Sans Serif" }) {
            for (int cell : { 3000, 19660, 60292, 2000000000 }) {
                const QFont font = MakeCellFont(QString::fromLatin1(family), cell);
                const int height = QFontMetrics(font).height();
                QVERIFY2(font.pixelSize() >= 1 && font.pixelSize() <= kMaxCellFontPixels,
                    qPrintable(QStringLiteral("%1 at %2: %3 px")
                                   .arg(family)
                                   .arg(cell)
                                   .arg(font.pixelSize())));
                QVERIFY(height > 0 && height <= cell);
                if (font.pixelSize() < kMaxCellFontPixels) {
                    QFont larger = font;
                    larger.setPixelSize(font.pixelSize() + 1);
                    const int next = QFontMetrics(larger).height();
                    QVERIFY(next > cell || next <= 0);
                }
            }
        }
    }

    void copiesToQImageAndBack()
    {
        TDIB picture = Filled(5, 3, 24, 0);
        picture.ScanLine(0)[0] = 1; // blue
        picture.ScanLine(0)[1] = 2;
        picture.ScanLine(0)[2] = 3; // red
        const QImage image = DIBToQImage(picture);
        QCOMPARE(image.size(), QSize(5, 3));
        QCOMPARE(image.pixel(0, 0), qRgb(3, 2, 1));
        QCOMPARE(image.pixel(4, 2), qRgb(0, 0, 0));
        const TDIB back = QImageToDIB(image);
        QCOMPARE(back.BitCount(), 24);
        for (int y = 0; y < 3; ++y)
            QCOMPARE(std::memcmp(back.ConstScanLine(y), picture.ConstScanLine(y), 15), 0);

        // Alpha blends over black.
        QImage translucent(2, 1, QImage::Format_ARGB32);
        translucent.setPixel(0, 0, qRgba(200, 100, 50, 255));
        translucent.setPixel(1, 0, qRgba(200, 100, 50, 0));
        const TDIB blended = QImageToDIB(translucent);
        QCOMPARE(blended.Pixel(0, 0), 200u | 100u << 8 | 50u << 16);
        QCOMPARE(blended.Pixel(1, 0), 0u);
        QVERIFY(QImageToDIB(QImage()).Empty());
        QVERIFY(DIBToQImage(TDIB()).isNull());
    }

    void clipboardBlocksRoundTrip()
    {
        TDIB picture;
        picture.SetSize(3, 2, 8);
        picture.ColorTable()[7] = { 1, 2, 3, 0 };
        picture.UpdatePalette();
        std::memset(picture.Bits(), 7, std::size_t(picture.Size()));
        picture.ScanLine(1)[2] = 0;

        const TClipboardBlock block = SaveToClipboardFormat(picture);
        QCOMPARE(block.Format, kClipboardFormatDIB);
        QCOMPARE(block.Palette, HPalette(0));
        TMemoryStream written;
        picture.WriteData(written);
        QVERIFY(block.Data == written.Data());

        TDIB back;
        LoadFromClipboardFormat(back, block.Format, block.Data, block.Palette);
        QCOMPARE(back.Width(), 3);
        QCOMPARE(back.BitCount(), 8);
        QVERIFY(back.ColorTable()[7] == picture.ColorTable()[7]);
        QCOMPARE(back.Pixel(2, 1), 0u);
        QCOMPARE(back.Pixel(0, 0), 7u);

        // A block that is no packed DIB fails and leaves the picture alone.
        const std::vector<std::uint8_t> junk { 1, 2, 3, 4, 5, 6 };
        QVERIFY_THROWS_EXCEPTION(std::exception, LoadFromClipboardFormat(back, 8, junk, 0));
        QCOMPARE(back.Width(), 3);
        // An empty picture gives an empty block, which reads as empty.
        QVERIFY(SaveToClipboardFormat(TDIB()).Data.empty());
        LoadFromClipboardFormat(back, 8, {}, 0);
        QVERIFY(back.Empty());
    }

    void systemClipboardCarriesABmpAndAnImage()
    {
        TDIB picture = Filled(4, 4, 24, 0x22);
        picture.ScanLine(0)[2] = 0xEE;
        std::unique_ptr<QMimeData> data(MakePictureMimeData(picture));
        QVERIFY(data->hasFormat(QStringLiteral("image/bmp")));
        QVERIFY(data->data(QStringLiteral("image/bmp")).startsWith("BM"));
        QVERIFY(data->hasImage());
        QVERIFY(ClipboardHasPicture(data.get()));
        const TDIB back = PictureFromClipboard(data.get());
        QCOMPARE(back.Width(), 4);
        QCOMPARE(back.Pixel(0, 0), picture.Pixel(0, 0));

        // Another program's bitmap, offered only as an image.
        QMimeData other;
        QImage image(3, 2, QImage::Format_RGB32);
        image.fill(qRgb(9, 8, 7));
        other.setImageData(image);
        QVERIFY(ClipboardHasPicture(&other));
        QCOMPARE(PictureFromClipboard(&other).Pixel(2, 1), 9u | 8u << 8 | 7u << 16);

        // A broken BMP falls back on the image; nothing at all gives nothing.
        QMimeData broken;
        broken.setData(QStringLiteral("image/bmp"), "BMnonsense");
        QVERIFY(ClipboardHasPicture(&broken));
        QVERIFY(PictureFromClipboard(&broken).Empty());
        QMimeData text;
        text.setText(QStringLiteral("flag"));
        QVERIFY(!ClipboardHasPicture(&text));
    }

    void theDibFormatReadsAndWritesThroughTDIB()
    {
        TDIB picture = Filled(5, 4, 24, 0x30);
        picture.ScanLine(3)[0] = 0x99;
        TMemoryStream file;
        picture.SaveToStream(file);
        QByteArray bytes(
            reinterpret_cast<const char*>(file.Data().data()), qsizetype(file.Data().size()));

        {
            const TDIBPictureClassEntry entry;
            QVERIFY(TDIBPictureClassEntry::Registered());
            QVERIFY(QImageReader::supportedImageFormats().contains("dib"));
            QBuffer buffer(&bytes);
            QImageReader reader(&buffer, "dib");
            const QImage image = reader.read();
            QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
            QCOMPARE(image.pixel(0, 3), qRgb(0x30, 0x30, 0x99));

            QByteArray written;
            QBuffer out(&written);
            out.open(QIODevice::WriteOnly);
            QImageWriter writer(&out, "dib");
            QVERIFY(writer.write(image));
            TSpanStream stream({ reinterpret_cast<const std::uint8_t*>(written.constData()),
                std::size_t(written.size()) });
            TDIB back;
            back.LoadFromStream(stream);
            QCOMPARE(back.Pixel(0, 3), picture.Pixel(0, 3));
            QCOMPARE(back.Width(), 5);
        }
        // Taken out again: nothing reaches TDIB any more.
        QVERIFY(!TDIBPictureClassEntry::Registered());
        QBuffer buffer(&bytes);
        QImageReader reader(&buffer, "dib");
        QVERIFY(reader.read().isNull());
    }

    void pictureControlShowsItsDIBUnscaled()
    {
        TDIBImage control;
        control.resize(20, 10);
        QSignalSpy painted(&control, &TDIBImage::OnPaint);
        TDIB picture = Filled(4, 3, 24, 0);
        picture.ScanLine(2)[5] = 0xFF; // pixel (1, 2) red
        control.SetDIB(picture);
        control.show();
        QVERIFY(QTest::qWaitForWindowExposed(&control));
        const QImage shown = control.grab().toImage();
        QCOMPARE(shown.pixel(1, 2), qRgb(0xFF, 0, 0));
        QCOMPARE(shown.pixel(0, 0), qRgb(0, 0, 0));
        QVERIFY(painted.count() >= 1);
        // The control holds the picture's storage, not a copy.
        QCOMPARE(control.DIB().ConstBits(), picture.ConstBits());
    }
};

QTEST_MAIN(tst_XDIBCanvas)
#include "tst_XDIBCanvas.moc"
