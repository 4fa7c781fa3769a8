#include "app/batch/batchscope.h"

#include "mail/pxmsg.h"
#include "net/pxsmtp.h"

TBatchScope::TBatchScope(bool& active, TpxMessage& message, TpxSMTP& smtp)
    : active_(active), message_(message), smtp_(smtp) {
  active_ = true;
}

TBatchScope::~TBatchScope() {
  message_.Attachments().Clear();
  smtp_.SetPassword(TSecret());
  active_ = false;
}

TFileScope::~TFileScope() { message_.Attachments().Clear(); }
