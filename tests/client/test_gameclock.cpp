// The clock of real runs over the engine's own timer.
#include "ClientTestSupport.h"

#include "client/gameclock.h"

#include <gtest/gtest.h>

using clienttest::ScopedDevice;

TEST(EngineClock, ReadsTheDeviceTimerRestartsItsVirtualTimeAndSleeps) {
    ScopedDevice device(irr::video::EDT_NULL);
    ASSERT_NE(device.get(), nullptr);
    irr::ITimer* timer = device.get()->getTimer();
    const irr::s32 references = timer->getReferenceCount();
    {
        EngineClock clock(timer);
        EXPECT_EQ(timer->getReferenceCount(), references + 1);

        const uint32_t before = timer->getRealTime();
        const uint32_t reading = clock.getRealTime();
        const uint32_t after = timer->getRealTime();
        EXPECT_LE(reading - before, after - before);  // unsigned: holds across the wrap

        clock.restartTime();
        EXPECT_EQ(clock.getTime(), 0u);
        EXPECT_FALSE(timer->isStopped());
        clock.sleep(5);
        EXPECT_GE(clock.getRealTime() - reading, 5u);
        device.get()->run();  // the device moves its virtual time on
        EXPECT_GE(clock.getTime(), 5u);
        EXPECT_EQ(clock.getTime(), timer->getTime());
    }
    EXPECT_EQ(timer->getReferenceCount(), references);
}
