#pragma once

#include "ui/ui_services.h"

#include <QList>
#include <QPrinter>
#include <QStringList>

#include <deque>
#include <functional>

namespace lumora::test {

// Answers for the user: every message is recorded, questions and file
// dialogs take their answers from queues the test fills beforehand. A
// question or dialog nobody scripted is a test failure, recorded as such.
class ScriptedUi final : public UiServices {
public:
    struct Message {
        QString text;
        QString title;
        MessageIcon icon;
        // For a question: the button Enter would press.
        DefaultAnswer byDefault = DefaultAnswer::Yes;
    };

    void inform(QWidget*, const QString& text, const QString& title, MessageIcon icon) override
    {
        messages.append({text, title.isEmpty() ? kAppTitle : title, icon});
        if (onInform) {
            onInform(text);
        }
    }
    bool ask(QWidget*, const QString& text, const QString& title, MessageIcon icon,
             DefaultAnswer byDefault) override
    {
        messages.append({text, title, icon, byDefault});
        if (onQuestion) {
            onQuestion(text);
        }
        if (answers.empty()) {
            unscripted.append(text);
            return false;
        }
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    bool confirm(QWidget*, const QString& text, const QString& title, MessageIcon icon) override
    {
        messages.append({text, title.isEmpty() ? kAppTitle : title, icon});
        if (answers.empty()) {
            unscripted.append(text);
            return false;
        }
        const bool ok = answers.front();
        answers.pop_front();
        return ok;
    }
    // Prints into a PDF file with the copies the test asks for; no file
    // means the user cancels.
    bool choosePrinter(QWidget*, QPrinter& printer, bool selection) override
    {
        printSelectionOffered = selection;
        if (printFile.isEmpty()) {
            return false;
        }
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(printFile);
        printer.setCopyCount(printCopies);
        return true;
    }
    std::optional<QString> openFileName(QWidget*, const QString& caption, const QString&,
                                        const QString&) override
    {
        return nextFile(caption);
    }
    std::optional<QString> saveFileName(QWidget*, const QString& caption, const QString&,
                                        const QString&) override
    {
        return nextFile(caption);
    }
    std::optional<QString> folderName(QWidget*, const QString& caption, const QString&) override
    {
        return nextFile(caption);
    }
    // Answered from choices; unscripted, cancelled.
    std::optional<int> choose(QWidget*, const QString& caption, const QString&,
                              const QStringList& options) override
    {
        choicesOffered.append(options);
        if (choices.empty()) {
            unscripted.append(caption);
            return std::nullopt;
        }
        const std::optional<int> choice = choices.front();
        choices.pop_front();
        return choice;
    }
    QString clipboardText() override { return clipboard; }
    void setClipboardText(const QString& text) override { clipboard = text; }
    bool openUrl(const QUrl& url) override
    {
        openedUrls.append(url);
        return urlOpens;
    }
    // Answered from certificateAnswers; unscripted, the safe answer (no).
    bool trustCertificate(QWidget*, const ServerCertificate& certificate) override
    {
        certificatesShown.append(certificate);
        if (certificateAnswers.empty()) {
            unscripted.append(certificateText(certificate));
            return false;
        }
        const bool yes = certificateAnswers.front();
        certificateAnswers.pop_front();
        return yes;
    }

    // Kept; a test activates one by calling its action.
    bool notify(const QString& summary, const QString& body,
                std::function<void()> activated) override
    {
        notices.append({summary, body, std::move(activated)});
        return true;
    }
    struct Notice {
        QString summary;
        QString body;
        std::function<void()> activate;
    };

    QList<Notice> notices;
    QList<Message> messages;
    std::deque<bool> answers;
    // Called while a question is open, before it is answered: what the
    // user's program does meanwhile (a timer tick, another window).
    std::function<void(const QString& text)> onQuestion;
    // The same while a message box is open.
    std::function<void(const QString& text)> onInform;
    std::deque<bool> certificateAnswers;
    QList<ServerCertificate> certificatesShown;
    std::deque<std::optional<QString>> files; // file and folder dialogs
    std::deque<std::optional<int>> choices;
    QList<QStringList> choicesOffered;
    QStringList unscripted;
    QString clipboard;
    QList<QUrl> openedUrls;
    bool urlOpens = true;
    QString printFile;
    int printCopies = 1;
    bool printSelectionOffered = false;

private:
    std::optional<QString> nextFile(const QString& caption)
    {
        if (files.empty()) {
            unscripted.append(caption);
            return std::nullopt;
        }
        auto file = files.front();
        files.pop_front();
        return file;
    }
};

} // namespace lumora::test
