#include <SDL.h>
#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "voice/MessageCodes.h"

namespace fs = std::filesystem;

namespace {

const std::string kClipDir = std::string(VOICE_SOURCE_DIR) + "/audio/clips";

// Every clip an announcement can name, from the table the composition reads.
const std::vector<std::string> kNamedClips = BuiltInClips();

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// An MPEG audio stream starts with an ID3 tag or a frame sync.
bool LooksLikeMp3(const std::string& bytes) {
    if (bytes.rfind("ID3", 0) == 0) {
        return true;
    }
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           (static_cast<unsigned char>(bytes[1]) & 0xE0) == 0xE0;
}

TEST(RecordingsTest, EveryNamedClipIsCommittedAndNothingElse) {
    std::set<std::string> present;
    for (const auto& entry : fs::directory_iterator(kClipDir)) {
        present.insert(entry.path().filename().string());
    }
    const std::set<std::string> named(kNamedClips.begin(), kNamedClips.end());
    EXPECT_EQ(present, named);
}

TEST(RecordingsTest, NamesSayTheFormat) {
    for (const auto& name : kNamedClips) {
        SCOPED_TRACE(name);
        const std::string bytes = ReadFile(kClipDir + "/" + name);
        if (EndsWith(name, ".wav")) {
            ASSERT_GE(bytes.size(), 12u);
            EXPECT_EQ(bytes.substr(0, 4), "RIFF");
            EXPECT_EQ(bytes.substr(8, 4), "WAVE");
        } else {
            EXPECT_TRUE(LooksLikeMp3(bytes));
        }
    }
}

// Decodes every clip with the same library the program plays it with, and
// checks that it lasts long enough to be a word and is not silent.
class RecordingsAudioTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "dummy", 0);
        ASSERT_EQ(SDL_Init(SDL_INIT_AUDIO), 0) << SDL_GetError();
        Mix_Init(MIX_INIT_MP3);
        ASSERT_EQ(Mix_OpenAudio(22050, AUDIO_S16SYS, 1, 1024), 0) << Mix_GetError();
        int channels = 0;
        ASSERT_NE(Mix_QuerySpec(&m_rate, &m_format, &channels), 0);
        m_channels = channels;
    }
    void TearDown() override {
        Mix_CloseAudio();
        Mix_Quit();
        SDL_Quit();
    }

    int m_rate = 0;
    Uint16 m_format = 0;
    int m_channels = 0;
};

TEST_F(RecordingsAudioTest, EveryClipDecodesAndIsAudible) {
    ASSERT_EQ(m_format, AUDIO_S16SYS);
    for (const auto& name : kNamedClips) {
        SCOPED_TRACE(name);
        Mix_Chunk* chunk = Mix_LoadWAV((kClipDir + "/" + name).c_str());
        ASSERT_NE(chunk, nullptr) << Mix_GetError();
        const auto* samples = reinterpret_cast<const int16_t*>(chunk->abuf);
        const size_t count = chunk->alen / sizeof(int16_t);
        double sum = 0;
        int peak = 0;
        for (size_t i = 0; i < count; ++i) {
            sum += static_cast<double>(samples[i]) * samples[i];
            peak = std::max(peak, std::abs(static_cast<int>(samples[i])));
        }
        const double seconds = static_cast<double>(count) / m_channels / m_rate;
        const double rms = count ? std::sqrt(sum / count) / 32768.0 : 0;
        EXPECT_GE(seconds, 0.25);
        EXPECT_LE(seconds, 10.0);
        EXPECT_GT(rms, 0.05);
        EXPECT_GT(peak, 16384);  // clips are normalised close to full scale
        Mix_FreeChunk(chunk);
    }
}

}  // namespace
