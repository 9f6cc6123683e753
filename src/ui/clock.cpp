#include "ui/clock.h"

#include <QTimer>

namespace lumora {
namespace {

class QtTimer final : public Timer {
public:
    QtTimer()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (handler_) {
                handler_();
            }
        });
    }

    void setInterval(int milliseconds) override
    {
        interval_ = milliseconds > 0 ? milliseconds : 0;
        if (interval_ == 0) {
            timer_.stop();
        } else if (!timer_.isActive() || timer_.interval() != interval_) {
            timer_.start(interval_);
        }
    }
    int interval() const override { return interval_; }
    void setHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

private:
    QTimer timer_;
    int interval_ = 0;
    std::function<void()> handler_;
};

} // namespace

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

std::unique_ptr<Timer> SystemClock::createTimer()
{
    return std::make_unique<QtTimer>();
}

} // namespace lumora
