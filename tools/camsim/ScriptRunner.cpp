#include "tools/camsim/ScriptRunner.h"

#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>

#include "platform/LocalTime.h"

namespace camsim {

ScriptRunner::ScriptRunner(SimDevice& device, std::function<void()> quit)
    : device_(device), printer_(device.Printer()), quit_(std::move(quit)) {}

ScriptRunner::~ScriptRunner() { Stop(); }

bool ScriptRunner::LoadScript(const std::string& path, std::string* error) {
  std::ifstream file(path);
  if (!file) {
    *error = "cannot read script " + path;
    return false;
  }
  scriptName_ = path;
  std::string line;
  while (std::getline(file, line)) scriptLines_.push_back(line);
  return true;
}

void ScriptRunner::Start() {
  // Deliberately never deleted: its reader thread may still be blocked on the terminal at exit.
  static StdinLines* lines = new StdinLines();
  stdin_ = lines;
  thread_ = std::thread([this] { Run(); });
}

void ScriptRunner::Stop() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  if (stdin_) stdin_->Interrupt();
  if (thread_.joinable()) thread_.join();
}

bool ScriptRunner::StopRequested() {
  std::lock_guard<std::mutex> guard(mutex_);
  return stopping_;
}

bool ScriptRunner::Sleep(double seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  return !wake_.wait_for(lock, std::chrono::milliseconds(static_cast<int64_t>(seconds * 1000)),
                         [this] { return stopping_; });
}

void ScriptRunner::Run() {
  try {
    for (size_t i = 0; i < scriptLines_.size(); ++i) {
      if (StopRequested()) return;
      if (!RunLine(scriptLines_[i], scriptName_ + ":" + std::to_string(i + 1))) return;
    }
    std::string line;
    for (size_t number = 1; !StopRequested() && stdin_->Next(&line); ++number) {
      if (!RunLine(line, "stdin:" + std::to_string(number))) return;
    }
  } catch (const std::exception& e) {
    printer_.Error(std::string("command runner failed: ") + e.what());
  }
}

bool ScriptRunner::RunLine(const std::string& line, const std::string& where) {
  ScriptCommand command;
  std::string error;
  switch (ParseScriptLine(line, &command, &error)) {
    case ParseResult::Empty:
      return true;
    case ParseResult::Error:
      printer_.Error(where + ": " + error + " (line skipped)");
      return true;
    case ParseResult::Command:
      break;
  }
  if (command.kind == ScriptCommand::Kind::Quit) {
    quit_();
    return false;
  }
  Execute(command, where);
  return true;
}

void ScriptRunner::Execute(const ScriptCommand& command, const std::string& where) {
  switch (command.kind) {
    case ScriptCommand::Kind::Wait:
      Sleep(command.seconds);
      break;
    case ScriptCommand::Kind::AwaitChannel:
      if (!device_.WaitForChannel(command.seconds, [this] { return StopRequested(); }) &&
          !StopRequested()) {
        printer_.Error(where + ": await-channel: no alarm channel opened in time");
      }
      break;
    case ScriptCommand::Kind::Face:
      SendFace(command.face, where);
      break;
    case ScriptCommand::Kind::Alarm:
      device_.SendAlarm(command.alarmCommand);
      printer_.Event("sent alarm command=" + std::to_string(command.alarmCommand));
      break;
    case ScriptCommand::Kind::Offline:
      device_.GoOffline();
      Sleep(command.seconds);
      device_.GoOnline();
      break;
    case ScriptCommand::Kind::Password:
      device_.SetPassword(command.password);
      printer_.Event("password changed");
      break;
    case ScriptCommand::Kind::Quit:
      break;
  }
}

void ScriptRunner::SendFace(const FaceCommand& face, const std::string& where) {
  std::ifstream file(face.jpegPath, std::ios::binary);
  if (!file) {
    printer_.Error(where + ": cannot read " + face.jpegPath + " (face not sent)");
    return;
  }
  sdkwire::FaceAlarm alarm;
  alarm.jpeg.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (alarm.jpeg.size() > sdkwire::kMaxJpegBytes) {
    printer_.Error(where + ": " + face.jpegPath + " is larger than " +
                   std::to_string(sdkwire::kMaxJpegBytes) + " bytes (face not sent)");
    return;
  }
  if (face.hasTime) {
    alarm.absTime =
        PackAlarmTime(face.year, face.month, face.day, face.hour, face.minute, face.second);
  } else {
    std::tm now{};
    if (platform::ToLocalTime(platform::Now(), &now)) {
      alarm.absTime = PackAlarmTime(now.tm_year + 1900, now.tm_mon + 1, now.tm_mday, now.tm_hour,
                                    now.tm_min, now.tm_sec);
    }
  }
  const CamSimOptions& options = device_.Options();
  alarm.faceId = face.id;
  alarm.cameraIp = face.ip.empty() ? options.listenIp : face.ip;
  alarm.cameraPort = device_.Port();
  alarm.cameraChannel = 1;
  alarm.mask = face.mask;
  alarm.hasAddInfo = !face.noAddInfo;
  if (alarm.hasAddInfo) {
    alarm.temperature = face.temperature;
    alarm.abnormal = face.abnormal;
    alarm.unit = face.unit;
  }
  device_.SendFace(std::move(alarm));
  printer_.Event("sent face id=" + std::to_string(face.id));
}

}  // namespace camsim
