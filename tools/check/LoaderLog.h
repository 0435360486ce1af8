// Collects what the configuration loaders log (the "Vestrel" logger, INFO and above) so that the
// site check can show it beside its findings instead of writing it to the site's log file.
// The appender may be called from any thread; the collected lines are guarded by mutex_.
#pragma once

#include <log4cplus/appender.h>
#include <log4cplus/logger.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class LoaderLog {
 public:
  // Configures logging without Logger.properties, then attaches the collector.
  LoaderLog();
  ~LoaderLog();
  LoaderLog(const LoaderLog&) = delete;
  LoaderLog& operator=(const LoaderLog&) = delete;

  // The lines logged since the last call, as "LEVEL text".
  std::vector<std::string> Take();

 private:
  class Appender;

  std::mutex mutex_;
  std::vector<std::string> lines_;  // guarded by mutex_
  log4cplus::SharedAppenderPtr appender_;
  log4cplus::Logger logger_;
};
