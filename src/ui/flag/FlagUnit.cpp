#include "ui/flag/FlagUnit.h"

#include "core/imaging/DefaultImage.h"
#include "core/imaging/XImageFileUnit.h"
#include "ui/controls/XBoxUnit.h"
#include "ui/controls/XColorChoiceComp.h"
#include "ui/controls/XNiceScrollBarComp.h"
#include "ui/controls/XRadioGroupComp.h"
#include "ui/flag/ShowUnit.h"
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
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace zx {

bool PanelExists = false;

namespace {

    // The declared range of the frame-count slider; start-up lowers the maximum
    // to the 40 frame slots.
    constexpr TFlagRange kFramesDeclaredRange { 1, 100, kFramesRange.Default };

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

    // Remembers the folder of a file the user chose, as the platform's file
    // dialogs do: the next dialog starts there.
    void ChangeToFolderOf(const QString& fileName)
    {
        QDir::setCurrent(QFileInfo(fileName).absolutePath());
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
    , m_frames(std::make_unique<TFrameStore>())
{
    setWindowTitle(QStringLiteral("Zephyrix"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAcceptDrops(true);
    CreateMenus();
    CreateControls();

    FlagTimer = new QTimer(this);
    FlagTimer->setInterval(50);
    connect(FlagTimer, &QTimer::timeout, this, [this] { FlagTimerTimer(); });

    OpenPictureDialog = [this] { return RunOpenPictureDialog(); };
    GIFSaveDialog = [this] { return RunGIFSaveDialog(); };

    CreateAboutBox();
    if (start == TPanelStart::ProgramStart)
        FirstStartCheck();
    PanelExists = true;
}

TFlagForm::~TFlagForm()
{
    // FormDestroy: nothing may tick into the freed frames.
    PanelExists = false;
    FlagTimer->stop();
    m_textureList.clear();
    m_frames.reset();
}

void TFlagForm::CreateMenus()
{
    File1 = menuBar()->addMenu(QStringLiteral("文件(&F)"));
    Open1 = File1->addAction(QStringLiteral("打开(&O)..."));
    Open1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    connect(Open1, &QAction::triggered, this, [this] { Open1Click(); });
    Save1 = File1->addAction(QStringLiteral("保存(&S)..."));
    Save1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(Save1, &QAction::triggered, this, [this] { Save1Click(); });
    Preview1 = File1->addAction(QStringLiteral("预览"));
    connect(Preview1, &QAction::triggered, this, [this] { Preview1Click(); });
    File1->addSeparator();
    Quit1 = File1->addAction(QStringLiteral("退出(&Q)"));
    connect(Quit1, &QAction::triggered, this, [this] { Quit1Click(); });

    Edit1 = menuBar()->addMenu(QStringLiteral("编辑"));
    Pasteimage1 = Edit1->addAction(QStringLiteral("粘贴图片(&P)"));
    Pasteimage1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    connect(Pasteimage1, &QAction::triggered, this, [this] { Pasteimage1Click(); });
    Text1 = Edit1->addAction(QStringLiteral("文本(&T)..."));
    connect(Text1, &QAction::triggered, this, [this] { Text1Click(); });
    connect(Edit1, &QMenu::aboutToShow, this, [this] { Edit1Click(); });
    // The menu shows whether a paste would find a picture; the shortcut always
    // runs the command, which says so when the clipboard is empty.
    connect(Edit1, &QMenu::aboutToHide, this, [this] { Pasteimage1->setEnabled(true); });

    About1 = menuBar()->addMenu(QStringLiteral("关于(&A)"));
    Info1 = About1->addAction(QStringLiteral("信息(&I)..."));
    connect(Info1, &QAction::triggered, this, [this] { Info1Click(); });
}

TNiceScrollBar* TFlagForm::AddSlider(QWidget* page, const QString& caption, TFlagRange range)
{
    auto* slider = new TNiceScrollBar(page);
    slider->SetMax(range.Max);
    slider->SetMin(range.Min);
    slider->SetPosition(range.Default);
    slider->SetDefaultMode(dmFixed);
    slider->SetDefaultPos(range.Default);
    slider->SetLabelCaption(caption);
    slider->setMinimumSize(200, 32);
    slider->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    page->layout()->addWidget(slider);
    return slider;
}

void TFlagForm::CreateControls()
{
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(6, 6, 6, 2);
    column->setSpacing(4);

    PageControl = new QTabWidget(central);
    // All six pages at a glance: the panel is as wide as its tabs.
    PageControl->setUsesScrollButtons(false);
    column->addWidget(PageControl);
    const auto addPage = [this](const QString& caption) {
        auto* page = new QWidget(PageControl);
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(8, 6, 8, 6);
        layout->setSpacing(2);
        PageControl->addTab(page, caption);
        return page;
    };

    QWidget* animation = addPage(QStringLiteral("动画"));
    FramesNiceScrollBar
        = AddSlider(animation, QStringLiteral("帧数：<#Pos>"), kFramesDeclaredRange);
    DistanceNiceScrollBar = AddSlider(animation, QStringLiteral("距离：<#Pos>"), kDistanceRange);
    AntialiasRadioGroup = new TRadioGroup(QStringLiteral("反锯齿"),
        { QStringLiteral("禁止 (快速)"), QStringLiteral("2x2"), QStringLiteral("4x4 (缓慢)") },
        animation);
    AntialiasRadioGroup->SetItemIndex(kAntialiasingRange.Default);
    animation->layout()->addWidget(AntialiasRadioGroup);

    QWidget* flag = addPage(QStringLiteral("旗帜"));
    HeightNiceScrollBar = AddSlider(flag, QStringLiteral("振幅：<#Pos>%"), kAmplitudeRange);
    FrequencyNiceScrollBar = AddSlider(flag, QStringLiteral("频率：<#Pos>"), kFrequencyRange);
    AngleNiceScrollBar = AddSlider(flag, QStringLiteral("角度：<#Pos>"), kAngleRange);
    RadialCheckBox = new QCheckBox(QStringLiteral("辐射波纹"), flag);
    flag->layout()->addWidget(RadialCheckBox);

    QWidget* bump = addPage(QStringLiteral("抖动"));
    BumpAmpNiceScrollBar = AddSlider(bump, QStringLiteral("强度：<#Pos>%"), kBumpIntensityRange);
    BumpSizeNiceScrollBar = AddSlider(bump, QStringLiteral("频率：<#Pos>"), kBumpFrequencyRange);

    QWidget* light = addPage(QStringLiteral("光线"));
    BrightnessNiceScrollBar = AddSlider(light, QStringLiteral("亮度：<#Pos>%"), kBrightnessRange);
    ContrastNiceScrollBar = AddSlider(light, QStringLiteral("对比度：<#Pos>%"), kContrastRange);
    SwapLightCheckBox = new QCheckBox(QStringLiteral("反转亮度"), light);
    light->layout()->addWidget(SwapLightCheckBox);

    QWidget* background = addPage(QStringLiteral("背景"));
    TransparentCheckBox = new QCheckBox(QStringLiteral("透明"), background);
    TransparentCheckBox->setChecked(true);
    background->layout()->addWidget(TransparentCheckBox);
    BackColorChoice = new TColorChoice(background);
    BackColorChoice->SetKind(ccHorizontal);
    BackColorChoice->SetBorderStyle(bsSingle);
    BackColorChoice->SetCaption(QStringLiteral("颜色"));
    BackColorChoice->setCursor(Qt::PointingHandCursor);
    BackColorChoice->setFixedHeight(64);
    background->layout()->addWidget(BackColorChoice);

    QWidget* gif = addPage(QStringLiteral("GIF"));
    DelayNiceScrollBar = AddSlider(gif, QStringLiteral("延迟：<#Mul1> 毫秒"), kGIFDelayRange);
    LoopsNiceScrollBar = AddSlider(gif, QString(), kGIFLoopsRange);
    BitsNiceScrollBar = AddSlider(gif, QString(), kGIFBitsRange);
    HighQualityCheckBox = new QCheckBox(QStringLiteral("高质量"), gif);
    HighQualityCheckBox->setObjectName(QStringLiteral("HighQualityCheckBox"));
    gif->layout()->addWidget(HighQualityCheckBox);
    GIFNoteLabel = new QLabel(QStringLiteral("这些选项仅对已保存的 GIF 文件有效。"), gif);
    GIFNoteLabel->setWordWrap(true);
    gif->layout()->addWidget(GIFNoteLabel);

    for (int i = 0; i < PageControl->count(); ++i)
        static_cast<QVBoxLayout*>(PageControl->widget(i)->layout())->addStretch(1);

    auto* playback = new QHBoxLayout;
    playback->setSpacing(2);
    PauseCheckBox = new QCheckBox(QStringLiteral("暂停"), central);
    playback->addWidget(PauseCheckBox);
    const auto stepButton = [&](const char* glyph) {
        auto* button = new QToolButton(central);
        button->setAutoRaise(true);
        button->setFixedSize(17, 17);
        button->setIcon(QIcon(QString::fromLatin1(glyph)));
        button->setIconSize(QSize(8, 9));
        button->setFocusPolicy(Qt::NoFocus);
        playback->addWidget(button);
        return button;
    };
    LeftSpeedButton = stepButton(":/resources/STEPLEFT.png");
    RightSpeedButton = stepButton(":/resources/STEPRIGHT.png");
    playback->addStretch(1);
    column->addLayout(playback);
    setCentralWidget(central);

    MainStatusBar = new QStatusBar(this);
    MainStatusBar->setSizeGripEnabled(false);
    m_statusLabel = new QLabel(MainStatusBar);
    MainStatusBar->addWidget(m_statusLabel, 1);
    setStatusBar(MainStatusBar);

    // What each control does when the user changes it.
    for (TNiceScrollBar* slider :
        { FramesNiceScrollBar, DistanceNiceScrollBar, HeightNiceScrollBar, FrequencyNiceScrollBar,
            AngleNiceScrollBar, BumpAmpNiceScrollBar, BumpSizeNiceScrollBar })
        connect(slider, &TNiceScrollBar::OnChange, this, [this] { ClickNewFlag(); });
    for (TNiceScrollBar* slider : { BrightnessNiceScrollBar, ContrastNiceScrollBar })
        connect(slider, &TNiceScrollBar::OnChange, this, [this] { LightChanged(); });
    connect(AntialiasRadioGroup, &TRadioGroup::OnClick, this, [this] { ClickNewFlag(); });
    connect(RadialCheckBox, &QCheckBox::toggled, this, [this] { ClickNewFlag(); });
    connect(TransparentCheckBox, &QCheckBox::toggled, this, [this] { ClickNewFlag(); });
    connect(SwapLightCheckBox, &QCheckBox::toggled, this, [this] { LightChanged(); });
    connect(BackColorChoice, &TColorChoice::OnChange, this, [this] { BackColorChoiceChange(); });
    connect(LoopsNiceScrollBar, &TNiceScrollBar::OnChange, this,
        [this] { LoopsNiceScrollBarChange(); });
    connect(
        BitsNiceScrollBar, &TNiceScrollBar::OnChange, this, [this] { BitsNiceScrollBarChange(); });
    connect(PauseCheckBox, &QCheckBox::toggled, this, [this] { PauseCheckBoxClick(); });
    connect(LeftSpeedButton, &QToolButton::clicked, this, [this] { LeftSpeedButtonClick(); });
    connect(RightSpeedButton, &QToolButton::clicked, this, [this] { RightSpeedButtonClick(); });
}

void TFlagForm::StartUp(TShowForm* showForm)
{
    m_showForm = showForm;
    m_showForm->SetPanel(this);

    // The frame store was made with the form; the slider is limited to its
    // slots (which clamps the position without any event).
    FramesNiceScrollBar->SetMax(kFrameSlots);

    LoadTexture();

    m_renderCursor = 0;
    m_shownFrame = 0;
    m_busyFlags = 0;
    m_spotX = 0;
    m_spotY = 0;
    m_pinCountdown = 0;

    // The panel's size is fixed by its contents; the flag window goes right
    // beside it.
    adjustSize();
    setFixedSize(size());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const int total = frameGeometry().width() + m_showForm->frameGeometry().width();
        move(area.left() + std::max(0, (area.width() - total) / 2),
            area.top() + std::max(0, (area.height() - frameGeometry().height()) / 2));
    }
    m_showForm->move(frameGeometry().left() + frameGeometry().width(), frameGeometry().top());

    LoadSettings();

    m_lightTable = BuildLightTable(BrightnessNiceScrollBar->Position(),
        ContrastNiceScrollBar->Position(), SwapLightCheckBox->isChecked());

    KeepWindowsOnScreen();

    LoopsNiceScrollBarChange();
    BitsNiceScrollBarChange();

    m_lastTop = frameGeometry().top();
    m_lastLeft = frameGeometry().left();

    show();
    FlagTimer->start();
}

FlagParameters TFlagForm::CurrentParameters() const
{
    FlagParameters p;
    p.Frames = FramesNiceScrollBar->Position();
    p.Distance = DistanceNiceScrollBar->Position();
    p.Antialiasing = std::max(0, AntialiasRadioGroup->ItemIndex());
    p.Amplitude = HeightNiceScrollBar->Position();
    p.Frequency = FrequencyNiceScrollBar->Position();
    p.Angle = AngleNiceScrollBar->Position();
    p.Radial = RadialCheckBox->isChecked();
    p.BumpIntensity = BumpAmpNiceScrollBar->Position();
    p.BumpFrequency = BumpSizeNiceScrollBar->Position();
    p.Brightness = BrightnessNiceScrollBar->Position();
    p.Contrast = ContrastNiceScrollBar->Position();
    p.InvertLightMode = SwapLightCheckBox->isChecked();
    p.TransparentMode = TransparentCheckBox->isChecked();
    p.BackgroundColor = BackColorChoice->Color();
    p.GIFDelay = DelayNiceScrollBar->Position();
    p.GIFLoops = LoopsNiceScrollBar->Position();
    p.GIFBits = BitsNiceScrollBar->Position();
    p.SpotX = m_spotX;
    p.SpotY = m_spotY;
    return p;
}

TTextureItem* TFlagForm::CurrentTexture() const
{
    return m_textureList.empty() ? nullptr : m_textureList.front().get();
}

void TFlagForm::SetSpot(std::int32_t x, std::int32_t y)
{
    m_spotX = x;
    m_spotY = y;
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
    const FlagParameters params = CurrentParameters();
    SetBusyBits(bfRecompute);
    const QSize area
        = m_showForm ? m_showForm->PaintAreaSize() : QSize(kDefaultFrameWidth, kDefaultFrameHeight);
    m_derived = DeriveFlagValues(params, area.width(), area.height());
    if (m_frames)
        m_frames->InvalidateAll();
    if (m_showForm)
        m_showForm->SetStatusText(QStringLiteral("%1 x %2").arg(area.width()).arg(area.height()));
    ClearBusyBits(bfRecompute);
}

void TFlagForm::LoadTexture(const std::optional<QString>& fileName)
{
    if (m_textureList.empty())
        m_textureList.push_back(std::make_unique<TTextureItem>());
    TTextureItem& texture = *m_textureList.front();
    if (fileName) {
        // Read into a picture of its own so that nothing changes on failure.
        TPicture loaded;
        LoadPictureFile(fileName->toStdString(), loaded);
        texture.Source = loaded.Color;
        texture.Alpha = loaded.Alpha;
    } else {
        LoadDefaultImage(texture.Source);
        texture.Alpha = TDIB();
    }
    PrepareTexture();
    InvalidateFrames();
}

void TFlagForm::PrepareTexture()
{
    TTextureItem* texture = CurrentTexture();
    if (!texture)
        return;
    ImportBitmap(texture->Source, texture->Prepared);
    if (m_textForm)
        m_textForm->RenderTextOverlay(texture->Prepared);
}

void TFlagForm::ClickNewFlag()
{
    AngleNiceScrollBar->SetEnabled(!RadialCheckBox->isChecked());
    InvalidateFrames();
}

void TFlagForm::LightChanged()
{
    m_lightTable = BuildLightTable(BrightnessNiceScrollBar->Position(),
        ContrastNiceScrollBar->Position(), SwapLightCheckBox->isChecked());
    InvalidateFrames();
}

void TFlagForm::BackColorChoiceChange()
{
    if (!TransparentCheckBox->isChecked())
        InvalidateFrames();
}

void TFlagForm::LoopsNiceScrollBarChange()
{
    LoopsNiceScrollBar->SetLabelCaption(
        QString::fromStdString(LoopsCaption(LoopsNiceScrollBar->Position())));
}

void TFlagForm::BitsNiceScrollBarChange()
{
    BitsNiceScrollBar->SetLabelCaption(
        QString::fromStdString(BitsCaption(BitsNiceScrollBar->Position())));
}

// --- playback

void TFlagForm::RenderSlot(std::uint16_t k, std::uint16_t phase)
{
    const TTextureItem* texture = CurrentTexture();
    if (!texture || !m_frames)
        return;
    const FlagParameters params = CurrentParameters();
    RenderFrame(*m_frames, k, phase, params, m_derived, texture->Prepared, texture->Alpha,
        m_lightTable,
        [this](const std::string& text) { SetStatusText(QString::fromStdString(text)); });
}

void TFlagForm::FlagTimerTimer()
{
    if (!m_frames)
        return;
    if (m_busyFlags != 0) {
        ShowFrameStatus();
        PaintFrame();
        return;
    }
    const std::int32_t frames = FramesNiceScrollBar->Position();
    const std::uint16_t i = m_renderCursor;
    if (m_frames->FrameRendered[i]) {
        ShowFrameStatus();
    } else {
        const bool rendered = RunCommand(this, [&] { RenderSlot(i, FramePhase(i, frames)); });
        if (!rendered) {
            // Stop here rather than fail again on every tick.
            PauseCheckBox->setChecked(true);
            return;
        }
    }
    const std::int32_t n = (m_shownFrame + 1) % frames;
    if (m_frames->FrameRendered[n])
        m_shownFrame = n;
    else if (m_frames->FrameRendered[m_renderCursor])
        m_shownFrame = m_renderCursor;
    m_renderCursor = static_cast<std::uint16_t>((m_renderCursor + 1) % frames);
    PaintFrame();
}

void TFlagForm::ShowFrameStatus()
{
    const QString number = QString::number(m_shownFrame + 1);
    if (m_frames && m_frames->FrameRendered[m_shownFrame])
        SetStatusText(QStringLiteral("正在显示的帧序号 #") + number);
    else
        SetStatusText(QStringLiteral("帧序号 #") + number + QStringLiteral(" 无效。"));
}

void TFlagForm::PaintFrame()
{
    if (m_showForm)
        m_showForm->FlagPaintBox()->repaint();
}

void TFlagForm::DrawFrame(QPainter& painter, const QRect& clip, const QSize& area)
{
    if (m_frames && m_frames->FrameRendered[m_shownFrame]) {
        painter.drawImage(0, 0, DIBToQImage(m_frames->FrameBitmaps[m_shownFrame]));
        if (m_pinCountdown > 0) {
            static const QImage pin(QStringLiteral(":/resources/PIN.png"));
            const int w = area.width();
            const int h = area.height();
            painter.drawImage(w * m_spotX / 1024 + w / 2 - 6, h * m_spotY / 1024 + h / 2 - 24, pin);
            --m_pinCountdown;
        }
    } else {
        painter.fillRect(clip, palette().color(QPalette::Button));
    }
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
    const std::int32_t frames = FramesNiceScrollBar->Position();
    m_shownFrame = (frames + m_shownFrame - 1) % frames;
}

void TFlagForm::RightSpeedButtonClick()
{
    if (!PauseCheckBox->isChecked()) {
        PauseCheckBox->setChecked(true);
        return;
    }
    m_shownFrame = (m_shownFrame + 1) % FramesNiceScrollBar->Position();
}

void TFlagForm::FlagPaintBoxMouseDown(int x, int y)
{
    const QSize area = m_showForm->PaintAreaSize();
    const int w = area.width();
    const int h = area.height();
    m_pinCountdown = 10;
    m_spotX = ((x - w / 2) * 1024) / w;
    m_spotY = ((y - h / 2) * 1024) / h;
    InvalidateFrames();
}

void TFlagForm::FlagWindowResize()
{
    m_pinCountdown = 10;
    InvalidateFrames();
}

// --- commands

std::optional<QString> TFlagForm::RunOpenPictureDialog()
{
    QFileDialog dialog(this, QStringLiteral("打开"), QDir::currentPath());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(QtNameFilters(QString::fromUtf8(sOpenPictureFilter)));
    dialog.setDefaultSuffix(QString::fromLatin1(sOpenPictureDefaultExt));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front();
}

void TFlagForm::Open1Click()
{
    TBusyScope dialog(*this, bfDialog);
    RunCommand(this, [this] {
        const std::optional<QString> fileName = OpenPictureDialog();
        if (!fileName)
            return;
        ChangeToFolderOf(*fileName);
        LoadTexture(*fileName);
    });
}

void TFlagForm::Save1Click()
{
    TBusyScope dialog(*this, bfDialog);
    RunCommand(this, [this] { ExportAnimation(false); });
}

void TFlagForm::Edit1Click()
{
    Pasteimage1->setEnabled(ClipboardHasPicture(QGuiApplication::clipboard()));
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
    RunCommand(this, [this] {
        const QClipboard* clipboard = QGuiApplication::clipboard();
        if (!ClipboardHasPicture(clipboard)) {
            ShowWarning(QString::fromUtf8(sClipboardEmpty), this);
            return;
        }
        const TPicture pasted = PictureWithAlphaFromClipboard(clipboard->mimeData());
        if (pasted.Color.Empty())
            return;
        if (m_textureList.empty())
            m_textureList.push_back(std::make_unique<TTextureItem>());
        ImportBitmap(pasted.Color, m_textureList.front()->Source);
        m_textureList.front()->Alpha = pasted.Alpha;
        PrepareTexture();
        InvalidateFrames();
    });
}

void TFlagForm::Quit1Click()
{
    close();
}

bool TFlagForm::AcceptsDrops() const
{
    return (m_busyFlags & (bfDialog | bfExporting)) == 0 && !QApplication::activeModalWidget();
}

void TFlagForm::LoadDroppedFile(const QString& fileName)
{
    if (!AcceptsDrops())
        return;
    TBusyScope dialog(*this, bfDialog);
    RunCommand(this, [&] { LoadTexture(fileName); });
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
    FormMoved();
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
