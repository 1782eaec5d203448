#pragma once

#include <string>

namespace testsupport {

// A loopback address 127.0.0.N (N in 2..250) that no other test process
// holds at the same time, so parallel tests can all use the device's fixed
// ports. The reservation is an flock on /tmp/tursa-test-127.0.0.N.lock that
// lasts as long as this process (the kernel drops it when the process
// ends); every call in one process with the same index returns the same
// address, and a test that plays two sites asks for index 1 too. Returns an
// empty string when every address is taken.
std::string reserveLoopbackAddress(unsigned index = 0);

} // namespace testsupport
