#pragma once

#include <string>

namespace testsupport {

// A loopback address 127.0.0.N (N in 2..250) that no other test process
// holds at the same time, so parallel tests can all use the device's fixed
// ports. The reservation is an flock on /tmp/tursa-test-127.0.0.N.lock that
// lasts as long as this process (the kernel drops it when the process
// ends); every call in one process returns the same address. Returns an
// empty string when every address is taken.
std::string reserveLoopbackAddress();

} // namespace testsupport
