#pragma once

#include "sim/RawClient.h"
#include "support/Loopback.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace simtest {

// Default sizes of the generated data sets, in data id order.
const size_t kDefaultSizes[] = {1200, 5000, 40, 16};
const char* const kSetNames[] = {"UserManagerConfig", "ConfigManager", "DayLightConfig",
                                 "SystemTimeConfig"};

// A type-1 frame: the restore request and the backup reply have the same form.
inline std::string dataFrame(int id, const std::string& data) {
    std::string frame = fromHex("01 01") + static_cast<char>(id);
    for (int i = 0; i < 4; ++i) {
        frame.push_back(static_cast<char>((data.size() >> (8 * i)) & 0xFF));
    }
    return frame + data;
}

// Starts the simulator binary on this test process's own loopback address.
class SimFixture : public ::testing::Test {
protected:
    void startSim(const std::vector<std::string>& args = {}) {
        m_address = testsupport::reserveLoopbackAddress();
        ASSERT_FALSE(m_address.empty()) << "no free loopback address";
        ASSERT_TRUE(m_sim.start(m_address, args, m_state.path())) << m_sim.stderrText();
    }

    // A simulator that crashed, or that a sanitizer flagged, fails the test here.
    void TearDown() override {
        if (m_sim.process().running()) {
            EXPECT_EQ(m_sim.stop(), std::optional<int>(0)) << m_sim.stderrText();
        }
    }

    // A new client connection; the simulator serves one at a time.
    void connect(RawClient* client) { ASSERT_TRUE(client->connect(m_address)); }

    // Sends a request and collects up to `count` reply bytes within 1 s.
    std::string exchange(RawClient* client, const std::string& requestHex, size_t count) {
        EXPECT_TRUE(client->send(fromHex(requestHex)));
        return client->receive(count, 1000);
    }

    // Whether the simulator is still alive, as a test of not crashing.
    bool simAlive() { return !m_sim.process().waitExit(0).has_value(); }

    testsupport::TempDir m_state;
    testsupport::SimProcess m_sim;
    std::string m_address;
};

} // namespace simtest
