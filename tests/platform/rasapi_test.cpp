// The remote-access stand-in checks records the way the library does, so that the dial-up
// component's tests mean something: a wrong size field or a short buffer fails the call.
#include "platform/rasapi.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/modules.h"

namespace {

class RasApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RasStandIn::Register();
    RasStandIn::AddEntry({.name = "Office"});
    library = LoadLibrary(kRasModuleName);
  }
  void TearDown() override {
    FreeLibrary(library);
    RasStandIn::Unregister();
  }
  template <typename F>
  F* Proc(const char* name) {
    return GetProc<F>(library, name);
  }
  HMODULE library = 0;
};

TEST_F(RasApiTest, RecordSizesAreChecked) {
  const HRASCONN connection = RasStandIn::AddConnection({.entry = "Office", .ipAddress = "10.0.0.9"});
  const struct {
    const char* name;
    std::function<uint32_t(uint32_t sizeField, uint32_t bufferSize)> call;
    uint32_t size;
  } rows[] = {
      {"RasEnumEntriesA",
       [&](uint32_t sizeField, uint32_t bufferSize) {
         RASENTRYNAMEA names[2] = {};
         names[0].dwSize = sizeField;
         uint32_t count = 0;
         return Proc<RasEnumEntriesFn>("RasEnumEntriesA")(nullptr, nullptr, names, &bufferSize, &count);
       },
       264},
      {"RasEnumConnectionsA",
       [&](uint32_t sizeField, uint32_t bufferSize) {
         RASCONNA connections[2] = {};
         connections[0].dwSize = sizeField;
         uint32_t count = 0;
         return Proc<RasEnumConnectionsFn>("RasEnumConnectionsA")(connections, &bufferSize, &count);
       },
       412},
      {"RasGetProjectionInfoA",
       [&](uint32_t sizeField, uint32_t bufferSize) {
         RASPPPIPA ip[2] = {};
         ip[0].dwSize = sizeField;
         return Proc<RasGetProjectionInfoFn>("RasGetProjectionInfoA")(connection, RASP_PppIp, ip, &bufferSize);
       },
       24},
      {"RasGetEntryDialParamsA",
       [&](uint32_t sizeField, uint32_t) {
         RASDIALPARAMSA params = {};
         params.dwSize = sizeField;
         SetRasText(params.szEntryName, "Office");
         int32_t saved = 0;
         return Proc<RasGetEntryDialParamsFn>("RasGetEntryDialParamsA")(nullptr, &params, &saved);
       },
       1052},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.call(row.size, row.size), 0u);
    EXPECT_EQ(row.call(row.size - 4, row.size), ERROR_INVALID_SIZE);
    if (row.size != sizeof(RASDIALPARAMSA)) {
      EXPECT_EQ(row.call(row.size, row.size - 1), ERROR_BUFFER_TOO_SMALL);
    }
  }
}

}  // namespace
