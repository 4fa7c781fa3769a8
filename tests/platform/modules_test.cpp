// Named in-process modules: loading by name, exports, string tables, hiding and load counts.
#include "platform/modules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int Twice(int v) { return 2 * v; }
int Negate(int v) { return -v; }

const std::string kModule = "testlib.dll";

class ModulesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterModule(kModule, ModuleDefinition{{{"Twice", reinterpret_cast<FARPROC>(&Twice)},
                                              {"Negate", reinterpret_cast<FARPROC>(&Negate)}},
                                             {{1, "one"}, {2, "a longer text"}}});
  }
  void TearDown() override {
    HideModule(kModule, false);
    HideExport(kModule, "Twice", false);
    UnregisterModule(kModule);
  }
};

TEST_F(ModulesTest, LoadCountsFollowLoadAndFree) {
  EXPECT_EQ(LoadLibrary("nosuch.dll"), 0u);
  const HMODULE a = LoadLibrary(kModule);
  const HMODULE b = LoadLibrary("TESTLIB.DLL");  // module names ignore case
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(ModuleLoadCount("TestLib.dll"), 2);
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_FALSE(FreeLibrary(a)) << "a handle is freed once";
  EXPECT_EQ(ModuleLoadCount(kModule), 1);
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_EQ(ModuleLoadCount(kModule), 0);
  EXPECT_FALSE(FreeLibrary(0));
}

TEST_F(ModulesTest, ExportsAreFoundByExactName) {
  const HMODULE h = LoadLibrary(kModule);
  ASSERT_NE(h, 0u);
  ASSERT_NE(GetProc<int(int)>(h, "Twice"), nullptr);
  EXPECT_EQ(GetProc<int(int)>(h, "Twice")(21), 42);
  EXPECT_EQ(GetProc<int(int)>(h, "Negate")(5), -5);
  EXPECT_EQ(GetProcAddress(h, "twice"), nullptr) << "export names are case-sensitive";
  EXPECT_EQ(GetProcAddress(h, "Missing"), nullptr);
  FreeLibrary(h);
  EXPECT_EQ(GetProcAddress(h, "Twice"), nullptr) << "a freed handle finds nothing";
}

TEST_F(ModulesTest, HidingReachesTheNotFoundPaths) {
  const HMODULE h = LoadLibrary(kModule);
  HideExport(kModule, "Twice", true);
  EXPECT_EQ(GetProcAddress(h, "Twice"), nullptr);
  EXPECT_NE(GetProcAddress(h, "Negate"), nullptr) << "only the hidden export is gone";
  HideExport(kModule, "Twice", false);
  EXPECT_NE(GetProcAddress(h, "Twice"), nullptr);

  HideModule(kModule, true);
  EXPECT_EQ(LoadLibrary(kModule), 0u);
  EXPECT_EQ(ModuleLoadCount(kModule), 1) << "a failed load opens no handle";
  HideModule(kModule, false);
  const HMODULE again = LoadLibrary(kModule);
  EXPECT_NE(again, 0u);
  FreeLibrary(again);
  FreeLibrary(h);
}

TEST_F(ModulesTest, HidingOutlivesALaterRegistration) {
  // A module registered on first use must stay hidden when a test hid it beforehand.
  UnregisterModule(kModule);
  HideModule(kModule, true);
  RegisterModule(kModule, ModuleDefinition{{{"Twice", reinterpret_cast<FARPROC>(&Twice)}}, {}});
  EXPECT_EQ(LoadLibrary(kModule), 0u);
}

TEST_F(ModulesTest, UnregisteringClosesItsHandles) {
  const HMODULE old = LoadLibrary(kModule);
  UnregisterModule(kModule);
  RegisterModule(kModule, ModuleDefinition{{{"Twice", reinterpret_cast<FARPROC>(&Twice)}}, {}});
  EXPECT_EQ(GetProcAddress(old, "Twice"), nullptr);
  EXPECT_FALSE(FreeLibrary(old));
  EXPECT_EQ(ModuleLoadCount(kModule), 0) << "the new module's count is its own";
}

TEST_F(ModulesTest, LoadStringCopiesIntoTheBuffer) {
  const HMODULE h = LoadLibrary(kModule);
  struct Case {
    const char* name;
    HMODULE module;
    int id;
    int bufferSize;
    int length;
    std::string text;
  } cases[] = {
      {"whole text", h, 1, 64, 3, "one"},
      {"exact fit leaves room for the terminator", h, 1, 4, 3, "one"},
      {"too small a buffer cuts the text", h, 2, 5, 4, "a lo"},
      {"one byte holds only the terminator", h, 2, 1, 0, ""},
      {"unknown identifier", h, 99, 64, 0, ""},
      {"no such module", 0, 1, 64, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), 'x');
    EXPECT_EQ(LoadString(c.module, c.id, buffer, c.bufferSize), c.length);
    EXPECT_EQ(std::string(buffer), c.text);
  }
  char untouched = 'x';
  EXPECT_EQ(LoadString(h, 1, &untouched, 0), 0);
  EXPECT_EQ(untouched, 'x') << "a zero-sized buffer is not written";
  FreeLibrary(h);
}

}  // namespace
