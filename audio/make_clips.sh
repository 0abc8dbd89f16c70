#!/usr/bin/env bash
# Makes every clip the announcements use: speech with espeak-ng's Mandarin
# voice, the three chimes with sox. The voice's own character dictionary lacks
# many of the words needed here (it would spell them out in English), so each
# text is spoken from pinyin with tone numbers by the voice's pinyin variant;
# the Chinese column beside it says what the clip means. A name ending in .wav becomes a 16 kHz mono
# 16-bit wav, a name ending in .mp3 a 16 kHz mono mp3 at 32 kbit/s, so the repo
# stays small and the player decodes both.
#
#   audio/make_clips.sh [output folder]     (default: audio/clips beside this script)
#
# Needs espeak-ng, sox and lame (scripts/packages.txt). sox runs with -R so that
# its dither is the same on every run and unchanged clips stay byte for byte.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/clips}"
voice="${VOICE:-cmn-latn-pinyin}"
rate=16000
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for tool in espeak-ng sox lame; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

# Writes $work/pcm.wav into the clip $1 in the format its name asks for.
finish() {
    local name="$1"
    case "$name" in
        *.wav) sox -R "$work/pcm.wav" -r "$rate" -c 1 -b 16 -e signed-integer "$out/$name" ;;
        *.mp3)
            sox -R "$work/pcm.wav" -r "$rate" -c 1 -b 16 "$work/mp3in.wav"
            lame --quiet -m m -b 32 --noreplaygain "$work/mp3in.wav" "$out/$name"
            ;;
        *) echo "clip name without .wav or .mp3: $name" >&2; exit 1 ;;
    esac
}

# Speaks $2 into the clip $1: silence trimmed at both ends, peaks at -1 dBFS.
speak() {
    local name="$1" text="$2"
    espeak-ng -v "$voice" -s 150 -p 50 -w "$work/raw.wav" "$text"
    sox -R "$work/raw.wav" "$work/pcm.wav" \
        silence 1 0.02 0.5% reverse silence 1 0.02 0.5% reverse \
        pad 0.03 0.08 gain -n -1
    finish "$name"
}

# A struck tone: a note $1 (sox note name or Hz) lasting $2 seconds, fading out.
note() {
    local file="$1" pitch="$2" length="$3" wave="${4:-sine}"
    sox -R -n -r "$rate" -c 1 -b 16 "$file" synth "$length" "$wave" "$pitch" \
        fade q 0.005 "$length" "$(awk -v l="$length" 'BEGIN { print l * 0.8 }')"
}

# Three chimes that must be told apart: a falling two-note bell, a rising
# plucked triad, and a quick bright arpeggio.
chimes() {
    note "$work/a1.wav" E5 0.45
    note "$work/a2.wav" C5 0.75
    sox -R "$work/a1.wav" "$work/a2.wav" "$work/pcm.wav" gain -n -3
    finish "提示音.wav"

    note "$work/b1.wav" C5 0.22 pluck
    note "$work/b2.wav" E5 0.22 pluck
    note "$work/b3.wav" G5 0.55 pluck
    sox -R "$work/b1.wav" "$work/b2.wav" "$work/b3.wav" "$work/pcm.wav" gain -n -3
    finish "提示音b.wav"

    note "$work/c1.wav" G5 0.09 triangle
    note "$work/c2.wav" C6 0.09 triangle
    note "$work/c3.wav" E6 0.09 triangle
    note "$work/c4.wav" G6 0.5 triangle
    sox -R "$work/c1.wav" "$work/c2.wav" "$work/c3.wav" "$work/c4.wav" "$work/pcm.wav" gain -n -3
    finish "提示音2.wav"
}

chimes

# Clip name | meaning | pinyin spoken. Most clips follow a spoken seat number
# ("十二" + "号机..."), and 结束1 + "三十" + 结束2 make one sentence.
while IFS='|' read -r name meaning pinyin; do
    [ -z "$name" ] && continue
    speak "$name" "$pinyin"
done <<'CLIPS'
0.wav|零|ling2
1.wav|一|yi1
2.wav|二|er4
3.wav|三|san1
4.wav|四|si4
5.wav|五|wu3
6.wav|六|liu4
7.wav|七|qi1
8.wav|八|ba1
9.wav|九|jiu3
十.wav|十|shi2
百.wav|百|bai3
千.wav|千|qian1
工作人员请注意.wav|工作人员请注意|gong1 zuo4 ren2 yuan2 qing3 zhu4 yi4
号机需要服务员帮助.mp3|号机需要服务员帮助|hao4 ji1 xu1 yao4 fu2 wu4 yuan2 bang1 zhu4
号机需要保洁员帮助.mp3|号机需要保洁员帮助|hao4 ji1 xu1 yao4 bao3 jie2 yuan2 bang1 zhu4
号机需要技术员帮助.mp3|号机需要技术员帮助|hao4 ji1 xu1 yao4 ji4 shu4 yuan2 bang1 zhu4
号机已下机请保洁员及时清理桌面.wav|号机已下机，请保洁员及时清理桌面|hao4 ji1 yi3 xia4 ji1, qing3 bao3 jie2 yuan2 ji2 shi2 qing1 li3 zhuo1 mian4
号机已购买商品请网管尽快送到.wav|号机已购买商品，请网管尽快送到|hao4 ji1 yi3 gou4 mai3 shang1 pin3, qing3 wang3 guan3 jin3 kuai4 song4 dao4
号机已在线付款充值网费请及时处理.wav|号机已在线付款充值网费，请及时处理|hao4 ji1 yi3 zai4 xian4 fu4 kuan3 chong1 zhi2 wang3 fei4, qing3 ji2 shi2 chu3 li3
号机已购买商品请尽快送到.wav|号机已购买商品，请尽快送到|hao4 ji1 yi3 gou4 mai3 shang1 pin3, qing3 jin3 kuai4 song4 dao4
号机已充值网费请及时处理.wav|号机已充值网费，请及时处理|hao4 ji1 yi3 chong1 zhi2 wang3 fei4, qing3 ji2 shi2 chu3 li3
号机已在线付款购买商品请尽快送到.wav|号机已在线付款购买商品，请尽快送到|hao4 ji1 yi3 zai4 xian4 fu4 kuan3 gou4 mai3 shang1 pin3, qing3 jin3 kuai4 song4 dao4
英雄联盟特权.mp3|号机已开通英雄联盟特权|hao4 ji1 yi3 kai1 tong1 ying1 xiong2 lian2 meng2 te4 quan2
吃鸡特权.mp3|号机已开通吃鸡特权|hao4 ji1 yi3 kai1 tong1 chi1 ji1 te4 quan2
哇哦.mp3|哇哦|wa1 o4
wxts.mp3|温馨提示：请文明上网，保管好您的随身物品|wen1 xin1 ti2 shi4, qing3 wen2 ming2 shang4 wang3, bao3 guan3 hao3 nin2 de5 sui2 shen1 wu4 pin3
用餐时间.mp3|用餐时间到了，需要订餐的顾客请联系服务员|yong4 can1 shi2 jian1 dao4 le5, xu1 yao4 ding4 can1 de5 gu4 ke4 qing3 lian2 xi4 fu2 wu4 yuan2
促销开始.mp3|促销活动现在开始，欢迎选购|cu4 xiao1 huo2 dong4 xian4 zai4 kai1 shi3, huan1 ying2 xuan3 gou4
结束1.mp3|本次促销活动还有|ben3 ci4 cu4 xiao1 huo2 dong4 hai2 you3
结束2.mp3|分钟结束，请抓紧时间选购|fen1 zhong1 jie2 shu4, qing3 zhua1 jin3 shi2 jian1 xuan3 gou4
cashPay.wav|号机现金付款，订单尾号|hao4 ji1 xian4 jin1 fu4 kuan3, ding4 dan1 wei3 hao4
onlinePay.wav|号机在线付款，订单尾号|hao4 ji1 zai4 xian4 fu4 kuan3, ding4 dan1 wei3 hao4
waiter.wav|请服务员及时处理|qing3 fu2 wu4 yuan2 ji2 shi2 chu3 li3
callAdmin.wav|号机呼叫网管，呼叫编号|hao4 ji1 hu1 jiao4 wang3 guan3, hu1 jiao4 bian1 hao4
quick.wav|请尽快前往|qing3 jin3 kuai4 qian2 wang3
placeorder.wav|号机已下单，请及时处理|hao4 ji1 yi3 xia4 dan1, qing3 ji2 shi2 chu3 li3
buyOther.wav|号机为其他机器购买了商品，请尽快送到|hao4 ji1 wei4 qi2 ta1 ji1 qi4 gou4 mai3 le5 shang1 pin3, qing3 jin3 kuai4 song4 dao4
payOther.wav|号机为其他机器充值了网费，请及时处理|hao4 ji1 wei4 qi2 ta1 ji1 qi4 chong1 zhi2 le5 wang3 fei4, qing3 ji2 shi2 chu3 li3
CLIPS

echo "clips written to $out"
