#include "store/turn_link.h"

#include "store/file_io.h"

#include <QtEndian>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/socket.h>

namespace lumora {
namespace {

// From the receiving process.
constexpr char kTake = 'T';     // lend me the turn
constexpr char kReplaced = 'R'; // I replaced the file in my turn
constexpr char kGiveBack = 'B'; // the turn is yours again
constexpr char kEnterRun = 'E';
constexpr char kLeaveRun = 'L'; // + '1' when complete
// From the program.
constexpr char kLent = 'G';      // + the generation
constexpr char kWantBack = 'V';  // a writer of mine waits
constexpr char kRunAnswer = 'A'; // + '1' or '0'

bool send(int fd, std::mutex& mutex, std::initializer_list<char> bytes)
{
    const std::lock_guard lock(mutex);
    return fileio::sendFully(fd, bytes.begin(), static_cast<qsizetype>(bytes.size()));
}

// The program's side of one link.
struct Lender {
    int fd;
    std::mutex sending;
    bool ended = false;           // under sending
    std::atomic_bool lent{false}; // the process holds the turn
    void askBack()
    {
        const std::lock_guard lock(sending);
        if (!ended && lent) {
            const char byte = kWantBack;
            (void)fileio::sendFully(fd, &byte, 1);
        }
    }
};

class LeasedBroker final : public TurnBroker {
public:
    explicit LeasedBroker(int fd) : fd_(fd)
    {
        reader_ = std::thread([this] { read(); });
    }
    ~LeasedBroker() override
    {
        closing_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        reader_.join();
    }

    quint64 take(Writer) override
    {
        {
            std::unique_lock lock(mutex_);
            free_.wait(lock, [this] { return !inTurn_; });
            inTurn_ = true;
            honourWantBack();
            if (leased_) {
                return generation_;
            }
        }
        const QByteArray answer = ask({kTake}, kLent);
        const std::lock_guard lock(mutex_);
        leased_ = true;
        generation_ = qFromLittleEndian<quint64>(answer.constData());
        return generation_;
    }
    void release(bool replaced) override
    {
        if (replaced) {
            sendOrEnd({kReplaced});
        }
        const std::lock_guard lock(mutex_);
        inTurn_ = false;
        honourWantBack();
        free_.notify_one();
    }
    bool enterRun() override { return ask({kEnterRun}, kRunAnswer) == "1"; }
    bool leaveRun(bool complete) override
    {
        return ask({kLeaveRun, complete ? '1' : '0'}, kRunAnswer) == "1";
    }

private:
    // Under mutex_: the program asked for the turn back and it is not in
    // use, or this turn is about to begin.
    void honourWantBack()
    {
        if (!wantBack_) {
            return;
        }
        wantBack_ = false;
        if (leased_) {
            leased_ = false;
            sendOrEnd({kGiveBack});
        }
    }

    QByteArray ask(std::initializer_list<char> request, char kind)
    {
        const std::lock_guard one(asking_);
        sendOrEnd(request);
        std::unique_lock lock(answerMutex_);
        answered_.wait(lock, [this] { return answer_.has_value(); });
        QByteArray answer = std::move(*answer_);
        answer_.reset();
        if (answerKind_ != kind) {
            gone(); // not the answer to this question: the link is broken
        }
        return answer;
    }

    void sendOrEnd(std::initializer_list<char> bytes)
    {
        if (!send(fd_, sending_, bytes)) {
            gone();
        }
    }

    // Answers are handed to the asking thread; a request for the turn back
    // is honoured at once when no turn is in hand.
    void read()
    {
        for (;;) {
            char kind = 0;
            if (!fileio::readFully(fd_, &kind, 1)) {
                break;
            }
            if (kind == kWantBack) {
                const std::lock_guard lock(mutex_);
                wantBack_ = true;
                if (!inTurn_) {
                    honourWantBack();
                }
                continue;
            }
            QByteArray answer(kind == kLent ? 8 : 1, '\0');
            if ((kind != kLent && kind != kRunAnswer) ||
                !fileio::readFully(fd_, answer.data(), answer.size())) {
                break;
            }
            const std::lock_guard lock(answerMutex_);
            answerKind_ = kind;
            answer_ = std::move(answer);
            answered_.notify_all();
        }
        if (!closing_) {
            gone();
        }
    }

    [[noreturn]] static void gone()
    {
        // The program is gone: nobody orders the writers any more.
        std::fprintf(stderr, "lumora: the program that started this receive is gone\n");
        std::_Exit(3);
    }

    int fd_;
    std::atomic_bool closing_{false};
    std::mutex sending_;
    std::mutex asking_;

    std::mutex mutex_;
    std::condition_variable free_;
    bool inTurn_ = false;
    bool leased_ = false;
    bool wantBack_ = false;
    quint64 generation_ = 0;

    std::mutex answerMutex_;
    std::condition_variable answered_;
    std::optional<QByteArray> answer_;
    char answerKind_ = 0;

    std::thread reader_;
};

} // namespace

void serveTurns(int fd, RecordOwner& owner, Writer who)
{
    const auto lender = std::make_shared<Lender>();
    lender->fd = fd;
    owner.setReclaimer([lender] { lender->askBack(); });
    std::optional<RecordOwner::Turn> lease;
    int runs = 0;
    char request[2];
    while (fileio::readFully(fd, request, 1)) {
        if (request[0] == kTake) {
            lease.emplace(owner.take(who));
            lender->lent = true;
            char answer[9] = {kLent};
            qToLittleEndian<quint64>(lease->generation(), answer + 1);
            {
                const std::lock_guard lock(lender->sending);
                if (!fileio::sendFully(fd, answer, sizeof answer)) {
                    break;
                }
            }
            if (owner.waiting() > 0) {
                // Someone began to wait before the turn was out on loan.
                lender->askBack();
            }
        } else if (request[0] == kReplaced) {
            if (lease) {
                lease->replacedFile();
            }
        } else if (request[0] == kGiveBack) {
            lender->lent = false;
            lease.reset();
        } else if (request[0] == kEnterRun) {
            ++runs;
            if (!send(fd, lender->sending, {kRunAnswer, owner.enterRun() ? '1' : '0'})) {
                break;
            }
        } else if (request[0] == kLeaveRun && fileio::readFully(fd, request + 1, 1)) {
            --runs;
            if (!send(fd, lender->sending,
                      {kRunAnswer, owner.leaveRun(request[1] == '1') ? '1' : '0'})) {
                break;
            }
        } else {
            break; // not a request of ours: the link is broken
        }
    }
    // Ended, or crashed: the turn it held is given back, and a run it did
    // not leave may have left something half done.
    owner.setReclaimer({});
    {
        const std::lock_guard lock(lender->sending);
        lender->ended = true;
    }
    lender->lent = false;
    lease.reset();
    for (; runs > 0; --runs) {
        (void)owner.leaveRun(false);
    }
}

std::shared_ptr<TurnBroker> turnBrokerOn(int fd)
{
    return std::make_shared<LeasedBroker>(fd);
}

} // namespace lumora
