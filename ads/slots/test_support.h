#pragma once
// The fixture of this folder's tests: the ad services' device root and hand clock, with
// the calling thread made the main thread before anything else can claim it, and the
// shared device facts cached as the early activities would cache them.

#include "ads/services/device.h"
#include "ads/services/test_support.h"
#include "platform/dispatch/run_loop.h"

namespace slots_test {

struct SlotsTest : qma_test::DeviceRootTest {
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    QMADevice::sharedInstance()->cacheStaticParameters();
  }
};

}  // namespace slots_test
