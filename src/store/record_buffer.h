#pragma once

#include "store/records.h"

#include <QMutex>
#include <QMutexLocker>

// The one received-mail record the program holds in memory: the record last
// written by a receive or last read by the viewer. The reply window's paste
// command takes its body from here. The receive writes it from its own
// thread, so every access is locked.
namespace lumora {

class MailRecordBuffer {
public:
    void set(const MailRecord& record)
    {
        QMutexLocker lock(&mutex_);
        record_ = record;
    }
    MailRecord get() const
    {
        QMutexLocker lock(&mutex_);
        return record_;
    }

private:
    mutable QMutex mutex_;
    MailRecord record_;
};

} // namespace lumora
