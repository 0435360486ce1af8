// The simulated service's workers: at most `size` requests are served at once (0: no limit),
// and the others wait their turn in arrival order, as a real service's thread pool makes them.
// A request holds its Slot until its answer is on its way; a Slot given back (or destroyed)
// passes to the oldest waiting request. Io thread only; held by shared_ptr, so that a Slot may
// outlive the server at exit (Close stops the hand-overs then).
#pragma once

#include <boost/asio.hpp>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

namespace facesim {

class ServicePool : public std::enable_shared_from_this<ServicePool> {
 public:
  class Slot {
   public:
    Slot() = default;
    Slot(Slot&& other) noexcept : pool_(std::move(other.pool_)) {}
    Slot& operator=(Slot&& other) noexcept;
    ~Slot() { Release(); }
    void Release();

   private:
    friend class ServicePool;
    explicit Slot(std::shared_ptr<ServicePool> pool) : pool_(std::move(pool)) {}
    std::shared_ptr<ServicePool> pool_;  // empty: no slot held
  };

  ServicePool(boost::asio::io_context& io, int size) : io_(io), free_(size), limited_(size > 0) {}

  // Calls granted with a slot: at once when one is free (returns false), or later, posted,
  // when one is given back (returns true: the request waits its turn).
  bool Acquire(std::function<void(Slot)> granted);
  // No more hand-overs: the waiting requests are forgotten.
  void Close();

 private:
  void GiveBack();

  boost::asio::io_context& io_;
  int free_;
  const bool limited_;
  bool closed_ = false;
  std::deque<std::function<void(Slot)>> waiting_;  // oldest first
};

}  // namespace facesim
