// The Account dialog's "Find settings": the look-up of the sender's address with a box that
// shows each step and can be cancelled between them, the question before a server outside the
// address's domain is tried, and the user's yes to what was found.
#pragma once

#include <optional>
#include <string>

#include "app/batch/foundserver.h"

class QWidget;

// The server found for address and accepted by the user; nothing when none worked (the user
// was told what was tried), the user cancelled or declined. caFile as the dialog shows it.
std::optional<TFoundServer> FindSettingsFor(QWidget* parent, const std::string& address, const std::string& caFile);
