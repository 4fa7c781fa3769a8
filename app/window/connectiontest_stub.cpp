#include "app/window/connectiontest_stub.h"

TConnectionTestResult TestConnection(const std::string&, const TAccount&, const TSecret&, TBatchHost&) {
  return {false, "The connection test is not built into this program yet."};
}
