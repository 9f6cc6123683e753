#pragma once

#include "settings/account_settings.h"
#include "store/app_settings.h"
#include "store/paths.h"
#include "store/record_buffer.h"
#include "ui/editor_state.h"

namespace lumora {

class Clock;
class MailLibrary;
class UiServices;

// What every window shares for the whole run: where the files are, the one
// account, the mail library, the desktop services, the clock, and the few
// values the windows share. Made once by main() (or by a test) and handed to
// each window by reference.
struct AppContext {
    AppContext(AppPaths paths_, AccountSettings account_, MailLibrary& mail_, UiServices& ui_,
               Clock& clock_)
        : paths(std::move(paths_)), account(std::move(account_)), mail(mail_), ui(ui_),
          clock(clock_)
    {
    }
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    AppPaths paths;
    AccountSettings account;
    MailLibrary& mail;
    UiServices& ui;
    Clock& clock;

    // The editor state of the viewer and the compose window.
    EditorState editor;
    // The received-mail record last written or read.
    MailRecordBuffer recordBuffer;
    // The program the receive runs in, as a process of its own; empty: on a
    // thread of this one, with the mail library above (tests).
    QString receiveProgram;
    // What the compose window's side list shows: 0 the address book, 10 held
    // mails; the viewer sets 1, neither.
    int listMode = 0;
    // Click counters of the compose window's "リスト" and "下書き" buttons;
    // their parity decides what the next click does, for the whole run.
    int attachmentListClicks = 0;
    int draftClicks = 0;
    AppSettings settings() const { return AppSettings(paths.settingsFile()); }
};

} // namespace lumora
