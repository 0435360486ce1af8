#include "sdk/AlarmDispatcher.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <utility>

#include "metrics/Metrics.h"
#include "platform/DebugOutput.h"

namespace sdkstandin {

struct AlarmDispatcher::State {
  std::mutex mutex;
  std::condition_variable wake;       // queue has items, or stopping
  std::condition_variable delivered;  // a delivery ended
  bool stopping = false;
  std::deque<Item> queue;
  size_t queuedBytes = 0;
  size_t dropped = 0;
  NET_DVR_MessageCallback callback = nullptr;
  void* user = nullptr;
  std::set<int32_t> openHandles;
  int32_t delivering = -1;  // alarm handle whose message the callback is handling
  std::thread::id threadId;
};

namespace {

size_t ItemBytes(const AlarmDispatcher::Item& item) {
  return sizeof(item) + item.body.size() + item.face.jpeg.size();
}

void CopyText(const std::string& text, char* out, size_t size) {
  const size_t length = std::min(text.size(), size - 1);
  std::memcpy(out, text.data(), length);
  out[length] = '\0';
}

}  // namespace

AlarmDispatcher::AlarmDispatcher() : state_(std::make_shared<State>()) {
  thread_ = std::thread(&AlarmDispatcher::Run, state_);
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->threadId = thread_.get_id();
}

AlarmDispatcher::~AlarmDispatcher() { Stop(); }

void AlarmDispatcher::SetCallback(NET_DVR_MessageCallback callback, void* user) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->callback = callback;
  state_->user = user;
}

void AlarmDispatcher::OpenHandle(int32_t alarmHandle) {
  std::lock_guard<std::mutex> guard(state_->mutex);
  state_->openHandles.insert(alarmHandle);
}

void AlarmDispatcher::CloseHandle(int32_t alarmHandle) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->openHandles.erase(alarmHandle);
  if (std::this_thread::get_id() == state_->threadId) return;
  state_->delivered.wait(lock, [&] { return state_->delivering != alarmHandle; });
}

bool AlarmDispatcher::Push(Item item) {
  const size_t bytes = ItemBytes(item);
  size_t dropped = 0;
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    if (state_->stopping) return false;
    if (state_->queue.size() < kMaxQueuedAlarms && state_->queuedBytes + bytes <= kMaxQueuedBytes) {
      state_->queue.push_back(std::move(item));
      state_->queuedBytes += bytes;
      state_->wake.notify_one();
      return true;
    }
    dropped = ++state_->dropped;
    metrics::AlarmDropped(metrics::DropReason::kSdkQueue);
  }
  // Every drop is counted; after the first few only every hundredth is written.
  if (dropped > 10 && dropped % 100 != 0) return false;
  char text[160];
  std::snprintf(text, sizeof text, "Alarm queue full: alarm 0x%x from %s dropped (%zu so far)",
                item.command, item.deviceIp.c_str(), dropped);
  platform::DebugOutput(text);
  return false;
}

void AlarmDispatcher::Stop() {
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->stopping = true;
    state_->queue.clear();
    state_->queuedBytes = 0;
    state_->wake.notify_all();
  }
  if (!thread_.joinable()) return;
  if (std::this_thread::get_id() == thread_.get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void AlarmDispatcher::Run(std::shared_ptr<State> state) {
  std::unique_lock<std::mutex> lock(state->mutex);
  for (;;) {
    state->wake.wait(lock, [&] { return state->stopping || !state->queue.empty(); });
    if (state->stopping) return;
    Item item = std::move(state->queue.front());
    state->queue.pop_front();
    state->queuedBytes -= ItemBytes(item);
    if (!state->callback || state->openHandles.count(item.alarmHandle) == 0) continue;
    NET_DVR_MessageCallback callback = state->callback;
    void* user = state->user;
    state->delivering = item.alarmHandle;
    lock.unlock();
    Deliver(item, callback, user);
    lock.lock();
    state->delivering = -1;
    state->delivered.notify_all();
  }
}

void AlarmDispatcher::Deliver(Item& item, NET_DVR_MessageCallback callback, void* user) {
  NET_DVR_ALARMER alarmer;
  std::memset(&alarmer, 0, sizeof alarmer);
  alarmer.lUserID = item.userId;
  alarmer.lAlarmHandle = item.alarmHandle;
  CopyText(item.deviceIp, alarmer.sDeviceIP, sizeof alarmer.sDeviceIP);
  alarmer.wLinkPort = item.devicePort;

  // The item is this thread's own copy: the callback may write into what it is given.
  NET_VCA_FACESNAP_RESULT result;
  NET_VCA_FACESNAP_ADDINFO addInfo;
  char* buffer = nullptr;
  uint32_t length = 0;
  if (item.isFace) {
    std::memset(&result, 0, sizeof result);
    std::memset(&addInfo, 0, sizeof addInfo);
    sdkwire::FaceAlarm& face = item.face;
    std::vector<uint8_t>& bytes = face.jpeg;
    result.dwSize = sizeof result;
    result.dwAbsTime = face.absTime;
    result.dwFacePicID = face.faceId;
    result.dwFacePicLen = static_cast<uint32_t>(bytes.size());
    result.pBuffer1 = bytes.empty() ? nullptr : bytes.data();
    CopyText(face.cameraIp, result.struDevInfo.struDevIP.sIpV4,
             sizeof result.struDevInfo.struDevIP.sIpV4);
    result.struDevInfo.wPort = face.cameraPort;
    result.struDevInfo.byChannel = face.cameraChannel;
    result.struFeature.byMask = face.mask;
    if (face.hasAddInfo) {
      addInfo.fFaceTemperature = face.temperature;
      addInfo.byIsAbnomalTemperature = face.abnormal;
      addInfo.byThermometryUnit = face.unit;
      result.byAddInfo = 1;
      result.pAddInfoBuffer = reinterpret_cast<uint8_t*>(&addInfo);
    }
    buffer = reinterpret_cast<char*>(&result);
    length = sizeof result;
  } else {
    std::vector<uint8_t>& bytes = item.body;
    buffer = bytes.empty() ? nullptr : reinterpret_cast<char*>(bytes.data());
    length = static_cast<uint32_t>(bytes.size());
  }
  try {
    callback(static_cast<int32_t>(item.command), &alarmer, buffer, length, user);
  } catch (const std::exception& e) {
    platform::DebugOutput(std::string("Alarm callback threw: ") + e.what());
  } catch (...) {
    platform::DebugOutput("Alarm callback threw");
  }
}

}  // namespace sdkstandin
