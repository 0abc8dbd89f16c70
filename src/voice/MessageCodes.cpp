#include "voice/MessageCodes.h"

#include <algorithm>

namespace {

const char* const kStaff = "工作人员请注意.wav";
const char* const kChime = "提示音.wav";
const char* const kChimeB = "提示音b.wav";
const char* const kChime2 = "提示音2.wav";

}  // namespace

const std::vector<MessageCode>& MessageCodes() {
    // clang-format off
    static const std::vector<MessageCode> table = {
        // code   prefix                 seat   comma event                               wxOpen dot name            dot first        detail dot last
        {"0",   {kChime, kStaff},      true,  {"号机已购买商品请网管尽快送到.wav"},        false, {},                 {},              false, {}},
        {"1",   {kChimeB, kStaff},     true,  {"号机已在线付款充值网费请及时处理.wav"},    false, {},                 {},              false, {}},
        {"2",   {kChime2, "哇哦.mp3"}, true,  {"英雄联盟特权.mp3"},                        false, {},                 {},              false, {}},
        {"3",   {kChime2},             true,  {"吃鸡特权.mp3"},                            false, {},                 {},              false, {}},
        {"5",   {kChime, kStaff},      true,  {"号机已购买商品请尽快送到.wav"},            false, {},                 {},              false, {}},
        {"6",   {kChimeB, kStaff},     true,  {"号机已充值网费请及时处理.wav"},            false, "HandleCashPay",    "cashPay.wav",   true,  "waiter.wav"},
        {"7",   {kChime, kStaff},      true,  {"号机已在线付款购买商品请尽快送到.wav"},    false, "HandleOnlinePay",  "onlinePay.wav", true,  "waiter.wav"},
        {"8",   {kChimeB, kStaff},     true,  {"号机已在线付款充值网费请及时处理.wav"},    false, "HandleCallAdmin",  "callAdmin.wav", true,  "quick.wav"},
        {"9",   {},                    true,  {},                                          false, "HandlePlaceOrder", "placeorder.wav",false, {}},
        {"10",  {},                    true,  {},                                          false, "HandleBuyOther",   "buyOther.wav",  false, {}},
        {"11",  {},                    true,  {},                                          false, "HandlePayOther",   "payOther.wav",  false, {}},
        {"98",  {},                    false, {kChime, "用餐时间.mp3"},                    false, {},                 {},              false, {}},
        {"101", {kStaff},              true,  {"号机需要服务员帮助.mp3"},                  false, {},                 {},              false, {}},
        {"102", {kStaff},              true,  {"号机需要保洁员帮助.mp3"},                  false, {},                 {},              false, {}},
        {"103", {kStaff},              true,  {"号机需要技术员帮助.mp3"},                  false, {},                 {},              false, {}},
        {"104", {kStaff},              true,  {"号机已下机请保洁员及时清理桌面.wav"},      true,  {},                 {},              false, {}},
        {"130", {},                    false, {"wxts.mp3"},                                false, {},                 {},              false, {}},
    };
    // clang-format on
    return table;
}

const MessageCode* FindMessageCode(std::string_view code) {
    const auto& table = MessageCodes();
    const auto row = std::find_if(table.begin(), table.end(),
                                  [code](const MessageCode& c) { return c.code == code; });
    return row == table.end() ? nullptr : &*row;
}

const std::vector<Promotion>& Promotions() {
    static const std::vector<Promotion> table = {
        {"CX_START", {kChime, "促销开始.mp3"}},
        // The end notice speaks "thirty" between its two halves.
        {"CX_ADV_END", {kChime, "结束1.mp3", "3.wav", "十.wav", "结束2.mp3"}},
    };
    return table;
}

std::string NumberClip(int value) {
    if (value >= 0 && value <= 9) {
        return std::to_string(value) + ".wav";
    }
    switch (value) {
        case 10:
            return "十.wav";
        case 100:
            return "百.wav";
        case 1000:
            return "千.wav";
        default:
            return {};
    }
}

std::vector<std::string> BuiltInClips() {
    std::vector<std::string> clips;
    const auto add = [&clips](const std::string& clip) {
        if (!clip.empty() && std::find(clips.begin(), clips.end(), clip) == clips.end()) {
            clips.push_back(clip);
        }
    };
    for (const MessageCode& row : MessageCodes()) {
        std::for_each(row.prefix.begin(), row.prefix.end(), add);
        std::for_each(row.commaEvent.begin(), row.commaEvent.end(), add);
        add(row.dotFirst);
        add(row.dotLast);
    }
    for (const Promotion& promotion : Promotions()) {
        std::for_each(promotion.clips.begin(), promotion.clips.end(), add);
    }
    for (const int value : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 100, 1000}) {
        add(NumberClip(value));
    }
    return clips;
}
