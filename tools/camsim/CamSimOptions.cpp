#include "tools/camsim/CamSimOptions.h"

#include <set>
#include <sstream>

#include "tools/common/ListenSocket.h"
#include "tools/common/OptionList.h"
#include "tools/common/ScriptWords.h"

namespace camsim {

namespace {

constexpr int kMaxChannels = 64;
constexpr size_t kMaxNameLength = 64;

using simtools::ParseBoundedInt;

// "2,4": 1-based channel numbers.
bool ParseChannelList(const std::string& text, std::set<int>* out) {
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    int number = 0;
    if (!ParseBoundedInt(item, 1, kMaxChannels, &number)) return false;
    out->insert(number);
  }
  return !out->empty();
}

}  // namespace

bool ParseCamSimOptions(const std::vector<std::string>& args, CamSimOptions* options,
                        std::string* error) {
  std::set<int> analogDisabled;
  std::set<int> ipDisabled;
  bool listenGiven = false;
  auto handle = [&](const std::string& name, const std::string& value) {
    bool ok = true;
    if (name == "--version-mismatch") {
      options->versionMismatch = true;
    } else if (name == "--listen") {
      ok = listenGiven =
          simtools::ParseListenAddress(value, &options->listenIp, &options->listenPort);
    } else if (name == "--user") {
      ok = !value.empty() && value.size() <= kMaxNameLength;
      options->user = value;
    } else if (name == "--password") {
      ok = value.size() <= kMaxNameLength;
      options->password = value;
    } else if (name == "--analog") {
      ok = ParseBoundedInt(value, 0, kMaxChannels, &options->analogChannels);
    } else if (name == "--ip-channels") {
      ok = ParseBoundedInt(value, 0, kMaxChannels, &options->ipChannels);
    } else if (name == "--max-links") {
      ok = ParseBoundedInt(value, 0, 100000, &options->maxLinks);
    } else if (name == "--login-timeout") {
      ok = ParseBoundedInt(value, 1, 3600, &options->loginTimeoutSeconds);
    } else if (name == "--script") {
      ok = !value.empty();
      options->scriptPath = value;
    } else if (name == "--analog-disabled") {
      ok = ParseChannelList(value, &analogDisabled);
    } else if (name == "--ip-disabled") {
      ok = ParseChannelList(value, &ipDisabled);
    } else {
      return simtools::OptionValue::Unknown;
    }
    return ok ? simtools::OptionValue::Good : simtools::OptionValue::Bad;
  };
  if (!simtools::WalkOptions(args, {"--version-mismatch"}, handle, &options->help, error)) {
    return false;
  }
  if (options->help) return true;
  if (!listenGiven) {
    *error = "--listen IP:PORT is required";
    return false;
  }
  if (!analogDisabled.empty() && *analogDisabled.rbegin() > options->analogChannels) {
    *error = "--analog-disabled names a channel beyond --analog";
    return false;
  }
  if (!ipDisabled.empty() && *ipDisabled.rbegin() > options->ipChannels) {
    *error = "--ip-disabled names a channel beyond --ip-channels";
    return false;
  }
  options->analogEnabled.assign(options->analogChannels, true);
  for (int number : analogDisabled) options->analogEnabled[number - 1] = false;
  options->ipEnabled.assign(options->ipChannels, true);
  for (int number : ipDisabled) options->ipEnabled[number - 1] = false;
  return true;
}

const char* CamSimUsage() {
  return R"(Usage: vestrel-camsim --listen IP:PORT [options]

A simulated camera or NVR for the Vestrel SDK library.

Options:
  --listen IP:PORT        IPv4 address and port to accept logins on; port 0 picks a free
                          port (see the "listening" line)
  --user NAME             user name accepted at login (default admin)
  --password PW           password accepted at login (default admin)
  --analog N              analog channels, 0-64 (default 1)
  --ip-channels N         IP channels, 0-64 (default 0)
  --analog-disabled LIST  analog channels reported disabled, 1-based, e.g. 2,3
  --ip-disabled LIST      IP channels reported offline, 1-based
  --max-links N           simultaneous logins accepted (default 16)
  --login-timeout S       drop a connection that has not logged in after S seconds
                          (default 10)
  --version-mismatch      answer in another protocol version (logins fail with code 6)
  --script FILE           run the commands in FILE before those on standard input
  --help                  show this text

Commands (one per line; '#' at the start of a word begins a comment):
  wait SECONDS
  await-channel [TIMEOUT_SECONDS]
  face id=N jpeg=PATH [temp=FLOAT] [abnormal=0|1] [unit=N] [mask=N]
       [time=YYYY-MM-DDTHH:MM:SS] [ip=TEXT] [noaddinfo]
                          one face snapshot to every open alarm channel; defaults
                          temp=36.5 abnormal=0 unit=0 mask=0, time now (local), ip the
                          listen address; noaddinfo sends no temperature block
  alarm command=N
  offline SECONDS         drop every connection and refuse new ones for that long; the
                          next command runs once the device is back
  password TEXT
  quit

A bad command line is reported on standard error with its line number and skipped.
The end of standard input does not stop the simulator: it runs until quit, SIGTERM or
SIGINT, and then exits with status 0.

Output lines: listening IP:PORT, login user=NAME, login failed user=NAME reason=WHY,
channel open, channel closed, sent face id=N (and "face id=N reached no alarm channel" when no
client held an open channel), sent alarm command=N, password changed,
offline, online, logout (also when a logged-in client just disconnects).
)";
}

}  // namespace camsim
