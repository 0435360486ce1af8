#include "tools/check/LiveCheck.h"

#include <gtest/gtest.h>

namespace {

// A status page with one device, a spool of at most 10 entries and the face answers of the
// last 5 minutes.
std::string Status(bool online, int spooled, int recent, int unanswered) {
  return std::string("{\"version\":\"1.0\",\"start_time\":1,\"devices\":[") +
         "{\"device\":\"10.0.0.2:8000\",\"pos\":\"1\",\"online\":" + (online ? "true" : "false") +
         ",\"since\":1,\"alarms\":0}]," +
         "\"events\":{\"spool_limit_entries\":10,\"spool_entries\":" + std::to_string(spooled) +
         "},\"face\":{" +
         "\"requests_last_5_minutes\":" + std::to_string(recent) +
         ",\"unanswered_last_5_minutes\":" + std::to_string(unanswered) + "}}";
}

TEST(LiveCheckTest, OfflineDeviceNearlyFullSpoolAndMostlyUnansweredAreProblems) {
  const struct {
    std::string status;
    std::size_t problems;
  } rows[] = {
      {Status(true, 0, 0, 0), 0},   {Status(true, 0, 10, 5), 0},
      {Status(false, 0, 0, 0), 1},  {Status(true, 9, 0, 0), 1},
      {Status(true, 8, 0, 0), 0},   {Status(true, 0, 10, 6), 1},
      {Status(false, 9, 3, 2), 3},
      {"{\"version\":\"1.0\"}", 1}, {"not json", 1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ReadLiveStatus(row.status).problems.size(), row.problems) << row.status;
  }
}

}  // namespace
