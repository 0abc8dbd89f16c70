#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "voice/ClipDecoder.h"
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

// Decodes every clip with the decoder the program plays it with, and checks
// that it lasts long enough to be a word and is not silent.
TEST(RecordingsAudioTest, EveryClipDecodesAndIsAudible) {
    for (const auto& name : kNamedClips) {
        SCOPED_TRACE(name);
        std::string error;
        const std::unique_ptr<ClipDecoder> decoder =
            ClipDecoder::Open(kClipDir + "/" + name, error);
        ASSERT_NE(decoder, nullptr) << error;
        std::vector<float> piece(4096 * static_cast<size_t>(decoder->Channels()));
        double sum = 0;
        float peak = 0;
        size_t samples = 0;
        while (const size_t frames = decoder->Read(piece.data(), 4096)) {
            const size_t count = frames * static_cast<size_t>(decoder->Channels());
            for (size_t i = 0; i < count; ++i) {
                sum += static_cast<double>(piece[i]) * piece[i];
                peak = std::max(peak, std::abs(piece[i]));
            }
            samples += count;
        }
        const double seconds = static_cast<double>(samples) / decoder->Channels() / decoder->Rate();
        const double rms = samples != 0 ? std::sqrt(sum / static_cast<double>(samples)) : 0;
        EXPECT_GE(seconds, 0.25);
        EXPECT_LE(seconds, 10.0);
        EXPECT_GT(rms, 0.05);
        EXPECT_GT(peak, 0.5f);  // clips are normalised close to full scale
    }
}

}  // namespace
