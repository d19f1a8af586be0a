// Drawing the text and its shadow onto a picture, judged by which pixels
// changed.

#include "ui/imaging/XTextOverlayDraw.h"

#include <QGuiApplication>
#include <QTest>
#include <cstring>

using namespace zx;

namespace {

TDIB Grey(int width, int height, std::uint8_t value)
{
    TDIB picture;
    picture.SetSize(width, height, 24);
    std::memset(picture.Bits(), value, std::size_t(picture.Size()));
    return picture;
}

struct TChange {
    int Count = 0;
    int Darker = 0;
    int Lighter = 0;
    QRect Darkened;
    QRect Changed;
};

// Compares every pixel with the plain grey it started as.
TChange Compare(const TDIB& picture, std::uint8_t grey)
{
    TChange change;
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.ConstScanLine(y);
        for (int x = 0; x < picture.Width(); ++x) {
            const int sum = row[3 * x] + row[3 * x + 1] + row[3 * x + 2];
            if (sum == 3 * grey)
                continue;
            ++change.Count;
            change.Changed |= QRect(x, y, 1, 1);
            if (sum < 3 * grey) {
                ++change.Darker;
                change.Darkened |= QRect(x, y, 1, 1);
            } else {
                ++change.Lighter;
            }
        }
    }
    return change;
}

TTextOverlaySettings Text(std::vector<std::string> lines)
{
    TTextOverlaySettings settings;
    settings.Lines = std::move(lines);
    settings.FontName = InitialTextFont(InstalledFontFamilies()).toStdString();
    settings.Color = 0xFFFFFF;
    settings.Shadow = 0;
    return settings;
}

} // namespace

class tst_XTextOverlayDraw : public QObject {
    Q_OBJECT

private slots:
    void nothingIsDrawnWithoutAFirstLine()
    {
        for (const auto& lines :
            { std::vector<std::string> {}, std::vector<std::string> { "", "later" } }) {
            TDIB picture = Grey(120, 80, 128);
            TTextOverlaySettings settings = Text(lines);
            settings.Shadow = 100;
            RenderTextOverlay(picture, settings);
            QCOMPARE(Compare(picture, 128).Count, 0);
        }
    }

    void centredTextInTheMiddle()
    {
        TDIB picture = Grey(200, 100, 128);
        RenderTextOverlay(picture, Text({ "WWWW" }));
        const TChange change = Compare(picture, 128);
        QVERIFY(change.Count > 50);
        QCOMPARE(change.Darker, 0); // white text, no shadow
        // Centred within a pixel or two of rounding and glyph bearings.
        const QPoint centre = change.Changed.center();
        QVERIFY2(std::abs(centre.x() - 100) <= 4, qPrintable(QString::number(centre.x())));
        QVERIFY2(std::abs(centre.y() - 50) <= 8, qPrintable(QString::number(centre.y())));
    }

    void rightAlignedLinesEndTogether()
    {
        TDIB picture = Grey(200, 120, 128);
        TTextOverlaySettings settings = Text({ "WWWWWW", "WW" });
        settings.AlignH = taRight;
        settings.Size = 15;
        RenderTextOverlay(picture, settings);
        // The right edges of the two lines' pixels lie within a glyph's
        // bearing of each other, at the picture's right edge.
        int rightTop = -1, rightBottom = -1, splitRow = -1;
        const TChange change = Compare(picture, 128);
        splitRow = change.Changed.center().y();
        for (int y = 0; y < 120; ++y) {
            const std::uint8_t* row = picture.ConstScanLine(y);
            for (int x = 0; x < 200; ++x)
                if (row[3 * x] != 128)
                    (y < splitRow ? rightTop : rightBottom)
                        = std::max(y < splitRow ? rightTop : rightBottom, x);
        }
        QVERIFY(rightTop > 190);
        QVERIFY(std::abs(rightTop - rightBottom) <= 3);
        // The short line starts well right of the long one.
        int leftTop = 200, leftBottom = 200;
        for (int y = 0; y < 120; ++y) {
            const std::uint8_t* row = picture.ConstScanLine(y);
            for (int x = 0; x < 200; ++x)
                if (row[3 * x] != 128)
                    (y < splitRow ? leftTop : leftBottom)
                        = std::min(y < splitRow ? leftTop : leftBottom, x);
        }
        QVERIFY(leftBottom > leftTop + 40);
    }

    void aSmallShadowIsTheSharpTextInBlack()
    {
        // Shadow 25 on 99 pixels: no offset, no blur; the black copy under the
        // antialiased edges darkens some pixels, and nothing else does.
        TDIB withShadow = Grey(99, 60, 128);
        TTextOverlaySettings settings = Text({ "Wave" });
        settings.Shadow = 25;
        RenderTextOverlay(withShadow, settings);
        const TChange shadowed = Compare(withShadow, 128);
        QVERIFY(shadowed.Darker > 0);
        TDIB without = Grey(99, 60, 128);
        settings.Shadow = 0;
        RenderTextOverlay(without, settings);
        const TChange plain = Compare(without, 128);
        QCOMPARE(plain.Darker, 0);
        // Everything changed lies where the plain text changed something.
        QVERIFY(plain.Changed.contains(shadowed.Changed));
    }

    void aDeepShadowFallsBelowAndRight()
    {
        TDIB picture = Grey(250, 120, 200);
        TTextOverlaySettings settings = Text({ "Wave" });
        settings.Color = 0x0000FF;
        settings.Shadow = 100; // d = 10
        RenderTextOverlay(picture, settings);
        const TChange change = Compare(picture, 200);
        TDIB plainPicture = Grey(250, 120, 200);
        settings.Shadow = 0;
        RenderTextOverlay(plainPicture, settings);
        const QRect text = Compare(plainPicture, 200).Changed;
        QVERIFY(change.Darker > 100);
        QVERIFY(change.Darkened.right() > text.right() + 5);
        QVERIFY(change.Darkened.bottom() > text.bottom() + 5);
        // A picture that is black already stays black: the shadow is clamped.
        TDIB black = Grey(250, 120, 0);
        settings.Shadow = 100;
        settings.Color = 0;
        RenderTextOverlay(black, settings);
        QCOMPARE(Compare(black, 0).Count, 0);
    }

    void aTurnedTextRunsUpwards()
    {
        TDIB picture = Grey(100, 200, 128);
        TTextOverlaySettings settings = Text({ "WWWWW" });
        settings.Angle = 90;
        settings.Size = 20;
        RenderTextOverlay(picture, settings);
        const QRect changed = Compare(picture, 128).Changed;
        QVERIFY2(changed.height() > 2 * changed.width(),
            qPrintable(QStringLiteral("%1 x %2").arg(changed.width()).arg(changed.height())));
    }

    void onlyTwentyFourBitPictures()
    {
        TDIB picture;
        picture.SetSize(10, 10, 8);
        QVERIFY_THROWS_EXCEPTION(std::exception, RenderTextOverlay(picture, Text({ "x" })));
        TDIB empty;
        RenderTextOverlay(empty, Text({ "x" }));
        QVERIFY(empty.Empty());
    }

    void theInitialFontIsAnInstalledOne()
    {
        const QStringList families = InstalledFontFamilies();
        QVERIFY(!families.isEmpty());
        QVERIFY(families.contains(InitialTextFont(families)));
        QCOMPARE(InitialTextFont({ "B", "Arial", "C" }), QStringLiteral("Arial"));
        QCOMPARE(InitialTextFont({ "B", "C" }), QStringLiteral("B"));
        QCOMPARE(InitialTextFont({}), QString());
    }
};

QTEST_MAIN(tst_XTextOverlayDraw)
#include "tst_XTextOverlayDraw.moc"
