// Login sessions of the simulated service and the ids it hands out. The table keeps at most
// `limit` sessions; opening one more forgets the oldest, so a client that never logs out
// cannot grow it without bound. Used on the io thread only.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

namespace facesim {

// A new id, unique within the process and unlikely to repeat across runs: 16 random hex
// digits and a 16-digit counter.
std::string NewUniqueId();

class SessionTable {
 public:
  explicit SessionTable(std::size_t limit = 10000) : limit_(limit) {}

  std::string Open();
  bool Contains(const std::string& id) const;
  // False when the id was not open.
  bool Close(const std::string& id);

 private:
  const std::size_t limit_;
  std::deque<std::string> open_;  // oldest first
};

}  // namespace facesim
