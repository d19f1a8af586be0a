#include "ui/flag/FlagUnit.h"

#include "core/imaging/DefaultImage.h"
#include "core/imaging/XImageFileUnit.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XLanguageUnit.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XWorkBarComp.h"
#include "ui/flag/FirstStartCheck.h"
#include "ui/flag/FlagWork.h"
#include "ui/flag/ShowUnit.h"
#include "ui/flag/XSettingControls.h"
#include "ui/imaging/TextUnit.h"
#include "ui/imaging/XDIBCanvas.h"
#include "ui/imaging/XDIBClipboardQt.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace zx {

bool PanelExists = false;

namespace {

    // How long the status line tells of a first start's failed bookkeeping.
    constexpr int kFirstStartProblemMs = 15000;

    // The local file a drop carries, if it carries exactly one.
    std::optional<QString> DroppedFile(const QMimeData* data)
    {
        if (!data || !data->hasUrls())
            return std::nullopt;
        const QList<QUrl> urls = data->urls();
        if (urls.size() != 1 || !urls.front().isLocalFile())
            return std::nullopt;
        return urls.front().toLocalFile();
    }

} // namespace

void InitializeApplication()
{
    QApplication::setApplicationName(QStringLiteral("Zephyrix"));
    QApplication::setOrganizationName(QStringLiteral("Tarnwick"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/resources/zephyrix.png")));
}

QStringList QtNameFilters(const QString& filter)
{
    QStringList result;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& name = parts[i];
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // A display name that already shows its patterns ("位图文件 (*.bmp)")
        // keeps them; Qt reads the patterns from the parentheses.
        if (name.contains(QLatin1Char('(')))
            result << name;
        else
            result << name + QStringLiteral(" (") + patterns + QStringLiteral(")");
    }
    return result;
}

TFlagForm::TFlagForm(QWidget* parent, TPanelStart start)
    : QMainWindow(parent)
    , m_magnet(*this)
{
    setWindowTitle(QStringLiteral("Zephyrix"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    CreateMenus();
    CreateControls();

    FlagTimer = new QTimer(this);
    FlagTimer->setObjectName(QStringLiteral("FlagTimer"));
    FlagTimer->setInterval(50);
    connect(FlagTimer, &QTimer::timeout, this, [this] { FlagTimerTimer(); });

    OpenPictureDialog = [this] { return RunOpenPictureDialog(); };
    GIFSaveDialog = [this] { return RunGIFSaveDialog(); };
    // Every invalidation shows the frame size in the flag window.
    m_model.OnInvalidate = [this] {
        if (m_showForm)
            m_showForm->SetStatusText(
                QStringLiteral("%1 x %2").arg(m_model.FrameWidth()).arg(m_model.FrameHeight()));
    };

    CreateAboutBox();
    if (start == TPanelStart::ProgramStart) {
        // A menu entry or start record that could not be written is told in
        // the status line for a while; the program goes on without it.
        const QString problem = TFirstStartCheck::Run(*AboutBox);
        if (!problem.isEmpty()) {
            SetStatusText(problem);
            m_finalStatusShown.setRemainingTime(kFirstStartProblemMs);
        }
    }
    PanelExists = true;
}

TFlagForm::~TFlagForm()
{
    // Nothing may tick into the frames once the panel goes, nor may the flag
    // window, destroyed with it, report to it.
    PanelExists = false;
    FlagTimer->stop();
    if (m_showForm)
        m_showForm->disconnect(this);
}

QAction* TFlagForm::AddAction(
    QMenu* menu, const char* name, const QString& text, void (TFlagForm::*command)())
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    connect(action, &QAction::triggered, this, [this, command] { (this->*command)(); });
    return action;
}

void TFlagForm::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(tr("文件(&F)"));
    file->setObjectName(QStringLiteral("File1"));
    AddAction(file, "Open1", tr("打开(&O)..."), &TFlagForm::Open1Click)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    AddAction(file, "Save1", tr("保存(&S)..."), &TFlagForm::Save1Click)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    AddAction(file, "Preview1", tr("预览"), &TFlagForm::Preview1Click);
    file->addSeparator();
    AddAction(file, "Quit1", tr("退出(&Q)"), &TFlagForm::Quit1Click);

    QMenu* edit = menuBar()->addMenu(tr("编辑"));
    edit->setObjectName(QStringLiteral("Edit1"));
    Pasteimage1 = AddAction(edit, "Pasteimage1", tr("粘贴图片(&P)"), &TFlagForm::Pasteimage1Click);
    Pasteimage1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    AddAction(edit, "Text1", tr("文本(&T)..."), &TFlagForm::Text1Click);
    connect(edit, &QMenu::aboutToShow, this, [this] { Edit1Click(); });
    // The menu shows whether a paste would find a picture; the shortcut always
    // runs the command, which says so when the clipboard is empty.
    connect(edit, &QMenu::aboutToHide, this, [this] { Pasteimage1->setEnabled(!m_work->Busy()); });

    QMenu* about = menuBar()->addMenu(tr("关于(&A)"));
    about->setObjectName(QStringLiteral("About1"));
    AddAction(about, "Info1", tr("信息(&I)..."), &TFlagForm::Info1Click);
}

void TFlagForm::CreateControls()
{
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(6, 6, 6, 2);
    column->setSpacing(4);

    PageControl = new QTabWidget(central);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    // All six pages at a glance: the panel is as wide as its tabs.
    PageControl->setUsesScrollButtons(false);
    column->addWidget(PageControl);
    QWidget* page = nullptr;
    const auto addPage = [&](const QString& caption) {
        page = new QWidget(PageControl);
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(8, 6, 8, 6);
        layout->setSpacing(2);
        PageControl->addTab(page, caption);
    };
    // Each setting's control, as the settings table describes it.
    m_controls = new TSettingControls(this);
    connect(m_controls, &TSettingControls::Changed, this,
        [this](const TSetting* setting) { SettingChanged(*setting); });
    const auto add = [&](const char* setting) {
        QWidget* control = m_controls->Make(setting, page);
        if (qobject_cast<TNiceScrollBar*>(control)) {
            control->setMinimumSize(200, 32);
            control->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        }
        page->layout()->addWidget(control);
        return control;
    };

    addPage(tr("动画"));
    add("Frames");
    add("Distance");
    add("Antialiasing");
    addPage(tr("旗帜"));
    add("Amplitude");
    add("Frequency");
    add("Angle");
    add("Radial");
    add("Hoist");
    add("HoistWidth");
    add("ShowPole");
    addPage(tr("抖动"));
    add("BumpIntensity");
    add("BumpFrequency");
    addPage(tr("光线"));
    add("Brightness");
    add("Contrast");
    add("InvertLightMode");
    addPage(tr("背景"));
    add("TransparentMode");
    auto* colour = static_cast<TColorChoice*>(add("BackgroundColor"));
    colour->SetKind(ccHorizontal);
    colour->SetBorderStyle(bsSingle);
    colour->setCursor(Qt::PointingHandCursor);
    colour->setFixedHeight(64);
    addPage(QStringLiteral("GIF"));
    add("GIFDelay");
    add("GIFLoops");
    add("GIFBits");
    add("HighQuality");
    add("ExportScale");
    add("Lossy");
    page->layout()->addWidget(m_controls->MakeLabelled("MaxSizeKB", page));
    add("WebPQuality");
    add("WebPLossless");
    auto* note = new QLabel(
        tr("这些选项仅对保存的文件有效：延迟、循环和最大文件大小适用于 "
           "GIF、WebP 和 APNG，WebP 质量和 WebP 无损仅适用于 WebP，其余选项仅适用于 GIF。"),
        page);
    note->setObjectName(QStringLiteral("GIFNoteLabel"));
    note->setWordWrap(true);
    page->layout()->addWidget(note);

    for (int i = 0; i < PageControl->count(); ++i)
        static_cast<QVBoxLayout*>(PageControl->widget(i)->layout())->addStretch(1);

    auto* playback = new QHBoxLayout;
    playback->setSpacing(2);
    PauseCheckBox = new QCheckBox(tr("暂停"), central);
    PauseCheckBox->setObjectName(QStringLiteral("PauseCheckBox"));
    playback->addWidget(PauseCheckBox);
    const auto stepButton = [&](const char* name, const char* glyph) {
        auto* button = new QToolButton(central);
        button->setObjectName(QString::fromLatin1(name));
        button->setAutoRaise(true);
        button->setFixedSize(17, 17);
        button->setIcon(QIcon(QString::fromLatin1(glyph)));
        button->setIconSize(QSize(8, 9));
        button->setFocusPolicy(Qt::NoFocus);
        playback->addWidget(button);
        return button;
    };
    LeftSpeedButton = stepButton("LeftSpeedButton", ":/resources/STEPLEFT.png");
    RightSpeedButton = stepButton("RightSpeedButton", ":/resources/STEPRIGHT.png");
    playback->addStretch(1);
    column->addLayout(playback);
    setCentralWidget(central);

    MainStatusBar = new QStatusBar(this);
    MainStatusBar->setObjectName(QStringLiteral("MainStatusBar"));
    MainStatusBar->setSizeGripEnabled(false);
    m_statusLabel = new QLabel(MainStatusBar);
    MainStatusBar->addWidget(m_statusLabel, 1);
    // Long work shows its progress and its "取消" button in place of the status.
    m_workBar = new TWorkBar(MainStatusBar);
    m_workBar->Replaces = m_statusLabel;
    MainStatusBar->addWidget(m_workBar, 1);
    m_work = new TFlagWork(*this, *m_workBar);
    setStatusBar(MainStatusBar);

    connect(PauseCheckBox, &QCheckBox::toggled, this, [this] { PauseCheckBoxClick(); });
    connect(LeftSpeedButton, &QToolButton::clicked, this, [this] { LeftSpeedButtonClick(); });
    connect(RightSpeedButton, &QToolButton::clicked, this, [this] { RightSpeedButtonClick(); });
}

void TFlagForm::StartUp(TShowForm* showForm)
{
    m_showForm = showForm;
    m_magnet.SetFlagWindow(showForm);
    connect(showForm, &TShowForm::PaintAreaMouseDown, this,
        [this](QPoint at) { FlagPaintBoxMouseDown(at.x(), at.y()); });
    connect(showForm, &TShowForm::Resized, this, [this] { FlagWindowResize(); });
    connect(showForm, &TShowForm::Moved, this, [this] { m_magnet.FlagWindowMoved(); });
    connect(showForm, &TShowForm::PictureDragEnter, this,
        [this](QDragEnterEvent* event) { PictureDragEnter(event); });
    connect(
        showForm, &TShowForm::PictureDrop, this, [this](QDropEvent* event) { PictureDrop(event); });

    LoadTexture();
    m_playback.Reset();

    // The panel's size is fixed by its contents; the flag window goes right
    // beside it.
    adjustSize();
    setFixedSize(size());
    m_magnet.PlaceAtStart();

    // With the lighting table and the captions of the loaded values.
    LoadSettings();
    m_magnet.KeepOnScreen();
    m_magnet.TakePanelPosition();

    show();
    FlagTimer->start();
}

void TFlagForm::SetSettings(const TSettings& settings)
{
    m_settings = settings;
    m_controls->Show(m_settings);
    m_model.SetParameters(m_settings.Flag);
}

void TFlagForm::SettingChanged(const TSetting& setting)
{
    m_controls->Read(setting, m_settings);
    m_controls->Follow(m_settings);
    m_model.ChangeParameters(m_settings.Flag, setting.Effect);
}

QString TFlagForm::StatusText() const
{
    return m_statusLabel->text();
}

void TFlagForm::SetStatusText(const QString& text)
{
    m_statusLabel->setText(text);
}

void TFlagForm::InvalidateFrames()
{
    SetBusyBits(bfRecompute);
    if (m_showForm) {
        const QSize area = m_showForm->PaintAreaSize();
        m_model.SetFrameSize(area.width(), area.height());
    } else {
        m_model.InvalidateFrames();
    }
    ClearBusyBits(bfRecompute);
}

void TFlagForm::LoadTexture(const std::optional<QString>& fileName)
{
    if (fileName) {
        // Read into a picture of its own so that nothing changes on failure.
        TPicture loaded;
        LoadPictureFile(fileName->toStdString(), loaded);
        m_model.SetTexture(loaded.Color, loaded.Alpha);
    } else {
        TDIB picture;
        LoadDefaultImage(picture);
        m_model.SetTexture(picture, TDIB());
    }
    PrepareTexture();
    InvalidateFrames();
}

void TFlagForm::PrepareTexture()
{
    if (!m_textForm) {
        m_model.PrepareTexture();
        return;
    }
    m_model.PrepareTexture([this](TDIB& prepared) { m_textForm->RenderTextOverlay(prepared); });
}

// --- playback

void TFlagForm::FlagTimerTimer()
{
    // What a save wrote stays a while before the frame numbers take over.
    const auto status = [this](const std::string& text) {
        if (m_finalStatusShown.hasExpired())
            SetStatusText(CoreMessage(text));
    };
    if (!RunCommand(this, [&] { m_playback.Tick(m_model, status); })) {
        // Stop here rather than fail again on every tick.
        PauseCheckBox->setChecked(true);
        return;
    }
    PaintFrame();
}

void TFlagForm::ShowFrameStatus()
{
    if (!m_finalStatusShown.hasExpired())
        return;
    SetStatusText(CoreMessage(m_playback.FrameStatus(m_model)));
}

void TFlagForm::PaintFrame()
{
    // Only a frame that reaches the screen counts towards the pin's showings.
    if (!m_showForm || !m_showForm->isVisible())
        return;
    const TFramePresentation shown = m_playback.Present(m_model);
    std::optional<QPoint> pin;
    if (shown.Pin) {
        // The pin's lower middle touches the pin point.
        const QSize area = m_showForm->FlagPaintBox()->size();
        const int w = area.width();
        const int h = area.height();
        const FlagParameters& p = m_settings.Flag;
        pin = QPoint(w * p.SpotX / 1024 + w / 2 - 6, h * p.SpotY / 1024 + h / 2 - 24);
    }
    m_showForm->ShowFrame(shown.Frame ? DIBToQImage(*shown.Frame) : QImage(), pin);
}

void TFlagForm::PauseCheckBoxClick()
{
    if (PauseCheckBox->isChecked())
        SetBusyBits(bfPaused);
    else
        ClearBusyBits(bfPaused);
}

void TFlagForm::LeftSpeedButtonClick()
{
    if (!PauseCheckBox->isChecked()) {
        PauseCheckBox->setChecked(true);
        return;
    }
    m_playback.StepBack(m_settings.Flag.Frames);
}

void TFlagForm::RightSpeedButtonClick()
{
    if (!PauseCheckBox->isChecked()) {
        PauseCheckBox->setChecked(true);
        return;
    }
    m_playback.StepForward(m_settings.Flag.Frames);
}

void TFlagForm::FlagPaintBoxMouseDown(int x, int y)
{
    const QSize area = m_showForm->PaintAreaSize();
    const int w = area.width();
    const int h = area.height();
    m_playback.ShowPin();
    m_settings.Flag.SpotX = ((x - w / 2) * 1024) / w;
    m_settings.Flag.SpotY = ((y - h / 2) * 1024) / h;
    m_model.ChangeParameters(m_settings.Flag, TSettingEffect::None);
    InvalidateFrames();
}

void TFlagForm::FlagWindowResize()
{
    m_playback.ShowPin();
    InvalidateFrames();
}

// --- commands

std::optional<QString> TFlagForm::RunOpenPictureDialog()
{
    QFileDialog dialog(this, tr("打开"), QDir::currentPath());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(QtNameFilters(tr(sOpenPictureFilter)));
    dialog.setDefaultSuffix(QString::fromLatin1(sOpenPictureDefaultExt));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

void TFlagForm::Open1Click()
{
    TBusyScope dialog(*this, bfDialog);
    RunCommand(this, [this] { m_work->Open(); });
}

void TFlagForm::Save1Click()
{
    TBusyScope dialog(*this, bfDialog);
    RunCommand(this, [this] { ExportAnimation(false); });
}

void TFlagForm::Edit1Click()
{
    Pasteimage1->setEnabled(!m_work->Busy() && ClipboardHasPicture(QGuiApplication::clipboard()));
}

void TFlagForm::Text1Click()
{
    if (!m_textForm)
        return;
    TBusyScope dialog(*this, bfDialog);
    m_textForm->exec();
    // Whichever way the dialog closed, its settings make the next texture.
    RunCommand(this, [this] {
        InvalidateFrames();
        PrepareTexture();
    });
}

void TFlagForm::Pasteimage1Click()
{
    RunCommand(this, [this] { m_work->Paste(); });
}

void TFlagForm::Quit1Click()
{
    close();
}

bool TFlagForm::AcceptsDrops() const
{
    return (BusyFlags() & (bfDialog | bfExporting)) == 0 && !m_work->Busy()
        && !QApplication::activeModalWidget();
}

void TFlagForm::LoadDroppedFile(const QString& fileName)
{
    if (!AcceptsDrops())
        return;
    RunCommand(this, [&] { m_work->Load(fileName); });
}

void TFlagForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_showForm)
        m_showForm->show();
    ClearBusyBits(bfHidden);
}

void TFlagForm::hideEvent(QHideEvent* event)
{
    QMainWindow::hideEvent(event);
    // Minimising is the window system's business; only a real hide takes the
    // flag window along.
    if (event->spontaneous())
        return;
    if (m_showForm)
        m_showForm->hide();
    SetBusyBits(bfHidden);
}

void TFlagForm::closeEvent(QCloseEvent* event)
{
    // Not while a GIF is being written; other work is cancelled.
    if (!m_work->MayClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    FormClose();
    if (m_showForm)
        m_showForm->AllowClose();
}

void TFlagForm::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    m_magnet.PanelMoved();
}

void TFlagForm::dragEnterEvent(QDragEnterEvent* event)
{
    PictureDragEnter(event);
}

void TFlagForm::dropEvent(QDropEvent* event)
{
    PictureDrop(event);
}

void TFlagForm::PictureDragEnter(QDragEnterEvent* event)
{
    if (AcceptsDrops() && DroppedFile(event->mimeData()))
        event->acceptProposedAction();
}

void TFlagForm::PictureDrop(QDropEvent* event)
{
    const std::optional<QString> file = DroppedFile(event->mimeData());
    if (!file || !AcceptsDrops())
        return;
    event->acceptProposedAction();
    // Load after the drop has finished, so that an error box does not open
    // inside the drag-and-drop loop of the source program.
    QTimer::singleShot(0, this, [this, name = *file] { LoadDroppedFile(name); });
}

} // namespace zx
