#include "net/pxmb.h"

#include <gtest/gtest.h>

#include "net/nkRasCmp.h"
#include "socket_probe.h"
#include "support/scripted_server.h"
#include "toolkit/componentstream.h"

namespace {

TEST(MailBase, ConnectAndDisconnectOnlyWhenThereIsSomethingToDo) {
  ScriptedServer server("");
  Probe client;
  client.Disconnect();
  EXPECT_EQ(client.logouts, 0);
  client.SetServer(server.Address());
  client.Connect();
  client.Connect();
  EXPECT_EQ(client.logins, 1);
  EXPECT_EQ(server.Connections(), 1);
  client.Disconnect();
  client.Disconnect();
  EXPECT_EQ(client.logouts, 1);
  EXPECT_FALSE(client.Connected());
}

TEST(MailBase, PublishedPropertiesRoundTripAndTheRasLinkIsCleared) {
  TComponent form;
  auto* ras = new TnkRas(&form);
  ras->SetName("Ras1");
  TpxMailBase stored(&form);
  stored.SetWinsockLoaded(true);
  stored.SetServer("mail.example:2525");
  stored.SetDefaultPort(25);
  stored.SetTimeOut(30);
  stored.SetRAS(ras);
  const std::string text = ComponentToText(stored);
  TpxMailBase read(&form);  // unloads the shared library; the stored value loads it again
  ComponentFromText(text, read);
  EXPECT_EQ(read.Server(), "mail.example:2525");
  EXPECT_EQ(read.DefaultPort(), 25);
  EXPECT_EQ(read.TimeOut(), 30);
  EXPECT_EQ(read.RAS(), ras);
  EXPECT_TRUE(read.WinsockLoaded());
  delete ras;
  EXPECT_EQ(stored.RAS(), nullptr);
  EXPECT_EQ(read.RAS(), nullptr);
}

}  // namespace
