#pragma once

#include <QObject>

class QSocketNotifier;

namespace lumora {

// Turns SIGTERM and SIGINT (the end of a desktop session, Ctrl+C in a
// terminal) into a Qt signal delivered on the event loop, so that the program
// ends through its normal shut-down and writes its settings.
class UnixSignals : public QObject {
    Q_OBJECT
public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

Q_SIGNALS:
    void terminationRequested();

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace lumora
