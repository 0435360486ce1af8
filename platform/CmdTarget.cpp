#include "platform/CmdTarget.h"

long CCmdTarget::ExternalAddRef() { return refCount_.fetch_add(1, std::memory_order_relaxed) + 1; }

long CCmdTarget::ExternalRelease() {
  // acq_rel: the final release must see every write made by the other holders.
  const long count = refCount_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (count == 0) OnFinalRelease();
  return count;
}

void CCmdTarget::OnFinalRelease() { delete this; }
