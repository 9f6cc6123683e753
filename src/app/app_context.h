#pragma once

#include "settings/account_settings.h"
#include "store/app_settings.h"
#include "store/paths.h"

namespace lumora {

class Clock;
class MailLibrary;
class UiServices;

// What every window shares for the whole run: where the files are, the one
// account, the mail library, the desktop services and the clock. Made once by
// main() (or by a test) and handed to each window by reference.
struct AppContext {
    AppPaths paths;
    AccountSettings account;
    MailLibrary& mail;
    UiServices& ui;
    Clock& clock;

    AppSettings settings() const { return AppSettings(paths.settingsFile()); }
};

} // namespace lumora
