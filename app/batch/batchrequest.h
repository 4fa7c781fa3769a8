// What one batch sends, where and how: built once by a front end when the batch starts, from
// its fields, options and settings (or, for a resumed batch, from the journal). The batch uses
// this value only, so a field changed while it runs cannot send later files elsewhere or leave
// the journal naming an address the messages did not go to.
#pragma once

#include <string>
#include <vector>

#include "app/batch/sendcaps.h"
#include "app/batch/settings.h"
#include "net/smtpconnection.h"

class TMessageDelivery;
class TWatchJournal;

struct TBatchRequest {
  std::string server;   // "host" or "host:port"
  std::string from;     // the sender's address
  // The recipients: comma-separated lists of addresses, each with or without a name ("Ann
  // <ann@example.com>, bob@example.com"). To and CC go into the headers and the envelope, BCC
  // into the envelope only.
  std::string to, cc, bcc;
  std::string subject;  // a template: {name}, {n}, {count}, {date} are filled in per file
  // The message text, a template like the subject; lines end with "\n". Empty: a single space.
  std::string body;
  double pauseSeconds = 0;
  bool deleteSentFiles = false;
  bool sortFiles = false;
  // A session ends after this many messages and the next opens a new one; 1: each message has a
  // session of its own; 0: one session carries the batch.
  int maxPerSession = 0;
  // The most messages the account sends in a rolling minute, hour and day, counted with the
  // journals' records; one not given is the provider's published cap (ResolveCaps), 0 none.
  TCapChoice caps;
  // A file whose send failed in a way that may pass is sent again after each of the delays
  // (seconds; the last one repeats), at most retries more times.
  int retries = 3;
  std::vector<double> retryDelays{5, 30, 120};
  // True: a file that cannot be sent is listed at the end and the batch goes on with the next.
  bool keepGoing = false;
  // The folder of the batch journals; empty: the batch keeps none.
  std::string journalFolder;
  // The journals there of settled batches not written for this many days are removed when the
  // batch starts (RemoveOldJournals); 0 keeps them all.
  int journalDays = TSettings{}.journalDays;
  // A journal whose batch to go on with instead of files: its files with no Sent record, in
  // its order, recorded in it. Changed files are skipped unless resendChanged.
  std::string resumeJournal;
  bool resendChanged = false;
  // True: a message the server may have kept (the connection went after its end and before the
  // reply) is sent again, after a retry delay or when its batch is resumed. Otherwise it is
  // recorded as uncertain and left for the user to decide.
  bool resendUncertain = false;
  // True: at the provider's daily limit the batch ends its session, waits until the limit is
  // expected to reset and goes on; otherwise it stops there, resumable.
  bool waitForQuota = false;
  TAccount account;
  // The built-in sign-in's access tokens (TokenSourceOf), for an account that logs in with a
  // bearer token and has no token command; empty: none.
  TTokenSource signIn;
  std::vector<std::string> files;  // ignored when resumeJournal is given
  // A watch's journal (never ended): every record goes there, and the batch keeps no journal of
  // its own; nullptr: the batch's own in journalFolder. The front end owns it.
  TWatchJournal* watchJournal = nullptr;
  // A folder the accepted files are moved into (MoveSentFile) instead of being deleted; empty:
  // none.
  std::string moveSentTo;
  // Where the messages go instead of the server (a dry run, the system's mailer); nullptr: the
  // server. The front end owns it, for the batch's length at least.
  TMessageDelivery* delivery = nullptr;
};
