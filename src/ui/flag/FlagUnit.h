#pragma once

// TFlagForm: the control panel, the program's main window. It shows the
// settings (its controls are made from the settings table) and keeps a
// snapshot of their values, taken whenever the user changes one; the flag
// model (TFlagModel) holds what the animation is made of and decides what a
// change invalidates, and the playback (TFlagPlayback) runs the 50 ms timer that
// renders at most one stale frame per tick and shows the frames in the flag
// window (TShowForm). Window docking is TFormMagnet's, the first-start check
// TFirstStartCheck's.

#include "core/flag/FlagModel.h"
#include "core/flag/FlagPlayback.h"
#include "core/flag/FlagSettings.h"
#include "core/gif/AnimationExport.h"
#include "core/gif/GIFExportSize.h"
#include "ui/flag/XMagnetUnit.h"

#include <QDeadlineTimer>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QMenu;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;

namespace zx {

class TAboutBox;
class TFlagWork;
class TGIFImage;
class TPreviewForm;
class TSettingControls;
class TShowForm;
class TTextForm;
class TWorkBar;

// Set while a control panel exists.
extern bool PanelExists;

// The open dialog's filter, display names and patterns alternating. The
// first entry lists every extension the loader reads (it recognises files by
// their content, so ".jpeg" and ".jpe" photos too), then one entry a format.
inline constexpr const char* sOpenPictureFilter = QT_TRANSLATE_NOOP("zx::TFlagForm",
    "所有可支持的格式|*.bmp;*.jpg;*.jpeg;*.jpe;*.gif;*.png;*.webp;*.svg|位图文件 (*.bmp)|*.bmp|"
    "JPegs (*.jpg)|*.jpg|GIFs (*.gif)|*.gif|PNGs (*.png)|*.png|WebPs (*.webp)|*.webp|SVGs "
    "(*.svg)|*.svg");
inline constexpr const char* sOpenPictureDefaultExt = "bmp";
inline constexpr const char* sClipboardEmpty = QT_TRANSLATE_NOOP("zx::TFlagForm", "剪贴板为空！");

// The application's names ("Zephyrix" is its title, the settings live under
// the organisation "Tarnwick") and its icon. The first start-up step.
void InitializeApplication();
// Whether making a panel runs the first-start check (run counter, install
// record, menu entry, About box). The program's panel does; panels made for
// tests and tools do not, so that no modal box comes up unasked.
enum class TPanelStart { Plain, ProgramStart };

// A filter of the form "name|patterns|name|patterns" as Qt's name filters
// ("name (patterns)"; a name that already shows its patterns keeps them).
QStringList QtNameFilters(const QString& filter);

// The controls, menus and actions carry their program names as object names
// ("FramesNiceScrollBar", "PauseCheckBox", "Save1", "FlagTimer"), which is how
// tests find them.
class TFlagForm : public QMainWindow {
    Q_OBJECT

public:
    explicit TFlagForm(QWidget* parent = nullptr, TPanelStart start = TPanelStart::Plain);
    ~TFlagForm() override;

    // The start-up steps after the windows exist: built-in picture, playback
    // state, placing the flag window, the saved settings (with the lighting
    // table and the captions); then the panel is shown and the timer started.
    void StartUp(TShowForm* showForm);
    // The text dialog, created after the flag window; PrepareTexture draws its
    // text.
    void SetTextForm(TTextForm* textForm) { m_textForm = textForm; }
    TTextForm* TextForm() const { return m_textForm; }
    // The preview window, created after the text dialog.
    void SetPreviewForm(TPreviewForm* previewForm) { m_previewForm = previewForm; }
    TPreviewForm* PreviewForm() const { return m_previewForm; }

    // --- the operations
    // The frame size from the flag window, and every frame stale.
    void InvalidateFrames();
    // Without a name the built-in picture. A picture that fails to load is
    // reported by the exception and leaves texture and frames as they were.
    void LoadTexture(const std::optional<QString>& fileName = std::nullopt);
    void PrepareTexture();

    // The settings as the controls show them (the text dialog's are its own).
    const TSettings& Settings() const { return m_settings; }
    const FlagParameters& CurrentParameters() const { return m_settings.Flag; }
    // Shows settings in the controls and renders the flag with them, as
    // loading them does.
    void SetSettings(const TSettings& settings);

    // --- playback
    void FlagTimerTimer();
    void ShowFrameStatus();
    // Gives the flag window the shown frame (and the pin) and paints it now.
    void PaintFrame();
    void PauseCheckBoxClick();
    void LeftSpeedButtonClick();
    void RightSpeedButtonClick();
    // A mouse press at (x, y) in the flag window's paint area: the pin point.
    void FlagPaintBoxMouseDown(int x, int y);
    // The flag window changed its size.
    void FlagWindowResize();

    // --- the commands
    void Open1Click();
    void Save1Click();
    void Preview1Click();
    void Pasteimage1Click();
    void Edit1Click();
    void Text1Click();
    void Quit1Click();
    void Info1Click();
    // The GIF export. Saving asks for the file name first, then builds and
    // writes; previewing builds, shows the preview window and writes only
    // when the user chooses to save there and names a file. The building and
    // writing run in the background (TFlagWork): this returns at once.
    void ExportAnimation(bool preview);
    // A picture file dropped on the panel or the flag window.
    void LoadDroppedFile(const QString& fileName);
    // False while a modal dialog is up, so a drop cannot interleave with it.
    bool AcceptsDrops() const;
    // Dragging a picture file over the panel or the flag window, and dropping it.
    void PictureDragEnter(QDragEnterEvent* event);
    void PictureDrop(QDropEvent* event);

    // --- settings
    // Reads the saved settings into the controls, the pin point, the current
    // directory and the window bounds; a missing group or value keeps what is
    // there.
    void LoadSettings();
    // Writes them back. Throws ERegistryException when the store cannot be
    // written.
    void SaveSettings();
    void FormClose();

    // --- state, for the flag window and for tests
    const TFlagModel& Model() const { return m_model; }
    const TFlagPlayback& Playback() const { return m_playback; }
    const TTextureItem* CurrentTexture() const { return m_model.Texture(); }
    std::uint16_t BusyFlags() const { return m_playback.BusyFlags(); }
    void SetBusyBits(std::uint16_t bits) { m_playback.SetBusyBits(bits); }
    void ClearBusyBits(std::uint16_t bits) { m_playback.ClearBusyBits(bits); }
    std::int32_t LastTop() const { return m_magnet.LastTop(); }
    std::int32_t LastLeft() const { return m_magnet.LastLeft(); }
    TShowForm* ShowForm() const { return m_showForm; }
    // The long commands running in the background, and the bar that shows
    // their progress.
    TFlagWork& Work() const { return *m_work; }
    QString StatusText() const;
    void SetStatusText(const QString& text);

    // The file dialogs, replaceable so that tests can answer them. Each
    // returns the chosen file, or nothing when the user cancelled.
    using TFileDialog = std::function<std::optional<QString>()>;
    TFileDialog OpenPictureDialog;
    TFileDialog GIFSaveDialog;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    friend class TFlagWork;

    void CreateControls();
    void CreateMenus();
    void CreateAboutBox();
    QAction* AddAction(
        QMenu* menu, const char* name, const QString& text, void (TFlagForm::*command)());
    // The user changed the setting's control.
    void SettingChanged(const TSetting& setting);
    std::optional<QString> RunOpenPictureDialog();
    std::optional<QString> RunGIFSaveDialog();
    // The format a save name asks for: its extension's, otherwise the filter
    // the save dialog ended on, otherwise the last format saved.
    TAnimationFormat FormatOfSaveName(const QString& fileName) const;
    // Sets a busy bit for a command and clears it on every way out.
    class TBusyScope {
    public:
        TBusyScope(TFlagForm& form, std::uint16_t bit)
            : m_form(form)
            , m_bit(bit)
        {
            m_form.SetBusyBits(m_bit);
        }
        ~TBusyScope() { m_form.ClearBusyBits(m_bit); }
        TBusyScope(const TBusyScope&) = delete;
        TBusyScope& operator=(const TBusyScope&) = delete;

    private:
        TFlagForm& m_form;
        std::uint16_t m_bit;
    };

    TSettings m_settings;
    // The filter the last save dialog ended on.
    std::optional<TAnimationFormat> m_chosenFormat;
    TFlagModel m_model;
    TFlagPlayback m_playback;
    TFormMagnet m_magnet;
    TShowForm* m_showForm = nullptr;
    TTextForm* m_textForm = nullptr;
    TPreviewForm* m_previewForm = nullptr;

    TSettingControls* m_controls = nullptr;
    QTabWidget* PageControl = nullptr;
    QCheckBox* PauseCheckBox = nullptr;
    QToolButton* LeftSpeedButton = nullptr;
    QToolButton* RightSpeedButton = nullptr;
    QStatusBar* MainStatusBar = nullptr;
    QLabel* m_statusLabel = nullptr;
    // What the status says once an export command ends ("已写入 ... 字节"
    // after a save); empty clears it.
    QString m_finalStatus;
    // Until when the status keeps it.
    QDeadlineTimer m_finalStatusShown { 0 };
    QTimer* FlagTimer = nullptr;
    QAction* Pasteimage1 = nullptr;
    TAboutBox* AboutBox = nullptr;
    TWorkBar* m_workBar = nullptr;
    TFlagWork* m_work = nullptr;
};

} // namespace zx
