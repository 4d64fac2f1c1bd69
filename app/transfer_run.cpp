#include "app/transfer_run.h"

#include <QMetaObject>
#include <stdexcept>

#include "base/main_thread.h"

namespace tarvik {

namespace {

// The engine's write, run on the main thread; its error goes back as text.
class WriteCall : public MainThreadCall {
  public:
    WriteCall(const TTransferRun::Writer& write, std::string_view bytes)
        : write_(write), bytes_(bytes) {}

    std::intptr_t Run() noexcept override {
        try {
            write_(bytes_);
        } catch (const std::exception& error) {
            failure_ = error.what();
            return 1;
        } catch (...) {
            failure_ = "The write failed";
            return 1;
        }
        return 0;
    }
    const std::string& Failure() const { return failure_; }

  private:
    const TTransferRun::Writer& write_;
    std::string_view bytes_;
    std::string failure_;
};

}  // namespace

TTransferRun::TTransferRun(transfer::Job job, Writer write, ProgressShown progress, Ended ended,
                           QObject* parent)
    : QObject(parent),
      job_(std::move(job)),
      write_(std::move(write)),
      progress_(std::move(progress)),
      ended_(std::move(ended)),
      line_([this](std::string_view bytes) { WriteOnMainThread(bytes); }),
      engine_(line_) {
    PrepareMainThreadWake();
    thread_ = std::thread([this] {
        try {
            // Reports come at most every 50 ms; each is shown by the main thread.
            outcome_ = engine_.Run(job_, [this](const transfer::Progress& figures) {
                QMetaObject::invokeMethod(
                    this, [this, figures] { progress_(figures); }, Qt::QueuedConnection);
            });
        } catch (...) {
            error_ = std::current_exception();
        }
        done_.store(true);
        WakeMainThreadWaiter();
        QMetaObject::invokeMethod(this, [this] { Finish(); }, Qt::QueuedConnection);
    });
}

TTransferRun::~TTransferRun() {
    if (thread_.joinable()) {
        engine_.Cancel();
        ServeMainThreadCallsUntil([this] { return done_.load(); });
        thread_.join();
    }
}

void TTransferRun::WriteOnMainThread(std::string_view bytes) {
    WriteCall call(write_, bytes);
    if (HandToMainThread(call) != 0)
        throw std::runtime_error(call.Failure());
}

void TTransferRun::Finish() {
    if (finished_)
        return;
    finished_ = true;
    thread_.join();
    ended_(outcome_ ? &*outcome_ : nullptr, error_);
}

}  // namespace tarvik
