// The dial-up component against the remote-access stand-in: phonebook and connection table
// filled per case, dials that run through posted RASDIALEVENT notices.
#include "net/nkRasCmp.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/nkutils.h"
#include "platform/modules.h"
#include "platform/rasapi.h"
#include "support/checks.h"
#include "support/recording_msgbox.h"
#include "toolkit/componentstream.h"
#include "toolkit/pump.h"
#include "toolkit/strtable.h"

namespace {

using RasStandIn::DialPlan;
using Texts = std::vector<std::string>;

// The text of the E the call raises; "no error" when it raises none.
template <typename E>
std::string Raised(const std::function<void()>& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  return "no error";
}

// Posts a notice of the dial as the library would.
void Notify(const RasStandIn::DialRecord& dial, uint32_t state, uint32_t error = 0) {
  PostMessage(dial.window, RegisterWindowMessage(kRasDialEventName), state, error);
}

class RasTest : public ::testing::Test {
 protected:
  // Table rows call it again for a fresh stand-in.
  void SetUp() override {
    RasStandIn::Register();
    RasStandIn::AddEntry({.name = "Office"});
    disconnected = 0;
  }
  void TearDown() override { RasStandIn::Unregister(); }

  // A component with Service set and OnDisconnected counted.
  std::unique_ptr<TnkRas> Make(const std::string& service = "Office") {
    auto ras = std::make_unique<TnkRas>();
    ras->SetService(service);
    ras->OnDisconnected = [this](TComponent*) { ++disconnected; };
    return ras;
  }

  // The texts of the boxes shown so far, each of which must be an error box; forgets them.
  Texts TakeBoxes() {
    Texts texts;
    for (const auto& box : boxes.boxes) {
      EXPECT_EQ(box.icon, TMsgIcon::Error) << box.text;
      texts.push_back(box.text);
    }
    boxes.boxes.clear();
    return texts;
  }

  RecordingMessageBoxes boxes;
  int disconnected = 0;
};

TEST_F(RasTest, ServiceSetter) {
  const struct {
    const char* name;
    bool registered;
    Texts entries;
    bool connect;
    std::string value;
    StringId box;  // 0: no box
    std::string service;
  } rows[] = {
      {"no library", false, {}, false, "Office", sRasNotDetected, ""},
      {"library without entries", true, {}, false, "Office", sRasNotDetected, ""},
      {"other letter case is accepted", true, {"Office"}, false, "oFFICE", StringId(0), "oFFICE"},
      {"unknown name clears", true, {"Office", "Home"}, false, "Work", sRasInvalidService, ""},
      {"connected keeps the old value", true, {"Office", "Home"}, true, "Home", sRasSetBeforeConnect, "Office"},
      {"empty name clears even when connected", true, {"Office"}, true, "", StringId(0), ""},
  };
  for (const auto& row : rows) {
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
    EXPECT_EQ(TakeBoxes(), row.box ? Texts{LoadStr(row.box)} : Texts{});
  }
}

TEST_F(RasTest, WithoutLibrary) {
  RasStandIn::Unregister();
  TnkRas ras;
  EXPECT_FALSE(ras.RasAvailable());
  // The setter runs when a form is loaded, so the box comes up at load time.
  ComponentFromText("object Ras1: TnkRas\n  Service = \"Office\"\nend\n", ras);
  EXPECT_EQ(TakeBoxes(), Texts{"TnkRas component was unable to detect\rRAS on your system."});
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
  const struct {
    const char* name;
    std::string service;
    bool forceService;
    std::vector<RasStandIn::Connection> up;
    int adopted;  // index into up; -1: dials; -2: neither
  } rows[] = {
      {"connection of the service is adopted", "Office", true, {{"Home", "10.1.1.4"}, {"Office", ""}}, 1},
      {"active entry names compare letter case", "office", true, {{"Office", "10.1.1.4"}}, -1},
      {"any connection with an IP without ForceService", "Office", false, {{"Home", ""}, {"Work", "10.1.1.5"}}, 1},
      {"a connection without IP is not adopted", "Office", false, {{"Home", ""}}, -1},
      {"ForceService ignores other connections", "Office", true, {{"Work", "10.1.1.5"}}, -1},
      {"no Service never dials", "", true, {}, -2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    std::vector<HRASCONN> handles;
    for (const auto& c : row.up) handles.push_back(RasStandIn::AddConnection(c));
    auto ras = Make(row.service);
    ras->SetForceService(row.forceService);
    ras->Connect();
    EXPECT_TRUE(ras->Connected());
    const size_t dials = row.adopted == -1 ? 1 : 0;
    EXPECT_EQ(RasStandIn::Dials().size(), dials);
    if (row.adopted >= 0) {
      EXPECT_EQ(ras->ConnectionHandle(), handles[static_cast<size_t>(row.adopted)]);
    }
    ras->HangUp();
    EXPECT_FALSE(ras->Connected());
    // Only what the component dialled is hung up; an adopted connection stays up.
    EXPECT_EQ(RasStandIn::HungUp().size(), dials);
    EXPECT_EQ(disconnected, static_cast<int>(dials));
    EXPECT_EQ(RasStandIn::Connections().size(), row.up.size());
  }
}

TEST_F(RasTest, Passwords) {
  const struct {
    const char* name;
    RasStandIn::Entry entry;
    bool removePassword;
    std::string dialled;
    bool savedAfter;
  } rows[] = {
      {"saved password wins over Password",
       {.name = "Office", .passwordSaved = true, .password = "secret"},
       true,
       "secret",
       true},
      {"Password used and not kept", {.name = "Office"}, true, "typed", false},
      {"Password used and kept", {.name = "Office"}, false, "typed", true},
  };
  for (const auto& row : rows) {
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
  const struct {
    const char* name;
    DialPlan plan;
    bool dials;
    uint32_t error;
    const char* text;
  } rows[] = {
      {"error reported while dialling",
       {.steps = {{RASCS_OpenPort}, {RASCS_ConnectDevice, 678}}},
       true,
       678,
       "There is no answer."},
      {"dial refused at once", {.steps = {}, .dialResult = 676}, true, 676, "The line is busy."},
      {"entry gone from the phonebook",
       {.steps = {}},
       false,
       ERROR_CANNOT_FIND_PHONEBOOK_ENTRY,
       "The phone book entry of this connection was not found."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SetUp();
    RasStandIn::SetDialPlan(row.plan);
    auto ras = Make();
    if (!row.dials) RasStandIn::RemoveEntry("Office");
    Texts order;
    ras->OnDisconnected = [&](TComponent* sender) {
      EXPECT_EQ(sender, ras.get());
      order.push_back("disconnected");
    };
    order.push_back(Raised<ERASError>([&] { ras->Connect(); }));
    EXPECT_EQ(ras->LastError(), row.error);
    EXPECT_FALSE(ras->Connected());
    EXPECT_EQ(ras->ConnectionHandle(), TnkRas::kNoConnection);
    EXPECT_EQ(order, row.dials ? (Texts{"disconnected", row.text}) : Texts{row.text});
    EXPECT_EQ(RasStandIn::Dials().size(), row.dials ? 1u : 0u);
    if (!row.dials) continue;
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
  DialPlan plan;
  Texts expected;
  for (const auto& [state, text] : states) {
    plan.steps.push_back({state});
    expected.push_back(text);
  }
  RasStandIn::SetDialPlan(plan);
  auto ras = Make();
  Texts texts;
  bool connectedAtLastCall = true;
  ras->OnStatusChange = [&](TComponent* sender, const std::string& text) {
    EXPECT_EQ(sender, ras.get());
    texts.push_back(text);
    connectedAtLastCall = ras->Connected();
  };
  ras->Connect();
  EXPECT_TRUE(ras->Connected());
  EXPECT_TRUE(ras->OwnConnection());
  EXPECT_EQ(texts, expected);
  EXPECT_FALSE(connectedAtLastCall);  // told of "connected" before Connected changes
}

TEST_F(RasTest, CancelFromOnStatusChange) {
  for (const std::string cancelAt : {"Opening port...", "Connected"}) {
    SCOPED_TRACE("cancelled at " + cancelAt);
    SetUp();
    RasStandIn::SetDialPlan({.steps = {{RASCS_OpenPort}, {RASCS_Connected, 629}, {RASCS_Authenticated}}});
    auto ras = Make();
    Texts texts;
    ras->OnStatusChange = [&](TComponent*, const std::string& text) {
      texts.push_back(text);
      if (text == cancelAt) ras->Cancel();
    };
    EXPECT_EQ(Raised<ECanceledError>([&] { ras->Connect(); }), "Operation has been canceled");
    EXPECT_FALSE(ras->Connected());
    EXPECT_EQ(ras->LastError(), 0u);  // the cancelled dial's news is not taken up
    EXPECT_EQ(disconnected, 1);
    EXPECT_EQ(RasStandIn::HungUp(), std::vector<HRASCONN>{RasStandIn::Dials()[0].handle});
    SleepProcessing(30);  // the plan's later steps would have been posted by now
    EXPECT_EQ(texts.back(), cancelAt);
  }
}

// A dial that timed out runs on: a late notice of its connection still counts, and without one
// the next Connect hangs it up before it dials anew.
TEST_F(RasTest, DialThatTimedOut) {
  using Handles = std::vector<HRASCONN>;
  for (const bool lateNotice : {true, false}) {
    SCOPED_TRACE(lateNotice ? "late notice" : "no notice");
    SetUp();
    RasStandIn::SetDialPlan({.steps = {{RASCS_OpenPort}}});
    auto ras = Make();
    ras->SetTimeOut(lateNotice ? 1 : 0);
    EXPECT_THROW(ras->Connect(), ETimedOutError);
    EXPECT_FALSE(ras->Connected());
    EXPECT_TRUE(RasStandIn::HungUp().empty());
    const HRASCONN stale = RasStandIn::Dials()[0].handle;
    if (lateNotice) {
      Notify(RasStandIn::Dials()[0], RASCS_Connected);
      EXPECT_TRUE(PumpUntil([&] { return ras->Connected(); }));
    }
    RasStandIn::SetDialPlan({.steps = {{RASCS_Connected}}});
    ras->Connect();
    const auto dials = RasStandIn::Dials();
    ASSERT_EQ(dials.size(), lateNotice ? 1u : 2u);  // a connection that came up is not dialled over
    EXPECT_TRUE(ras->Connected());
    EXPECT_EQ(ras->ConnectionHandle(), dials.back().handle);
    EXPECT_EQ(RasStandIn::HungUp(), lateNotice ? Handles{} : Handles{stale});
    ras->HangUp();
    EXPECT_EQ(RasStandIn::HungUp(), lateNotice ? Handles{stale} : (Handles{stale, dials[1].handle}));
    EXPECT_EQ(disconnected, lateNotice ? 1 : 2);
  }
}

// The component reads 25 phonebook entries and 10 connections; one more is too many.
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
    HRASCONN office = 0;
    for (int i = 0; i < n; ++i) {
      const HRASCONN handle = RasStandIn::AddConnection({.entry = i == 9 ? "Office" : "Other"});
      if (i == 9) office = handle;
    }
    EXPECT_EQ(Raised<ERASError>([&] { ras->Connect(); }), n == 10 ? "no error" : "The buffer is too small.");
    EXPECT_EQ(ras->LastError(), n == 10 ? 0u : ERROR_BUFFER_TOO_SMALL);
    EXPECT_EQ(ras->Connected(), n == 10);
    if (n == 10) {
      EXPECT_EQ(ras->ConnectionHandle(), office);
    }
    EXPECT_TRUE(RasStandIn::Dials().empty());
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
    RasStandIn::SetDialPlan({.steps = {{RASCS_OpenPort}, {RASCS_Connected}}});
    auto ras = Make();
    ras->Connect();
    Notify(RasStandIn::Dials()[0], RASCS_Disconnected, 629);
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
    RasStandIn::SetDialPlan({.steps = {{RASCS_Connected}}});
    ras->Connect();
    EXPECT_TRUE(ras->Connected());
    EXPECT_EQ(RasStandIn::Dials().size(), 2u);
  }
}

TEST_F(RasTest, MissingExportsMakeOperationsNoOps) {
  const struct {
    const char* exportName;
    RasStandIn::Connection up;  // entry "": none
    bool connects;
    size_t dials;
  } rows[] = {
      {"RasDialA", {}, false, 0},
      {"RasGetEntryDialParamsA", {}, false, 0},
      {"RasEnumConnectionsA", {.entry = "Office"}, true, 1},
      {"RasGetProjectionInfoA", {.entry = "Home", .ipAddress = "10.1.1.4"}, true, 1},
      {"RasHangUpA", {}, true, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.exportName);
    SetUp();
    if (!row.up.entry.empty()) RasStandIn::AddConnection(row.up);
    auto ras = Make();
    ras->SetForceService(false);
    HideExport(kRasModuleName, row.exportName, true);
    ras->Connect();
    EXPECT_EQ(ras->Connected(), row.connects);
    EXPECT_EQ(RasStandIn::Dials().size(), row.dials);
    ras->HangUp();
    const bool hangUpHidden = std::string(row.exportName) == "RasHangUpA";
    EXPECT_EQ(ras->Connected(), hangUpHidden);
    EXPECT_EQ(RasStandIn::HungUp().size(), hangUpHidden ? 0 : row.dials);
  }
  SetUp();
  HideExport(kRasModuleName, "RasEnumEntriesA", true);
  EXPECT_TRUE(Make()->RefreshEntries().Empty());
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
  Make()->Connect();
  EXPECT_TRUE(RasStandIn::HungUp().empty());
  EXPECT_EQ(RasStandIn::Connections().size(), 1u);
  EXPECT_EQ(ModuleLoadCount(kRasModuleName), 0);
}

}  // namespace
