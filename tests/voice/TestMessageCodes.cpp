// The table of message codes against what is shipped: every row composed in
// each form it knows names only built-in clips, and each of them is recorded
// in audio/clips. A clip named but never recorded would otherwise only show as
// a silent gap at a store.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempProgramDir.h"
#include "voice/AnnouncementComposer.h"
#include "voice/MessageCodes.h"

namespace fs = std::filesystem;

namespace {

const fs::path kClipDir = fs::path(VOICE_SOURCE_DIR) / "audio" / "clips";
// A seat and a detail that between them speak every digit and unit.
const char* const kSeat = "1234567890";
const char* const kDetail = "0123456789";

class MessageCodesTest : public testing::Test {
protected:
    // What one message composes, with the store's WeChat switch on so that
    // gated rows speak too.
    Announcement Compose(bool dot, const std::string& subject, const std::string& code) {
        Announcement composed;
        AnnouncementComposer composer([&](const Announcement& a) { composed = a; },
                                      [] { return true; });
        if (dot) {
            composer.ComposeDotMessage(subject, kDetail, code);
        } else {
            composer.ComposeCommaMessage(subject, code);
        }
        return composed;
    }

    void ExpectShipped(const Announcement& clips) {
        const std::vector<std::string> builtIn = BuiltInClips();
        for (const std::string& clip : clips) {
            EXPECT_NE(std::find(builtIn.begin(), builtIn.end(), clip), builtIn.end())
                << clip << " is not named by the table";
            EXPECT_TRUE(fs::is_regular_file(kClipDir / clip)) << clip << " is not in audio/clips";
        }
    }

    TempProgramDir m_dir;
};

TEST_F(MessageCodesTest, EveryRowComposesShippedClipsInEachFormItKnows) {
    for (const MessageCode& row : MessageCodes()) {
        const std::string code(row.code);
        SCOPED_TRACE(code);
        EXPECT_TRUE(!row.commaEvent.empty() || !row.dotName.empty()) << "a row no form knows";
        if (!row.commaEvent.empty()) {
            const Announcement clips = Compose(false, kSeat, code);
            ASSERT_FALSE(clips.empty());
            EXPECT_TRUE(std::equal(row.commaEvent.rbegin(), row.commaEvent.rend(), clips.rbegin()))
                << "the comma form ends with the row's event";
            ExpectShipped(clips);
        }
        if (!row.dotName.empty()) {
            const Announcement clips = Compose(true, kSeat, code);
            ASSERT_FALSE(clips.empty());
            ExpectShipped(clips);
        }
    }
}

TEST_F(MessageCodesTest, EveryPromotionComposesShippedClips) {
    for (const Promotion& promotion : Promotions()) {
        SCOPED_TRACE(std::string(promotion.subject));
        const Announcement clips = Compose(false, std::string(promotion.subject), "99");
        EXPECT_EQ(clips, promotion.clips);
        ExpectShipped(clips);
    }
}

TEST_F(MessageCodesTest, EachCodeHasOneRow) {
    const auto& table = MessageCodes();
    for (const MessageCode& row : table) {
        EXPECT_EQ(std::count_if(table.begin(), table.end(),
                                [&](const MessageCode& other) { return other.code == row.code; }),
                  1)
            << row.code;
        EXPECT_EQ(FindMessageCode(row.code), &row);
    }
    EXPECT_EQ(FindMessageCode("4"), nullptr);
}

}  // namespace
