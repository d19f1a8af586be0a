#pragma once

// TWorkBar: long work on a worker thread, with a bar that shows its progress
// and a "取消" button. One task runs at a time. The window's thread never
// waits for the worker: a timer reads the task's progress while it runs and
// notices when it has ended, and the task's end is then handled on the
// window's thread. Cancelling asks the task to stop and, when it agrees,
// frees the window at once: the worker winds down on its own and its result
// is dropped. The bar is hidden while nothing runs.

#include <QString>
#include <QWidget>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

class QProgressBar;
class QPushButton;
class QTimer;

namespace zx {

class TWorkBar : public QWidget {
    Q_OBJECT

public:
    struct TTask {
        // Runs on the worker thread; what it throws is the task's failure.
        std::function<void()> Work;
        // On the window's thread when Work has ended (error null when it
        // returned), unless the task was cancelled before.
        std::function<void(std::exception_ptr error)> Done;
        // Asks Work to stop, on the window's thread; false when Work goes on
        // to its end all the same (it has committed its result). None: the
        // task cannot be stopped, and the button is disabled.
        std::function<bool()> Cancel;
        // On the window's thread right after a cancel that Cancel agreed to.
        std::function<void()> Cancelled;
        // The bar's text and how full it is in 1/1000 (-1: a busy bar without
        // a measure), read on the window's thread while Work runs.
        std::function<QString()> Text;
        std::function<int()> Permille;
    };

    explicit TWorkBar(QWidget* parent = nullptr);
    // Stops every worker still running (cancelling them) and waits for them.
    ~TWorkBar() override;

    // Starts the task on a worker thread; false (and nothing happens) while
    // another task runs.
    bool Start(TTask task);
    bool Running() const { return m_current != nullptr; }
    // The "取消" button.
    void CancelClick();
    // Lets the window's events run until no task runs (the ones cancelled
    // included) or timeoutMs have passed; true when none runs. For tests and
    // for the end of the program: the window itself never waits.
    bool WaitUntilIdle(int timeoutMs);

    QProgressBar* ProgressBar = nullptr;
    QPushButton* CancelButton = nullptr;
    // A widget the bar takes the place of while it shows (the status text
    // beside it), so that the window need not grow for it.
    QWidget* Replaces = nullptr;

private:
    struct TWorker;
    void Poll();
    void ShowProgress();
    void SetShown(bool shown);
    // Stops the timer once no worker is left.
    void IdleCheck();

    TTask m_task;
    std::unique_ptr<TWorker> m_current;
    // Cancelled workers that have not ended yet.
    std::vector<std::unique_ptr<TWorker>> m_cancelled;
    QTimer* m_timer = nullptr;
    bool m_refused = false;
};

} // namespace zx
