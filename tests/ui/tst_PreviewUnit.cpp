// The preview window on its own (menu, results, height lock, centring,
// scrolling the selected frame into view) and the control panel's preview
// path end to end: the window filled from the built GIF, the animation
// playing, cancel discarding, save writing the bytes the save path writes,
// and busy bits, cursor and status restored on every way out.

#include "core/gif/XGIFUnit.h"
#include "ui/UITestUtil.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/flag/FlagUnit.h"
#include "ui/flag/FlagWork.h"
#include "ui/flag/ShowUnit.h"
#include "ui/gif/PreviewUnit.h"
#include "ui/gif/XFilmDisplayComp.h"
#include "ui/gif/XGIFPainter.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace zx;
using zx::test::SolidPicture;

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// Runs the real modal loop of the form and does something once it is up; a
// guard rejects the form if the action did not end it.
int ExecWith(TPreviewForm& form, const std::function<void()>& action)
{
    QTimer::singleShot(0, &form, action);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &form, [&form] { form.done(QDialog::Rejected); });
    guard.start(10000);
    return form.ExecModal();
}

// The window as a preview of count frames like this one fills it, without a
// picture in the left pane.
void Fill(TPreviewForm& form, const TDIB& frame, int count)
{
    form.SetPaneClientWidth(frame.Width());
    form.SetImageSize(frame.Width(), frame.Height());
    for (int i = 0; i < count; ++i)
        form.GIFFilmDisplay->AddItem(&frame);
}

int DistinctColours(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            colours.insert(image.pixel(x, y));
    return int(colours.size());
}

// The status text a GIF file deserves, read back from the file itself.
QString StatusTextOf(const QString& path)
{
    TGIFImage gif;
    gif.LoadGifFile(path.toStdString());
    return QStringLiteral("%1 x %2 像素 x %3 颜色 x %4 帧 x %5 字节")
        .arg(gif.Width())
        .arg(gif.Height())
        .arg(1 << gif.BitsPerPixel())
        .arg(gif.Images().Count())
        .arg(QLocale().toString(qlonglong(QFileInfo(path).size())));
}

} // namespace

class TestPreviewUnit : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void WindowHasItsCaptionMenuAndParts();
    void ResultsOfTheWindow();
    void HeightIsLockedToTheStrip();
    void ShowCentresTheWindow();
    void ABigPictureScrollsAndTheWindowStaysOnTheScreen();
    void SelectedFrameIsScrolledIntoView();

    void PanelMenuHasPreviewAfterSave();
    void PreviewFillsTheWindowForTheDefaultFlag();
    void PreviewPlaysTheAnimation();
    void CancelDiscardsTheGif();
    void SaveWritesTheBytesOfTheSavePath();
    void ALimitShowsTheChosenSettingsAndTheSizeWithin();
    void FailedWriteRestoresEverything();

private:
    // status: what the panel's status says after the command (a save's
    // "已写入 ... 字节").
    void CheckRestored(const QString& status = QString());

    std::unique_ptr<TFlagForm> m_panel;
    std::unique_ptr<QTemporaryDir> m_dir;
    QStringList m_messages;
};

void TestPreviewUnit::initTestCase()
{
    UseProgramDrawOptions();
    SetMessageBoxHook(
        [this](const QString& title, const QString& text) { m_messages << title + ": " + text; });
}

void TestPreviewUnit::init()
{
    m_messages.clear();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // The windows in the program's order: panel, flag window, preview window.
    m_panel = std::make_unique<TFlagForm>();
    auto* flagWindow = new TShowForm(m_panel.get());
    m_panel->SetPreviewForm(new TPreviewForm(m_panel.get()));
    m_panel->StartUp(flagWindow);
    // The flag's own ticks would put the frame number in the status at
    // whatever moment they come, also just after an export ended, where the
    // checks below read it.
    test::Control<QTimer>(*m_panel, "FlagTimer")->stop();
}

void TestPreviewUnit::cleanup()
{
    m_panel.reset();
    QCOMPARE(TGIFPainter::RunningThreads(), 0);
}

void TestPreviewUnit::CheckRestored(const QString& status)
{
    QCOMPARE(m_panel->BusyFlags() & (bfExporting | bfDialog), 0);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(m_panel->StatusText(), status);
    TPreviewForm& form = *m_panel->PreviewForm();
    QCOMPARE(form.PreviewImage->Picture(), nullptr);
    QCOMPARE(form.GIFFilmDisplay->Count(), 0);
    QCOMPARE(form.GIFFilmDisplay->ItemIndex(), -1);
    QCOMPARE(TGIFPainter::RunningThreads(), 0);
}

void TestPreviewUnit::WindowHasItsCaptionMenuAndParts()
{
    TPreviewForm form;
    QCOMPARE(form.windowTitle(), QStringLiteral("GIF 预览"));
    QCOMPARE(form.size(), QSize(425, 274));
    QCOMPARE(form.File1->title(), QStringLiteral("文件"));
    const QList<QAction*> actions = form.File1->actions();
    QCOMPARE(actions.size(), 2);
    QCOMPARE(actions[0], form.Save1);
    QCOMPARE(actions[0]->text(), QStringLiteral("保存..."));
    QCOMPARE(actions[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    QCOMPARE(actions[1], form.Cancel1);
    QCOMPARE(actions[1]->text(), QStringLiteral("取消"));
    QCOMPARE(form.GIFFilmDisplay->Border(), 4);
    QCOMPARE(form.GIFFilmDisplay->ItemIndex(), -1);
    QCOMPARE(form.FilmScrollBox->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(form.FilmScrollBox->horizontalScrollBar()->hasTracking(), true);
    QCOMPARE(form.PreviewImage->y(), 8);
    QCOMPARE(form.PreviewScrollBox->palette().color(QPalette::Window), QColor(Qt::black));
    QCOMPARE(form.PreviewStatusBar->findChild<QLabel*>()->width(), 200);
    QCOMPARE(form.HeightLock(), 0);
}

void TestPreviewUnit::ResultsOfTheWindow()
{
    TPreviewForm form;
    QCOMPARE(ExecWith(form, [&] { form.Save1->trigger(); }), int(mrOk));
    QCOMPARE(ExecWith(form, [&] { form.Cancel1->trigger(); }), int(mrCancel));
    // The close button is Cancel too.
    QCOMPARE(ExecWith(form, [&] { form.close(); }), int(mrCancel));
    QCOMPARE(ExecWith(form,
                 [&] {
                     form.activateWindow();
                     QTest::keyClick(form.GIFFilmDisplay, Qt::Key_S, Qt::ControlModifier);
                 }),
        int(mrOk));
    // ShowModal goes through the replaceable run.
    int runs = 0;
    form.ModalRun = [&](TPreviewForm&) {
        ++runs;
        return int(mrOk);
    };
    QCOMPARE(form.ShowModal(), int(mrOk));
    QCOMPARE(runs, 1);
}

void TestPreviewUnit::HeightIsLockedToTheStrip()
{
    const TDIB frame = SolidPicture(150, 97, 0xFF20A040);
    TPreviewForm form;
    Fill(form, frame, 8);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    const int stripHeight = 4 * 4 + 97;
    QCOMPARE(form.GIFFilmDisplay->size(), QSize(8 * 160, stripHeight));
    const int bar = form.FilmScrollBox->horizontalScrollBar()->sizeHint().height();
    // The strip is wider than the room beside the pane: its box has a bar.
    QCOMPARE(form.FilmScrollBox->height(), stripHeight + bar);
    QCOMPARE(form.FilmScrollBox->viewport()->height(), stripHeight);
    const int lock = form.HeightLock();
    QVERIFY(lock > 0);
    QCOMPARE(form.height(), lock);
    QCOMPARE(form.minimumHeight(), lock);
    QCOMPARE(form.maximumHeight(), lock);
    QCOMPARE(form.minimumWidth(), 2 * 150 + 40);
    QCOMPARE(form.MinimumTrackWidth(), 340);

    // Taller or shorter is refused; narrower stops at twice the pane + 40.
    form.resize(600, lock + 120);
    QTRY_COMPARE(form.width(), 600);
    QCOMPARE(form.height(), lock);
    form.resize(100, lock - 50);
    QTRY_COMPARE(form.width(), 340);
    QCOMPARE(form.height(), lock);

    // Wide enough for the whole strip: no bar, and the window follows.
    form.resize(150 + 8 * 160 + 10, lock);
    QTRY_COMPARE(form.FilmScrollBox->height(), stripHeight);
    QCOMPARE(form.HeightLock(), lock - bar);
    QTRY_COMPARE(form.height(), lock - bar);
}

void TestPreviewUnit::ShowCentresTheWindow()
{
    TPreviewForm form;
    form.SetPaneClientWidth(100);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect frame = form.frameGeometry();
    QVERIFY(std::abs(frame.left() - (screen.width() - frame.width()) / 2) <= 1);
    QVERIFY(std::abs(frame.top() - (screen.height() - frame.height()) / 2) <= 1);
}

// A scaled export's frames are larger than twice of them fit on a screen:
// the window keeps to the screen, and the picture and the strip scroll.
void TestPreviewUnit::ABigPictureScrollsAndTheWindowStaysOnTheScreen()
{
    const TDIB frame = SolidPicture(1920, 1200, 0xFF2040A0);
    TPreviewForm form;
    Fill(form, frame, 2);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(screen.width() < 2 * 1920 + 40 && screen.height() < 1200 + 100,
        "the test needs a screen smaller than the window would be");
    QTRY_VERIFY2(screen.contains(form.frameGeometry()),
        qPrintable(QStringLiteral("%1 x %2 at %3, %4")
                       .arg(form.frameGeometry().width())
                       .arg(form.frameGeometry().height())
                       .arg(form.frameGeometry().left())
                       .arg(form.frameGeometry().top())));
    QCOMPARE(form.PreviewImage->size(), QSize(1920, 1200));
    QVERIFY(form.PreviewScrollBox->horizontalScrollBar()->maximum() > 0);
    QVERIFY(form.PreviewScrollBox->verticalScrollBar()->maximum() > 0);
    QVERIFY(form.ScrollBox2->verticalScrollBar()->maximum() > 0);
    QCOMPARE(form.minimumWidth(), 2 * form.PreviewScrollBox->width() + 40);
}

void TestPreviewUnit::SelectedFrameIsScrolledIntoView()
{
    const TDIB frame = SolidPicture(320, 200, 0xFF804020);
    TPreviewForm form;
    Fill(form, frame, 40);
    form.resize(1100, form.height());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QScrollBar* bar = form.FilmScrollBox->horizontalScrollBar();
    QTRY_COMPARE(bar->maximum(), 13200 - form.FilmScrollBox->viewport()->width());
    const int visible = form.FilmScrollBox->viewport()->width();
    QCOMPARE(bar->value(), 0);

    // Stepping right past the visible part: the frame's right edge comes to
    // the visible right edge.
    form.GIFFilmDisplay->SetItemIndex(19);
    form.GIFFilmDisplay->setFocus();
    QTest::keyClick(form.GIFFilmDisplay, Qt::Key_Right);
    QCOMPARE(form.GIFFilmDisplay->ItemIndex(), 20);
    QCOMPARE(bar->value(), 21 * 330 - visible);
    // A frame in view does not scroll.
    QTest::keyClick(form.GIFFilmDisplay, Qt::Key_Left);
    QCOMPARE(bar->value(), 21 * 330 - visible);
    // Left of the view: its left edge comes to the visible left edge.
    form.GIFFilmDisplay->SetItemIndex(3);
    QTest::keyClick(form.GIFFilmDisplay, Qt::Key_Left);
    QCOMPARE(bar->value(), 2 * 330);
}

void TestPreviewUnit::PanelMenuHasPreviewAfterSave()
{
    const QList<QAction*> actions = zx::test::Control<QMenu>(*m_panel, "File1")->actions();
    const int save = int(actions.indexOf(zx::test::Control<QAction>(*m_panel, "Save1")));
    QVERIFY(save >= 0 && save + 1 < actions.size());
    QCOMPARE(actions[save + 1], zx::test::Control<QAction>(*m_panel, "Preview1"));
    QCOMPARE(zx::test::Control<QAction>(*m_panel, "Preview1")->text(), QStringLiteral("预览"));
}

void TestPreviewUnit::PreviewFillsTheWindowForTheDefaultFlag()
{
    TPreviewForm& form = *m_panel->PreviewForm();
    int saveDialogs = 0;
    m_panel->GIFSaveDialog = [&]() -> std::optional<QString> {
        ++saveDialogs;
        return std::nullopt;
    };
    QString status;
    int frames = 0;
    QSize image;
    int pane = 0;
    std::uint16_t busy = 0;
    bool cursor = true;
    form.ModalRun = [&](TPreviewForm& shown) {
        status = shown.StatusText();
        frames = shown.GIFFilmDisplay->Count();
        image = shown.PreviewImage->size();
        pane = shown.PreviewScrollBox->width();
        busy = m_panel->BusyFlags();
        cursor = QApplication::overrideCursor() != nullptr;
        return int(mrCancel);
    };
    zx::test::Control<QAction>(*m_panel, "Preview1")->trigger();
    QVERIFY(m_panel->Work().WaitUntilIdle());

    QVERIFY2(status.startsWith(QStringLiteral("150 x 97 像素 x 256 颜色 x 8 帧 x ")),
        qPrintable(status));
    QCOMPARE(frames, 8);
    QCOMPARE(image, QSize(150, 97));
    QCOMPARE(pane, 150);
    QCOMPARE(busy & (bfExporting | bfDialog), bfExporting | bfDialog);
    QVERIFY(!cursor);
    QCOMPARE(saveDialogs, 0);
    CheckRestored();
    QCOMPARE(m_messages, QStringList());

    // The same settings from the command line make a file the status text
    // describes the same way.
    const QString cliGif = m_dir->filePath(QStringLiteral("cli.gif"));
    QProcess cli;
    cli.start(
        QStringLiteral(ZX_CLI_PATH), { QStringLiteral("export"), QStringLiteral("-o"), cliGif });
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(StatusTextOf(cliGif), status);
}

void TestPreviewUnit::PreviewPlaysTheAnimation()
{
    TPreviewForm& form = *m_panel->PreviewForm();
    QImage first;
    bool changed = false;
    bool clicked = false;
    form.ModalRun = [&](TPreviewForm& shown) {
        shown.show();
        if (!QTest::qWaitForWindowExposed(&shown))
            return int(mrCancel);
        // The first frame comes with the painter's first step.
        const bool flagShown = QTest::qWaitFor(
            [&] {
                first = shown.PreviewImage->grab().toImage();
                return DistinctColours(first) > 16;
            },
            3000);
        if (!flagShown)
            return int(mrCancel);
        changed
            = QTest::qWaitFor([&] { return shown.PreviewImage->grab().toImage() != first; }, 3000);
        // Clicking a frame on the strip selects it.
        QTest::mouseClick(shown.GIFFilmDisplay, Qt::LeftButton, {}, QPoint(2 * 160 + 20, 30));
        clicked = shown.GIFFilmDisplay->ItemIndex() == 2;
        shown.Cancel1->trigger();
        return int(mrCancel);
    };
    m_panel->Preview1Click();
    QVERIFY(m_panel->Work().WaitUntilIdle());
    QVERIFY(!first.isNull());
    // The picture is the flag, not the bare black pane.
    QVERIFY(DistinctColours(first) > 16);
    QVERIFY(changed);
    QVERIFY(clicked);
    QVERIFY(!form.isVisible());
    CheckRestored();
}

void TestPreviewUnit::CancelDiscardsTheGif()
{
    const QString target = m_dir->filePath(QStringLiteral("never.gif"));
    int saveDialogs = 0;
    m_panel->GIFSaveDialog = [&]() -> std::optional<QString> {
        ++saveDialogs;
        return target;
    };
    m_panel->PreviewForm()->ModalRun = [](TPreviewForm&) { return int(mrCancel); };
    m_panel->Preview1Click();
    QVERIFY(m_panel->Work().WaitUntilIdle());
    QCOMPARE(saveDialogs, 0);
    QVERIFY(!QFile::exists(target));
    CheckRestored();

    // OK in the preview, then cancelling the save dialog, writes nothing too.
    m_panel->PreviewForm()->ModalRun = [](TPreviewForm&) { return int(mrOk); };
    m_panel->GIFSaveDialog = [&]() -> std::optional<QString> {
        ++saveDialogs;
        return std::nullopt;
    };
    m_panel->Preview1Click();
    QVERIFY(m_panel->Work().WaitUntilIdle());
    QCOMPARE(saveDialogs, 1);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList());
    CheckRestored();
}

void TestPreviewUnit::SaveWritesTheBytesOfTheSavePath()
{
    const QString previewed = m_dir->filePath(QStringLiteral("previewed.gif"));
    const QString saved = m_dir->filePath(QStringLiteral("saved.gif"));
    bool modalDone = false;
    m_panel->PreviewForm()->ModalRun = [&](TPreviewForm&) {
        modalDone = true;
        return int(mrOk);
    };
    // The file is asked for only after the preview.
    m_panel->GIFSaveDialog = [&]() -> std::optional<QString> {
        if (!modalDone)
            return std::nullopt;
        return previewed;
    };
    m_panel->Preview1Click();
    QVERIFY(m_panel->Work().WaitUntilIdle());
    CheckRestored(QStringLiteral("已写入 %1 字节")
                      .arg(QLocale().toString(qlonglong(QFileInfo(previewed).size()))));
    m_panel->GIFSaveDialog = [&]() -> std::optional<QString> { return saved; };
    m_panel->Save1Click();
    QVERIFY(m_panel->Work().WaitUntilIdle());

    const QByteArray a = ReadFile(previewed);
    const QByteArray b = ReadFile(saved);
    QVERIFY(a.startsWith("GIF89a"));
    QCOMPARE(a.size(), b.size());
    QVERIFY(a == b);
    QVERIFY(
        StatusTextOf(previewed).startsWith(QStringLiteral("150 x 97 像素 x 256 颜色 x 8 帧 x ")));
    QCOMPARE(m_messages, QStringList());
}

void TestPreviewUnit::ALimitShowsTheChosenSettingsAndTheSizeWithin()
{
    zx::TSettings settings = m_panel->Settings();
    settings.MaxSizeKB = 20;
    m_panel->SetSettings(settings);
    QString status;
    m_panel->PreviewForm()->ModalRun = [&](TPreviewForm& shown) {
        status = shown.StatusText();
        return int(mrCancel);
    };
    m_panel->Preview1Click();
    QVERIFY(m_panel->Work().WaitUntilIdle());
    CheckRestored();
    // "150 x 97 像素 x 64 颜色 x 8 帧 x 20,123 字节（最大文件大小 20 KB：有损 N，6 位）"
    const QRegularExpression form(QStringLiteral(
        "^(\\d+) x (\\d+) 像素 x (\\d+) 颜色 x 8 帧 x ([0-9,. ]+) 字节（最大文件大小 20 KB：有损 "
        "(\\d+)，(\\d) 位）$"));
    const QRegularExpressionMatch match = form.match(status);
    QVERIFY2(match.hasMatch(), qPrintable(status));
    bool ok = false;
    const qlonglong bytes = QLocale().toLongLong(match.captured(4), &ok);
    QVERIFY(ok);
    QVERIFY(bytes <= 20 * 1024);
    // The plain file of the default flag is larger than 20 KB, so the fit
    // had to give something up.
    QVERIFY(bytes * 10 >= 20 * 1024 * 9 || match.captured(1) != QStringLiteral("150"));
    QCOMPARE(match.captured(3).toInt(), 1 << match.captured(6).toInt());
}

void TestPreviewUnit::FailedWriteRestoresEverything()
{
    m_panel->PreviewForm()->ModalRun = [](TPreviewForm&) { return int(mrOk); };
    m_panel->GIFSaveDialog = [&]() -> std::optional<QString> {
        return m_dir->filePath(QStringLiteral("missing/folder/out.gif"));
    };
    m_panel->Preview1Click();
    QVERIFY(m_panel->Work().WaitUntilIdle());
    QCOMPARE(m_messages.size(), 1);
    CheckRestored();
    // The playback renders again.
    QCOMPARE(m_panel->BusyFlags(), 0);
}

QTEST_MAIN(TestPreviewUnit)
#include "tst_PreviewUnit.moc"
