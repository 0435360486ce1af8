#include "sdk/SdkRuntime.h"

#include <cstring>
#include <utility>
#include <vector>

#include "platform/DebugOutput.h"
#include "sdk/WireMessages.h"

namespace sdkstandin {

using sdkwire::FrameType;
using sdkwire::Status;

namespace {

std::string FieldText(const char* field, size_t size) {
  size_t length = 0;
  while (length < size && field[length] != '\0') ++length;
  return std::string(field, length);
}

// Errors of the login exchange: whatever keeps the device from answering makes it
// unreachable.
uint32_t LoginError(uint32_t error) {
  switch (error) {
    case NET_DVR_TIMEOUT:
    case NET_DVR_CONNECTION_LOST:
      return NET_DVR_NETWORK_FAIL_CONNECT;
    default:
      return error;
  }
}

// Decodes a device's status reply. A malformed one closes the link: the device no longer
// speaks the protocol. Returns 0 or the error code for the caller.
template <typename Reply>
uint32_t DecodeStatusReply(DeviceLink& link, const std::vector<uint8_t>& body, Reply* reply) {
  if (!sdkwire::Decode(body, reply)) {
    link.Close();
    return NET_DVR_PROTOCOL_ERROR;
  }
  return reply->status == Status::Ok ? 0 : NET_DVR_DEVICE_REFUSED;
}

// One request whose answer is a status reply; 0 or the error code.
uint32_t RequestStatus(DeviceLink& link, FrameType type, const std::vector<uint8_t>& body,
                       FrameType replyType, sdkwire::ValueReply* reply) {
  std::vector<uint8_t> replyBody;
  const uint32_t failure =
      link.Request(type, body, replyType, &replyBody, SdkRuntime::kReplyTimeout);
  return failure != 0 ? failure : DecodeStatusReply(link, replyBody, reply);
}

}  // namespace

SdkRuntime::SdkRuntime() : work_(boost::asio::make_work_guard(io_)) {
  std::packaged_task<void()> run([this] {
    for (;;) {
      try {
        io_.run();
        return;
      } catch (const std::exception& e) {
        platform::DebugOutput(std::string("SDK io thread: ") + e.what());
      } catch (...) {
        platform::DebugOutput("SDK io thread: unknown exception");
      }
    }
  });
  ioDone_ = run.get_future();
  ioThread_ = std::thread(std::move(run));
}

SdkRuntime::~SdkRuntime() { Shutdown(); }

void SdkRuntime::Shutdown() {
  std::map<int32_t, std::shared_ptr<DeviceLink>> users;
  std::set<std::shared_ptr<DeviceLink>> connecting;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopped_) return;
    stopped_ = true;
    users.swap(users_);
    connecting.swap(connecting_);
    alarms_.clear();
  }
  for (auto& entry : users) entry.second->Close();
  for (auto& link : connecting) link->Close();
  users.clear();
  connecting.clear();
  dispatcher_.Stop();
  work_.reset();
  // Closing the sockets ends every operation; the bound only guards against a stuck peer.
  if (ioDone_.wait_for(std::chrono::seconds(2)) != std::future_status::ready) io_.stop();
  if (ioThread_.joinable()) ioThread_.join();
}

bool SdkRuntime::SetCallback(int index, NET_DVR_MessageCallback callback, void* user,
                             uint32_t* error) {
  if (index != 0) {
    *error = NET_DVR_PARAMETER_ERROR;
    return false;
  }
  dispatcher_.SetCallback(callback, user);
  return true;
}

int32_t SdkRuntime::Login(const NET_DVR_USER_LOGIN_INFO& login, NET_DVR_DEVICEINFO_V40* deviceInfo,
                          uint32_t* error) {
  if (login.bUseAsynLogin != 0) {
    *error = NET_DVR_PARAMETER_ERROR;
    return -1;
  }
  auto origin = std::make_shared<Origin>();
  origin->ip = FieldText(login.sDeviceAddress, sizeof login.sDeviceAddress);
  origin->port = login.wPort;
  boost::system::error_code ec;
  const boost::asio::ip::address address = boost::asio::ip::make_address(origin->ip, ec);
  if (ec) {
    *error = NET_DVR_PARAMETER_ERROR;
    return -1;
  }

  auto link = std::make_shared<DeviceLink>(
      io_, [this, origin](int32_t handle, sdkwire::AlarmFrame&& alarm) {
        return OnAlarm(origin, handle, std::move(alarm));
      });
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopped_) {
      *error = NET_DVR_NOT_INITIALIZED;
      return -1;
    }
    connecting_.insert(link);
  }
  auto forget = [&] {
    link->Close();
    std::lock_guard<std::mutex> guard(mutex_);
    connecting_.erase(link);
  };

  uint32_t failure =
      link->Connect(boost::asio::ip::tcp::endpoint(address, origin->port), kConnectTimeout);
  std::vector<uint8_t> body;
  if (failure == 0) {
    sdkwire::LoginRequest request;
    request.user = FieldText(login.sUserName, sizeof login.sUserName);
    request.password = FieldText(login.sPassword, sizeof login.sPassword);
    failure = LoginError(link->Request(FrameType::LoginRequest, sdkwire::Encode(request),
                                       FrameType::LoginReply, &body, kReplyTimeout));
  }
  sdkwire::LoginReply reply;
  if (failure == 0 && !sdkwire::Decode(body, &reply)) failure = NET_DVR_PROTOCOL_ERROR;
  if (failure == 0) {
    switch (reply.status) {
      case Status::Ok:
        break;
      case Status::BadCredentials:
        failure = NET_DVR_PASSWORD_ERROR;
        break;
      case Status::TooManyLinks:
        failure = NET_DVR_OVER_MAXLINK;
        break;
      case Status::VersionMismatch:
        failure = NET_DVR_VERSION_MISMATCH;
        break;
      default:
        failure = NET_DVR_DEVICE_REFUSED;
        break;
    }
  }
  if (failure != 0) {
    forget();
    *error = failure;
    return -1;
  }

  int32_t userId = -1;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    connecting_.erase(link);
    if (stopped_) {
      link->Close();
      *error = NET_DVR_NOT_INITIALIZED;
      return -1;
    }
    userId = nextUserId_++;
    origin->userId = userId;
    users_[userId] = link;
  }
  if (deviceInfo) {
    std::memset(deviceInfo, 0, sizeof *deviceInfo);
    NET_DVR_DEVICEINFO_V30& info = deviceInfo->struDeviceV30;
    info.byChanNum = reply.analogChannels;
    info.byStartChan = reply.firstAnalogChannel;
    info.byIPChanNum = reply.ipChannels;
    info.byStartDChan = reply.firstIpChannel;
  }
  return userId;
}

std::shared_ptr<DeviceLink> SdkRuntime::FindLink(int32_t userId, uint32_t* error) {
  std::lock_guard<std::mutex> guard(mutex_);
  auto it = users_.find(userId);
  if (it == users_.end()) {
    *error = stopped_ ? NET_DVR_NOT_INITIALIZED : NET_DVR_INVALID_USERID;
    return nullptr;
  }
  return it->second;
}

bool SdkRuntime::Logout(int32_t userId, uint32_t* error) {
  std::shared_ptr<DeviceLink> link;
  std::vector<int32_t> handles;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = users_.find(userId);
    if (it == users_.end()) {
      *error = stopped_ ? NET_DVR_NOT_INITIALIZED : NET_DVR_INVALID_USERID;
      return false;
    }
    link = it->second;
    users_.erase(it);
    // Channels of this login stay known, closed, until their handles are closed.
    for (auto& entry : alarms_) {
      if (entry.second.userId == userId) {
        entry.second.link.reset();
        handles.push_back(entry.first);
      }
    }
  }
  for (int32_t handle : handles) dispatcher_.CloseHandle(handle);
  link->Logout();
  return true;
}

bool SdkRuntime::GetIpConfig(int32_t userId, NET_DVR_IPPARACFG_V40* config, uint32_t* error) {
  std::shared_ptr<DeviceLink> link = FindLink(userId, error);
  if (!link) return false;
  std::vector<uint8_t> body;
  const uint32_t failure = link->Request(
      FrameType::ConfigRequest, sdkwire::Encode(sdkwire::ValueRequest{NET_DVR_GET_IPPARACFG_V40}),
      FrameType::ConfigReply, &body, kReplyTimeout);
  if (failure != 0) {
    *error = failure;
    return false;
  }
  sdkwire::ConfigReply reply;
  if (const uint32_t failure = DecodeStatusReply(*link, body, &reply)) {
    *error = failure;
    return false;
  }
  std::memset(config, 0, sizeof *config);
  config->dwSize = sizeof *config;
  config->dwAnalogChanNum = static_cast<uint32_t>(reply.analogEnabled.size());
  config->dwIPChanNum = static_cast<uint32_t>(reply.ipEnabled.size());
  config->dwStartDChan = reply.firstIpChannel;
  for (size_t i = 0; i < reply.analogEnabled.size(); ++i) {
    config->byAnalogChanEnable[i] = reply.analogEnabled[i];
  }
  for (size_t i = 0; i < reply.ipEnabled.size(); ++i) {
    config->struStreamMode[i].byGetStreamType = 0;
    config->struStreamMode[i].uGetStream.struChanInfo.byEnable = reply.ipEnabled[i];
  }
  return true;
}

bool SdkRuntime::CheckUser(int32_t userId, uint32_t* error) {
  std::shared_ptr<DeviceLink> link = FindLink(userId, error);
  if (!link) return false;
  sdkwire::ValueReply reply;
  const uint32_t failure =
      RequestStatus(*link, FrameType::PingRequest, sdkwire::Encode(sdkwire::ValueRequest{}),
                    FrameType::PingReply, &reply);
  if (failure != 0) *error = failure;
  return failure == 0;
}

int32_t SdkRuntime::SetupAlarm(int32_t userId, uint32_t* error) {
  std::shared_ptr<DeviceLink> link = FindLink(userId, error);
  if (!link) return -1;
  int32_t handle = -1;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    handle = nextAlarmHandle_++;
  }
  dispatcher_.OpenHandle(handle);
  std::vector<uint8_t> body;
  uint32_t failure = link->Subscribe(handle, &body, kReplyTimeout);
  sdkwire::ValueReply reply;
  if (failure == 0) failure = DecodeStatusReply(*link, body, &reply);
  if (failure == 0) {
    std::lock_guard<std::mutex> guard(mutex_);
    // A logout or shutdown in the meantime has dropped the login: the channel is gone too.
    auto user = users_.find(userId);
    if (user == users_.end() || user->second != link) {
      failure = stopped_ ? NET_DVR_NOT_INITIALIZED : NET_DVR_INVALID_USERID;
    } else {
      alarms_[handle] = AlarmEntry{userId, reply.value, link};
    }
  }
  if (failure != 0) {
    dispatcher_.CloseHandle(handle);
    *error = failure;
    return -1;
  }
  return handle;
}

bool SdkRuntime::CloseAlarm(int32_t alarmHandle, uint32_t* error) {
  AlarmEntry entry;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    auto it = alarms_.find(alarmHandle);
    if (it == alarms_.end()) {
      *error = stopped_ ? NET_DVR_NOT_INITIALIZED : NET_DVR_INVALID_ALARM_HANDLE;
      return false;
    }
    entry = it->second;
    alarms_.erase(it);
  }
  dispatcher_.CloseHandle(alarmHandle);
  std::shared_ptr<DeviceLink> link = entry.link.lock();
  // After a logout or a dropped connection the channel has already ended with it.
  if (!link || !link->Alive()) return true;
  link->UnmapChannel(entry.deviceChannel);
  sdkwire::ValueReply reply;
  const uint32_t failure = RequestStatus(
      *link, FrameType::UnsubscribeRequest,
      sdkwire::Encode(sdkwire::ValueRequest{entry.deviceChannel}), FrameType::UnsubscribeReply,
      &reply);
  if (failure == 0 || failure == NET_DVR_CONNECTION_LOST) return true;
  *error = failure;
  return false;
}

bool SdkRuntime::OnAlarm(const std::shared_ptr<Origin>& origin, int32_t alarmHandle,
                         sdkwire::AlarmFrame&& alarm) {
  AlarmDispatcher::Item item;
  item.userId = origin->userId;
  item.alarmHandle = alarmHandle;
  item.deviceIp = origin->ip;
  item.devicePort = origin->port;
  item.command = alarm.command;
  if (alarm.command == COMM_UPLOAD_FACESNAP_RESULT) {
    if (!sdkwire::Decode(alarm.body, &item.face)) return false;
    item.isFace = true;
  } else {
    item.body = std::move(alarm.body);
  }
  dispatcher_.Push(std::move(item));
  return true;
}

}  // namespace sdkstandin
