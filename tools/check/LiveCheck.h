// `vestrel-check --live [IP:PORT]`: reads a running site's status page and tells a person how
// the site is doing: each device online or offline and since when, the events of the last hour
// and the backlog, the face service's answers and its streams. One thread runs it.
#pragma once

#include <string>
#include <vector>

// The status page's address in the site's settings (MetricsListen), or 127.0.0.1:9561.
std::string DefaultLiveAddress(const std::string& siteFolder);

struct LiveReport {
  std::vector<std::string> lines;
  std::vector<std::string> problems;  // a device offline, a backlog, most requests unanswered
};

// Builds the report from the status page's text.
LiveReport ReadLiveStatus(const std::string& statusJson);

// Fetches http://address/status, prints the report; 0 when there is no problem, else 1.
int RunLiveCheck(const std::string& address);
