#include "tools/camsim/ScriptRunner.h"

#include <ctime>
#include <fstream>
#include <iterator>

#include "platform/LocalTime.h"

namespace camsim {

ScriptRunner::ScriptRunner(SimDevice& device, std::function<void()> quit)
    : device_(device), printer_(device.Printer()), quit_(std::move(quit)), loop_(printer_) {}

ScriptRunner::~ScriptRunner() { Stop(); }

bool ScriptRunner::LoadScript(const std::string& path, std::string* error) {
  return loop_.LoadScript(path, error);
}

void ScriptRunner::Start() {
  loop_.Start(
      [this](const std::string& line, const std::string& where) { return RunLine(line, where); });
}

void ScriptRunner::Stop() { loop_.Stop(); }

bool ScriptRunner::RunLine(const std::string& line, const std::string& where) {
  ScriptCommand command;
  if (!loop_.ParseLine(ParseScriptLine, line, where, &command)) return true;
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
      loop_.Sleep(command.seconds);
      break;
    case ScriptCommand::Kind::AwaitChannel:
      if (!device_.WaitForChannel(command.seconds, [this] { return loop_.StopRequested(); }) &&
          !loop_.StopRequested()) {
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
      loop_.Sleep(command.seconds);
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
