#include "device/HikNetImpl.h"

#include "device/HikNetDevice.h"

CHikNetImpl::CHikNetImpl(CHikNetDevice* device) : device(device) {
  if (device != nullptr) device->AddListener(&CHikNetImpl::StatusCallback, this);
}

CHikNetImpl::~CHikNetImpl() {
  if (device != nullptr) device->RemoveListener(&CHikNetImpl::StatusCallback, this);
}

int CHikNetImpl::Open() { return 0; }

int CHikNetImpl::Close() { return 0; }

int CHikNetImpl::Control(int32_t, int32_t, int32_t) { return 0; }

int CHikNetImpl::Query(int32_t, int32_t, int32_t) { return 0; }

void CHikNetImpl::OnHeartbeat() {}

void CHikNetImpl::OnStatusChanged(int state) { status = state; }

void CHikNetImpl::StatusCallback(int state, void* user) {
  static_cast<CHikNetImpl*>(user)->OnStatusChanged(state);
}
