// The film strip: its geometry and resize rules, how the user selects a frame,
// and the film as it is painted, checked on pixels of grab().

#include "ui/UITestUtil.h"
#include "ui/gif/XFilmDisplayComp.h"

#include <QSignalSpy>
#include <QTest>
#include <vector>

using namespace zx;
using zx::test::SolidPicture;

namespace {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kGreen = 0xFF00FF00;
constexpr QRgb kBlue = 0xFF0000FF;

QRgb At(const QImage& image, int x, int y)
{
    return image.pixel(x, y) | 0xFF000000;
}

// The columns of the top sprocket band that show a hole in cell x0 .. x0 + w.
std::vector<int> HoleColumns(const QImage& image, int x0, int w, int row)
{
    std::vector<int> columns;
    for (int x = x0; x < x0 + w; ++x)
        if (At(image, x, row) == kWhite)
            columns.push_back(x);
    return columns;
}

} // namespace

class TestFilmDisplay : public QObject {
    Q_OBJECT

private slots:
    void FortyLargeFramesMakeAStripOf13200By216();
    void FirstPictureGivesTheImageSize();
    void SettersResizeAndStaySilent();
    void BorderIsClamped_data();
    void BorderIsClamped();
    void ItemIndexIsClampedAndSilent();
    void ClearItemsKeepsTheSize();
    void LeftClickSelectsTheItemUnderTheMouse();
    void ClickBeyondTheLastItemSelectsIt();
    void OtherButtonsOnlyFocus();
    void ArrowKeysStepAndAlwaysNotify();
    void ArrowKeysFromNoSelectionSelectTheFirst();
    void PaintsTheFilm();
    void SprocketHolesAreCentred_data();
    void SprocketHolesAreCentred();
    void PicturesAreCentredAndTooLargeOnesLeftOut();
};

void TestFilmDisplay::FortyLargeFramesMakeAStripOf13200By216()
{
    const TDIB frame = SolidPicture(320, 200, kGreen);
    TFilmDisplay strip;
    for (int i = 0; i < 40; ++i)
        strip.AddItem(&frame);
    QCOMPARE(strip.Count(), 40);
    QCOMPARE(strip.size(), QSize(13200, 216));
    QCOMPARE(strip.ItemRect(0), QRect(0, 0, 330, 216));
    QCOMPARE(strip.ItemRect(39), QRect(39 * 330, 0, 330, 216));
    QCOMPARE(strip.ItemRect(39).right() + 1, strip.width());
}

void TestFilmDisplay::FirstPictureGivesTheImageSize()
{
    const TDIB first = SolidPicture(30, 20, kGreen);
    const TDIB larger = SolidPicture(50, 40, kBlue);
    TFilmDisplay strip;
    strip.AddItem(&first);
    strip.AddItem(&larger);
    QCOMPARE(strip.ImageWidth(), 30);
    QCOMPARE(strip.ImageHeight(), 20);
    QCOMPARE(strip.size(), QSize(2 * (30 + 8 + 2), 20 + 16));

    // An image size given beforehand is kept.
    TFilmDisplay preset;
    preset.SetImageWidth(64);
    preset.AddItem(&first);
    QCOMPARE(preset.ImageWidth(), 64);
    QCOMPARE(preset.ImageHeight(), 0);
}

void TestFilmDisplay::SettersResizeAndStaySilent()
{
    const TDIB frame = SolidPicture(30, 20, kGreen);
    TFilmDisplay strip;
    for (int i = 0; i < 3; ++i)
        strip.AddItem(&frame);
    QSignalSpy changes(&strip, &TFilmDisplay::OnChange);

    strip.SetImageWidth(100);
    QCOMPARE(strip.size(), QSize(3 * (100 + 8 + 2), 20 + 16));
    strip.SetImageHeight(50);
    QCOMPARE(strip.size(), QSize(330, 50 + 16));
    strip.SetBorder(10);
    QCOMPARE(strip.size(), QSize(3 * (100 + 20 + 2), 50 + 40));
    strip.SetItemIndex(2);
    QCOMPARE(strip.ItemIndex(), 2);
    QCOMPARE(changes.count(), 0);
}

void TestFilmDisplay::BorderIsClamped_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("1") << 1 << 3;
    QTest::newRow("-7") << -7 << 3;
    QTest::newRow("3") << 3 << 3;
    QTest::newRow("12") << 12 << 12;
    QTest::newRow("20") << 20 << 20;
    QTest::newRow("25") << 25 << 20;
}

void TestFilmDisplay::BorderIsClamped()
{
    QFETCH(int, value);
    QFETCH(int, expected);
    const TDIB frame = SolidPicture(40, 30, kGreen);
    TFilmDisplay strip;
    strip.AddItem(&frame);
    strip.AddItem(&frame);
    strip.SetBorder(value);
    QCOMPARE(strip.Border(), expected);
    QCOMPARE(strip.size(), QSize(2 * (40 + 2 * expected + 2), 30 + 4 * expected));
}

void TestFilmDisplay::ItemIndexIsClampedAndSilent()
{
    TFilmDisplay strip;
    QCOMPARE(strip.ItemIndex(), -1);
    strip.SetItemIndex(3);
    QCOMPARE(strip.ItemIndex(), -1);

    const TDIB frame = SolidPicture(20, 20, kGreen);
    for (int i = 0; i < 4; ++i)
        strip.AddItem(&frame);
    QSignalSpy changes(&strip, &TFilmDisplay::OnChange);
    strip.SetItemIndex(-5);
    QCOMPARE(strip.ItemIndex(), 0);
    strip.SetItemIndex(99);
    QCOMPARE(strip.ItemIndex(), 3);
    QCOMPARE(changes.count(), 0);
}

void TestFilmDisplay::ClearItemsKeepsTheSize()
{
    const TDIB frame = SolidPicture(20, 10, kGreen);
    TFilmDisplay strip;
    for (int i = 0; i < 5; ++i)
        strip.AddItem(&frame);
    strip.SetItemIndex(2);
    const QSize before = strip.size();
    strip.ClearItems();
    QCOMPARE(strip.Count(), 0);
    QCOMPARE(strip.ImageWidth(), 0);
    QCOMPARE(strip.ImageHeight(), 0);
    QCOMPARE(strip.ItemIndex(), -1);
    QCOMPARE(strip.size(), before);

    // The next picture gives the image size again.
    const TDIB other = SolidPicture(33, 44, kBlue);
    strip.AddItem(&other);
    QCOMPARE(strip.ImageWidth(), 33);
    QCOMPARE(strip.size(), QSize(33 + 10, 44 + 16));
}

void TestFilmDisplay::LeftClickSelectsTheItemUnderTheMouse()
{
    const TDIB frame = SolidPicture(20, 10, kGreen);
    TFilmDisplay strip;
    for (int i = 0; i < 5; ++i)
        strip.AddItem(&frame);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    QSignalSpy changes(&strip, &TFilmDisplay::OnChange);

    // Cells are 30 pixels wide: x 60..89 is item 2, its white gap included.
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(60, 5));
    QCOMPARE(strip.ItemIndex(), 2);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(89, 5));
    QCOMPARE(strip.ItemIndex(), 2);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(90, 5));
    QCOMPARE(strip.ItemIndex(), 3);
    QCOMPARE(changes.count(), 3);
    QCOMPARE(changes.front().front().value<TFilmDisplay*>(), &strip);
    QVERIFY(strip.hasFocus());
}

void TestFilmDisplay::ClickBeyondTheLastItemSelectsIt()
{
    const TDIB frame = SolidPicture(20, 10, kGreen);
    TFilmDisplay strip;
    for (int i = 0; i < 5; ++i)
        strip.AddItem(&frame);
    // After ClearItems the strip keeps its width, so a shorter list leaves
    // room to the right of its last item.
    strip.ClearItems();
    for (int i = 0; i < 2; ++i)
        strip.AddItem(&frame);
    strip.resize(150, strip.height());
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    QSignalSpy changes(&strip, &TFilmDisplay::OnChange);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(140, 5));
    QCOMPARE(strip.ItemIndex(), 1);
    QCOMPARE(changes.count(), 1);
}

void TestFilmDisplay::OtherButtonsOnlyFocus()
{
    const TDIB frame = SolidPicture(20, 10, kGreen);
    QWidget window;
    auto* other = new QWidget(&window);
    other->setFocusPolicy(Qt::StrongFocus);
    auto* strip = new TFilmDisplay(&window);
    strip->move(0, 40);
    for (int i = 0; i < 3; ++i)
        strip->AddItem(&frame);
    window.resize(200, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    other->setFocus();
    QSignalSpy changes(strip, &TFilmDisplay::OnChange);
    QTest::mouseClick(strip, Qt::RightButton, {}, QPoint(40, 5));
    QVERIFY(strip->hasFocus());
    QCOMPARE(strip->ItemIndex(), -1);
    QCOMPARE(changes.count(), 0);
}

void TestFilmDisplay::ArrowKeysStepAndAlwaysNotify()
{
    const TDIB frame = SolidPicture(20, 10, kGreen);
    TFilmDisplay strip;
    for (int i = 0; i < 3; ++i)
        strip.AddItem(&frame);
    strip.SetItemIndex(0);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    strip.setFocus();
    QSignalSpy changes(&strip, &TFilmDisplay::OnChange);

    QTest::keyClick(&strip, Qt::Key_Left);
    QCOMPARE(strip.ItemIndex(), 0);
    QCOMPARE(changes.count(), 1);
    QTest::keyClick(&strip, Qt::Key_Right);
    QTest::keyClick(&strip, Qt::Key_Right);
    QCOMPARE(strip.ItemIndex(), 2);
    QTest::keyClick(&strip, Qt::Key_Right);
    QCOMPARE(strip.ItemIndex(), 2);
    QCOMPARE(changes.count(), 4);
    QTest::keyClick(&strip, Qt::Key_Left);
    QCOMPARE(strip.ItemIndex(), 1);
    QCOMPARE(changes.count(), 5);
    // Other keys are not the strip's.
    QTest::keyClick(&strip, Qt::Key_Up);
    QCOMPARE(changes.count(), 5);
}

void TestFilmDisplay::ArrowKeysFromNoSelectionSelectTheFirst()
{
    const TDIB frame = SolidPicture(20, 10, kGreen);
    for (const Qt::Key key : { Qt::Key_Left, Qt::Key_Right }) {
        TFilmDisplay strip;
        for (int i = 0; i < 3; ++i)
            strip.AddItem(&frame);
        QSignalSpy changes(&strip, &TFilmDisplay::OnChange);
        QTest::keyClick(&strip, key);
        QCOMPARE(strip.ItemIndex(), 0);
        QCOMPARE(changes.count(), 1);
    }
}

void TestFilmDisplay::PaintsTheFilm()
{
    // Border 4, frame window 40 x 20: cells of 50, film 48 wide, 36 high.
    const TDIB frame = SolidPicture(40, 20, kGreen);
    TFilmDisplay strip;
    strip.AddItem(&frame);
    strip.AddItem(&frame);
    strip.SetItemIndex(1);
    const QImage image = strip.grab().toImage();
    QCOMPARE(image.size(), QSize(100, 36));

    for (const int x0 : { 0, 50 }) {
        // The edges, and the white gap after the film.
        QCOMPARE(At(image, x0 + 10, 0), kBlack);
        QCOMPARE(At(image, x0 + 10, 35), kBlack);
        QCOMPARE(At(image, x0 + 48, 0), kWhite);
        QCOMPARE(At(image, x0 + 49, 20), kWhite);
        // Three holes of 8 in each band: 4 + 16k .. 11 + 16k.
        for (const int row : { 1, 3, 32, 34 }) {
            QCOMPARE(At(image, x0 + 3, row), kBlack);
            QCOMPARE(At(image, x0 + 4, row), kWhite);
            QCOMPARE(At(image, x0 + 11, row), kWhite);
            QCOMPARE(At(image, x0 + 12, row), kBlack);
            QCOMPARE(At(image, x0 + 36, row), kWhite);
            QCOMPARE(At(image, x0 + 43, row), kWhite);
            QCOMPARE(At(image, x0 + 44, row), kBlack);
        }
        // The frame lines: outer at row 4 and column 0, inner one pixel
        // around the window.
        QCOMPARE(At(image, x0 + 20, 4), kBlack);
        QCOMPARE(At(image, x0, 20), kBlack);
        QCOMPARE(At(image, x0 + 3, 20), kBlack);
        QCOMPARE(At(image, x0 + 20, 7), kBlack);
        QCOMPARE(At(image, x0 + 44, 20), kBlack);
        QCOMPARE(At(image, x0 + 20, 28), kBlack);
        // The picture fills the window.
        QCOMPARE(At(image, x0 + 4, 8), kGreen);
        QCOMPARE(At(image, x0 + 43, 27), kGreen);
    }
    // The selection band: red around item 1, black around item 0, on all
    // four sides.
    for (const QPoint& band : { QPoint(1, 5), QPoint(20, 6), QPoint(2, 20), QPoint(46, 20),
             QPoint(20, 29), QPoint(46, 30) }) {
        QCOMPARE(At(image, band.x(), band.y()), kBlack);
        QCOMPARE(At(image, 50 + band.x(), band.y()), kRed);
    }
}

void TestFilmDisplay::SprocketHolesAreCentred_data()
{
    QTest::addColumn<int>("imageWidth");
    QTest::addColumn<int>("border");
    for (int width = 16; width <= 48; width += 3)
        QTest::addRow("W%d", width) << width << 4;
    QTest::newRow("border 20") << 50 << 20;
    QTest::newRow("border 3") << 17 << 3;
}

void TestFilmDisplay::SprocketHolesAreCentred()
{
    QFETCH(int, imageWidth);
    QFETCH(int, border);
    const TDIB frame = SolidPicture(imageWidth, 10, kGreen);
    TFilmDisplay strip;
    strip.SetBorder(border);
    strip.AddItem(&frame);
    const QImage image = strip.grab().toImage();
    const int w = 2 * border + imageWidth;
    const std::vector<int> holes = HoleColumns(image, 0, w, 1);
    QCOMPARE(int(holes.size()), (w / 16) * 8);
    QVERIFY(!holes.empty());
    const int left = holes.front();
    const int right = w - 1 - holes.back();
    QVERIFY2(std::abs(left - right) <= 1,
        qPrintable(QStringLiteral("margins %1 and %2").arg(left).arg(right)));
    // The bottom band has the same holes.
    QCOMPARE(HoleColumns(image, 0, w, 10 + 3 * border), holes);
}

void TestFilmDisplay::PicturesAreCentredAndTooLargeOnesLeftOut()
{
    const TDIB window = SolidPicture(40, 20, kGreen);
    const TDIB smaller = SolidPicture(20, 10, kBlue);
    const TDIB larger = SolidPicture(41, 20, kRed);
    TFilmDisplay strip;
    strip.AddItem(&window);
    strip.AddItem(&smaller);
    strip.AddItem(&larger);
    const QImage image = strip.grab().toImage();

    // Item 1: the 20 x 10 picture at (50 + 4 + 10, 8 + 5), black around it.
    QCOMPARE(At(image, 64, 13), kBlue);
    QCOMPARE(At(image, 83, 22), kBlue);
    QCOMPARE(At(image, 63, 13), kBlack);
    QCOMPARE(At(image, 84, 22), kBlack);
    QCOMPARE(At(image, 64, 12), kBlack);
    QCOMPARE(At(image, 64, 23), kBlack);
    // Item 2: one column too wide, so nothing of it is drawn.
    for (int y = 8; y < 28; ++y)
        for (int x = 104; x < 144; ++x)
            QCOMPARE(At(image, x, y), kBlack);
}

QTEST_MAIN(TestFilmDisplay)
#include "tst_XFilmDisplayComp.moc"
