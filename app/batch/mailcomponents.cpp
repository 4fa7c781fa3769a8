#include "app/batch/mailcomponents.h"

#include "toolkit/componentstream.h"

namespace {
// As a form stores its components' design values.
constexpr char kSmtpDesign[] =
    "object pxSMTP1: TpxSMTP\n"
    "  WinsockLoaded = True\n"
    "  DefaultPort = 25\n"
    "end\n";
constexpr char kMessageDesign[] =
    "object pxMessage1: TpxMessage\n"
    "  ContentType = \"text/plain\"\n"
    "  ReturnReceipt = False\n"
    "end\n";
}  // namespace

TMailComponents::TMailComponents() {
  ComponentFromText(kSmtpDesign, pxSMTP1);
  ComponentFromText(kMessageDesign, pxMessage1);
}
