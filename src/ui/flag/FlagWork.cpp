#include "ui/flag/FlagWork.h"

#include "core/Stream.h"
#include "core/flag/FlagPlayback.h"
#include "core/gif/AnimationExport.h"
#include "core/gif/AnimationSizeFit.h"
#include "core/gif/ExportJob.h"
#include "core/gif/GIFExportSize.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XLanguageUnit.h"
#include "ui/controls/XWorkBarComp.h"
#include "ui/flag/FlagUnit.h"
#include "ui/gif/PreviewUnit.h"
#include "ui/gif/XFilmDisplayComp.h"
#include "ui/gif/XGIFPainter.h"
#include "ui/imaging/XDIBClipboardQt.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocale>
#include <algorithm>
#include <utility>

namespace zx {

namespace {

    constexpr const char* sReadingPicture = QT_TRANSLATE_NOOP("zx::TFlagWork", "正在读取图片...");
    constexpr const char* sRefuseClose
        = QT_TRANSLATE_NOOP("zx::TFlagWork", "正在保存 %1 文件。请等待保存完成，或点击“取消”。");

    // How long the status says what a save wrote before the playback's frame
    // numbers come back.
    constexpr int kFinalStatusMs = 5000;

    QString Megabytes(std::uint64_t bytes)
    {
        return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
    }

    QString ExportText(const TExportProgress& p)
    {
        const QString frames = QString::number(p.Frames.load());
        // A size limit's search: which of its tries runs.
        if (const std::int32_t attempt = p.FitTry.load(); attempt > 0)
            return TFlagWork::tr("正在尝试第 %1 次").arg(attempt);
        switch (p.Stage.load()) {
        case TExportStage::Starting:
        case TExportStage::Rendering:
            return TFlagWork::tr("正在渲染 帧 %1/%2").arg(p.FramesRendered.load()).arg(frames);
        case TExportStage::Palette:
            return CoreMessage(sStatusCreatingPalette);
        case TExportStage::Reducing:
            return CoreMessage(sStatusRecolouring)
                + QStringLiteral("%1/%2").arg(p.FramesReduced.load()).arg(frames);
        case TExportStage::Encoding:
            return TFlagWork::tr("正在编码 %1").arg(Megabytes(p.BytesCoded.load()));
        case TExportStage::Writing:
        case TExportStage::Finished:
            break;
        }
        return CoreMessage(sStatusSaving) + QLatin1Char(' ') + Megabytes(p.BytesWritten.load())
            + QStringLiteral(" / ") + Megabytes(p.FileBytes.load());
    }

    // The stages' shares of the bar, in 1/1000: rendering is most of the work.
    int ExportPermille(const TExportProgress& p)
    {
        const double frames = std::max(1, p.Frames.load());
        // A fit takes up to 8 tries, on from where the palette was.
        if (const std::int32_t attempt = p.FitTry.load(); attempt > 0)
            return 550 + 300 * std::min(attempt, 8) / 9;
        switch (p.Stage.load()) {
        case TExportStage::Starting:
        case TExportStage::Rendering:
            return int(500 * p.FramesRendered.load() / frames);
        case TExportStage::Palette:
            return 520;
        case TExportStage::Reducing:
            return 550 + int(250 * p.FramesReduced.load() / frames);
        case TExportStage::Encoding:
            return 850;
        case TExportStage::Writing:
        case TExportStage::Finished:
            break;
        }
        const double total = double(std::max<std::uint64_t>(1, p.FileBytes.load()));
        return 950 + int(50 * double(p.BytesWritten.load()) / total);
    }

    // Clears a busy bit however the scope ends, unless it is kept for later.
    class TBitGuard {
    public:
        TBitGuard(TFlagForm& form, std::uint16_t bit)
            : m_form(form)
            , m_bit(bit)
        {
            m_form.SetBusyBits(m_bit);
        }
        ~TBitGuard()
        {
            if (!m_kept)
                m_form.ClearBusyBits(m_bit);
        }
        TBitGuard(const TBitGuard&) = delete;
        TBitGuard& operator=(const TBitGuard&) = delete;
        void Keep() { m_kept = true; }

    private:
        TFlagForm& m_form;
        std::uint16_t m_bit;
        bool m_kept = false;
    };

} // namespace

TFlagWork::TFlagWork(TFlagForm& form, TWorkBar& bar)
    : QObject(&form)
    , m_form(form)
    , m_bar(bar)
{
}

bool TFlagWork::Busy() const
{
    return m_bar.Running() || (m_form.BusyFlags() & bfExporting) != 0;
}

void TFlagWork::EnableCommands(bool enabled)
{
    for (const char* name : { "Open1", "Save1", "Preview1", "Pasteimage1" })
        if (auto* action = m_form.findChild<QAction*>(QString::fromLatin1(name)))
            action->setEnabled(enabled);
}

void TFlagWork::Report(std::exception_ptr error)
{
    if (!error)
        return;
    try {
        std::rethrow_exception(error);
    } catch (const ECancelled&) {
        // Stopped on purpose: nothing to say.
    } catch (...) {
        RunCommand(&m_form, [&] { std::rethrow_exception(error); });
    }
}

// --- exports

void TFlagWork::StartExport(const std::shared_ptr<TExportJob>& job, std::function<void()> work,
    std::function<void()> onDone, std::optional<TAnimationFormat> saving)
{
    TWorkBar::TTask task;
    task.Work = std::move(work);
    task.Cancel = [job] { return job->Cancel(); };
    task.Cancelled = [this] { EndExport(); };
    task.Text = [job] { return ExportText(job->Progress()); };
    task.Permille = [job] { return ExportPermille(job->Progress()); };
    task.Done = [this, job, onDone = std::move(onDone)](std::exception_ptr error) {
        // A scale-1 export's frames serve the flag too, if it still shows them.
        job->ReturnRenderedFrames(m_form.m_model);
        if (error) {
            EndExport();
            Report(error);
            return;
        }
        if (!onDone) {
            EndExport();
            return;
        }
        try {
            onDone();
        } catch (...) {
            EndExport();
            Report(std::current_exception());
        }
    };
    m_saving = saving;
    EnableCommands(false);
    m_bar.Start(std::move(task));
}

void TFlagWork::EndExport()
{
    m_saving.reset();
    m_form.ClearBusyBits(bfExporting);
    // Whatever ended the export, its status text does not stay behind; what
    // a save wrote stays a while.
    if (!m_form.m_finalStatus.isEmpty())
        m_form.m_finalStatusShown.setRemainingTime(kFinalStatusMs);
    m_form.SetStatusText(std::exchange(m_form.m_finalStatus, QString()));
    EnableCommands(true);
}

namespace {

    std::shared_ptr<TExportJob> NewExportJob(const TFlagForm& form)
    {
        const TSettings& settings = form.Settings();
        auto job = std::make_shared<TExportJob>(
            TakeExportSnapshot(form.Model(), ExportOptionsOf(settings), settings.ExportScale));
        job->KeepFrames = settings.ExportScale == 1;
        return job;
    }

} // namespace

void TFlagWork::Save()
{
    if (Busy())
        return;
    TBitGuard exporting(m_form, bfExporting);
    // Asked before anything is rendered.
    const std::optional<QString> fileName = m_form.GIFSaveDialog();
    if (!fileName)
        return;
    SaveFlag(*fileName);
    exporting.Keep();
}

void TFlagWork::SaveFlag(const QString& fileName)
{
    const std::shared_ptr<TExportJob> job = NewExportJob(m_form);
    const std::string path = fileName.toStdString();
    const TAnimationFormat format = m_form.FormatOfSaveName(fileName);
    const TExportOptions options = ExportOptionsOf(m_form.Settings());
    // WebP at the GIF page's quality (or lossless), as zephyrix-cli export
    // writes it with the same options; the GIF with the lossy level; every
    // format within the size limit.
    const TSizeOptions size = SizeOptionsOf(m_form.Settings());
    const TFrameWriter writer = format != TAnimationFormat::Gif
        ? SizedAnimationWriter({ .Format = format,
            .Delay = options.GIFDelay,
            .Loops = options.GIFLoops,
            .WebP = WebPOptionsOf(m_form.Settings()),
            .Limit = size.MaxSize })
        : SizedGifWriter(options, size);
    job->GifPaletteAhead = format == TAnimationFormat::Gif && size.Lossy == 0 && size.MaxSize == 0;
    StartExport(
        job, [job, path, writer] { job->Save(path, writer); },
        [this, job, format] { SavedAs(format, job->Progress().FileBytes.load()); }, format);
}

void TFlagWork::SavedAs(TAnimationFormat format, std::uint64_t bytes)
{
    // The save dialog offers this format first the next time.
    m_form.m_settings.SaveFormat = static_cast<std::int32_t>(format);
    m_form.m_finalStatus
        = TFlagForm::tr("已写入 %1 字节").arg(QLocale().toString(qulonglong(bytes)));
    EndExport();
}

void TFlagWork::Preview()
{
    if (Busy() || !m_form.PreviewForm())
        return;
    TBitGuard exporting(m_form, bfExporting);
    const std::shared_ptr<TExportJob> job = NewExportJob(m_form);
    auto built = std::make_shared<TBuiltPreview>();
    built->Fit = std::make_shared<TSizedGif>();
    const TSizeOptions size = SizeOptionsOf(m_form.Settings());
    const TFrameWriter writer
        = SizedGifWriter(ExportOptionsOf(m_form.Settings()), size, built->Fit);
    job->GifPaletteAhead = size.Lossy == 0 && size.MaxSize == 0;
    StartExport(
        job,
        [job, built, writer] {
            built->File = job->Encode(writer);
            // The window shows the file as it will be written: its bytes
            // read back.
            built->Gif = std::make_shared<TGIFImage>();
            TSpanStream stream(built->File);
            built->Gif->LoadFromStream(stream);
        },
        [this, built] { ShowPreview(built); }, std::nullopt);
    exporting.Keep();
}

void TFlagWork::ShowPreview(const std::shared_ptr<TBuiltPreview>& built)
{
    const std::shared_ptr<TGIFImage>& gif = built->Gif;
    TPreviewForm& form = *m_form.PreviewForm();
    // The window lets go of the GIF however the preview ends: the strip
    // refers to the frames' bitmaps, and the picture must stop its animation
    // first.
    struct TDetach {
        TPreviewForm& Form;
        ~TDetach()
        {
            Form.PreviewImage->SetPicture(nullptr);
            Form.GIFFilmDisplay->ClearItems();
        }
    };
    std::optional<QString> fileName;
    {
        const TBitGuard dialog(m_form, bfDialog);
        const TDetach detach { form };
        form.SetPaneClientWidth(gif->Width());
        form.SetImageSize(gif->Width(), gif->Height());
        form.PreviewImage->SetPicture(gif);
        for (std::int32_t i = 0; i < gif->Images().Count(); ++i)
            form.GIFFilmDisplay->AddItem(&gif->FrameBitmap(i));
        // The frame count picks the text's plural form where a language has one.
        QString status = TFlagForm::tr(
            "%1 x %2 像素 x %3 颜色 x %4 帧 x %5 字节", nullptr, gif->Images().Count())
                             .arg(gif->Width())
                             .arg(gif->Height())
                             .arg(1 << gif->BitsPerPixel())
                             .arg(gif->Images().Count())
                             .arg(QLocale().toString(qulonglong(built->File.size())));
        if (built->Fit->Fitted)
            status += TFlagForm::tr("（最大文件大小 %1 KB：有损 %2，%3 位）")
                          .arg(QLocale().toString(qlonglong(m_form.Settings().MaxSizeKB)))
                          .arg(built->Fit->Knobs.Quality)
                          .arg(built->Fit->Knobs.Colours);
        form.SetStatusText(status);
        if (form.ShowModal() != mrOk) {
            EndExport();
            return;
        }
    }
    {
        const TBitGuard dialog(m_form, bfDialog);
        fileName = m_form.GIFSaveDialog();
    }
    if (!fileName) {
        EndExport();
        return;
    }
    // The preview shows the GIF; another format is made of the flag's frames.
    if (m_form.FormatOfSaveName(*fileName) != TAnimationFormat::Gif)
        SaveFlag(*fileName);
    else
        SaveBuiltGif(built, *fileName);
}

void TFlagWork::SaveBuiltGif(const std::shared_ptr<TBuiltPreview>& built, const QString& fileName)
{
    auto job = std::make_shared<TExportJob>();
    const std::string path = fileName.toStdString();
    StartExport(
        job, [job, built, path] { job->Write(path, built->File); },
        [this, built] { SavedAs(TAnimationFormat::Gif, built->File.size()); },
        TAnimationFormat::Gif);
    job->Progress().Frames = built->Gif->Images().Count();
}

// --- pictures

void TFlagWork::Open()
{
    if (Busy())
        return;
    const std::optional<QString> fileName = m_form.OpenPictureDialog();
    if (!fileName)
        return;
    QDir::setCurrent(QFileInfo(*fileName).absolutePath());
    Load(*fileName);
}

void TFlagWork::Load(const QString& fileName)
{
    if (Busy())
        return;
    const std::string name = fileName.toStdString();
    StartRead([name] {
        // Read into a picture of its own: a failure changes nothing.
        TPicture picture;
        LoadPictureFile(name, picture);
        return picture;
    });
}

void TFlagWork::Paste()
{
    if (Busy())
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!ClipboardHasPicture(clipboard)) {
        ShowWarning(TFlagForm::tr(sClipboardEmpty), &m_form);
        return;
    }
    const TClipboardPicture taken
        = TakeClipboardPicture(clipboard->mimeData(), clipboard->ownsClipboard());
    StartRead([taken] {
        TPicture pasted = DecodeClipboardPicture(taken);
        TPicture picture;
        if (!pasted.Color.Empty()) {
            ImportBitmap(pasted.Color, picture.Color);
            picture.Alpha = pasted.Alpha;
        }
        return picture;
    });
}

void TFlagWork::StartRead(std::function<TPicture()> read)
{
    auto picture = std::make_shared<TPicture>();
    TWorkBar::TTask task;
    task.Work = [picture, read = std::move(read)] { *picture = read(); };
    // A reader cannot be stopped halfway; its picture is dropped instead.
    task.Cancel = [] { return true; };
    task.Cancelled = [this] { EnableCommands(true); };
    task.Text = [] { return TFlagWork::tr(sReadingPicture); };
    task.Done = [this, picture](std::exception_ptr error) {
        EnableCommands(true);
        if (error) {
            Report(error);
            return;
        }
        // An empty picture (an empty bitmap on the clipboard) changes nothing.
        if (picture->Color.Empty())
            return;
        RunCommand(&m_form, [&] {
            m_form.m_model.SetTexture(picture->Color, picture->Alpha);
            m_form.PrepareTexture();
            m_form.InvalidateFrames();
        });
    };
    EnableCommands(false);
    m_bar.Start(std::move(task));
}

bool TFlagWork::MayClose()
{
    if (m_saving) {
        ShowWarning(
            tr(sRefuseClose).arg(QString::fromLatin1(AnimationFormatName(*m_saving))), &m_form);
        return false;
    }
    if (m_bar.Running())
        m_bar.CancelClick();
    return true;
}

bool TFlagWork::WaitUntilIdle(int timeoutMs)
{
    return m_bar.WaitUntilIdle(timeoutMs);
}

} // namespace zx
