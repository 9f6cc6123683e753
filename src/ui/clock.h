#pragma once

#include <QDateTime>

#include <functional>
#include <memory>

// Time for the program's timers and time stamps. Windows take a Clock in
// their constructors, so tests can run minutes of timer ticks in an instant.
namespace lumora {

class Timer {
public:
    virtual ~Timer() = default;
    // The interval in milliseconds; 0 stops the timer, as the timers of the
    // main window expect.
    virtual void setInterval(int milliseconds) = 0;
    virtual int interval() const = 0;
    virtual void setHandler(std::function<void()> handler) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    virtual std::unique_ptr<Timer> createTimer() = 0;
};

// Wall-clock time and QTimer.
class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    std::unique_ptr<Timer> createTimer() override;
};

} // namespace lumora
