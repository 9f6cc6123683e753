#pragma once

#include "mail/receive_cycle.h"

#include <QByteArray>
#include <QIODevice>

#include <optional>

// The receive in a process of its own. The program starts itself with
// "--receive-child FOLDER"; the process runs one cycle into FOLDER and ends,
// so that the memory and the libraries a receive needs (MIME decoding,
// conversion tables, the search index) are given back when it is done, and a
// mail that brings the decoder down takes only that process with it.
//
// The program writes the cycle's settings to the process's standard input
// and keeps it open: any further byte, or its end, asks the cycle to stop
// after the mail in hand. The process writes what the cycle tells its
// listener to its standard output, each step a frame of its own (a 32-bit
// little-endian length, then the step), ending with the outcome. The
// received-mail file's turns come from the program through descriptor 3
// (see turn_link.h).
namespace lumora {

inline constexpr char kReceiveChildArgument[] = "--receive-child";
inline constexpr int kTurnLinkDescriptor = 3;

// The settings as the program hands them over (the credentials of this run
// among them: they never appear on a command line).
QByteArray receiveSettingsFrame(const ReceiveSettings& settings);

struct ReceiveEnd {
    ReceiveOutcome outcome;
    // The record of the last mail taken, for the program's record buffer;
    // empty when no mail was.
    QByteArray lastRecord;
};

// Passes each whole step the process has written so far to listener, and
// returns the outcome once it has been read. What is not whole yet stays.
// A frame that cannot be read is reported through failed.
std::optional<ReceiveEnd> readReceiveSteps(QIODevice& from, ReceiveListener& listener,
                                           bool* broken);

// The receiving process: FOLDER from the arguments, the settings from the
// standard input. caFile: trusted instead of the system's CAs (test servers).
int receiveChildMain(int argc, char** argv, const QString& caFile = {});

} // namespace lumora
