// Announcements composed per second: the cashier texts are cut and composed as
// the reader does it, with a sink that only counts (the queue is not measured).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "BenchProgramDir.h"
#include "app/VoiceServices.h"
#include "link/CashierMessage.h"
#include "voice/AnnouncementComposer.h"

namespace {

// A working day's mix: mostly waiter calls and payments, some notices.
const std::vector<std::string> kMix = {
    "12,101",     "A12,102",  "5,103",       "108,101", "12.5#7", "A1.3.50#6",
    "7.admin#8",  "3.#9",     "CX_START,99", "x,130",   "x,98",   "2000,101",
    "x,download", "1234,101", "B7.12.5#7",   "9.#10",   "9.#11",  "12#7",
};

int64_t g_clips = 0;

void Compose(AnnouncementComposer& composer, const std::string& text) {
    VoiceServices::Compose(composer, CutCashierMessage(CashierText(text)));
}

void BM_ComposeMix(benchmark::State& state) {
    int64_t announcements = 0;
    AnnouncementComposer composer([&](const Announcement& a) {
        ++announcements;
        g_clips += static_cast<int64_t>(a.size());
    });
    size_t i = 0;
    for (auto _ : state) {
        Compose(composer, kMix[i]);
        i = (i + 1) % kMix.size();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["announced"] =
        benchmark::Counter(static_cast<double>(announcements), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ComposeMix);

void BM_ComposeOne(benchmark::State& state) {
    const std::string& text = kMix[static_cast<size_t>(state.range(0))];
    AnnouncementComposer composer([](const Announcement& a) { benchmark::DoNotOptimize(a); });
    for (auto _ : state)
        Compose(composer, text);
    state.SetLabel(text);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ComposeOne)->DenseRange(0, 7);

}  // namespace

int main(int argc, char** argv) {
    UseBenchProgramDir("[WebSetting]\nUrl=http://127.0.0.1:1\nTimeOut=1\ndebug=0\n");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    RemoveBenchProgramDir();
    return 0;
}
