// The reply reader on the replies the bridge really sends, and on a large one, beside the floor
// of touching every byte once; and the writer on the body sent to a lamp on every cover change.
#include "core/json/json_codec.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

namespace {

std::string lampListReply(int lamps)
{
    std::string reply = "{";
    for (int id = 1; id <= lamps; ++id) {
        if (id > 1)
            reply += ',';
        const std::string n = std::to_string(id);
        reply += "\"" + n + "\":{\"state\":{\"on\":true,\"bri\":" + std::to_string(id * 5 % 255) +
                 ",\"hue\":" + std::to_string(id % 256) +
                 ",\"sat\":254,\"xy\":[0.5128,0.4147],\"level\":1,\"mode\":\"xy\",\"online\":true},"
                 "\"kind\":\"colour lamp\",\"name\":\"Lamp " +
                 n + "\",\"model\":\"GL-1\",\"firmware\":\"1.4.2\",\"serial\":\"gl-0001-" + n + "\"}";
    }
    return reply + "}";
}

std::string megabyteReply()
{
    std::string reply;
    int lamps = 1;
    while (reply.size() < (1U << 20))
        reply = lampListReply(lamps *= 2);
    return reply.substr(0, 1U << 20);
}

void decodeText(benchmark::State& state, const std::string& text)
{
    glowcast::NullLog log;
    for (auto _ : state)
        benchmark::DoNotOptimize(glowcast::dictionaryFromJSON(text, log));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

void BM_DecodeLampList50(benchmark::State& state)
{
    decodeText(state, lampListReply(50));
}
void BM_DecodeReply1MiB(benchmark::State& state)
{
    decodeText(state, megabyteReply());
}

// The floor for the large reply: one copy of the text and one pass counting its commas.
void BM_Floor_CopyAndScan1MiB(benchmark::State& state)
{
    const std::string text = megabyteReply();
    for (auto _ : state) {
        std::string copy = text;
        benchmark::DoNotOptimize(std::count(copy.begin(), copy.end(), ','));
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}

void BM_EncodeLampStateBody(benchmark::State& state)
{
    const glowcast::Dictionary body{{"on", "true"}, {"bri", 254.0}, {"xy", "[0.6400,0.3300]"}};
    for (auto _ : state)
        benchmark::DoNotOptimize(glowcast::JSONFromDictionary(body));
}

} // namespace

BENCHMARK(BM_DecodeLampList50);
BENCHMARK(BM_DecodeReply1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Floor_CopyAndScan1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeLampStateBody);
BENCHMARK_MAIN();
