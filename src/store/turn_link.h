#pragma once

#include "store/record_owner.h"

#include <memory>

// The turns of a record file across two processes: the program and the
// process it starts to receive mail. The program serves its owner's turns on
// one end of a socket pair; the receiving process takes them through a broker
// on the other end. Every request is a byte, with a byte of argument where
// one is needed; the answers are the file's generation for a turn and a
// byte for a run.
//
// When the receiving process ends, however it ends, the program gives back
// the turn it held for it and counts its runs as left half done.
namespace lumora {

// Serves the owner's turns to the process at the other end of fd, as writer
// who, until that end is closed. Blocks: it runs on a thread of its own.
void serveTurns(int fd, RecordOwner& owner, Writer who);

// The receiving process's broker on its end of the socket. When the program
// is gone the process ends on the spot, as a crash would: nothing it has not
// stored is deleted on the server, and no other writer is left to order.
std::shared_ptr<TurnBroker> turnBrokerOn(int fd);

} // namespace lumora
