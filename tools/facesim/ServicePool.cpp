#include "tools/facesim/ServicePool.h"

namespace facesim {

ServicePool::Slot& ServicePool::Slot::operator=(Slot&& other) noexcept {
  if (this != &other) {
    Release();
    pool_ = std::move(other.pool_);
  }
  return *this;
}

void ServicePool::Slot::Release() {
  if (pool_) std::exchange(pool_, nullptr)->GiveBack();
}

bool ServicePool::Acquire(std::function<void(Slot)> granted) {
  if (!limited_) {
    granted(Slot());
    return false;
  }
  if (free_ > 0 && waiting_.empty()) {
    --free_;
    granted(Slot(shared_from_this()));
    return false;
  }
  waiting_.push_back(std::move(granted));
  return true;
}

void ServicePool::GiveBack() {
  if (closed_) return;
  if (waiting_.empty()) {
    ++free_;
    return;
  }
  // Posted: a slot is often given back inside a session's handler or destructor.
  boost::asio::post(io_, [granted = std::move(waiting_.front()), slot = Slot(shared_from_this())]() mutable {
    granted(std::move(slot));
  });
  waiting_.pop_front();
}

void ServicePool::Close() {
  closed_ = true;
  waiting_.clear();
}

}  // namespace facesim
