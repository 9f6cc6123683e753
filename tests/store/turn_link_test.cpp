#include "store/record_owner.h"
#include "store/records.h"
#include "store/turn_link.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

using namespace lumora;
using lumora::test::TempFolder;

namespace {

// A turn whose process died holding it.
std::optional<RecordOwner::Turn>* deadProcessTurn = nullptr;

// The program's owner, serving its turns on one end of a socket pair, and an
// owner as the receiving process has it, taking them through the other end.
class TurnLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int link[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, link), 0);
        childEnd_ = link[1];
        server_ = std::thread([this, fd = link[0]] {
            serveTurns(fd, *program_, Writer::Receive);
            ::close(fd);
        });
        child_->setBroker(turnBrokerOn(childEnd_));
    }
    void TearDown() override { endChild(); }
    // The receiving process ends, whatever it held.
    void endChild()
    {
        if (childEnd_ >= 0) {
            child_->setBroker(nullptr);
            ::close(childEnd_);
            childEnd_ = -1;
            server_.join();
        }
    }

    TempFolder folder_;
    std::shared_ptr<RecordOwner> program_ =
        RecordOwner::of(folder_.file(QStringLiteral("program.data")), MailRecord::kLayout);
    std::shared_ptr<RecordOwner> child_ =
        RecordOwner::of(folder_.file(QStringLiteral("child.data")), MailRecord::kLayout);
    int childEnd_ = -1;
    std::thread server_;
};

TEST_F(TurnLinkTest, TheProcessWaitsForTheProgramsWritersAndSeesTheFileTheyReplaced)
{
    std::optional<RecordOwner::Turn> deletion(program_->take(Writer::Deletion));
    deletion->replacedFile();
    auto taken = std::async(std::launch::async, [this] {
        const RecordOwner::Turn turn = child_->take(Writer::Receive);
        return turn.generation();
    });
    EXPECT_EQ(taken.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
        << "the process wrote while the program's deletion held the file";
    deletion.reset();
    EXPECT_EQ(taken.get(), 1u);

    // A file the process replaces is a new file for the program's writers.
    {
        const RecordOwner::Turn turn = child_->take(Writer::Receive);
        EXPECT_EQ(program_->holder(), Writer::Receive);
        turn.replacedFile();
    }
    const RecordOwner::Turn after = program_->take(Writer::Deletion);
    EXPECT_EQ(after.generation(), 2u);
}

TEST_F(TurnLinkTest, TheTurnStaysLentFromMailToMailUntilAWriterOfTheProgramWaits)
{
    for (int mail = 0; mail < 3; ++mail) {
        const RecordOwner::Turn turn = child_->take(Writer::Receive);
    }
    // Between two mails the process still has it: nothing was asked back.
    EXPECT_EQ(program_->holder(), Writer::Receive);

    // Asked back while the process writes, it comes back when that write
    // is done, and the process asks for it again for its next write.
    std::optional<RecordOwner::Turn> writing(child_->take(Writer::Receive));
    auto deletion = std::async(std::launch::async, [this] {
        const RecordOwner::Turn turn = program_->take(Writer::Deletion);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    });
    EXPECT_EQ(deletion.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    writing.reset();
    ASSERT_EQ(deletion.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    {
        const RecordOwner::Turn turn = child_->take(Writer::Receive);
        EXPECT_EQ(program_->holder(), Writer::Receive);
    }

    // Asked back while the process does not write, it comes back at once.
    const auto idle = std::async(std::launch::async, [this] {
        const RecordOwner::Turn turn = program_->take(Writer::Hold);
    });
    EXPECT_EQ(idle.wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST_F(TurnLinkTest, RunsAreCountedWithTheProgramsOwn)
{
    EXPECT_TRUE(program_->enterRun());
    EXPECT_FALSE(child_->enterRun()) << "the program's import is a run in hand";
    EXPECT_FALSE(program_->leaveRun(true));
    EXPECT_TRUE(child_->leaveRun(true)) << "the last run to leave ends the change";
}

TEST_F(TurnLinkTest, AProcessThatEndsHoldingTheTurnGivesItBackAndItsRunCountsAsUndone)
{
    EXPECT_TRUE(child_->enterRun());
    EXPECT_FALSE(program_->enterRun());
    // Taken and never given back: the process dies with it (the turn is
    // left undestroyed, as the process's memory would be).
    deadProcessTurn = new std::optional<RecordOwner::Turn>(child_->take(Writer::Receive));
    EXPECT_FALSE(program_->tryTake(Writer::Deletion).has_value());

    endChild();
    EXPECT_TRUE(program_->tryTake(Writer::Deletion).has_value());
    EXPECT_FALSE(program_->leaveRun(true))
        << "a run the process left half done keeps the originals' change open";
    EXPECT_TRUE(program_->enterRun()) << "the next run is the first again, and repairs";
    EXPECT_TRUE(program_->leaveRun(true));
}

} // namespace
