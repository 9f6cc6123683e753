#include "ui/progress_run.h"

#include "ui/accessibility.h"

#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>

namespace lumora::ui {
namespace {

class DialogReport final : public ProgressReport {
public:
    DialogReport(QProgressDialog* dialog, QString label, std::atomic_bool& stop)
        : cancel(stop), dialog_(dialog), label_(std::move(label))
    {
    }

    void report(int done, int total) override
    {
        QPointer<QProgressDialog> dialog = dialog_;
        const QString label = label_;
        QMetaObject::invokeMethod(
            dialog_,
            [dialog, label, done, total] {
                if (!dialog) {
                    return;
                }
                dialog->setMaximum(std::max(total, 1));
                dialog->setValue(std::min(done, std::max(total, 1)));
                const QString text =
                    QStringLiteral("%1（%2 / %3 件）").arg(label).arg(done).arg(total);
                dialog->setLabelText(text);
                dialog->setAccessibleDescription(text);
            },
            Qt::QueuedConnection);
    }

    void reportShare(qint64 done, qint64 total, int items) override
    {
        QPointer<QProgressDialog> dialog = dialog_;
        const QString label = label_;
        const int permille =
            total > 0 ? static_cast<int>(std::min<qint64>(1000, done * 1000 / total)) : 0;
        QMetaObject::invokeMethod(
            dialog_,
            [dialog, label, permille, items] {
                if (!dialog) {
                    return;
                }
                dialog->setMaximum(1000);
                dialog->setValue(permille);
                const QString text = QStringLiteral("%1（%2 件）").arg(label).arg(items);
                dialog->setLabelText(text);
                dialog->setAccessibleDescription(text);
            },
            Qt::QueuedConnection);
    }

    bool cancelled() const override { return cancel.load(); }

    std::atomic_bool& cancel;

private:
    QProgressDialog* dialog_;
    QString label_;
};

} // namespace

void runWithProgress(QWidget* parent, const QString& caption, const QString& label,
                     const std::function<void(ProgressReport&)>& work, std::atomic_bool* cancel)
{
    std::atomic_bool ownCancel{false};
    QProgressDialog dialog(label, QStringLiteral("中止"), 0, 0, parent);
    dialog.setObjectName(QStringLiteral("ProgressForm"));
    dialog.setWindowTitle(caption);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setAccessibleName(caption);
    if (QPushButton* button = dialog.findChild<QPushButton*>()) {
        button->setObjectName(QStringLiteral("cmdCancel"));
        button->setAccessibleName(QStringLiteral("中止"));
    }
    DialogReport report(&dialog, label, cancel ? *cancel : ownCancel);
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [&report, &dialog] {
        report.cancel = true;
        dialog.setLabelText(QStringLiteral("中止しています…"));
    });
    QEventLoop loop;
    std::unique_ptr<QThread> thread(QThread::create([&work, &report] { work(report); }));
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    dialog.show();
    thread->start();
    loop.exec();
    thread->wait();
}

} // namespace lumora::ui
