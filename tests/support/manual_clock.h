#pragma once

#include "ui/clock.h"

#include <QList>

#include <algorithm>

namespace lumora::test {

// A clock that moves only when the test says so. advance() fires every timer
// whose time has come, in time order, as often as it is due.
class ManualClock final : public Clock {
public:
    class ManualTimer final : public Timer {
    public:
        explicit ManualTimer(ManualClock& clock) : clock_(clock) {}
        ~ManualTimer() override { clock_.timers_.removeAll(this); }
        void setInterval(int milliseconds) override
        {
            const int value = std::max(milliseconds, 0);
            if (value == interval_) {
                return; // the same interval does not restart the timer
            }
            interval_ = value;
            due_ = clock_.nowMs_ + value;
        }
        int interval() const override { return interval_; }
        void setHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

        ManualClock& clock_;
        int interval_ = 0;
        qint64 due_ = 0;
        std::function<void()> handler_;
    };

    QDateTime now() const override { return start_.addMSecs(nowMs_); }
    std::unique_ptr<Timer> createTimer() override
    {
        auto timer = std::make_unique<ManualTimer>(*this);
        timers_.append(timer.get());
        return timer;
    }

    // Moves time on by the milliseconds; between timer events, between()
    // runs (to let queued work finish, say).
    void advance(qint64 milliseconds, const std::function<void()>& between = {})
    {
        const qint64 end = nowMs_ + milliseconds;
        for (;;) {
            ManualTimer* next = nullptr;
            for (ManualTimer* t : timers_) {
                if (t->interval_ > 0 && t->due_ <= end && (!next || t->due_ < next->due_)) {
                    next = t;
                }
            }
            if (!next) {
                break;
            }
            nowMs_ = next->due_;
            next->due_ += next->interval_;
            if (next->handler_) {
                next->handler_();
            }
            if (between) {
                between();
            }
        }
        nowMs_ = end;
    }

    qint64 elapsedMs() const { return nowMs_; }

private:
    friend class ManualTimer;
    QDateTime start_ = QDateTime(QDate(2026, 12, 7), QTime(9, 0));
    qint64 nowMs_ = 0;
    QList<ManualTimer*> timers_;
};

} // namespace lumora::test
