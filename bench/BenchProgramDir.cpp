#include "BenchProgramDir.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/ModuleDir.h"

namespace {

std::string g_dir;

}  // namespace

std::string UseBenchProgramDir(const std::string& settings) {
    const char* tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/voice-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    g_dir = pattern;
    std::ofstream(g_dir + "/Setting.ini", std::ios::binary) << settings;
    std::filesystem::create_directories(g_dir + "/Audio");
    // BENCH_CLIPS names a folder of recorded clips to speak instead of none.
    if (const char* clips = getenv("BENCH_CLIPS"); clips != nullptr && *clips != '\0') {
        std::error_code ec;
        std::filesystem::copy(clips, g_dir + "/Audio", std::filesystem::copy_options::recursive,
                              ec);
        if (ec)
            std::fprintf(stderr, "bench: cannot copy the clips: %s\n", ec.message().c_str());
    }
    ModuleDir::UseFolder(g_dir);
    return g_dir;
}

void RemoveBenchProgramDir() {
    if (!g_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(g_dir, ec);
        g_dir.clear();
    }
}
