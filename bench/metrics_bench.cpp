// What counting costs an alarm: the calls one alarm makes on its way to an event file (the
// device's alarm, accepted, event written), alone and while another thread renders the
// exposition without pause (far more than a scrape a second).
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "metrics/Metrics.h"
#include "metrics/SiteMetrics.h"

namespace {

void CountOneAlarm() {
  metrics::DeviceAlarm("127.0.0.2", 8000);
  metrics::AlarmAccepted();
  metrics::EventWritten();
}

void BM_CountOneAlarm(benchmark::State& state) {
  metrics::RegisterDevice("127.0.0.2", 8000, "1001");
  std::atomic<bool> stop{false};
  std::thread scraper;
  if (state.range(0) != 0) {
    scraper = std::thread([&] {
      while (!stop) benchmark::DoNotOptimize(metrics::SiteMetrics::Get().Exposition().size());
    });
  }
  for (auto _ : state) CountOneAlarm();
  stop = true;
  if (scraper.joinable()) scraper.join();
}
BENCHMARK(BM_CountOneAlarm)->Arg(0)->Arg(1)->ArgName("scraping");

void BM_Exposition(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(metrics::SiteMetrics::Get().Exposition().size());
}
BENCHMARK(BM_Exposition);

}  // namespace
