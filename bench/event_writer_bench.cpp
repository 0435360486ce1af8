// WriteEventFile (document, code-page conversion, re-parse, atomic write with fsync) beside a
// plain atomic write of the same bytes to the same name. Compare the files/s columns.
#include <benchmark/benchmark.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "pipeline/EventFileWriter.h"
#include "tests/support/TempDir.h"
#include "platform/FileSystem.h"
#include "support/Base64.h"

namespace {

// A snapshot as the intake leaves it, with the base64 of a 200 x 200 face picture.
FaceSnapshot BenchSnapshot() {
  std::ifstream in(std::string(VESTREL_TEST_DATA_DIR) + "/face-200x200.jpg", std::ios::binary);
  const std::string jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  FaceSnapshot snapshot;
  snapshot.EventTime = 1624525503;
  snapshot.FaceID = 57;
  snapshot.PosId = "1001";
  snapshot.Picture = Base64Encode(reinterpret_cast<const unsigned char*>(jpeg.data()),
                                  static_cast<int>(jpeg.size()));
  snapshot.FaceTemperature = 36.5f;
  snapshot.WearMask = -1;
  return snapshot;
}

void SetFilesPerSecond(benchmark::State& state) {
  state.counters["files/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_WriteEventFile(benchmark::State& state) {
  TempDir temp;
  const EventFileWriter writer(temp.path() + "/", "Vestrel Edge");
  const FaceSnapshot snapshot = BenchSnapshot();
  for (auto _ : state) {
    if (!writer.WriteEventFile(snapshot)) {
      state.SkipWithError("WriteEventFile failed");
      break;
    }
  }
  SetFilesPerSecond(state);
}

void BM_WriteEventFilePlainAtomicWrite(benchmark::State& state) {
  TempDir temp;
  const EventFileWriter writer(temp.path() + "/", "Vestrel Edge");
  const FaceSnapshot snapshot = BenchSnapshot();
  const std::string path = writer.MakeEventFileName(snapshot);
  if (!writer.WriteEventFile(snapshot)) {
    state.SkipWithError("WriteEventFile failed");
    return;
  }
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto _ : state) {
    if (!platform::WriteFileAtomically(path, bytes.data(), bytes.size(), nullptr)) {
      state.SkipWithError("WriteFileAtomically failed");
      break;
    }
  }
  SetFilesPerSecond(state);
  state.SetLabel(std::to_string(bytes.size()) + " bytes");
}

// Real time: most of a write is waiting for the disk.
BENCHMARK(BM_WriteEventFile)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_WriteEventFilePlainAtomicWrite)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
