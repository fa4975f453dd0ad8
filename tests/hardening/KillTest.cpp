// A pass killed outright (SIGKILL: no handler, no unwinding) at random
// moments: afterwards the drawing is either all old or all new, a backup is
// a complete old copy if it is there at all, and the next pass gets past
// whatever the killed one left behind.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/replace/Convert.h"
#include "engine/pass/LinePass.h"
#include "tests/hardening/HardeningSupport.h"

namespace dxfkonv::hardening {
namespace {

using Clock = std::chrono::steady_clock;

pid_t startPass(const ScratchDir& dir, const ConversionSwitches& s)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            Convert(dir.path(), "plan.dxf", s, {}, SystemFileSystem());
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    return pid;
}

int waitFor(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return status;
}

TEST(KillTest, DrawingIsWholeWheneverThePassIsKilled)
{
    ScratchDir dir;
    const ConversionSwitches s;  // recode "lw", 256 colours "sa", backup
    const std::string old = makeDrawing(6 * 1024 * 1024, 11);
    const std::string converted = ConvertBuffer(old, s);
    ASSERT_NE(old, converted);

    auto clearDirectory = [&] {
        for (const auto& n : dir.names())
            ::unlink((dir / n).c_str());
    };

    // How long an undisturbed pass takes.
    writeFile(dir / "plan.dxf", old);
    const auto t0 = Clock::now();
    ASSERT_EQ(waitFor(startPass(dir, s)), 0);
    const auto passTime = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
    ASSERT_TRUE(readFile(dir / "plan.dxf") == converted);

    const unsigned seed = static_cast<unsigned>(Clock::now().time_since_epoch().count());
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> delay(0, passTime.count() * 11 / 10);
    int sawOld = 0, sawNew = 0, leftovers = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(8);
    for (int round = 0; round < 40 && Clock::now() < deadline; ++round) {
        SCOPED_TRACE("round " + std::to_string(round) + ", seed " + std::to_string(seed));
        // Every fourth round starts amid what earlier kills left.
        if (round % 4 != 3)
            clearDirectory();
        writeFile(dir / "plan.dxf", old);
        ::unlink((dir / "plan.old").c_str());

        const pid_t pid = startPass(dir, s);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        ::kill(pid, SIGKILL);
        const int status = waitFor(pid);
        ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0));

        const std::string now = readFile(dir / "plan.dxf");
        const bool isOld = now == old;
        const bool isNew = now == converted;
        ASSERT_TRUE(isOld || isNew) << "the drawing is neither old nor new (" << now.size() << " bytes)";
        sawOld += isOld;
        sawNew += isNew;
        if (exists(dir / "plan.old"))
            ASSERT_TRUE(readFile(dir / "plan.old") == old) << "incomplete backup";
        else
            EXPECT_TRUE(isOld) << "converted without a backup";
        for (const auto& n : dir.names())
            ASSERT_TRUE(n == "plan.dxf" || n == "plan.old" || n.rfind(kWorkFileName, 0) == 0) << n;
        leftovers += static_cast<int>(workFileNames(dir.names()).size());

        // The next pass completes whatever was left.
        if (isOld) {
            ASSERT_EQ(runHere([&] { return Convert(dir.path(), "plan.dxf", s, {}, SystemFileSystem()); }).kind,
                      Outcome::kConverted);
            ASSERT_TRUE(readFile(dir / "plan.dxf") == converted);
            ASSERT_TRUE(readFile(dir / "plan.old") == old);
        }
    }
    ::testing::Test::RecordProperty("old", sawOld);
    ::testing::Test::RecordProperty("new", sawNew);
    ::testing::Test::RecordProperty("leftover_work_files", leftovers);
    std::printf("pass %.0f ms; killed rounds: %d old, %d new; %d work files left by kills\n",
                static_cast<double>(passTime.count()) / 1000.0, sawOld, sawNew, leftovers);
    EXPECT_GT(sawOld, 0);
    // The work file has a name only from just before the replace to the
    // replace itself: a kill may hit that moment, but hardly ever.
    EXPECT_LE(leftovers, 2);
}

}  // namespace
}  // namespace dxfkonv::hardening
