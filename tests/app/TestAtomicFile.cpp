#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "app/AtomicFile.h"
#include "support/FileSizeLimit.h"
#include "support/TempProgramDir.h"

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> Folder(const TempProgramDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.Dir())) {
        const std::string name = entry.path().filename().string();
        files[name] = dir.Read(name);
    }
    return files;
}

struct EndCase {
    const char* name;
    // Writes into the open writer and ends it in its own way; what Commit gave.
    std::function<bool(AtomicFile&, const TempProgramDir&)> end;
    const char* targetAfter;
};

class AtomicFileEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(AtomicFileEnd, LeavesTheWholeNewFileOrTheOldOneAndNoTemporary) {
    const EndCase& c = GetParam();
    TempProgramDir dir;
    dir.Write("clip.wav", "old clip");
    ::chmod(dir.File("clip.wav").c_str(), 0600);
    bool committed = false;
    {
        AtomicFile file(dir.File("clip.wav"));
        ASSERT_TRUE(file.IsOpen());
        committed = c.end(file, dir);
    }
    EXPECT_EQ(committed, std::string(c.targetAfter) != "old clip");
    const std::map<std::string, std::string> only = {{"clip.wav", c.targetAfter}};
    EXPECT_EQ(Folder(dir), only);
    struct stat st {};
    ASSERT_EQ(::stat(dir.File("clip.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Ends, AtomicFileEnd,
                         ::testing::Values(EndCase{"Committed",
                                                   [](AtomicFile& file, const TempProgramDir&) {
                                                       return file.Write("new ") &&
                                                              file.Write("clip, in pieces") &&
                                                              file.Commit();
                                                   },
                                                   "new clip, in pieces"},
                                           EndCase{"DroppedUncommitted",
                                                   [](AtomicFile& file, const TempProgramDir& dir) {
                                                       EXPECT_TRUE(file.Write("half a cl"));
                                                       // Written through to the disk beside the
                                                       // target, not held in memory.
                                                       EXPECT_EQ(Folder(dir).size(), 2u);
                                                       return false;
                                                   },
                                                   "old clip"},
                                           EndCase{"WriteFails",
                                                   [](AtomicFile& file, const TempProgramDir&) {
                                                       FileSizeLimit limit(16);
                                                       EXPECT_FALSE(
                                                           file.Write(std::string(64, 'n')));
                                                       EXPECT_FALSE(file.Write("more"));
                                                       return file.Commit();
                                                   },
                                                   "old clip"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
