// What the face clients add over the face service's own answer time: one snapshot through a
// client (queue, worker, requests, parsing, result callback) against the same requests sent
// with a bare HTTP client, both against a service in this process that answers at once.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <condition_variable>
#include <mutex>

#include "faceclient/FCSClient.h"
#include "faceclient/FRSV2Client.h"
#include "support/LogHelper.h"
#include "tests/support/FakeFaceService.h"

namespace {

const std::string kPicture(12000, 'A');  // about the base64 size of a thumbnail
const char* const kJson = "application/json";

void AnswerAtOnce(FakeFaceService& service) {
  service.Default("/user/web/login", 200, R"({"sessionId":"S1"})");
  service.Default("/frengine/verify-face", 200,
                  R"({"isMatch":true,"score":0.93,"personId":"p1","personName":"Ann",)"
                  R"("personGroups":[{"name":"VIP"}]})");
  service.Default("/user/base/logout", 200, "{}");
  service.Default("/api/fcs/person/whois", 200,
                  R"({"status":1,"result":{"detail":{"detect":"success"}},)"
                  R"("candidates":[{"s":0.93,"person_id":"p1"}]})");
  service.Default("/api/fcs/person/info", 200,
                  R"({"status":1,"person":{"groups":["VIP"],"info":{"name":"Ann"}}})");
}

struct Delivery : EventSink {
  mutable std::mutex mutex;
  mutable std::condition_variable done;
  mutable int count = 0;
  bool WriteEventFile(const FaceSnapshot&) const override {
    {
      std::lock_guard<std::mutex> guard(mutex);
      ++count;
    }
    done.notify_all();
    return true;
  }
  void WaitFor(int n) {
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return count >= n; });
  }
};

template <typename Client>
void RunClient(benchmark::State& state) {
  CLogHelper::GetInstance();  // no Logger.properties beside the benchmark: logging is off
  FakeFaceService service;
  AnswerAtOnce(service);
  FaceServiceConfig config;
  config.Ip = "127.0.0.1";
  config.Port = service.Port();
  config.UserName = "u";
  config.Password = "p";
  config.Score = 0.8;
  config.AccountId = "a";
  config.AccessKey = "k";
  Delivery delivery;
  auto* client = new Client();
  client->Init(&config);
  client->Start(delivery);
  int sent = 0;
  for (auto _ : state) {
    auto* snapshot = new FaceSnapshot();
    snapshot->FaceID = ++sent;
    snapshot->Picture = kPicture;
    client->PushSnapshot(snapshot);
    delivery.WaitFor(sent);
  }
  client->Stop();
  client->ExternalRelease();
}

void BM_FrsV2ClientSnapshot(benchmark::State& state) { RunClient<FRSV2Client>(state); }
void BM_FcsClientSnapshot(benchmark::State& state) { RunClient<FCSClient>(state); }

// The service's own time: the same requests from a bare client, new connection each, as the
// face clients make them.
void BM_FrsV2ServiceAlone(benchmark::State& state) {
  FakeFaceService service;
  AnswerAtOnce(service);
  httplib::Client http("127.0.0.1", service.Port());
  const std::string verify = R"({"sessionId":"S1","imageBase64":"data:image/jpg;base64,)" +
                             kPicture + R"(","options":{"threshold":0.800000,"hasReport":1}})";
  for (auto _ : state) {
    benchmark::DoNotOptimize(http.Post("/user/web/login", R"({"username":"u","password":"p"})", kJson));
    benchmark::DoNotOptimize(http.Post("/frengine/verify-face", verify, kJson));
    benchmark::DoNotOptimize(http.Post("/user/base/logout?sessionId=S1"));
  }
}

void BM_FcsServiceAlone(benchmark::State& state) {
  FakeFaceService service;
  AnswerAtOnce(service);
  httplib::Client http("127.0.0.1", service.Port());
  const std::string whois =
      R"({"access_key":"k","acc_id":"a","face_pic":")" + kPicture + R"("})";
  for (auto _ : state) {
    benchmark::DoNotOptimize(http.Post("/api/fcs/person/whois", whois, kJson));
    benchmark::DoNotOptimize(
        http.Post("/api/fcs/person/info", R"({"access_key":"k","acc_id":"a","person_id":"p1"})",
                  kJson));
  }
}

}  // namespace

BENCHMARK(BM_FrsV2ClientSnapshot)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FrsV2ServiceAlone)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FcsClientSnapshot)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_FcsServiceAlone)->Unit(benchmark::kMicrosecond)->UseRealTime();
