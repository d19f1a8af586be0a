// The control panel and the flag window together, offscreen: start-up, the
// playback tick, pausing and stepping, the pin point, the size limits, paste,
// open and save. The timer is stopped after start-up and the ticks are run by
// hand, so every test sees the same sequence. The controls are driven as the
// user drives them, found by their names.

#include "UITestUtil.h"
#include "core/Stream.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XIntegerEditComp.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/FlagWork.h"
#include "ui/flag/ShowUnit.h"
#include "ui/imaging/XDIBClipboardQt.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFocusEvent>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QProcess>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <memory>
#include <vector>

using namespace zx;
using zx::test::Control;

namespace {

struct TMessage {
    QString Title;
    QString Text;
};

} // namespace

class tst_FlagUnit : public QObject {
    Q_OBJECT

    std::unique_ptr<TFlagForm> m_panel;
    TShowForm* m_show = nullptr;
    std::vector<TMessage> m_messages;

    // Runs n ticks of the playback timer.
    void Tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            m_panel->FlagTimerTimer();
    }
    int RenderedCount() const
    {
        int count = 0;
        for (bool rendered : Store().FrameRendered)
            count += rendered ? 1 : 0;
        return count;
    }
    const TFrameStore& Store() const { return m_panel->Model().FrameStore(); }
    const TFlagPlayback& Playback() const { return m_panel->Playback(); }
    template <class T> T* C(const char* name) const { return Control<T>(*m_panel, name); }
    TNiceScrollBar* Slider(const char* name) const { return C<TNiceScrollBar>(name); }
    QCheckBox* Box(const char* name) const { return C<QCheckBox>(name); }
    // The user steps a slider with its arrow keys.
    void Press(TNiceScrollBar* slider, Qt::Key key, int times = 1)
    {
        slider->setFocus();
        for (int i = 0; i < times; ++i)
            QTest::keyClick(slider, key);
    }
    // Some pixel of the pin's place in the flag window is not the shown frame's.
    bool PinShown() const
    {
        const QImage shown = m_show->FlagPaintBox()->grab().toImage();
        const TDIB& frame = Store().FrameBitmaps[Playback().ShownFrame()];
        const FlagParameters& p = m_panel->CurrentParameters();
        const int left = 150 * p.SpotX / 1024 + 75 - 6;
        const int top = 97 * p.SpotY / 1024 + 48 - 24;
        for (int y = std::max(0, top); y < top + 24; ++y)
            for (int x = std::max(0, left); x < left + 12; ++x) {
                const std::uint32_t c = frame.Pixel(x, y);
                if (shown.pixel(x, y)
                    != qRgb(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF)))
                    return true;
            }
        return false;
    }
    // Every pixel of a frame, row by row.
    static std::vector<std::uint32_t> Pixels(const TDIB& frame)
    {
        std::vector<std::uint32_t> pixels;
        for (int y = 0; y < frame.Height(); ++y)
            for (int x = 0; x < frame.Width(); ++x)
                pixels.push_back(frame.Pixel(x, y));
        return pixels;
    }
    QByteArray ReadFile(const QString& path) const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void initTestCase() { InitializeApplication(); }

    void init()
    {
        m_messages.clear();
        SetMessageBoxHook([this](const QString& title, const QString& text) {
            m_messages.push_back({ title, text });
        });
        m_panel = std::make_unique<TFlagForm>();
        m_show = new TShowForm(m_panel.get());
        m_panel->StartUp(m_show);
        Control<QTimer>(*m_panel, "FlagTimer")->stop();
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
        QVERIFY(QTest::qWaitForWindowExposed(m_show));
    }

    void cleanup()
    {
        m_panel.reset();
        m_show = nullptr;
        SetMessageBoxHook({});
    }

    void startsWithTheDefaults()
    {
        QVERIFY(PanelExists);
        QVERIFY(FlagWindowExists);
        QCOMPARE(m_panel->windowTitle(), QStringLiteral("Zephyrix"));
        QCOMPARE(m_show->windowTitle(), QStringLiteral("旗帜"));
        QCOMPARE(m_panel->CurrentParameters(), FlagParameters {});
        QCOMPARE(m_panel->Settings(), TSettings {});
        QCOMPARE(Slider("FramesNiceScrollBar")->Max(), 40);
        QCOMPARE(Slider("FramesNiceScrollBar")->LabelText(), QStringLiteral("帧数：8"));
        QCOMPARE(Slider("DelayNiceScrollBar")->LabelText(), QStringLiteral("延迟：50 毫秒"));
        QCOMPARE(Slider("LoopsNiceScrollBar")->LabelText(), QStringLiteral("循环：连续不断"));
        QCOMPARE(Slider("BitsNiceScrollBar")->LabelText(), QStringLiteral("颜色：256 (8 位)"));
        QCOMPARE(Slider("HeightNiceScrollBar")->LabelText(), QStringLiteral("振幅：50%"));
        QCOMPARE(C<TRadioGroup>("AntialiasRadioGroup")->ItemIndex(), 0);
        QCOMPARE(C<TRadioGroup>("AntialiasRadioGroup")->title(), QStringLiteral("反锯齿"));
        QVERIFY(Box("TransparentCheckBox")->isChecked());
        QCOMPARE(Box("RadialCheckBox")->text(), QStringLiteral("辐射波纹"));
        QCOMPARE(Box("HighQualityCheckBox")->text(), QStringLiteral("高质量"));
        QVERIFY(!Box("HighQualityCheckBox")->isChecked());
        QTabWidget* pages = C<QTabWidget>("PageControl");
        QCOMPARE(Box("HighQualityCheckBox")->parentWidget(), pages->widget(pages->count() - 1));
        QCOMPARE(C<QLabel>("GIFNoteLabel")->text(),
            QStringLiteral(
                "这些选项仅对保存的文件有效：延迟、循环和最大文件大小适用于 "
                "GIF、WebP 和 APNG，WebP 质量和 WebP 无损仅适用于 WebP，其余选项仅适用于 GIF。"));
        QCOMPARE(Slider("WebPQualityNiceScrollBar")->LabelText(), QStringLiteral("WebP 质量: 90"));
        QCOMPARE(Box("WebPLosslessCheckBox")->text(), QStringLiteral("WebP 无损"));
        QVERIFY(!Box("WebPLosslessCheckBox")->isChecked());
        QCOMPARE(Box("WebPLosslessCheckBox")->parentWidget(), pages->widget(pages->count() - 1));
        QCOMPARE(C<TColorChoice>("BackColorChoice")->Caption(), QStringLiteral("颜色"));
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));
        QCOMPARE(m_show->PaintAreaSize(), QSize(150, 97));
        QCOMPARE(m_show->StatusText(), QStringLiteral("150 x 97"));
        // The flag window stands beside the panel, to its right.
        QCOMPARE(m_show->frameGeometry().top(), m_panel->frameGeometry().top());
        QVERIFY(
            m_show->frameGeometry().left() >= m_panel->frameGeometry().left() + m_panel->width());
        QStringList captions;
        for (int i = 0; i < pages->count(); ++i)
            captions << pages->tabText(i);
        QCOMPARE(captions, (QStringList { "动画", "旗帜", "抖动", "光线", "背景", "GIF" }));
        const TTextureItem* texture = m_panel->CurrentTexture();
        QVERIFY(texture);
        QCOMPARE(texture->Prepared.Width(), 150);
        QCOMPARE(texture->Prepared.Height(), 100);
        QCOMPARE(texture->Prepared.BitCount(), 24);
    }

    void theTickRendersOneFrameAndFollowsIt()
    {
        QCOMPARE(RenderedCount(), 0);
        Tick();
        QCOMPARE(RenderedCount(), 1);
        QVERIFY(Store().FrameRendered[0]);
        QCOMPARE(m_panel->StatusText(), QStringLiteral("正在渲染 帧 #1"));
        QCOMPARE(Playback().ShownFrame(), 0);
        Tick();
        QCOMPARE(m_panel->StatusText(), QStringLiteral("正在渲染 帧 #2"));
        QCOMPARE(Playback().ShownFrame(), 1);
        Tick(6);
        QCOMPARE(RenderedCount(), 8);
        QCOMPARE(Playback().ShownFrame(), 7);
        // All there: the loop cycles one frame per tick at no render cost. The
        // status names the frame shown when the tick began.
        Tick();
        QCOMPARE(Playback().ShownFrame(), 0);
        QCOMPARE(m_panel->StatusText(), QStringLiteral("正在显示的帧序号 #8"));
        Tick();
        QCOMPARE(Playback().ShownFrame(), 1);
        QCOMPARE(m_panel->StatusText(), QStringLiteral("正在显示的帧序号 #1"));

        // The flag window shows the frame itself.
        const QImage shown = m_show->FlagPaintBox()->grab().toImage();
        const TDIB& frame = Store().FrameBitmaps[Playback().ShownFrame()];
        const std::uint32_t c = frame.Pixel(75, 48);
        QCOMPARE(shown.pixel(75, 48), qRgb(int(c & 0xFF), int(c >> 8 & 0xFF), int(c >> 16 & 0xFF)));
    }

    void aChangeWhilePausedStaysInvalidUntilPlaybackResumes()
    {
        Tick(8);
        QCOMPARE(RenderedCount(), 8);
        Box("PauseCheckBox")->setChecked(true);
        QCOMPARE(m_panel->BusyFlags() & bfPaused, bfPaused);
        const int shown = Playback().ShownFrame();
        // The user moves the amplitude slider by a key press.
        Slider("HeightNiceScrollBar")->setFocus();
        QTest::keyClick(Slider("HeightNiceScrollBar"), Qt::Key_Right);
        QCOMPARE(RenderedCount(), 0);
        Tick(5);
        QCOMPARE(RenderedCount(), 0);
        QCOMPARE(m_panel->StatusText(), QStringLiteral("帧序号 #%1 无效。").arg(shown + 1));
        // A blank in the button-face colour instead of the frame.
        const QImage blank = m_show->FlagPaintBox()->grab().toImage();
        QCOMPARE(blank.pixel(75, 48), m_show->palette().color(QPalette::Button).rgb());
        Box("PauseCheckBox")->setChecked(false);
        Tick();
        QCOMPARE(RenderedCount(), 1);
    }

    void theStepButtonsWrapAndTheFirstPressOnlyPauses()
    {
        Tick(8);
        QCOMPARE(Playback().ShownFrame(), 7);
        QTest::mouseClick(C<QToolButton>("RightSpeedButton"), Qt::LeftButton);
        QVERIFY(Box("PauseCheckBox")->isChecked());
        QCOMPARE(Playback().ShownFrame(), 7);
        QTest::mouseClick(C<QToolButton>("RightSpeedButton"), Qt::LeftButton);
        QCOMPARE(Playback().ShownFrame(), 0);
        QTest::mouseClick(C<QToolButton>("LeftSpeedButton"), Qt::LeftButton);
        QCOMPARE(Playback().ShownFrame(), 7);
        QTest::mouseClick(C<QToolButton>("LeftSpeedButton"), Qt::LeftButton);
        QCOMPARE(Playback().ShownFrame(), 6);
        Tick();
        QCOMPARE(m_panel->StatusText(), QStringLiteral("正在显示的帧序号 #7"));

        // Running again, the left button too only pauses.
        Box("PauseCheckBox")->setChecked(false);
        Tick();
        const int shown = Playback().ShownFrame();
        QTest::mouseClick(C<QToolButton>("LeftSpeedButton"), Qt::LeftButton);
        QVERIFY(Box("PauseCheckBox")->isChecked());
        QCOMPARE(Playback().ShownFrame(), shown);
    }

    void lowerFramesBelowTheCursorRendersTheOldSlotOnce()
    {
        Tick(6);
        QCOMPARE(Playback().RenderCursor(), std::uint16_t(6));
        Slider("FramesNiceScrollBar")->setFocus();
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(Slider("FramesNiceScrollBar"), Qt::Key_Left);
        QCOMPARE(Slider("FramesNiceScrollBar")->Position(), 3);
        Tick();
        QVERIFY(Store().FrameRendered[6]);
        QCOMPARE(Playback().RenderCursor(), std::uint16_t(1));
    }

    void aClickSetsThePinPoint()
    {
        Tick(8);
        QTest::mouseClick(m_show->FlagPaintBox(), Qt::LeftButton, Qt::NoModifier, QPoint(75, 48));
        QCOMPARE(m_panel->CurrentParameters().SpotX, 0);
        QCOMPARE(m_panel->CurrentParameters().SpotY, 0); // (48 - 48) x 1024 div 97
        QCOMPARE(Playback().PinCountdown(), 10);
        QCOMPARE(RenderedCount(), 0);
        // (QTest takes the point (0, 0) for "the centre".)
        QTest::mouseClick(m_show->FlagPaintBox(), Qt::RightButton, Qt::NoModifier, QPoint(0, 1));
        QCOMPARE(m_panel->CurrentParameters().SpotX, -512);
        QCOMPARE(m_panel->CurrentParameters().SpotY, (-47 * 1024) / 97);
        QCOMPARE(m_panel->CurrentParameters().SpotX, -512);

        // The pin shows on the next ten paints of a valid frame, then goes.
        Tick();
        QCOMPARE(Playback().PinCountdown(), 9);
        for (int i = 0; i < 20; ++i)
            Tick();
        QCOMPARE(Playback().PinCountdown(), 0);
    }

    void thePinShowsForTenPaintsWhateverIsRepainted()
    {
        // Showing the flag window resized it, which showed the pin too; the
        // tenth paint was its last.
        Tick(kPinPaints);
        QCOMPARE(Playback().PinCountdown(), 0);
        QVERIFY(PinShown());
        Tick();
        QVERIFY(!PinShown());
        QTest::mouseClick(m_show->FlagPaintBox(), Qt::LeftButton, Qt::NoModifier, QPoint(75, 48));
        for (int i = 0; i < kPinPaints; ++i) {
            Tick();
            QVERIFY2(PinShown(), qPrintable(QStringLiteral("tick %1").arg(i)));
            // The window system repaints as often as it likes in between: an
            // expose, a grab, a repaint of the window. None counts.
            m_show->FlagPaintBox()->repaint();
            m_show->FlagPaintBox()->update();
            QCoreApplication::processEvents();
            m_show->repaint();
            QVERIFY(PinShown());
            QCOMPARE(Playback().PinCountdown(), kPinPaints - 1 - i);
        }
        Tick();
        QVERIFY(!PinShown());
        // A resize shows it again, from the next valid frame on.
        m_show->resize(m_show->width() + 2, m_show->height());
        QTRY_COMPARE(m_show->PaintAreaSize(), QSize(152, 97));
        QCOMPARE(Playback().PinCountdown(), kPinPaints);
    }

    void theFlagWindowKeepsItsSizeLimits()
    {
        QCOMPARE(m_show->minimumSize(), QSize(16, 16 + TShowForm::kStatusBarHeight));
        QCOMPARE(m_show->maximumSize(), QSize(320, 200 + TShowForm::kStatusBarHeight));
        Tick(3);
        m_show->resize(500, 500);
        QTRY_COMPARE(m_show->PaintAreaSize(), QSize(320, 200));
        QCOMPARE(m_panel->Model().Derived().FrameWidth, 320);
        QCOMPARE(m_panel->Model().Derived().FrameHeight, 200);
        QCOMPARE(m_show->StatusText(), QStringLiteral("320 x 200"));
        QCOMPARE(RenderedCount(), 0);
        QCOMPARE(Playback().PinCountdown(), 10);
        m_show->resize(5, 5);
        QTRY_COMPARE(m_show->PaintAreaSize(), QSize(16, 16));
        Tick();
        QCOMPARE(
            Store()
                .FrameBitmaps[Playback().RenderCursor() == 0 ? 0 : Playback().RenderCursor() - 1]
                .Width(),
            16);
    }

    void transparencyRadialAndLightInvalidate()
    {
        Tick(8);
        Box("TransparentCheckBox")->click();
        QVERIFY(!m_panel->CurrentParameters().TransparentMode);
        QCOMPARE(RenderedCount(), 0);

        Tick(8);
        Box("RadialCheckBox")->click();
        QCOMPARE(RenderedCount(), 0);
        QVERIFY(!Slider("AngleNiceScrollBar")->Enabled());
        Box("RadialCheckBox")->click();
        QVERIFY(Slider("AngleNiceScrollBar")->Enabled());
        QCOMPARE(Slider("AngleNiceScrollBar")->Position(), 15);

        const TLightTable before = m_panel->Model().LightTable();
        Tick(8);
        Box("SwapLightCheckBox")->click();
        QVERIFY(m_panel->Model().LightTable() != before);
        QCOMPARE(m_panel->Model().LightTable(), BuildLightTable(100, 50, true));
        QCOMPARE(RenderedCount(), 0);

        // The GIF page's sliders change what is saved, not the frames.
        Tick(8);
        Slider("BitsNiceScrollBar")->setFocus();
        QTest::keyClick(Slider("BitsNiceScrollBar"), Qt::Key_Left);
        QCOMPARE(Slider("BitsNiceScrollBar")->LabelText(), QStringLiteral("颜色：128 (7 位)"));
        Slider("LoopsNiceScrollBar")->setFocus();
        QTest::keyClick(Slider("LoopsNiceScrollBar"), Qt::Key_Right);
        QCOMPARE(Slider("LoopsNiceScrollBar")->LabelText(), QStringLiteral("循环：1"));
        QCOMPARE(RenderedCount(), 8);
    }

    void theBackgroundColourInvalidatesOnlyOpaqueFlags()
    {
        Tick(8);
        // A pick in the chart, as the user makes it.
        const auto pick = [&](QPoint at) {
            QTest::mouseClick(
                C<TColorChoice>("BackColorChoice")->Chart(), Qt::LeftButton, Qt::NoModifier, at);
        };
        C<QTabWidget>("PageControl")->setCurrentIndex(4);
        QVERIFY(QTest::qWaitForWindowExposed(m_panel.get()));
        pick(QPoint(30, 10));
        const TColor chosen = C<TColorChoice>("BackColorChoice")->Color();
        QCOMPARE(m_panel->CurrentParameters().BackgroundColor, chosen);
        QCOMPARE(RenderedCount(), 8); // transparent: the colour is not seen
        Box("TransparentCheckBox")->click();
        QCOMPARE(RenderedCount(), 0);
        Tick(8);
        pick(QPoint(60, 12));
        QVERIFY(C<TColorChoice>("BackColorChoice")->Color() != chosen);
        QCOMPARE(RenderedCount(), 0);
        // Setting the colour from code is silent.
        Tick(8);
        C<TColorChoice>("BackColorChoice")->SetColor(0x123456);
        QCOMPARE(RenderedCount(), 8);
    }

    void pasteWithoutAPictureWarnsAndChangesNothing()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("no picture here"));
        Tick(8);
        const TDIB before = m_panel->CurrentTexture()->Source;
        m_panel->Edit1Click();
        QVERIFY(!C<QAction>("Pasteimage1")->isEnabled());
        C<QAction>("Pasteimage1")->setEnabled(true);
        m_panel->Pasteimage1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].Title, QStringLiteral("警告"));
        QCOMPARE(m_messages[0].Text, QStringLiteral("剪贴板为空！"));
        QCOMPARE(m_panel->CurrentTexture()->Source.ConstBits(), before.ConstBits());
        QCOMPARE(RenderedCount(), 8);
    }

    void pasteTakesTheClipboardsPicture()
    {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(qRgb(10, 200, 30));
        QGuiApplication::clipboard()->setImage(image);
        Tick(8);
        m_panel->Edit1Click();
        QVERIFY(C<QAction>("Pasteimage1")->isEnabled());
        m_panel->Pasteimage1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(m_messages.empty());
        const TTextureItem* texture = m_panel->CurrentTexture();
        QCOMPARE(texture->Source.Width(), 40);
        QCOMPARE(texture->Source.BitCount(), 24);
        QCOMPARE(texture->Prepared.Pixel(5, 5), 10u | 200u << 8 | 30u << 16);
        QCOMPARE(RenderedCount(), 0);
    }

    void pasteKeepsTheImagesTransparency()
    {
        // The left half transparent: the alpha plane holds it, the colours are
        // the image's own, not darkened by compositing.
        QImage image(40, 30, QImage::Format_ARGB32);
        image.fill(qRgba(10, 200, 30, 255));
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 20; ++x)
                image.setPixel(x, y, qRgba(250, 100, 0, x < 10 ? 0 : 100));
        QGuiApplication::clipboard()->setImage(image);
        m_panel->Pasteimage1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(m_messages.empty());
        const TTextureItem* texture = m_panel->CurrentTexture();
        QCOMPARE(texture->Alpha.Width(), 40);
        QCOMPARE(texture->Alpha.BitCount(), 8);
        QCOMPARE(texture->Alpha.Pixel(15, 3), 100u);
        QCOMPARE(texture->Alpha.Pixel(30, 3), 255u);
        QCOMPARE(texture->Source.Pixel(15, 3), 250u | 100u << 8);
        // An opaque image afterwards takes the plane away again.
        image.fill(qRgba(1, 2, 3, 255));
        QGuiApplication::clipboard()->setImage(image);
        m_panel->Pasteimage1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(texture->Alpha.Empty());
    }

    void openingAPictureWithAlphaShapesTheFlag()
    {
        // A PNG whose left half is transparent, and the same picture opaque:
        // the transparent half is off the flag, so more of the frame is.
        QTemporaryDir dir;
        const auto count = [&](bool transparentHalf) {
            QImage image(60, 40, QImage::Format_ARGB32);
            image.fill(qRgba(200, 40, 40, 255));
            if (transparentHalf)
                for (int y = 0; y < 40; ++y)
                    for (int x = 0; x < 30; ++x)
                        image.setPixel(x, y, qRgba(0, 0, 0, 0));
            const QString path = dir.filePath(QStringLiteral("shape.png"));
            if (!image.save(path, "PNG"))
                return -1;
            m_panel->OpenPictureDialog = [&] { return std::optional<QString>(path); };
            m_panel->Open1Click();
            if (!m_panel->Work().WaitUntilIdle())
                return -1;
            Tick(8);
            const TDIB& mask = Store().FrameMasks[0];
            int off = 0;
            for (int y = 0; y < mask.Height(); ++y)
                for (int x = 0; x < mask.Width(); ++x)
                    off += mask.ConstScanLine(y)[x] == 255;
            return off;
        };
        const int opaque = count(false);
        QVERIFY(m_panel->CurrentTexture()->Alpha.Empty());
        const int shaped = count(true);
        QVERIFY2(m_messages.empty(), m_messages.empty() ? "" : qPrintable(m_messages[0].Text));
        QVERIFY(!m_panel->CurrentTexture()->Alpha.Empty());
        QVERIFY(Store().FrameTransparent[0]);
        QVERIFY2(
            shaped > opaque + 1000, qPrintable(QStringLiteral("%1 %2").arg(shaped).arg(opaque)));
        // The built-in picture has no alpha.
        m_panel->LoadTexture();
        QVERIFY(m_panel->CurrentTexture()->Alpha.Empty());
    }

    void theOpenFilterListsEveryFormatFirst()
    {
        const QStringList filters = QtNameFilters(QString::fromUtf8(sOpenPictureFilter));
        QCOMPARE(filters.size(), 7);
        for (const char* pattern :
            { "*.bmp", "*.jpg", "*.jpeg", "*.gif", "*.png", "*.webp", "*.svg" })
            QVERIFY2(filters[0].contains(QLatin1String(pattern)), pattern);
        QVERIFY(filters[4].contains(QLatin1String("*.png")));
        QVERIFY(filters[6].contains(QLatin1String("*.svg")));
    }

    void aFailingOpenLeavesEverythingAsItWas()
    {
        QTemporaryDir dir;
        const QString bad = dir.filePath(QStringLiteral("broken.bmp"));
        {
            QFile file(bad);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("BMthis is not a bitmap at all");
        }
        Tick(8);
        const TDIB source = m_panel->CurrentTexture()->Source;
        const TDIB prepared = m_panel->CurrentTexture()->Prepared;
        m_panel->OpenPictureDialog = [&] { return std::optional<QString>(bad); };
        m_panel->Open1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_messages[0].Title, QStringLiteral("Zephyrix"));
        QVERIFY(!m_messages[0].Text.isEmpty());
        QCOMPARE(m_panel->CurrentTexture()->Source.ConstBits(), source.ConstBits());
        QCOMPARE(m_panel->CurrentTexture()->Prepared.ConstBits(), prepared.ConstBits());
        QCOMPARE(RenderedCount(), 8);
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));

        // Cancelling the dialog does nothing either.
        m_messages.clear();
        m_panel->OpenPictureDialog = [] { return std::optional<QString>(); };
        m_panel->Open1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(m_messages.empty());
        QCOMPARE(RenderedCount(), 8);

        // A good picture replaces the texture and invalidates the frames; the
        // dialog bit is set while the dialog runs.
        const QString good = QStringLiteral(ZX_TEST_DATA_DIR "/bmp/bmpsuite/g/rgb24.bmp");
        std::uint16_t busyInDialog = 0;
        m_panel->OpenPictureDialog = [&] {
            busyInDialog = m_panel->BusyFlags();
            return std::optional<QString>(good);
        };
        m_panel->Open1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY2(m_messages.empty(), m_messages.empty() ? "" : qPrintable(m_messages[0].Text));
        QCOMPARE(busyInDialog, std::uint16_t(bfDialog));
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));
        QVERIFY(m_panel->CurrentTexture()->Source.ConstBits() != source.ConstBits());
        QCOMPARE(RenderedCount(), 0);
    }

    void theHoistControlsFollowTheHoistAndInvalidate()
    {
        TRadioGroup* hoist = C<TRadioGroup>("HoistRadioGroup");
        TNiceScrollBar* width = Slider("HoistWidthNiceScrollBar");
        QCheckBox* pole = Box("PoleCheckBox");
        QTabWidget* pages = C<QTabWidget>("PageControl");
        QVERIFY(pages->widget(1)->isAncestorOf(hoist));
        QVERIFY(pages->widget(1)->isAncestorOf(width));
        QVERIFY(pages->widget(1)->isAncestorOf(pole));
        QCOMPARE(hoist->title(), QStringLiteral("旗杆侧"));
        QStringList items;
        for (const QRadioButton* b : hoist->findChildren<QRadioButton*>())
            items << b->text();
        QCOMPARE(items, (QStringList { "无", "左", "右", "上", "下" }));
        QCOMPARE(hoist->ItemIndex(), 0);
        QCOMPARE(width->LabelText(), QStringLiteral("固定宽度: 30%"));
        QCOMPARE(pole->text(), QStringLiteral("显示旗杆"));
        // Without a hoist the width and the pole mean nothing.
        QVERIFY(!width->Enabled());
        QVERIFY(!pole->isEnabled());

        Tick(8);
        const std::vector<std::uint32_t> free = Pixels(Store().FrameBitmaps[2]);
        hoist->findChildren<QRadioButton*>()[3]->click();
        QCOMPARE(m_panel->CurrentParameters().Hoist, std::int32_t(hoTop));
        QCOMPARE(RenderedCount(), 0);
        QVERIFY(width->Enabled());
        QVERIFY(pole->isEnabled());
        Tick(8);
        QVERIFY(Pixels(Store().FrameBitmaps[2]) != free);

        pole->click();
        QVERIFY(m_panel->CurrentParameters().ShowPole);
        QCOMPARE(RenderedCount(), 0);
        Tick(8);
        Press(width, Qt::Key_Left);
        QCOMPARE(width->LabelText(), QStringLiteral("固定宽度: 29%"));
        QCOMPARE(m_panel->CurrentParameters().HoistWidth, 29);
        QCOMPARE(RenderedCount(), 0);

        // Back to none: both disabled again, their values kept for later.
        hoist->findChildren<QRadioButton*>()[0]->click();
        QVERIFY(!width->Enabled());
        QVERIFY(!pole->isEnabled());
        QVERIFY(pole->isChecked());
        QCOMPARE(m_panel->CurrentParameters().HoistWidth, 29);
        Tick(8);
        QVERIFY(Pixels(Store().FrameBitmaps[2]) == free);
    }

    void saveWritesWhatTheCliExports()
    {
        QTemporaryDir dir;
        const QString saved = dir.filePath(QStringLiteral("panel.gif"));
        const QString exported = dir.filePath(QStringLiteral("cli.gif"));
        TSettings settings;
        settings.Flag.Frames = 6;
        settings.Flag.GIFBits = 5;
        settings.Flag.GIFDelay = 9;
        settings.Flag.GIFLoops = 51;
        settings.Flag.Amplitude = 70;
        settings.Flag.SpotX = 100;
        settings.Flag.SpotY = -200;
        m_panel->SetSettings(settings);
        QCOMPARE(Slider("LoopsNiceScrollBar")->LabelText(), QStringLiteral("循环：60"));
        // The antialiasing as the user picks it.
        C<TRadioGroup>("AntialiasRadioGroup")->findChildren<QRadioButton*>()[1]->click();
        QCOMPARE(m_panel->CurrentParameters().Antialiasing, 1);
        // Some frames rendered by the playback, the rest by the export.
        Tick(3);

        std::uint16_t busyInDialog = 0;
        m_panel->GIFSaveDialog = [&] {
            busyInDialog = m_panel->BusyFlags();
            return std::optional<QString>(saved);
        };
        m_panel->Save1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY2(m_messages.empty(), m_messages.empty() ? "" : qPrintable(m_messages[0].Text));
        QCOMPARE(busyInDialog, std::uint16_t(bfDialog | bfExporting));
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));
        // The status says what was written.
        QCOMPARE(m_panel->StatusText(),
            QStringLiteral("已写入 %1 字节")
                .arg(QLocale().toString(qlonglong(ReadFile(saved).size()))));
        QCOMPARE(RenderedCount(), 6);

        QProcess cli;
        cli.start(QStringLiteral(ZX_CLI_PATH),
            { "export", "-o", exported, "--frames", "6", "--bits", "5", "--delay", "9", "--loops",
                "51", "--amplitude", "70", "--antialias", "1", "--spot", "100,-200", "--size",
                "150x97" });
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray panelBytes = ReadFile(saved);
        QVERIFY(panelBytes.startsWith("GIF89a"));
        QCOMPARE(panelBytes, ReadFile(exported));
    }

    void theHighQualityBoxChangesOnlyWhatIsSaved()
    {
        QTemporaryDir dir;
        const QString standard = dir.filePath(QStringLiteral("standard.gif"));
        const QString high = dir.filePath(QStringLiteral("high.gif"));
        const QString exported = dir.filePath(QStringLiteral("cli.gif"));
        Press(Slider("FramesNiceScrollBar"), Qt::Key_Left, 4);
        QCOMPARE(m_panel->CurrentParameters().Frames, 4);
        Tick(6);
        QCOMPARE(RenderedCount(), 4);
        m_panel->GIFSaveDialog = [&] { return std::optional<QString>(standard); };
        m_panel->Save1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());

        // A click on the box leaves the frames rendered and nothing busy.
        QTest::mouseClick(Box("HighQualityCheckBox"), Qt::LeftButton, {},
            QPoint(4, Box("HighQualityCheckBox")->height() / 2));
        QVERIFY(Box("HighQualityCheckBox")->isChecked());
        QCOMPARE(RenderedCount(), 4);
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));

        m_panel->GIFSaveDialog = [&] { return std::optional<QString>(high); };
        m_panel->Save1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY2(m_messages.empty(), m_messages.empty() ? "" : qPrintable(m_messages[0].Text));

        QProcess cli;
        cli.start(QStringLiteral(ZX_CLI_PATH),
            { "export", "-o", exported, "--frames", "4", "--size", "150x97", "--quality", "high" });
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray highBytes = ReadFile(high);
        QVERIFY(highBytes.startsWith("GIF89a"));
        QCOMPARE(highBytes, ReadFile(exported));
        QVERIFY(highBytes != ReadFile(standard));
    }

    void aSizeLimitSavesWhatTheCliFits()
    {
        QTemporaryDir dir;
        const QString saved = dir.filePath(QStringLiteral("panel.gif"));
        const QString exported = dir.filePath(QStringLiteral("cli.gif"));
        // The limit typed into the GIF page's edit, the loss on its slider.
        auto* edit = C<TIntegerEdit>("MaxSizeIntegerEdit");
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("20"));
        // Leaving the edit (by Tab) is what makes the typed number count.
        QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &leave);
        Press(Slider("FramesNiceScrollBar"), Qt::Key_Left, 2);
        Press(Slider("LossyNiceScrollBar"), Qt::Key_Right, 2);
        QCOMPARE(m_panel->Settings().MaxSizeKB, 20);
        QCOMPARE(m_panel->Settings().Lossy, 10);
        m_panel->GIFSaveDialog = [&] { return std::optional<QString>(saved); };
        m_panel->Save1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY2(m_messages.empty(), m_messages.empty() ? "" : qPrintable(m_messages[0].Text));

        QProcess cli;
        cli.start(QStringLiteral(ZX_CLI_PATH),
            { "export", "-o", exported, "--frames", "6", "--size", "150x97", "--lossy", "10",
                "--max-size", "20K" });
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray bytes = ReadFile(saved);
        QVERIFY(bytes.startsWith("GIF89a"));
        QVERIFY(bytes.size() <= 20 * 1024);
        QCOMPARE(bytes, ReadFile(exported));
        QVERIFY(QString::fromUtf8(cli.readAllStandardError()).startsWith(QStringLiteral("20K: ")));
    }

    void cancellingTheSaveRendersNothingAndAFailedWriteKeepsTheFile()
    {
        m_panel->GIFSaveDialog = [] { return std::optional<QString>(); };
        m_panel->Save1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QCOMPARE(RenderedCount(), 0);
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));

        // A folder that does not exist: one error box, bits and cursor back.
        QTemporaryDir dir;
        const QString missing = dir.filePath(QStringLiteral("no/such/folder/x.gif"));
        m_panel->GIFSaveDialog = [&] { return std::optional<QString>(missing); };
        m_panel->Save1Click();
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QCOMPARE(m_messages.size(), std::size_t(1));
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(m_panel->StatusText(), QString());
        QVERIFY(!QFile::exists(missing));
    }

    void dropsAreRefusedWhileADialogIsUp()
    {
        QVERIFY(m_panel->AcceptsDrops());
        m_panel->SetBusyBits(bfDialog);
        QVERIFY(!m_panel->AcceptsDrops());
        Tick(2);
        m_panel->LoadDroppedFile(QStringLiteral(ZX_TEST_DATA_DIR "/bmp/bmpsuite/g/rgb24.bmp"));
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QCOMPARE(m_panel->CurrentTexture()->Source.Width(), 150);
        m_panel->ClearBusyBits(bfDialog);
        m_panel->LoadDroppedFile(QStringLiteral(ZX_TEST_DATA_DIR "/bmp/bmpsuite/g/rgb24.bmp"));
        QVERIFY(m_panel->Work().WaitUntilIdle());
        QVERIFY(m_messages.empty());
        QVERIFY(m_panel->CurrentTexture()->Source.Width() != 150);
        QCOMPARE(RenderedCount(), 0);
    }

    void hidingThePanelSuspendsAndTakesTheFlagWindowAlong()
    {
        m_panel->hide();
        QCOMPARE(m_panel->BusyFlags() & bfHidden, bfHidden);
        QVERIFY(!m_show->isVisible());
        Tick(3);
        QCOMPARE(RenderedCount(), 0);
        m_panel->show();
        QCOMPARE(m_panel->BusyFlags(), std::uint16_t(0));
        QVERIFY(m_show->isVisible());
        // The flag window cannot be closed by the user.
        m_show->close();
        QVERIFY(m_show->isVisible());
    }
};

QTEST_MAIN(tst_FlagUnit)
#include "tst_FlagUnit.moc"
