// The socket client with a dial-up component linked, over the remote-access stand-in: the
// link is up before the socket opens, and what the component dialled goes down on Close.
#include <gtest/gtest.h>

#include <QDeadlineTimer>

#include <functional>
#include <string>
#include <vector>

#include "net/nkRasCmp.h"
#include "net/nksocket.h"
#include "platform/rasapi.h"
#include "support/recording_msgbox.h"
#include "support/scripted_server.h"
#include "toolkit/pump.h"

namespace {

// A socket client linked to a dial-up component for the entry "Office", recording in one list
// what both report, in order.
class RasLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RasStandIn::Register();
    RasStandIn::AddEntry({.name = "Office"});
    events.clear();
    ras_ = std::make_unique<TnkRas>();
    ras_->SetService("Office");
    ras_->OnStatusChange = [this](TComponent*, const std::string&) { events.push_back("dial step"); };
    ras_->OnDisconnected = [this](TComponent*) { events.push_back("hung up"); };
    socket.SetWinsockLoaded(true);
    socket.SetTimeOut(10);
    socket.SetServer(server.Address());
    socket.SetRAS(ras_.get());
    socket.OnOpen = [this](TComponent*) { events.push_back(ras_->Connected() ? "open, link up" : "open, link down"); };
    socket.OnClosed = [this](TComponent*) { events.push_back("closed"); };
  }
  void TearDown() override { RasStandIn::Unregister(); }

  // Open and ConnectSocket; "" or the text of the dial-up error raised.
  std::string OpenAndConnect() {
    try {
      socket.Open();
      socket.ConnectSocket();
    } catch (const ERASError& e) {
      return e.what();
    }
    return "";
  }

  RecordingMessageBoxes boxes;
  ScriptedServer server{"S: 220 ready"};
  std::unique_ptr<TnkRas> ras_;
  TnkSocket socket;
  std::vector<std::string> events;
};

TEST_F(RasLinkTest, OpenDialsFirstAndCloseHangsUpWhatWasDialled) {
  const struct {
    const char* name;
    std::function<void()> arrange;
    std::string raised;
    std::vector<std::string> events;  // from Open to Close
    bool dialled;
  } rows[] = {
      {"a dial comes up before the socket opens and goes down after it closes",
       [] {
         RasStandIn::SetDialPlan({.steps = {{RASCS_OpenPort}, {RASCS_Connected}}});
       },
       "",
       {"dial step", "dial step", "open, link up", "closed", "hung up"},
       true},
      {"a connection that is up already is used and left up",
       [] { RasStandIn::AddConnection({.entry = "Office"}); },
       "",
       {"open, link up", "closed"},
       false},
      {"a failing dial stops Open before anything of the socket",
       [] {
         RasStandIn::SetDialPlan({.steps = {{RASCS_OpenPort}, {RASCS_ConnectDevice, 676}}});
       },
       "The line is busy.",
       {"dial step", "dial step", "hung up"},
       true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    row.arrange();
    EXPECT_EQ(OpenAndConnect(), row.raised);
    EXPECT_EQ(socket.Connected(), row.raised.empty());
    socket.Close();
    EXPECT_EQ(events, row.events);
    const auto dials = RasStandIn::Dials();
    EXPECT_EQ(dials.size(), row.dialled ? 1u : 0u);
    EXPECT_EQ(RasStandIn::HungUp(), row.dialled ? std::vector<HRASCONN>{dials[0].handle} : std::vector<HRASCONN>{});
  }
}

// An error the system reports after the link came up arrives during a wait of the socket
// client; it reaches the caller from the client's next Open, and the Open after that dials anew.
TEST_F(RasLinkTest, ErrorAfterTheLinkCameUpIsRaisedByTheNextOpen) {
  RasStandIn::SetDialPlan({.steps = {{RASCS_Connected}}});
  ASSERT_EQ(OpenAndConnect(), "");
  PostMessage(RasStandIn::Dials()[0].window, RegisterWindowMessage(kRasDialEventName), RASCS_Disconnected, 629);
  const QDeadlineTimer bound(3000);
  while (ras_->LastError() != 629 && !bound.hasExpired()) WaitForEvents(10);
  socket.Close();  // hangs up; keeps the error for the caller
  EXPECT_EQ(RasStandIn::HungUp().size(), 1u);

  EXPECT_EQ(OpenAndConnect(), "The connection was closed by the remote computer.");
  EXPECT_FALSE(socket.Connected());
  EXPECT_EQ(OpenAndConnect(), "");
  EXPECT_EQ(RasStandIn::Dials().size(), 2u);
  socket.Close();
}

}  // namespace
