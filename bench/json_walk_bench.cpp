// Walking a wide JSON array the way the face clients walk a group or candidate list: size
// once per turn, element by index, one copy per element. A 1 MiB array of empty objects
// (about 350 000 elements) should walk in well under 20 ms; parsing is measured apart.
#include <benchmark/benchmark.h>

#include <string>

#include "support/JsonObject.h"

namespace {

std::string WideArray(std::size_t bytes) {
  std::string text = "[";
  while (text.size() + 3 < bytes) text += "{},";
  text += "{}]";
  return text;
}

void BM_JsonParseWideArray(benchmark::State& state) {
  const std::string text = WideArray(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    neb::CJsonObject json(text);
    benchmark::DoNotOptimize(&json);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_JsonWalkWideArray(benchmark::State& state) {
  const neb::CJsonObject json(WideArray(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    int walked = 0;
    neb::CJsonObject element;
    for (int i = 0; i < json.GetArraySize(); ++i) {
      if (json.Get(i, element)) ++walked;
    }
    benchmark::DoNotOptimize(walked);
  }
  state.counters["elements"] = json.GetArraySize();
}

}  // namespace

BENCHMARK(BM_JsonParseWideArray)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JsonWalkWideArray)
    ->Arg(16 << 10)
    ->Arg(120 << 10)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
