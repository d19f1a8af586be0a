#pragma once

// TFlagWork: the panel's long commands, run off the window's thread on the
// panel's work bar (TWorkBar): saving the GIF, building the preview's GIF and
// saving it afterwards, and reading a picture that is opened, dropped or
// pasted. Each works on what it takes when it starts (a snapshot of the flag
// and its settings, the file's name, the clipboard's bytes), so the user may
// go on changing the flag, and the flag goes on waving, while it runs. One
// runs at a time. An export holds the exporting busy bit from its start to
// its end: no second export and no new picture start meanwhile.
//
// The commands return at once; what they lead to (the preview window, the
// new picture, an error box) comes when the work has ended. Cancelling an
// export stops it without writing anything; cancelling a read drops the
// picture, which the reader then finishes for nobody.

#include "core/gif/AnimationExport.h"
#include "core/imaging/XImageFileUnit.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace zx {

class TExportJob;
class TFlagForm;
class TGIFImage;
struct TSizedGif;
class TWorkBar;

class TFlagWork : public QObject {
    Q_OBJECT

public:
    TFlagWork(TFlagForm& form, TWorkBar& bar);

    // "保存(&S)...": the save dialog, then the export in the background.
    void Save();
    // "预览": the GIF built in the background, then the preview window; its
    // "保存..." asks for a file and writes it in the background.
    void Preview();
    // "打开(&O)...": the open dialog, then Load.
    void Open();
    // Reads the picture in the background and makes it the flag's picture.
    // A picture that cannot be read is reported and changes nothing.
    void Load(const QString& fileName);
    // "粘贴图片(&P)": the clipboard's picture, decoded in the background;
    // "剪贴板为空！" without one.
    void Paste();

    // Some work runs.
    bool Busy() const;
    // A file is being written (a GIF, WebP or APNG: SavingFormat).
    bool Saving() const { return m_saving.has_value(); }
    TAnimationFormat SavingFormat() const { return m_saving.value_or(TAnimationFormat::Gif); }
    // Whether the panel may close now: not while a file is being written
    // (the user is told so, and may cancel it); any other work is
    // cancelled.
    bool MayClose();
    // For tests: lets events run until the work (and what follows from it)
    // has ended; true when it has.
    bool WaitUntilIdle(int timeoutMs = 120000);

private:
    // Runs the export's work; onDone follows on the window's thread after it
    // has succeeded. The exporting bit is held until the end. saving is the
    // format of the file the work writes (none for the preview's build).
    void StartExport(const std::shared_ptr<TExportJob>& job, std::function<void()> work,
        std::function<void()> onDone, std::optional<TAnimationFormat> saving);
    void EndExport();
    // Saves the flag as the name's format asks, in the background; the
    // exporting bit must be held already.
    void SaveFlag(const QString& fileName);
    // A save of bytes in the format has succeeded: the status says so.
    void SavedAs(TAnimationFormat format, std::uint64_t bytes);
    // What the preview shows: the file's bytes, the GIF read back from them,
    // and what a size limit's search chose.
    struct TBuiltPreview {
        std::vector<std::uint8_t> File;
        std::shared_ptr<TGIFImage> Gif;
        std::shared_ptr<TSizedGif> Fit;
    };
    void ShowPreview(const std::shared_ptr<TBuiltPreview>& built);
    void SaveBuiltGif(const std::shared_ptr<TBuiltPreview>& built, const QString& fileName);
    void StartRead(std::function<TPicture()> read);
    // The error box for a failure, if it is one the user should see.
    void Report(std::exception_ptr error);
    // The menu commands that start work are off while work runs.
    void EnableCommands(bool enabled);

    TFlagForm& m_form;
    TWorkBar& m_bar;
    std::optional<TAnimationFormat> m_saving;
};

} // namespace zx
