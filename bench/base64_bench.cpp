// Base64Encode throughput beside a plain memcpy of the same bytes (20 KB: a thumbnail;
// 200 KB: a full camera picture). Compare the bytes_per_second columns.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "support/Base64.h"

namespace {

std::vector<unsigned char> Input(std::size_t size) {
  std::vector<unsigned char> data(size);
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<unsigned char>(i * 131 + 7);
  return data;
}

void BM_Base64Encode(benchmark::State& state) {
  const auto data = Input(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string text = Base64Encode(data.data(), static_cast<int>(data.size()));
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Memcpy(benchmark::State& state) {
  const auto data = Input(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned char> copy(data.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

}  // namespace

BENCHMARK(BM_Base64Encode)->Arg(20 * 1024)->Arg(200 * 1024);
BENCHMARK(BM_Memcpy)->Arg(20 * 1024)->Arg(200 * 1024);
