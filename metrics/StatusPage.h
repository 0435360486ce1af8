// The status page: the site's metrics as one JSON document for a person or a script (and for
// `vestrel-check --live`), with the figures of the last hour and the last 5 minutes and the
// last error of each component. Any thread; it reads the metrics without stopping the counting.
#pragma once

#include <string>

namespace metrics {

class SiteMetrics;

std::string StatusJson(const SiteMetrics& site);

}  // namespace metrics
