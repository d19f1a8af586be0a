#include "ui/controls/XWorkBarComp.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace zx {

namespace {

    // How often the progress is read: fast enough to look live, slow enough
    // to cost nothing.
    constexpr int kPollMilliseconds = 40;
    // How much the work yields to the window's thread.
    constexpr int kWorkerNice = 10;

    // The bar shows the task's text as it is: QProgressBar shows no text at
    // all while it has no measure (a busy bar), and reads %p, %v and %m in
    // its text as placeholders, which a file name may hold.
    class TTextProgressBar : public QProgressBar {
    public:
        using QProgressBar::QProgressBar;
        QString text() const override { return format(); }
    };

} // namespace

struct TWorkBar::TWorker {
    std::thread Thread;
    std::atomic<bool> Ended { false };
    std::exception_ptr Error;

    explicit TWorker(std::function<void()> work)
    {
        Thread = std::thread([this, work = std::move(work)] {
            // The window's thread comes first: with every core busy with the
            // work, it would otherwise wait its turn for tens of
            // milliseconds. On Linux the nice value is the thread's own, and
            // the threads it starts (the worker pool's) inherit it.
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kWorkerNice);
            try {
                work();
            } catch (...) {
                Error = std::current_exception();
            }
            Ended.store(true, std::memory_order_release);
        });
    }
    ~TWorker()
    {
        if (Thread.joinable())
            Thread.join();
    }
};

TWorkBar::TWorkBar(QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    ProgressBar = new TTextProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("WorkProgressBar"));
    ProgressBar->setRange(0, 1000);
    ProgressBar->setTextVisible(true);
    // The bar takes the width the status bar has, never more: the panel
    // does not grow while work runs.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ProgressBar->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(ProgressBar, 1);
    CancelButton = new QPushButton(tr("取消"), this);
    CancelButton->setObjectName(QStringLiteral("WorkCancelButton"));
    CancelButton->setFocusPolicy(Qt::NoFocus);
    row->addWidget(CancelButton);
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelClick(); });

    m_timer = new QTimer(this);
    m_timer->setInterval(kPollMilliseconds);
    connect(m_timer, &QTimer::timeout, this, [this] { Poll(); });
    hide();
}

TWorkBar::~TWorkBar()
{
    m_timer->stop();
    if (m_current && m_task.Cancel)
        m_task.Cancel();
    // The workers are joined as they go.
    m_current.reset();
    m_cancelled.clear();
}

bool TWorkBar::Start(TTask task)
{
    if (m_current)
        return false;
    m_task = std::move(task);
    m_refused = false;
    m_current = std::make_unique<TWorker>(m_task.Work);
    CancelButton->setEnabled(static_cast<bool>(m_task.Cancel));
    ShowProgress();
    SetShown(true);
    m_timer->start();
    return true;
}

void TWorkBar::CancelClick()
{
    if (!m_current || !m_task.Cancel || m_refused)
        return;
    if (!m_task.Cancel()) {
        // The result is on its way: the bar stays until it is there.
        m_refused = true;
        CancelButton->setEnabled(false);
        return;
    }
    m_cancelled.push_back(std::move(m_current));
    const std::function<void()> cancelled = std::move(m_task.Cancelled);
    m_task = {};
    SetShown(false);
    if (cancelled)
        cancelled();
}

void TWorkBar::ShowProgress()
{
    const int permille = m_task.Permille ? m_task.Permille() : -1;
    if (permille < 0) {
        ProgressBar->setRange(0, 0);
    } else {
        ProgressBar->setRange(0, 1000);
        ProgressBar->setValue(std::min(permille, 1000));
    }
    ProgressBar->setFormat(m_task.Text ? m_task.Text() : QString());
}

void TWorkBar::SetShown(bool shown)
{
    setVisible(shown);
    if (Replaces)
        Replaces->setVisible(!shown);
}

void TWorkBar::Poll()
{
    for (auto it = m_cancelled.begin(); it != m_cancelled.end();) {
        if ((*it)->Ended.load(std::memory_order_acquire))
            it = m_cancelled.erase(it);
        else
            ++it;
    }
    if (m_current) {
        if (!m_current->Ended.load(std::memory_order_acquire)) {
            ShowProgress();
            return;
        }
        // Taken off first: Done may start the next task, or open a modal
        // window in which this timer runs on.
        const std::unique_ptr<TWorker> ended = std::move(m_current);
        ended->Thread.join();
        const std::function<void(std::exception_ptr)> done = std::move(m_task.Done);
        m_task = {};
        SetShown(false);
        IdleCheck();
        if (done)
            done(ended->Error);
        return;
    }
    IdleCheck();
}

void TWorkBar::IdleCheck()
{
    if (!m_current && m_cancelled.empty())
        m_timer->stop();
}

bool TWorkBar::WaitUntilIdle(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (m_current || !m_cancelled.empty()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        Poll();
        if (m_current || !m_cancelled.empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace zx
