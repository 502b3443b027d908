// Machines and checks shared by the discovery tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "discovery/wmi.h"
#include "platform/winconst.h"
#include "support/sim_fixture.h"

namespace pbaloader::testing {

// Nothing left open (handles, device information sets, COM references, COM
// itself) and nothing printed.
inline void expectTidy(SimMachine& m) {
  EXPECT_EQ(m->files.openHandleCount(), 0u);
  EXPECT_EQ(m->setup.state().openSets, 0);
  EXPECT_EQ(m->management.liveReferences(), 0u);
  EXPECT_EQ(m->management.state().initCount, m->management.state().baselineInitCount);
  EXPECT_EQ(m.output(), "");
}

// The first Win32_DiskDrive of a machine whose one disk carries these overrides.
struct OneDrive {
  explicit OneDrive(const sim::Json& management)
      : machine(sim::Json{{"disks", {{{"number", 3}, {"management", management}}}}}),
        session(WmiSession::open(u"ROOT\\CIMV2")),
        query(*session, u"SELECT * FROM Win32_DiskDrive"),
        object(query.next(win::WbemInfinite)) {}
  SimMachine machine;
  std::unique_ptr<WmiSession> session;
  WmiQuery query;
  WmiObject* object;
};

}  // namespace pbaloader::testing
