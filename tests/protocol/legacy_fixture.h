// A legacy box on the memory port and the virtual clock, with recorders for the
// progress and cancel callbacks (plain function pointers, hence the statics).
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "link/link.h"
#include "memory_port.h"
#include "scripted_legacy_box.h"
#include "virtual_clock.h"

namespace stb::test {

class LegacyTest : public ::testing::Test {
 protected:
  LegacyTest() : port_(*clock_), box_(*port_, *clock_) {
    stb::SetProtocolVersion(0);
    Progress().clear();
    CancelCalls() = 0;
    CancelAtCall() = -1;
  }
  ~LegacyTest() override { stb::SetProtocolVersion(0); }

  static std::vector<int>& Progress() {
    static std::vector<int> percents;
    return percents;
  }
  static void RecordProgress(int percent) { Progress().push_back(percent); }

  // The cancel query answers 1 from its call number CancelAtCall() on (counting from 0).
  static int& CancelCalls() {
    static int calls = 0;
    return calls;
  }
  static int& CancelAtCall() {
    static int at = -1;
    return at;
  }
  static int CancelQueryAt() {
    const int call = CancelCalls()++;
    return CancelAtCall() >= 0 && call >= CancelAtCall() ? 1 : 0;
  }

  uint32_t Now() { return clock_->NowMs(); }

  ScopedVirtualClock clock_;
  ScopedMemoryPort port_;
  ScriptedLegacyBox box_;
};

}  // namespace stb::test
