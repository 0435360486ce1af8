// Collects what the "Vestrel" logger writes while it exists, so that a test can assert on log
// lines. Appenders may be called from any thread; the collected lines are guarded by a mutex.
#pragma once

#include <log4cplus/appender.h>
#include <log4cplus/logger.h>
#include <log4cplus/spi/loggingevent.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "support/LogHelper.h"

class LogCapture {
 public:
  struct Line {
    int level;  // log4cplus level: 10000 DEBUG, 20000 INFO, 40000 ERROR
    std::string text;
  };

  LogCapture() : appender_(new Appender(this)) {
    CLogHelper::GetInstance();  // configure first, so a later re-read cannot drop the capture
    logger_ = log4cplus::Logger::getInstance("Vestrel");
    savedLevel_ = logger_.getLogLevel();
    logger_.setLogLevel(log4cplus::TRACE_LOG_LEVEL);
    logger_.addAppender(appender_);
  }
  ~LogCapture() {
    logger_.removeAppender(appender_);
    logger_.setLogLevel(savedLevel_);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<Line> Lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Line& l : Lines()) texts.push_back(l.text);
    return texts;
  }
  // Lines equal to text (at the level, when one is given).
  int Count(const std::string& text, int level = 0) const {
    const auto lines = Lines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const Line& l) {
      return l.text == text && (level == 0 || l.level == level);
    }));
  }
  // Lines that contain the fragment.
  int CountContaining(const std::string& fragment) const {
    const auto lines = Lines();
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const Line& l) {
      return l.text.find(fragment) != std::string::npos;
    }));
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
  }

  static constexpr int kDebug = 10000;
  static constexpr int kInfo = 20000;
  static constexpr int kError = 40000;

 private:
  class Appender : public log4cplus::Appender {
   public:
    explicit Appender(LogCapture* owner) : owner_(owner) {}
    ~Appender() override { destructorImpl(); }
    void close() override {}

   protected:
    void append(const log4cplus::spi::InternalLoggingEvent& event) override {
      std::lock_guard<std::mutex> guard(owner_->mutex_);
      owner_->lines_.push_back({event.getLogLevel(), event.getMessage()});
    }

   private:
    LogCapture* owner_;
  };

  mutable std::mutex mutex_;
  std::vector<Line> lines_;  // guarded by mutex_
  log4cplus::SharedAppenderPtr appender_;
  log4cplus::Logger logger_;
  log4cplus::LogLevel savedLevel_ = log4cplus::NOT_SET_LOG_LEVEL;
};
