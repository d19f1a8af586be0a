// The panel's side of the preview: the GIF is built as for saving, shown in
// the preview window, and written only when the user chooses "保存..." there
// and then names a file.

#include "core/Stream.h"
#include "core/gif/XGIFUnit.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XWaitCursor.h"
#include "ui/flag/FlagUnit.h"
#include "ui/gif/PreviewUnit.h"
#include "ui/gif/XFilmDisplayComp.h"
#include "ui/gif/XGIFPainter.h"

#include <QLocale>
#include <cassert>

namespace zx {

void TFlagForm::Preview1Click()
{
    TBusyScope dialog(*this, bfDialog);
    RunCommand(this, [this] { ExportAnimation(true); });
}

void TFlagForm::PreviewAnimation()
{
    assert(m_previewForm);
    if (!m_previewForm)
        return;
    TPreviewForm& form = *m_previewForm;

    // The window shows the file as it will be written: its bytes read back.
    TSizedGif file;
    auto gif = std::make_shared<TGIFImage>();
    {
        const TWaitCursor wait;
        file = BuildAnimation();
        TSpanStream stream(file.File);
        gif->LoadFromStream(stream);
    }
    // The window lets go of the GIF before it is released, however the
    // preview ends: the strip refers to the frames' bitmaps, and the picture
    // must stop its animation first.
    const auto detach = [&form] {
        form.PreviewImage->SetPicture(nullptr);
        form.GIFFilmDisplay->ClearItems();
    };
    struct TDetach {
        const decltype(detach)& Detach;
        ~TDetach() { Detach(); }
    } detachOnExit { detach };

    {
        const TWaitCursor wait;
        form.SetPaneClientWidth(gif->Width());
        form.SetImageSize(gif->Width(), gif->Height());
        form.PreviewImage->SetPicture(gif);
        for (std::int32_t i = 0; i < gif->Images().Count(); ++i)
            form.GIFFilmDisplay->AddItem(&gif->FrameBitmap(i));
        QString status = tr("%1 x %2 像素 x %3 颜色 x %4 帧 x %5 字节")
                             .arg(gif->Width())
                             .arg(gif->Height())
                             .arg(1 << gif->BitsPerPixel())
                             .arg(gif->Images().Count())
                             .arg(QLocale().toString(qulonglong(file.File.size())));
        if (file.Fitted)
            status += tr("（最大文件大小 %1 KB：有损 %2，%3 位）")
                          .arg(QLocale().toString(qlonglong(m_settings.MaxSizeKB)))
                          .arg(file.Knobs.Quality)
                          .arg(file.Knobs.Colours);
        form.SetStatusText(status);
    }
    const int result = form.ShowModal();
    detach();
    if (result != mrOk)
        return;

    const std::optional<QString> fileName = GIFSaveDialog();
    if (!fileName)
        return;
    const TWaitCursor wait;
    WriteAnimation(file, *fileName);
}

} // namespace zx
