#include "store/turn_link.h"

#include "store/file_io.h"

#include <QtEndian>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace lumora {
namespace {

constexpr char kTake = 'T';
constexpr char kRelease = 'R';
constexpr char kEnterRun = 'E';
constexpr char kLeaveRun = 'L';

class SocketBroker final : public TurnBroker {
public:
    explicit SocketBroker(int fd) : fd_(fd) {}

    quint64 take(Writer) override
    {
        std::lock_guard lock(mutex_);
        char answer[8];
        ask({kTake}, answer, sizeof answer);
        return qFromLittleEndian<quint64>(answer);
    }
    void release(bool replaced) override
    {
        std::lock_guard lock(mutex_);
        ask({kRelease, replaced ? '1' : '0'}, nullptr, 0);
    }
    bool enterRun() override
    {
        std::lock_guard lock(mutex_);
        char answer = 0;
        ask({kEnterRun}, &answer, 1);
        return answer == '1';
    }
    bool leaveRun(bool complete) override
    {
        std::lock_guard lock(mutex_);
        char answer = 0;
        ask({kLeaveRun, complete ? '1' : '0'}, &answer, 1);
        return answer == '1';
    }

private:
    void ask(std::initializer_list<char> request, char* answer, size_t size)
    {
        if (!fileio::sendFully(fd_, request.begin(), static_cast<qsizetype>(request.size())) ||
            (size > 0 && !fileio::readFully(fd_, answer, static_cast<qsizetype>(size)))) {
            // The program is gone: nobody orders the writers any more.
            std::fprintf(stderr, "lumora: the program that started this receive is gone\n");
            std::_Exit(3);
        }
    }

    int fd_;
    std::mutex mutex_;
};

} // namespace

void serveTurns(int fd, RecordOwner& owner, Writer who)
{
    std::optional<RecordOwner::Turn> turn;
    int runs = 0;
    char request[2];
    while (fileio::readFully(fd, request, 1)) {
        if (request[0] == kTake) {
            turn.emplace(owner.take(who));
            char answer[8];
            qToLittleEndian<quint64>(turn->generation(), answer);
            if (!fileio::sendFully(fd, answer, sizeof answer)) {
                break;
            }
        } else if (request[0] == kRelease && fileio::readFully(fd, request + 1, 1)) {
            if (turn && request[1] == '1') {
                turn->replacedFile();
            }
            turn.reset();
        } else if (request[0] == kEnterRun) {
            ++runs;
            const char answer = owner.enterRun() ? '1' : '0';
            if (!fileio::sendFully(fd, &answer, 1)) {
                break;
            }
        } else if (request[0] == kLeaveRun && fileio::readFully(fd, request + 1, 1)) {
            --runs;
            const char answer = owner.leaveRun(request[1] == '1') ? '1' : '0';
            if (!fileio::sendFully(fd, &answer, 1)) {
                break;
            }
        } else {
            break; // not a request of ours: the link is broken
        }
    }
    // Ended, or crashed: whatever it held is given back, and a run it did
    // not leave may have left something half done.
    turn.reset();
    for (; runs > 0; --runs) {
        (void)owner.leaveRun(false);
    }
}

std::shared_ptr<TurnBroker> turnBrokerOn(int fd)
{
    return std::make_shared<SocketBroker>(fd);
}

} // namespace lumora
