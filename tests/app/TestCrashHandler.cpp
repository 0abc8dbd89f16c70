#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/AltSignalStack.h"
#include "app/Clock.h"
#include "app/CrashHandler.h"
#include "support/TempProgramDir.h"

namespace {

// 2019-03-12 09:30:15 UTC; the child runs in UTC so this is its local time.
constexpr std::time_t kCrashTime = 1552383015;
const std::string kRecord = "Error/[Voice][20190312093015-4.0.3.2].dmp";

class FixedClock : public Clock {
protected:
    std::time_t now() const override { return kCrashTime; }
};

struct Death {
    bool signaled = false;
    int signal = 0;
    bool core = false;
    int exitCode = -1;
};

// Runs `body` in a child process with the crash handler installed (after
// `before`) and reports how the child ended.
Death RunChild(const std::function<void()>& body, const std::function<void()>& before = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("TZ", "UTC0", 1);
        ::tzset();
        Clock::Install(std::make_unique<FixedClock>());
        if (before) {
            before();
        }
        InstallCrashHandler();
        body();
        ::_exit(0);
    }
    Death death;
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        ADD_FAILURE() << "fork or wait failed";
        return death;
    }
    death.signaled = WIFSIGNALED(status);
    death.signal = death.signaled ? WTERMSIG(status) : 0;
    death.core = death.signaled && WCOREDUMP(status);
    death.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return death;
}

void FaultAt0x10() {
    volatile uintptr_t where = 0x10;  // volatile: the compiler cannot see the fault coming
    *reinterpret_cast<volatile int*>(where) = 1;
}

// Recursion that the compiler cannot turn into a loop: each frame keeps a
// buffer alive across the call.
__attribute__((noinline)) int Overflow(int depth) {
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    if (depth < 0) {
        return 0;
    }
    return Overflow(depth + 1) + frame[0];
}

// The same overflow on a thread of its own, which makes its own signal stack
// as every thread of the program does.
void OverflowOnAThread() {
    std::thread thread([] {
        AltSignalStack stack;
        if (!stack.Installed()) {
            ::_exit(4);
        }
        ::_exit(Overflow(0));
    });
    thread.join();
}

struct Crash {
    const char* name;
    int signal;
    const char* signalName;
    std::function<void()> body;
    const char* address;  // expected fault address line, or nullptr
};

class CrashRecord : public ::testing::TestWithParam<Crash> {
protected:
    TempProgramDir m_dir;
};

TEST_P(CrashRecord, IsWrittenUnderTheProgramsNameTimeAndVersion) {
    const Death death = RunChild(GetParam().body);
    EXPECT_TRUE(death.signaled);
    EXPECT_EQ(death.signal, GetParam().signal);
    EXPECT_FALSE(death.core);

    ASSERT_TRUE(m_dir.Exists(kRecord));
    const std::string record = m_dir.Read(kRecord);
    EXPECT_NE(record.find("program: " + m_dir.Executable() + "\n"), std::string::npos) << record;
    EXPECT_NE(record.find("version: 4.0.3.2\n"), std::string::npos) << record;
    EXPECT_NE(record.find("signal: " + std::to_string(GetParam().signal) + " (" +
                          GetParam().signalName + ")\n"),
              std::string::npos)
        << record;
    if (GetParam().address != nullptr) {
        EXPECT_NE(record.find(GetParam().address), std::string::npos) << record;
    }
    // The frames come from the crashed program itself.
    const size_t frames = record.find("backtrace:\n");
    ASSERT_NE(frames, std::string::npos) << record;
    EXPECT_NE(record.find("TestCrashHandler", frames), std::string::npos) << record;
}

INSTANTIATE_TEST_SUITE_P(
    Signals, CrashRecord,
    ::testing::Values(
        Crash{"SIGSEGV", SIGSEGV, "SIGSEGV", FaultAt0x10, "fault address: 0x10\n"},
        Crash{"SIGABRT", SIGABRT, "SIGABRT", [] { std::abort(); }, nullptr},
        // The handler runs on a stack of its own.
        Crash{"StackOverflow", SIGSEGV, "SIGSEGV", [] { ::_exit(Overflow(0)); }, nullptr},
        Crash{"StackOverflowOnAThread", SIGSEGV, "SIGSEGV", OverflowOnAThread, nullptr},
        Crash{"SIGBUS", SIGBUS, "SIGBUS", [] { ::raise(SIGBUS); }, nullptr},
        Crash{"SIGFPE", SIGFPE, "SIGFPE", [] { ::raise(SIGFPE); }, nullptr},
        Crash{"SIGILL", SIGILL, "SIGILL", [] { ::raise(SIGILL); }, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

class CrashHandlerTest : public ::testing::Test {
protected:
    TempProgramDir m_dir;
};

TEST_F(CrashHandlerTest, ASecondCrashInTheSameSecondReplacesTheRecord) {
    RunChild(FaultAt0x10);
    RunChild([] { std::abort(); });
    const std::string record = m_dir.Read(kRecord);
    EXPECT_NE(record.find("(SIGABRT)"), std::string::npos) << record;
    EXPECT_EQ(record.find("(SIGSEGV)"), std::string::npos) << record;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_dir.File("Error")),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(CrashHandlerTest, AFileInTheWayOfTheFolderMeansNoRecordButTheSameDeath) {
    m_dir.Write("Error", "not a folder");
    const Death death = RunChild(FaultAt0x10);
    EXPECT_TRUE(death.signaled);
    EXPECT_EQ(death.signal, SIGSEGV);
    EXPECT_EQ(m_dir.Read("Error"), "not a folder");
}

void ExitWith42(int) {
    ::_exit(42);
}

TEST_F(CrashHandlerTest, RemovalPutsBackWhatWasThereAndWritesNothing) {
    const Death death = RunChild(
        [] {
            RemoveCrashHandler();
            ::raise(SIGFPE);
        },
        [] { ::signal(SIGFPE, ExitWith42); });
    EXPECT_FALSE(death.signaled);
    EXPECT_EQ(death.exitCode, 42);
    EXPECT_FALSE(m_dir.Exists("Error"));
}

TEST_F(CrashHandlerTest, AWriteToAClosedPipeFailsInsteadOfKilling) {
    const Death death = RunChild([] {
        int fds[2];
        if (::pipe(fds) != 0) {
            ::_exit(2);
        }
        ::close(fds[0]);
        const bool failed = ::write(fds[1], "x", 1) < 0 && errno == EPIPE;
        ::_exit(failed ? 0 : 3);
    });
    EXPECT_FALSE(death.signaled);
    EXPECT_EQ(death.exitCode, 0);
}

}  // namespace
