#pragma once
// What the player tests share: the fixture files in tests/data, polling with a
// deadline, and a base for tests that need the private sound server.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

namespace orvex::test {

inline std::string Fixture(const std::string& name) {
  return std::string(ORVEX_TEST_DATA) + "/" + name;
}

// Polls until the condition holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Tests that play sound need the private sound server; without it they fail
// rather than pass silently.
class SoundTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("PULSE_SERVER"), nullptr)
        << "PULSE_SERVER is not set: run the player tests through scripts/test, or start "
           "the null sink with scripts/pulse.sh (orvex_pulse_start)";
  }
};

}  // namespace orvex::test
