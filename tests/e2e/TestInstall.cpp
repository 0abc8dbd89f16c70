// `cmake --install` of this build, staged with DESTDIR: the program folder is
// flat (the program keeps everything beside itself), holds the program and the
// audio pack, and the desktop entry starts the installed program in it.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/TempProgramDir.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const std::string kPrefix = "/opt/voice-test";

// `cmake --install` of this build into kPrefix, staged in `stage`; its output
// goes to install.log there.
bool Install(const TempProgramDir& stage, const std::string& options = "") {
    const std::string command = "DESTDIR='" + stage.Dir() +
                                "' '" VOICE_CMAKE_COMMAND "' --install '" VOICE_BINARY_DIR "' " +
                                options + " --prefix " + kPrefix + " > '" +
                                stage.File("install.log") + "' 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(Install, LaysOutTheProgramFolderAndADesktopEntryThatStartsIt) {
    TempProgramDir stage;
    ASSERT_TRUE(Install(stage)) << stage.Read("install.log");

    const fs::path folder = stage.Dir() + kPrefix;
    struct stat info {};
    ASSERT_EQ(::stat((folder / "Voice").c_str(), &info), 0) << stage.Read("install.log");
    EXPECT_TRUE(info.st_mode & S_IXUSR);
    EXPECT_EQ(fs::file_size(folder / "Voice"), fs::file_size(VOICE_BINARY_DIR "/src/ui/Voice"));
    EXPECT_EQ(ReadFile(folder / "Audio.zip"), ReadFile(VOICE_BINARY_DIR "/Audio.zip"));
    EXPECT_TRUE(fs::exists(folder / "logo.png"));
    // A store's own settings must survive a reinstall: none is installed.
    EXPECT_FALSE(fs::exists(folder / "Setting.ini"));

    // Starting with the session is the technician's choice: not by default.
    EXPECT_FALSE(fs::exists(stage.Dir() + VOICE_AUTOSTART_DIR "/voice.desktop"));
    fs::path entry;
    for (const auto& file : fs::recursive_directory_iterator(stage.Dir())) {
        if (file.path().filename() == "voice.desktop") {
            entry = file.path();
        }
    }
    ASSERT_FALSE(entry.empty()) << stage.Read("install.log");
    const std::string text = ReadFile(entry);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=\"" + kPrefix + "/Voice\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nPath=" + kPrefix + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=" + kPrefix + "/logo.png\n"), std::string::npos) << text;
}

// The technician's switch: the autostart component alone puts the same entry
// in the session's autostart folder, pointing at the installed program.
TEST(Install, AutostartComponentPutsAnAutostartEntryInPlace) {
    TempProgramDir stage;
    ASSERT_TRUE(Install(stage, "--component autostart")) << stage.Read("install.log");

    const fs::path entry = stage.Dir() + VOICE_AUTOSTART_DIR "/voice.desktop";
    ASSERT_TRUE(fs::exists(entry)) << stage.Read("install.log");
    const std::string text = ReadFile(entry);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nExec=\"" + kPrefix + "/Voice\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nPath=" + kPrefix + "\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Hidden=true"), std::string::npos) << text;
    // Only the entry: the program itself comes with the plain install.
    EXPECT_FALSE(fs::exists(stage.Dir() + kPrefix + "/Voice"));
}

}  // namespace
