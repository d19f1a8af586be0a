#include "ui/gif/PreviewUnit.h"

#include "ui/gif/XFilmDisplayComp.h"
#include "ui/gif/XGIFPainter.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>

namespace zx {

namespace {

    // Room for the frame the window manager puts around the window, while
    // it is not known (before the window is first shown): borders and a
    // title bar.
    constexpr QSize kFrameAllowance(16, 48);

    // The most the window may take: the screen's free area, less the
    // window's frame.
    QSize ScreenRoom(const QWidget& window)
    {
        const QScreen* screen = window.screen();
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return { QWIDGETSIZE_MAX, QWIDGETSIZE_MAX };
        QSize frame = window.frameGeometry().size() - window.geometry().size();
        if (frame.isEmpty())
            frame = kFrameAllowance;
        return screen->availableGeometry().size() - frame;
    }

} // namespace

TPreviewForm::TPreviewForm(QWidget* parent)
    : QDialog(parent,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
{
    setWindowTitle(tr("GIF 预览"));
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(12);
    setFont(font);

    MainMenu = new QMenuBar(this);
    File1 = MainMenu->addMenu(tr("文件"));
    Save1 = File1->addAction(tr("保存..."));
    Save1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    Cancel1 = File1->addAction(tr("取消"));
    // The shortcut works wherever the focus is in the window.
    addAction(Save1);
    connect(Save1, &QAction::triggered, this, [this] { Save1Click(); });
    connect(Cancel1, &QAction::triggered, this, [this] { Cancel1Click(); });

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->setMenuBar(MainMenu);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    column->addLayout(row, 1);

    // The left pane: black, with the picture level with the strip's frames.
    PreviewScrollBox = new QScrollArea(this);
    PreviewScrollBox->setFrameShape(QFrame::NoFrame);
    QPalette black = PreviewScrollBox->palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::Base, Qt::black);
    PreviewScrollBox->setPalette(black);
    PreviewScrollBox->viewport()->setBackgroundRole(QPalette::Window);
    PreviewScrollBox->viewport()->setAutoFillBackground(true);
    m_paneContent = new QWidget;
    m_paneContent->setAutoFillBackground(true);
    PreviewImage = new TGIFImageControl(m_paneContent);
    PreviewImage->move(0, kImageTop);
    PreviewScrollBox->setWidget(m_paneContent);
    row->addWidget(PreviewScrollBox);

    // The rest: the film strip in a box that scrolls sideways only.
    ScrollBox2 = new QScrollArea(this);
    ScrollBox2->setFrameShape(QFrame::NoFrame);
    ScrollBox2->setWidgetResizable(true);
    auto* filmPane = new QWidget;
    auto* filmColumn = new QVBoxLayout(filmPane);
    filmColumn->setContentsMargins(0, 0, 0, 0);
    filmColumn->setSpacing(0);
    FilmScrollBox = new QScrollArea(filmPane);
    FilmScrollBox->setFrameShape(QFrame::NoFrame);
    FilmScrollBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    FilmScrollBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FilmScrollBox->horizontalScrollBar()->setTracking(true);
    GIFFilmDisplay = new TFilmDisplay;
    GIFFilmDisplay->SetBorder(TFilmDisplay::kDefaultBorder);
    GIFFilmDisplay->SetItemIndex(-1);
    FilmScrollBox->setWidget(GIFFilmDisplay);
    filmColumn->addWidget(FilmScrollBox);
    filmColumn->addStretch(1);
    ScrollBox2->setWidget(filmPane);
    row->addWidget(ScrollBox2, 1);
    connect(GIFFilmDisplay, &TFilmDisplay::OnChange, this, [this] { GIFFilmDisplayChange(); });

    PreviewStatusBar = new QStatusBar(this);
    m_statusLabel = new QLabel(PreviewStatusBar);
    // The panel's width, or what a longer text (a translation's) needs.
    m_statusLabel->setMinimumWidth(kStatusPanelWidth);
    PreviewStatusBar->addWidget(m_statusLabel);
    column->addWidget(PreviewStatusBar);

    ModalRun = [](TPreviewForm& form) { return form.ExecModal(); };

    // FormCreate.
    m_heightLock = 0;
    resize(kDesignWidth, kDesignHeight);
}

TPreviewForm::~TPreviewForm() = default;

int TPreviewForm::ShowModal()
{
    m_modalResult = mrNone;
    return ModalRun(*this);
}

int TPreviewForm::ExecModal()
{
    const int result = exec();
    if (m_modalResult != mrNone)
        return m_modalResult;
    return result == QDialog::Accepted ? mrOk : mrCancel;
}

void TPreviewForm::SetPaneClientWidth(int width)
{
    m_paneClientWidth = width;
    ApplySizeLimits();
}

void TPreviewForm::SetImageSize(int width, int height)
{
    PreviewImage->resize(width, height);
    m_paneContent->resize(width, kImageTop + height);
}

QString TPreviewForm::StatusText() const
{
    return m_statusLabel->text();
}

void TPreviewForm::SetStatusText(const QString& text)
{
    m_statusLabel->setText(text);
}

int TPreviewForm::MinimumTrackWidth() const
{
    // Twice the image, and no less than the whole status text (with the
    // status bar's margins) needs.
    return std::max(PreviewScrollBox->width() * 2 + 40, m_statusLabel->sizeHint().width() + 24);
}

void TPreviewForm::ApplySizeLimits()
{
    // The window is at least twice the pane and 40 wide; a picture too wide
    // for that to fit on the screen (a scaled export) scrolls in its pane.
    // Worked out again whenever the window is fitted: its frame, which
    // takes from the room, is known only once it is shown.
    if (m_paneClientWidth > 0) {
        const int room = std::max(1, (ScreenRoom(*this).width() - 40) / 2);
        PreviewScrollBox->setFixedWidth(std::min(m_paneClientWidth, room));
    }
    setMinimumWidth(MinimumTrackWidth());
    if (m_heightLock != 0) {
        setMinimumHeight(m_heightLock);
        setMaximumHeight(m_heightLock);
    } else {
        setMinimumHeight(0);
        setMaximumHeight(QWIDGETSIZE_MAX);
    }
}

void TPreviewForm::FitHeights()
{
    // Resizing the window here comes back through resizeEvent.
    if (m_fitting)
        return;
    m_fitting = true;
    m_heightLock = 0;
    ApplySizeLimits();
    // The strip box is as high as the strip, plus its scroll bar when the
    // strip is wider than the room beside the left pane.
    const int room = std::max(width(), MinimumTrackWidth()) - PreviewScrollBox->width();
    int boxHeight = GIFFilmDisplay->height();
    if (GIFFilmDisplay->width() > room)
        boxHeight += FilmScrollBox->horizontalScrollBar()->sizeHint().height();
    FilmScrollBox->setFixedHeight(boxHeight);
    // A strip taller than the screen (a scaled export) scrolls in the box
    // around it, and the picture in its pane, instead.
    const int formHeight = std::min(
        MainMenu->sizeHint().height() + boxHeight + PreviewStatusBar->sizeHint().height(),
        ScreenRoom(*this).height());
    resize(std::max(width(), MinimumTrackWidth()), formHeight);
    m_heightLock = formHeight;
    ApplySizeLimits();
    m_fitting = false;
}

void TPreviewForm::FormShow()
{
    FitHeights();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.left() + (area.width() - frameGeometry().width()) / 2,
            area.top() + (area.height() - frameGeometry().height()) / 2);
    }
}

void TPreviewForm::FormResize()
{
    FitHeights();
}

void TPreviewForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TPreviewForm::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    FormResize();
}

void TPreviewForm::Save1Click()
{
    m_modalResult = mrOk;
    done(QDialog::Accepted);
}

void TPreviewForm::Cancel1Click()
{
    m_modalResult = mrCancel;
    done(QDialog::Rejected);
}

void TPreviewForm::GIFFilmDisplayChange()
{
    const int index = GIFFilmDisplay->ItemIndex();
    if (index < 0)
        return;
    const QRect item = GIFFilmDisplay->ItemRect(index);
    QScrollBar* bar = FilmScrollBox->horizontalScrollBar();
    const int visible = FilmScrollBox->viewport()->width();
    const int right = item.left() + item.width();
    if (item.left() < bar->value())
        bar->setValue(item.left());
    else if (right > bar->value() + visible)
        bar->setValue(right - visible);
}

} // namespace zx
