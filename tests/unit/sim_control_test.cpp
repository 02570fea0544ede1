// The simulator's control language: what it accepts, and the clear errors for what it does not.
#include <gtest/gtest.h>

#include "SimControl.h"
#include "SimModule.h"
#include "SimTransport.h"

using namespace halcyonix_sim;

namespace {

struct ControlCase {
    const char* line;
    const char* answerStart;
};

void PrintTo(const ControlCase& c, std::ostream* out)
{
    *out << c.line;
}

class SimControlLanguage : public ::testing::TestWithParam<ControlCase> {
protected:
    SimModule module;
    SimSerialTransport transport{module};
    SimControl control{module, transport};
};

TEST_P(SimControlLanguage, Answers)
{
    std::string answer = control.execute(GetParam().line);
    EXPECT_EQ(answer.rfind(GetParam().answerStart, 0), 0u) << answer;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SimControlLanguage,
    ::testing::Values(ControlCase{"routes", "ok"}, ControlCase{"syncs", "ok 0"},
                      ControlCase{"heartbeats", "ok sent=0 answered=0 wrong=0"},
                      ControlCase{"address 6", "ok"}, ControlCase{"address 7", "error"},
                      ControlCase{"address 0", "error"}, ControlCase{"address x", "error"},
                      ControlCase{"heartbeat", "error"}, ControlCase{"beat 2", "error"},
                      ControlCase{"alternate 8 3", "ok"}, ControlCase{"alternate 9 3", "error"},
                      ControlCase{"send 02 01 05", "ok"}, ControlCase{"send 02 02 05", "error"},
                      ControlCase{"send 0", "error"}, ControlCase{"fault drop 3", "ok"},
                      ControlCase{"fault drop", "error"}, ControlCase{"fault stray zz", "error"},
                      ControlCase{"fault silence maybe", "error"},
                      // a pseudo-terminal can neither hang up nor refuse
                      ControlCase{"fault disconnect", "error"}, ControlCase{"fault refuse on", "error"},
                      ControlCase{"fault sideways", "error"}, ControlCase{"dance", "error"},
                      ControlCase{"status", "ok serial=40F5849A model=4 address=2 heartbeat=0 serial /dev/"}));

TEST(SimControlRecords, ReceivedPacketsAndClear)
{
    SimModule module;
    SimSerialTransport transport{module};
    SimControl control{module, transport};
    module.receive(SimPacket{0xAD, {}});
    module.receive(SimPacket{0xAF, {1}});
    EXPECT_EQ(control.execute("received"), "ok AD00 AF0101");
    EXPECT_EQ(control.execute("routes"), "ok 1");
    EXPECT_EQ(control.execute("syncs"), "ok 1");
    EXPECT_EQ(control.execute("clear"), "ok");
    EXPECT_EQ(control.execute("received"), "ok");
}

}  // namespace
