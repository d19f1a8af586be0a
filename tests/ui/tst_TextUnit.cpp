// The text dialog: its font list, its live preview, and the panel's text
// command, which re-prepares the texture however the dialog closes.

#include "UITestUtil.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/ShowUnit.h"
#include "ui/imaging/TextUnit.h"
#include "ui/imaging/XDIBImageComp.h"
#include "ui/imaging/XTextOverlayDraw.h"

#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <memory>

using namespace zx;
using zx::test::Control;

namespace {

bool SamePixels(const TDIB& a, const TDIB& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        if (std::memcmp(a.ConstScanLine(y), b.ConstScanLine(y), std::size_t(a.Width()) * 3) != 0)
            return false;
    return true;
}

} // namespace

class tst_TextUnit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { InitializeApplication(); }

    void theDialogAsItOpens()
    {
        TTextForm form;
        QCOMPARE(form.size(), QSize(513, 345));
        QCOMPARE(form.windowTitle(), QStringLiteral("文本"));
        QStringList listed;
        for (int i = 0; i < form.FontListBox->count(); ++i)
            listed << form.FontListBox->item(i)->text();
        QCOMPARE(listed, InstalledFontFamilies());
        QCOMPARE(form.FontListBox->currentRow(), 0);
        QCOMPARE(form.SizeNiceScrollBar->Position(), 30);
        QCOMPARE(form.SizeNiceScrollBar->LabelText(), QStringLiteral("尺寸：30%"));
        QCOMPARE(form.AngleNiceScrollBar->Position(), 0);
        QCOMPARE(form.ShaddowNiceScrollBar->Position(), 25);
        QCOMPARE(form.ShaddowNiceScrollBar->SmallChange(), 5);
        QCOMPARE(form.ShaddowNiceScrollBar->LabelText(), QStringLiteral("投影深度：25%"));
        QCOMPARE(form.AlignHRadioGroup->ItemIndex(), 1);
        QCOMPARE(form.AlignVRadioGroup->ItemIndex(), 1);
        QCOMPARE(form.FontColorChoice->Kind(), ccVertical);
        QCOMPARE(form.FontColorChoice->Color(), TColor(0));
        QCOMPARE(form.TextDIBImage->DIB().Width(), 241);
        QCOMPARE(form.TextDIBImage->DIB().Height(), 177);
        QVERIFY(!form.Settings().HasText());
    }

    void thePreferredFontIsTheLastEqualEntry()
    {
        TTextForm form;
        form.FontListBox->clear();
        form.FontListBox->addItems({ "Alpha", "Beta", "Alpha", "beta" });
        form.FontListBox->setCurrentRow(3);
        form.PreferredFontName = QStringLiteral("Alpha");
        form.SelectPreferredFont();
        QCOMPARE(form.FontListBox->currentRow(), 2);
        form.PreferredFontName = QStringLiteral("BETA"); // case matters
        form.SelectPreferredFont();
        QCOMPARE(form.FontListBox->currentRow(), 2);
        QCOMPARE(form.SelectedFontName(), QStringLiteral("Alpha"));
    }

    void anEmptyFontListStillDraws()
    {
        TTextForm form;
        form.FontListBox->clear();
        QCOMPARE(form.SelectedFontName(), QString());
        form.TextMemo->setPlainText(QStringLiteral("Flag"));
        form.SelectPreferredFont();
        const TDIB preview = form.TextDIBImage->DIB();
        QVERIFY(!preview.Empty());
        // Something was drawn in the toolkit's default face.
        bool drawn = false;
        for (int y = 0; y < preview.Height() && !drawn; ++y)
            for (int x = 0; x < preview.Width() && !drawn; ++x)
                drawn = preview.Pixel(x, y) != 0xFFFFFFu;
        QVERIFY(drawn);
    }

    void everyChangeRefreshesThePreview()
    {
        TTextForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        TDIB before = form.TextDIBImage->DIB();
        before.MakeWritable();
        form.TextMemo->setPlainText(QStringLiteral("Wave"));
        QVERIFY(!SamePixels(before, form.TextDIBImage->DIB()));

        const auto changes = [&](const std::function<void()>& change) {
            TDIB last = form.TextDIBImage->DIB();
            last.MakeWritable();
            change();
            return !SamePixels(last, form.TextDIBImage->DIB());
        };
        QVERIFY(changes([&] {
            form.SizeNiceScrollBar->setFocus();
            QTest::keyClick(form.SizeNiceScrollBar, Qt::Key_Left);
        }));
        QVERIFY(changes([&] {
            form.AngleNiceScrollBar->setFocus();
            QTest::keyClick(form.AngleNiceScrollBar, Qt::Key_Right);
        }));
        QVERIFY(changes([&] { form.AlignHRadioGroup->SetItemIndex(0); }));
        QVERIFY(changes([&] { form.AlignVRadioGroup->SetItemIndex(2); }));
        QVERIFY(changes([&] {
            // 25 -> 40 moves the shadow on 241 pixels from 2 to 3.
            form.ShaddowNiceScrollBar->setFocus();
            for (int i = 0; i < 3; ++i)
                QTest::keyClick(form.ShaddowNiceScrollBar, Qt::Key_Right);
        }));
        if (form.FontListBox->count() > 1)
            QVERIFY(
                changes([&] { form.FontListBox->setCurrentRow(form.FontListBox->count() - 1); }));
        QVERIFY(changes([&] {
            const QRect chart = form.FontColorChoice->Chart()->rect();
            QTest::mouseClick(form.FontColorChoice->Chart(), Qt::LeftButton, Qt::NoModifier,
                chart.center() + QPoint(1, 1));
        }));
    }

    void lightTextWithoutShadowIsPreviewedOnBlack()
    {
        TTextForm form;
        form.TextMemo->setPlainText(QStringLiteral("x"));
        form.FontColorChoice->SetColor(0xFFFFFF);
        form.ShaddowNiceScrollBar->SetPosition(0);
        form.RefreshPreview();
        QCOMPARE(form.TextDIBImage->DIB().Pixel(0, 0), 0u);
        form.ShaddowNiceScrollBar->SetPosition(5);
        form.RefreshPreview();
        QCOMPARE(form.TextDIBImage->DIB().Pixel(0, 0), 0xFFFFFFu);
    }

    void closingTheDialogEitherWayPreparesTheTexture_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("确定") << true;
        QTest::newRow("close button") << false;
    }

    void closingTheDialogEitherWayPreparesTheTexture()
    {
        QFETCH(bool, accept);
        SetMessageBoxHook([](const QString&, const QString&) {});
        auto panel = std::make_unique<TFlagForm>();
        auto* show = new TShowForm(panel.get());
        auto* text = new TTextForm(panel.get());
        panel->SetTextForm(text);
        panel->StartUp(show);
        Control<QTimer>(*panel, "FlagTimer")->stop();
        for (int i = 0; i < 8; ++i)
            panel->FlagTimerTimer();
        const TDIB plain = panel->CurrentTexture()->Prepared;

        std::uint16_t busy = 0;
        QTimer::singleShot(0, text, [&] {
            busy = panel->BusyFlags();
            text->TextMemo->setPlainText(QStringLiteral("Zephyrix"));
            if (accept)
                text->BitBtn1->click();
            else
                text->reject();
        });
        panel->Text1Click();
        QCOMPARE(busy, std::uint16_t(bfDialog));
        QCOMPARE(panel->BusyFlags(), std::uint16_t(0));
        QVERIFY(!SamePixels(plain, panel->CurrentTexture()->Prepared));
        // The source stays the picture as loaded.
        QVERIFY(SamePixels(plain, panel->CurrentTexture()->Source));
        for (bool rendered : panel->Model().FrameStore().FrameRendered)
            QVERIFY(!rendered);
        SetMessageBoxHook({});
    }

    void theSavedGifWithTextIsWhatTheCliExports()
    {
        QTemporaryDir dir;
        auto panel = std::make_unique<TFlagForm>();
        auto* show = new TShowForm(panel.get());
        auto* text = new TTextForm(panel.get());
        panel->SetTextForm(text);
        panel->StartUp(show);
        Control<QTimer>(*panel, "FlagTimer")->stop();
        TSettings settings;
        settings.Flag.Frames = 3;
        panel->SetSettings(settings);
        text->TextMemo->setPlainText(QStringLiteral("Zephyrix\nwaves"));
        text->FontColorChoice->SetColor(0x0000FF); // red
        text->SizeNiceScrollBar->SetPosition(25);
        text->AngleNiceScrollBar->SetPosition(20);
        text->ShaddowNiceScrollBar->SetPosition(60);
        text->AlignHRadioGroup->SetItemIndex(2);
        text->AlignVRadioGroup->SetItemIndex(0);
        panel->PrepareTexture();
        panel->InvalidateFrames();
        const QString saved = dir.filePath(QStringLiteral("panel.gif"));
        panel->GIFSaveDialog = [&] { return std::optional<QString>(saved); };
        panel->Save1Click();

        const QString exported = dir.filePath(QStringLiteral("cli.gif"));
        QProcess cli;
        cli.start(QStringLiteral(ZX_CLI_PATH),
            { "export", "-o", exported, "--frames", "3", "--text", "Zephyrix\\nwaves", "--font",
                text->SelectedFontName(), "--font-color", "ff0000", "--font-size", "25",
                "--font-angle", "20", "--shadow", "60", "--align-h", "right", "--align-v", "top" });
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);
        QFile a(saved), b(exported);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QByteArray panelBytes = a.readAll();
        QVERIFY(panelBytes.size() > 100);
        QCOMPARE(panelBytes, b.readAll());
    }
};

QTEST_MAIN(tst_TextUnit)
#include "tst_TextUnit.moc"
