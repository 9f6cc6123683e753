#pragma once

#include <QString>

#include <atomic>
#include <functional>

class QWidget;

// Long file work (an import, an export) off the window's thread, with a
// progress box whose "中止" button asks the work to stop. The call returns
// when the work is done; the windows go on repainting and reacting meanwhile.
namespace lumora::ui {

class ProgressReport {
public:
    virtual ~ProgressReport() = default;
    // May be called from the work's thread.
    virtual void report(int done, int total) = 0;
    // The share done of a whole whose count is not known beforehand (the
    // bytes of a file), and the items done so far.
    virtual void reportShare(qint64 done, qint64 total, int items) = 0;
    virtual bool cancelled() const = 0;
};

// cancel, when given, is set by the box's "中止" and may be set by the
// caller too (the program is ending).
void runWithProgress(QWidget* parent, const QString& caption, const QString& label,
                     const std::function<void(ProgressReport&)>& work,
                     std::atomic_bool* cancel = nullptr);

} // namespace lumora::ui
