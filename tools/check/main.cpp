// vestrel-check [SITE_FOLDER]: checks a Vestrel site before (or while) the service runs it.
// Exit status 0 when all is well, 1 with a list of problems, 2 on a bad command line.
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>

#include "faceclient/ServiceHttp.h"
#include "platform/ModulePath.h"
#include "tools/check/LiveCheck.h"
#include "tools/check/SiteCheck.h"

namespace {

constexpr const char* kUsage =
    "usage: vestrel-check [SITE_FOLDER]\n"
    "       vestrel-check --live [IP:PORT]\n"
    "Checks the Vestrel site in SITE_FOLDER (the folder that holds Config.ini and bin/; by\n"
    "default the folder above this program's own folder): settings, device list, device\n"
    "logins, face service, event folder. Exit status 0 when all is well, 1 otherwise.\n"
    "--live reads a running site's status page (by default at the site's MetricsListen):\n"
    "devices, events, spool, face service; 1 when something needs a person.\n";

// The folder above the executable's folder, as Vestrel finds its site.
std::string DefaultSiteFolder() {
  const std::filesystem::path exe(platform::ModuleFileName());
  return exe.parent_path().parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  ServiceHttp::InitLibrary();  // before any thread
  if (argc >= 2 && argc <= 3 && std::string(argv[1]) == "--live") {
    return RunLiveCheck(argc == 3 ? argv[2] : DefaultLiveAddress(DefaultSiteFolder()));
  }
  if (argc > 2 ||
      (argc == 2 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help"))) {
    std::fputs(kUsage, argc > 2 ? stderr : stdout);
    return argc > 2 ? 2 : 0;
  }
  std::error_code ec;
  const std::string site = argc == 2
                               ? std::filesystem::absolute(argv[1], ec).lexically_normal().string()
                               : DefaultSiteFolder();
  std::printf("Vestrel site check: %s\n", site.c_str());
  SiteCheck check(site);
  const bool ok = check.Run();
  for (const std::string& line : check.Report()) std::printf("%s\n", line.c_str());
  if (ok) {
    std::printf("\nNo problems found.\n");
    return 0;
  }
  std::printf("\n%zu problem%s:\n", check.Problems().size(),
              check.Problems().size() == 1 ? "" : "s");
  for (const std::string& problem : check.Problems()) std::printf("  - %s\n", problem.c_str());
  return 1;
}
