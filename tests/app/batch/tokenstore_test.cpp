// The refresh token's two homes: an entry of the secret service and a private file.
#include "app/batch/tokenstore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>

#include "support/checks.h"
#include "support/fake_keeper.h"
#include "support/files.h"

namespace {

constexpr char kToken[] = "Tr0ub4dor-refresh-2718";

// What Read gave, or the error it raised; the error must never hold a token.
std::string ReadOutcome(TRefreshTokenStore& store) {
  std::string got = "(none)";
  const std::string raised = Raised([&] {
    if (const auto token = store.Read()) got = token->View();
  });
  EXPECT_EQ(raised.find(kToken), std::string::npos) << "a token is in the error text";
  return raised.empty() ? got : raised;
}

TEST(TokenStore, TheFileIsPrivateAndReplacedWhole) {
  QTemporaryDir dir;
  const struct {
    const char* name;
    const char* text;  // nullptr: no file
    mode_t mode;
    bool link;            // the token file is a symbolic link to the file
    const char* toWrite;  // the rotated token
    const char* read;     // what Read gives; "": it raises the problem
    const char* problem;  // what a refused write raises; "": the token is written
  } cases[] = {
      {"no file yet", nullptr, 0, false, "new", "(none)", ""},
      {"a rotated token replaces the old", "Tr0ub4dor-refresh-2718\n", 0600, false, "new", kToken, ""},
      {"owner read-only is replaced too", "old\r\n", 0400, false, "new", "old", ""},
      {"readable by others", "Tr0ub4dor-refresh-2718\n", 0644, false, "new", "",
       "can be read by other users (mode 0644); make it private with chmod 600"},
      {"changeable by the group", "Tr0ub4dor-refresh-2718\n", 0620, false, "new", "",
       "can be changed by other users (mode 0620); make it private with chmod 600"},
      {"a symbolic link", "Tr0ub4dor-refresh-2718\n", 0600, true, "new", "",
       "is a symbolic link; name the file itself"},
      {"a token with a line break", "old\n", 0600, false, "new\nline", "old", "was not written"},
      {"an empty token", "old\n", 0600, false, "", "old", "was not written"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.filePath(c.name).toStdString(), target = path + " target";
    const std::string& file = c.link ? target : path;
    if (c.text) {
      WriteFile(file, c.text);
      ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
    }
    if (c.link) {
      ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    }
    const auto store = FileTokenStore(path);
    const std::string read = ReadOutcome(*store);
    if (*c.read) {
      EXPECT_EQ(read, c.read);
    } else {
      EXPECT_NE(read.find(c.problem), std::string::npos) << read;
    }
    const std::string written = Raised([&] { store->Write(TSecret(c.toWrite)); });
    if (*c.problem) {
      EXPECT_NE(written.find(c.problem), std::string::npos) << written;
      EXPECT_NE(written.find(path), std::string::npos) << "names the file";
      EXPECT_EQ(written.find(kToken), std::string::npos);
      EXPECT_EQ(ReadFile(file), c.text) << "left as it was";
      continue;
    }
    EXPECT_EQ(written, "");
    EXPECT_EQ(ReadFile(path), "new\n");
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
  }
  EXPECT_EQ(QDir(dir.path()).entryList({"*.??????"}, QDir::Files), QStringList()) << "a temporary file was left";
}

TEST(TokenStore, SignOutRemovesTheFile) {
  QTemporaryDir dir;
  const auto store = FileTokenStore(dir.filePath("token").toStdString());
  store->Write(TSecret(kToken));
  store->Remove();
  EXPECT_EQ(ReadOutcome(*store), "(none)");
  EXPECT_EQ(Raised([&] { store->Remove(); }), "") << "removing what is not there";
}

TEST(TokenStore, EachGrantHasItsEntryInTheSecretService) {
  FakeKeeper keeper;
  keeper.entries[CredentialKey("ann@example.com", "smtp.example.com", 587)] = "password";
  const std::string key = RefreshTokenKey("https://login.example", "client-1", "ann@example.com");
  const auto store = SecretServiceTokenStore(keeper, key);
  const auto other =
      SecretServiceTokenStore(keeper, RefreshTokenKey("https://login.example", "client-2", "ann@example.com"));
  EXPECT_EQ(ReadOutcome(*store), "(none)");
  store->Write(TSecret("first"));
  store->Write(TSecret(kToken));
  other->Write(TSecret("other client's"));
  EXPECT_EQ(ReadOutcome(*store), kToken);
  EXPECT_EQ(keeper.entries.size(), 3u) << "one entry per grant, beside the password";
  store->Remove();
  EXPECT_EQ(ReadOutcome(*store), "(none)");
  EXPECT_EQ(ReadOutcome(*other), "other client's");
  keeper.runs = false;
  EXPECT_EQ(ReadOutcome(*store), "ENoSecretService: No secret service runs in this session");
}

}  // namespace
