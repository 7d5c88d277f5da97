#pragma once
// The fixture of the ad model's tests and of the folders above it: the ad services' device root and hand clock, with
// the calling thread made the main thread before anything else can claim it, and the
// shared device facts cached as the early activities would cache them.

#include "ads/services/device.h"
#include "ads/services/test_support.h"
#include "platform/dispatch/run_loop.h"

namespace model_test {

struct ModelTest : qma_test::DeviceRootTest {
  void SetUp() override {
    dispatch::RunLoop::main();
    DeviceRootTest::SetUp();
    QMADevice::sharedInstance()->cacheStaticParameters();
  }
};

}  // namespace model_test
