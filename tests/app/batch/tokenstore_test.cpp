// The refresh token's two homes: an entry of the secret service and a private file.
#include "app/batch/tokenstore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <map>

#include "support/checks.h"
#include "support/files.h"

namespace {

constexpr char kToken[] = "Tr0ub4dor-refresh-2718";

struct MapKeeper : TPasswordKeeper {
  std::optional<TSecret> Read(const std::string& key) override {
    return entries.count(key) ? std::optional<TSecret>(TSecret(entries[key])) : std::nullopt;
  }
  void Write(const std::string& key, std::string_view token) override { entries[key] = token; }
  void Remove(const std::string& key) override { entries.erase(key); }
  std::map<std::string, std::string> entries;
};

// What Read gave ("-": nothing), or the error it raised, which must never hold a token.
std::string ReadOutcome(TRefreshTokenStore& store) {
  std::string got = "-";
  const std::string raised = Raised([&] { got = store.Read().value_or(TSecret("-")).View(); });
  EXPECT_EQ(raised.find(kToken), std::string::npos);
  return raised.empty() ? got : raised;
}

TEST(TokenStore, TheFileIsPrivateAndReplacedWhole) {
  QTemporaryDir dir;
  const struct {
    const char* name;
    const char* text;  // nullptr: no file
    mode_t mode;
    bool link;            // the token file is a symbolic link to the file
    const char* read;     // what Read gives; "": it raises the problem
    const char* problem;  // what writing "new" raises; "": it replaces the file
  } cases[] = {
      {"no file yet", nullptr, 0, false, "-", ""},
      {"a rotated token replaces the old", "Tr0ub4dor-refresh-2718\r\n", 0400, false, kToken, ""},
      {"readable by others", "old\n", 0644, false, "", "can be read by other users (mode 0644); make it private"},
      {"changeable by the group", "old\n", 0620, false, "", "can be changed by other users (mode 0620)"},
      {"a symbolic link", "old\n", 0600, true, "", "is a symbolic link; name the file itself"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.filePath(c.name).toStdString(), file = c.link ? path + " target" : path;
    if (c.text) WriteFile(file, c.text);
    ASSERT_TRUE((!c.text || ::chmod(file.c_str(), c.mode) == 0) &&
                (!c.link || ::symlink(file.c_str(), path.c_str()) == 0));
    const auto store = FileTokenStore(path);
    const std::string read = ReadOutcome(*store);
    EXPECT_TRUE(*c.read ? read == c.read : read.find(c.problem) != std::string::npos) << read;
    const std::string written = Raised([&] { store->Write(TSecret("new")); });
    EXPECT_TRUE(*c.problem ? written.find(c.problem) != std::string::npos && written.find(path) != std::string::npos
                           : written.empty())
        << written;
    EXPECT_EQ(ReadFile(file), *c.problem ? c.text : "new\n") << "replaced whole, or left as it was";
    struct stat st {};
    EXPECT_TRUE(*c.problem || (::lstat(path.c_str(), &st) == 0 && (st.st_mode & 07777) == 0600));
  }
  const auto store = FileTokenStore(dir.filePath("no file yet").toStdString());
  EXPECT_NE(Raised([&] { store->Write(TSecret("two\nlines")); }).find("was not written"), std::string::npos);
  store->Remove();
  EXPECT_EQ(ReadOutcome(*store), "-") << "signed out";
  EXPECT_EQ(Raised([&] { store->Remove(); }), "") << "removing what is not there";
}

TEST(TokenStore, EachGrantHasItsOwnEntryBesideThePasswords) {
  MapKeeper keeper;
  keeper.entries[CredentialKey("ann@example.com", "smtp.example.com", 587)] = "password";
  for (const char* client : {"app-1", "app-2"})
    SecretServiceTokenStore(keeper, RefreshTokenKey("https://id.example", client, "ann@example.com"))
        ->Write(TSecret(client));
  const auto store = SecretServiceTokenStore(keeper, RefreshTokenKey("https://id.example", "app-1", "ann@example.com"));
  EXPECT_EQ(ReadOutcome(*store), "app-1");
  store->Remove();
  EXPECT_EQ(ReadOutcome(*store), "-");
  EXPECT_EQ(keeper.entries.size(), 2u) << "the other client's token and the password stay";
}

}  // namespace
