// The dial-up component against the remote-access stand-in: phonebook and connection table
// filled per case, dials that run through posted RASDIALEVENT notices.
#include "net/nkRasCmp.h"

#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/nkutils.h"
#include "platform/modules.h"
#include "platform/rasapi.h"
#include "support/recording_msgbox.h"
#include "toolkit/componentstream.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"

namespace {

using RasStandIn::DialPlan;
using RasStandIn::DialStep;

// Pumps until done() or the bound passes; the bound only keeps a broken case from hanging.
bool PumpUntil(const std::function<bool()>& done, int boundMs = 3000) {
  const QDeadlineTimer deadline(boundMs);
  while (!done() && !deadline.hasExpired()) WaitForEvents(10);
  return done();
}

DialPlan Plan(std::vector<DialStep> steps) {
  DialPlan plan;
  plan.steps = std::move(steps);
  return plan;
}

class RasTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RasStandIn::Register();
    RasStandIn::AddEntry({.name = "Office"});
  }
  void TearDown() override { RasStandIn::Unregister(); }

  // A component with Service set and OnDisconnected counted.
  std::unique_ptr<TnkRas> Make(const std::string& service = "Office") {
    auto ras = std::make_unique<TnkRas>();
    ras->SetService(service);
    ras->OnDisconnected = [this](TComponent*) { ++disconnected; };
    return ras;
  }

  RecordingMessageBoxes boxes;
  int disconnected = 0;
};

TEST_F(RasTest, ServiceSetter) {
  struct Row {
    const char* name;
    bool registered;
    std::vector<std::string> entries;
    bool connect;
    std::string value;
    StringId box;  // 0: no box
    std::string service;
  };
  const Row rows[] = {
      {"no library", false, {}, false, "Office", sRasNotDetected, ""},
      {"library without entries", true, {}, false, "Office", sRasNotDetected, ""},
      {"other letter case is accepted", true, {"Office"}, false, "oFFICE", StringId(0), "oFFICE"},
      {"unknown name clears", true, {"Office", "Home"}, false, "Work", sRasInvalidService, ""},
      {"connected keeps the old value", true, {"Office", "Home"}, true, "Home", sRasSetBeforeConnect, "Office"},
      {"empty name clears even when connected", true, {"Office"}, true, "", StringId(0), ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RasStandIn::Register();
    for (const std::string& e : row.entries) RasStandIn::AddEntry({.name = e});
    if (!row.registered) RasStandIn::Unregister();
    TnkRas ras;
    ras.SetService("Office");
    if (row.connect) ras.Connect();
    boxes.boxes.clear();
    ras.SetService(row.value);
    EXPECT_EQ(ras.Service(), row.service);
    if (row.box == 0) {
      EXPECT_TRUE(boxes.boxes.empty());
    } else {
      ASSERT_EQ(boxes.boxes.size(), 1u);
      EXPECT_EQ(boxes.boxes[0].text, LoadStr(row.box));
      EXPECT_EQ(boxes.boxes[0].icon, TMsgIcon::Error);
    }
  }
}

TEST_F(RasTest, WithoutLibrary) {
  RasStandIn::Unregister();
  TnkRas ras;
  EXPECT_FALSE(ras.RasAvailable());
  // The setter runs when a form is loaded, so the box comes up at load time.
  ComponentFromText("object Ras1: TnkRas\n  Service = \"Office\"\nend\n", ras);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "TnkRas component was unable to detect\rRAS on your system.");
  EXPECT_EQ(ras.Service(), "");
  // No Service: nothing to dial, and the network counts as reachable.
  ras.Connect();
  EXPECT_TRUE(ras.Connected());
  ras.HangUp();
  EXPECT_EQ(ras.StatusText(RASCS_Connected), "");
}

TEST_F(RasTest, PublishedPropertiesRoundTrip) {
  auto ras = Make();
  ras->SetName("Ras1");
  ras->SetForceService(false);
  ras->SetMinimizeAtConnect(true);
  ras->SetPassword("pw");
  ras->SetRemovePassword(false);
  ras->SetTimeOut(30);
  const std::string text = ComponentToText(*ras);
  EXPECT_EQ(text,
            "object Ras1: TnkRas\n  Service = \"Office\"\n  ForceService = False\n  MinimizeAtConnect = True\n"
            "  Password = \"pw\"\n  RemovePassword = False\n  TimeOut = 30\nend\n");
  TnkRas copy;
  ComponentFromText(text, copy);
  EXPECT_EQ(ComponentToText(copy), text);
  EXPECT_EQ(ComponentToText(TnkRas()), "object : TnkRas\nend\n");  // defaults are not stored
}

TEST_F(RasTest, ExistingConnections) {
  struct Row {
    const char* name;
    std::string service;
    bool forceService;
    std::vector<RasStandIn::Connection> up;
    int adopted;  // index into up; -1: dials
  };
  const Row rows[] = {
      {"connection of the service is adopted", "Office", true, {{"Home", "10.1.1.4"}, {"Office", ""}}, 1},
      {"active entry names compare letter case", "office", true, {{"Office", "10.1.1.4"}}, -1},
      {"any connection with an IP without ForceService", "Office", false, {{"Home", ""}, {"Work", "10.1.1.5"}}, 1},
      {"a connection without IP is not adopted", "Office", false, {{"Home", ""}}, -1},
      {"ForceService ignores other connections", "Office", true, {{"Work", "10.1.1.5"}}, -1},
      {"no Service never dials", "", true, {}, -2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    disconnected = 0;
    std::vector<HRASCONN> handles;
    for (const auto& c : row.up) handles.push_back(RasStandIn::AddConnection(c));
    auto ras = Make(row.service);
    ras->SetForceService(row.forceService);
    ras->Connect();
    EXPECT_TRUE(ras->Connected());
    const bool dialled = row.adopted == -1;
    EXPECT_EQ(RasStandIn::Dials().size(), dialled ? 1u : 0u);
    if (row.adopted >= 0) {
      EXPECT_EQ(ras->ConnectionHandle(), handles[static_cast<size_t>(row.adopted)]);
    }
    ras->HangUp();
    EXPECT_FALSE(ras->Connected());
    // Only what the component dialled is hung up; an adopted connection stays up.
    EXPECT_EQ(RasStandIn::HungUp().size(), dialled ? 1u : 0u);
    EXPECT_EQ(disconnected, dialled ? 1 : 0);
    EXPECT_EQ(RasStandIn::Connections().size(), row.up.size());
  }
}

TEST_F(RasTest, Passwords) {
  struct Row {
    const char* name;
    RasStandIn::Entry entry;
    bool removePassword;
    std::string dialled;
    bool savedAfter;
  };
  const Row rows[] = {
      {"saved password wins over Password", {.name = "Office", .passwordSaved = true, .password = "secret"}, true, "secret", true},
      {"Password used and not kept", {.name = "Office"}, true, "typed", false},
      {"Password used and kept", {.name = "Office"}, false, "typed", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RasStandIn::Register();
    RasStandIn::AddEntry(row.entry);
    auto ras = Make();
    ras->SetPassword("typed");
    ras->SetRemovePassword(row.removePassword);
    ras->Connect();
    ASSERT_EQ(RasStandIn::Dials().size(), 1u);
    EXPECT_EQ(RasStandIn::Dials()[0].entry, "Office");
    EXPECT_EQ(RasStandIn::Dials()[0].password, row.dialled);
    const RasStandIn::Entry after = RasStandIn::FindEntry("Office");
    EXPECT_EQ(after.passwordSaved, row.savedAfter);
    EXPECT_EQ(after.password, row.savedAfter ? row.dialled : "");
  }
}

TEST_F(RasTest, FailingDialIsHungUpBeforeTheError) {
  DialPlan refused = Plan({});
  refused.dialResult = 676;
  const struct {
    const char* name;
    DialPlan plan;
    uint32_t error;
    const char* text;
  } rows[] = {
      {"error reported while dialling", Plan({{RASCS_OpenPort}, {RASCS_ConnectDevice, 678}}), 678, "There is no answer."},
      {"dial refused at once", refused, 676, "The line is busy."},
      {"entry gone from the phonebook", Plan({}), ERROR_CANNOT_FIND_PHONEBOOK_ENTRY, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    disconnected = 0;
    RasStandIn::SetDialPlan(row.plan);
    auto ras = Make();
    if (row.text == nullptr) RasStandIn::RemoveEntry("Office");
    std::vector<std::string> order;
    ras->OnDisconnected = [&](TComponent* sender) {
      EXPECT_EQ(sender, ras.get());
      order.push_back("disconnected");
    };
    try {
      ras->Connect();
      ADD_FAILURE() << "no error";
    } catch (const ERASError& e) {
      order.push_back(e.what());
    }
    EXPECT_EQ(ras->LastError(), row.error);
    EXPECT_FALSE(ras->Connected());
    EXPECT_EQ(ras->ConnectionHandle(), TnkRas::kNoConnection);
    if (row.text == nullptr) {
      EXPECT_TRUE(RasStandIn::Dials().empty());
      EXPECT_EQ(order.size(), 1u);
      continue;
    }
    EXPECT_EQ(order, (std::vector<std::string>{"disconnected", row.text}));
    EXPECT_EQ(RasStandIn::HungUp(), std::vector<HRASCONN>{RasStandIn::Dials()[0].handle});
    // The socket client cancels on every Close: the dial is not hung up or reported twice.
    ras->Cancel();
    EXPECT_EQ(order.size(), 2u);
    EXPECT_EQ(RasStandIn::HungUp().size(), 1u);
  }
}

TEST_F(RasTest, StatusTextsReachOnStatusChange) {
  const std::vector<std::pair<uint32_t, std::string>> states = {
      {RASCS_OpenPort, "Opening port..."},
      {RASCS_PortOpened, ""},
      {RASCS_ConnectDevice, "Connecting device..."},
      {RASCS_DeviceConnected, "Connecting device..."},
      {RASCS_AllDevicesConnected, "Connecting device..."},
      {RASCS_Authenticate, "Verifying user name and password..."},
      {RASCS_Authenticated, "Authenticated"},
      {RASCS_StartAuthentication, "Verifying user name and password..."},
      {RASCS_LogonNetwork, "Registering your computer on the network..."},
      {RASCS_Connected, "Connected"},
  };
  std::vector<DialStep> steps;
  for (const auto& s : states) steps.push_back({s.first});
  RasStandIn::SetDialPlan(Plan(steps));
  auto ras = Make();
  std::vector<std::string> texts;
  bool connectedAtLastCall = true;
  ras->OnStatusChange = [&](TComponent* sender, const std::string& text) {
    EXPECT_EQ(sender, ras.get());
    texts.push_back(text);
    connectedAtLastCall = ras->Connected();
  };
  ras->Connect();
  EXPECT_TRUE(ras->Connected());
  EXPECT_TRUE(ras->OwnConnection());
  ASSERT_EQ(texts.size(), states.size());
  for (size_t i = 0; i < states.size(); ++i) EXPECT_EQ(texts[i], states[i].second) << "state " << states[i].first;
  EXPECT_FALSE(connectedAtLastCall);  // told of "connected" before Connected changes
}

TEST_F(RasTest, CancelFromOnStatusChange) {
  const struct {
    const char* name;
    std::string cancelAt;
  } rows[] = {
      {"while the port opens", "Opening port..."},
      {"at the notice of the connection", "Connected"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    disconnected = 0;
    RasStandIn::SetDialPlan(Plan({{RASCS_OpenPort}, {RASCS_Connected, 629}, {RASCS_Authenticated}}));
    auto ras = Make();
    std::vector<std::string> texts;
    ras->OnStatusChange = [&](TComponent*, const std::string& text) {
      texts.push_back(text);
      if (text == row.cancelAt) ras->Cancel();
    };
    try {
      ras->Connect();
      ADD_FAILURE() << "no error";
    } catch (const ECanceledError& e) {
      EXPECT_STREQ(e.what(), "Operation has been canceled");
    }
    EXPECT_FALSE(ras->Connected());
    EXPECT_EQ(ras->LastError(), 0u);  // the cancelled dial's news is not taken up
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(RasStandIn::HungUp(), std::vector<HRASCONN>{RasStandIn::Dials()[0].handle});
    SleepProcessing(30);  // the plan's later steps would have been posted by now
    EXPECT_EQ(texts.back(), row.cancelAt);
  }
}

TEST_F(RasTest, TimeOutLeavesTheDialRunning) {
  RasStandIn::SetDialPlan(Plan({{RASCS_OpenPort}}));
  auto ras = Make();
  ras->SetTimeOut(1);
  EXPECT_THROW(ras->Connect(), ETimedOutError);
  EXPECT_FALSE(ras->Connected());
  EXPECT_TRUE(RasStandIn::HungUp().empty());
  // A late notice of the connection still counts.
  const RasStandIn::DialRecord dial = RasStandIn::Dials()[0];
  PostMessage(dial.window, RegisterWindowMessage(kRasDialEventName), RASCS_Connected, 0);
  EXPECT_TRUE(PumpUntil([&] { return ras->Connected(); }));
  // Connecting again keeps that connection instead of dialling over it.
  ras->Connect();
  EXPECT_EQ(RasStandIn::Dials().size(), 1u);
  ras->HangUp();
  EXPECT_EQ(RasStandIn::HungUp(), std::vector<HRASCONN>{dial.handle});
  EXPECT_EQ(disconnected, 1);
}

TEST_F(RasTest, ConnectAfterTimeOutHangsUpTheStaleDial) {
  RasStandIn::SetDialPlan(Plan({{RASCS_OpenPort}}));
  auto ras = Make();
  ras->SetTimeOut(0);
  EXPECT_THROW(ras->Connect(), ETimedOutError);
  RasStandIn::SetDialPlan(Plan({{RASCS_Connected}}));
  ras->Connect();
  ASSERT_EQ(RasStandIn::Dials().size(), 2u);
  EXPECT_EQ(RasStandIn::HungUp(), std::vector<HRASCONN>{RasStandIn::Dials()[0].handle});
  EXPECT_TRUE(ras->Connected());
  EXPECT_EQ(ras->ConnectionHandle(), RasStandIn::Dials()[1].handle);
}

TEST_F(RasTest, ArraysOfTheStatedSize) {
  for (const int n : {25, 26}) {
    SCOPED_TRACE(std::to_string(n) + " phonebook entries");
    RasStandIn::Register();
    for (int i = 0; i < n; ++i) RasStandIn::AddEntry({.name = "Entry" + std::to_string(i)});
    TnkRas ras;
    EXPECT_EQ(ras.Entries().Count(), n == 25 ? 25 : 0);
    EXPECT_EQ(ras.LastError(), n == 25 ? 0u : ERROR_BUFFER_TOO_SMALL);
    if (n == 25) {
      EXPECT_EQ(ras.Entries()[24], "Entry24");
    }
  }
  for (const int n : {10, 11}) {
    SCOPED_TRACE(std::to_string(n) + " active connections");
    SetUp();
    auto ras = Make();
    HRASCONN last = 0;
    for (int i = 0; i < n; ++i) last = RasStandIn::AddConnection({.entry = i == 9 ? "Office" : "Other"});
    if (n == 10) {
      ras->Connect();
      EXPECT_EQ(ras->ConnectionHandle(), last);
      EXPECT_TRUE(RasStandIn::Dials().empty());
      continue;
    }
    try {
      ras->Connect();
      ADD_FAILURE() << "no error";
    } catch (const ERASError& e) {
      EXPECT_STREQ(e.what(), "The buffer is too small.");
    }
    EXPECT_EQ(ras->LastError(), ERROR_BUFFER_TOO_SMALL);
    EXPECT_FALSE(ras->Connected());
  }
}

TEST_F(RasTest, ErrorTexts) {
  const struct {
    const char* name;
    bool registered;
    bool exportHidden;
    uint32_t error;
    const char* text;
  } rows[] = {
      {"the library's text", true, false, 678, "There is no answer."},
      {"a number the library has no text for", true, false, 4242, "RAS error no 4242"},
      {"export hidden", true, true, 678, "RAS error no 678"},
      {"library missing", false, false, 678, "RAS error no 678"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    RasStandIn::Register();
    HideExport(kRasModuleName, "RasGetErrorStringA", row.exportHidden);
    if (!row.registered) RasStandIn::Unregister();
    EXPECT_STREQ(ERASError(row.error).what(), row.text);
    EXPECT_EQ(ModuleLoadCount(kRasModuleName), 0);  // its own handle is released again
  }
}

TEST_F(RasTest, ErrorAfterConnectingIsRaisedLater) {
  const struct {
    const char* name;
    std::function<void(TnkRas&)> meet;  // the first call after the error arrived
    bool raises;
  } rows[] = {
      {"by Connect", [](TnkRas& r) { r.Connect(); }, true},
      {"by HangUp", [](TnkRas& r) { r.HangUp(); }, true},
      {"not by Cancel, then by Connect", [](TnkRas& r) { r.Cancel(); }, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    disconnected = 0;
    RasStandIn::SetDialPlan(Plan({{RASCS_OpenPort}, {RASCS_Connected}}));
    auto ras = Make();
    ras->Connect();
    PostMessage(RasStandIn::Dials()[0].window, RegisterWindowMessage(kRasDialEventName), RASCS_Disconnected, 629);
    ASSERT_TRUE(PumpUntil([&] { return ras->LastError() == 629; }));
    EXPECT_TRUE(ras->Connected());  // nothing was raised inside the event dispatch
    const HRASCONN handle = ras->ConnectionHandle();
    if (row.raises) {
      EXPECT_THROW(row.meet(*ras), ERASError);
    } else {
      row.meet(*ras);
      EXPECT_THROW(ras->Connect(), ERASError);
    }
    EXPECT_FALSE(ras->Connected());
    EXPECT_EQ(RasStandIn::HungUp(), std::vector<HRASCONN>{handle});
    EXPECT_EQ(disconnected, 1);
    // Raised once: the next Connect dials afresh.
    RasStandIn::SetDialPlan(Plan({{RASCS_Connected}}));
    ras->Connect();
    EXPECT_TRUE(ras->Connected());
    EXPECT_EQ(RasStandIn::Dials().size(), 2u);
  }
}

TEST_F(RasTest, MissingExportsMakeOperationsNoOps) {
  const struct {
    const char* exportName;
    std::function<void(TnkRas&)> check;
  } rows[] = {
      {"RasEnumEntriesA", [](TnkRas& r) { EXPECT_TRUE(r.RefreshEntries().Empty()); }},
      {"RasDialA",
       [](TnkRas& r) {
         r.Connect();
         EXPECT_FALSE(r.Connected());
         EXPECT_TRUE(RasStandIn::Dials().empty());
       }},
      {"RasGetEntryDialParamsA",
       [](TnkRas& r) {
         r.Connect();
         EXPECT_FALSE(r.Connected());
       }},
      {"RasEnumConnectionsA",
       [](TnkRas& r) {
         RasStandIn::AddConnection({.entry = "Office"});
         r.Connect();
         EXPECT_EQ(RasStandIn::Dials().size(), 1u);
       }},
      {"RasGetProjectionInfoA",
       [](TnkRas& r) {
         RasStandIn::AddConnection({"Home", "10.1.1.4"});
         r.SetForceService(false);
         r.Connect();
         EXPECT_EQ(RasStandIn::Dials().size(), 1u);
       }},
      {"RasHangUpA",
       [](TnkRas& r) {
         r.Connect();
         r.HangUp();
         EXPECT_TRUE(r.Connected());
         EXPECT_TRUE(RasStandIn::HungUp().empty());
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.exportName);
    SetUp();
    auto ras = Make();
    HideExport(kRasModuleName, row.exportName, true);
    row.check(*ras);
  }
}

TEST_F(RasTest, MinimizeAtConnect) {
  std::vector<std::pair<UINT, WPARAM>> received;
  const HWND dialog = AllocateHWnd(
      [&](HWND, UINT message, WPARAM wParam, LPARAM) {
        received.emplace_back(message, wParam);
        return LRESULT(0);
      },
      "#32770");
  for (const bool minimize : {false, true}) {
    SCOPED_TRACE(minimize ? "minimize" : "leave");
    SetUp();
    received.clear();
    auto ras = Make();
    ras->SetMinimizeAtConnect(minimize);
    ras->Connect();
    const std::vector<std::pair<UINT, WPARAM>> expected = {{WM_SYSCOMMAND, SC_MINIMIZE}};
    EXPECT_EQ(received, minimize ? expected : decltype(expected){});
  }
  DeallocateHWnd(dialog);
}

TEST_F(RasTest, DestructionLeavesTheConnectionUp) {
  {
    auto ras = Make();
    ras->Connect();
  }
  EXPECT_TRUE(RasStandIn::HungUp().empty());
  EXPECT_EQ(RasStandIn::Connections().size(), 1u);
  EXPECT_EQ(ModuleLoadCount(kRasModuleName), 0);
}

}  // namespace
