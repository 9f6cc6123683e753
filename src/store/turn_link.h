#pragma once

#include "store/record_owner.h"

#include <memory>

// The turns of a record file across two processes: the program and the
// process it starts to receive mail. The program serves its owner's turns on
// one end of a socket pair; the receiving process takes them through a broker
// on the other end.
//
// The turn is lent: once the process has it, it keeps it from one mail to
// the next without asking again, until a writer of the program has to wait
// for it. The program then asks for it back, and the process gives it back
// at once when it is between two writes, or else as soon as the write in
// hand is done. So a deletion still goes between two mails, and the mails
// in between cost no round trip each.
//
// Requests and answers are a byte each, with a byte of argument or the
// file's generation (8 bytes) where one is needed. When the receiving
// process ends, however it ends, the program takes back the turn it lent and
// counts the process's runs as left half done.
namespace lumora {

// Serves the owner's turns to the process at the other end of fd, as writer
// who, until that end is closed. Blocks: it runs on a thread of its own.
void serveTurns(int fd, RecordOwner& owner, Writer who);

// The receiving process's broker on its end of the socket (which stays the
// caller's to close). When the program is gone the process ends on the spot,
// as a crash would: nothing it has not stored is deleted on the server, and
// no other writer is left to order. Destroyed, it ends the link as a process
// that ends does.
std::shared_ptr<TurnBroker> turnBrokerOn(int fd);

} // namespace lumora
