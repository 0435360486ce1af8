#include "tools/check/LoaderLog.h"

#include <log4cplus/loglevel.h>
#include <log4cplus/spi/loggingevent.h>

#include "support/LogHelper.h"

class LoaderLog::Appender : public log4cplus::Appender {
 public:
  explicit Appender(LoaderLog* owner) : owner_(owner) {}
  ~Appender() override { destructorImpl(); }
  void close() override {}

 protected:
  void append(const log4cplus::spi::InternalLoggingEvent& event) override {
    const std::string level = log4cplus::getLogLevelManager().toString(event.getLogLevel());
    std::lock_guard<std::mutex> guard(owner_->mutex_);
    owner_->lines_.push_back(level + " " + event.getMessage());
  }

 private:
  LoaderLog* owner_;
};

LoaderLog::LoaderLog() : appender_(new Appender(this)) {
  CLogHelper::WithoutConfigurationFile();
  CLogHelper::GetInstance();
  logger_ = log4cplus::Logger::getInstance("Vestrel");
  logger_.setLogLevel(log4cplus::INFO_LOG_LEVEL);
  logger_.addAppender(appender_);
}

LoaderLog::~LoaderLog() { logger_.removeAppender(appender_); }

std::vector<std::string> LoaderLog::Take() {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<std::string> taken;
  taken.swap(lines_);
  return taken;
}
