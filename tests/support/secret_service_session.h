// Tests that need the desktop's real secret service run in a private D-Bus session with a fresh
// keyring unlocked by gnome-keyring-daemon, under a home of their own: the test re-runs itself
// inside.
#pragma once

#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <optional>
#include <string>

// HOME and the XDG folders in home, no session bus, no display: nothing of the real user's is
// reached.
QProcessEnvironment PrivateHome(const QTemporaryDir& home);

// Inside the session: nothing, and the test's body goes on. Outside: runs this test binary again
// with --gtest_filter=testName inside one (bounded in time), checks that the test passed there,
// and returns what it printed, for the caller to check further.
std::optional<std::string> RerunInSecretService(const std::string& testName);
