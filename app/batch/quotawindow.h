// When a provider's daily sending limit is expected to reset, and how a batch stopped at it is
// told. Providers count the day from the account's first message of it, so the estimate is 24
// hours after the first message the journals record through the same server and user within the
// last 24 hours. It is an estimate: the provider's answer to the next try decides.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/batchjournal.h"

// The day providers count: 24 hours, in seconds.
inline constexpr int64_t kQuotaWindowSeconds = 24 * 60 * 60;

// When the limit is expected to reset, in seconds since the epoch: the time the provider's reply
// states (StatedResetTime), else a day after the first Sent record of the journals through server
// (any case) and user within the day before now, or after firstSentHere (this batch's first, which
// a batch without a journal knows only so), whichever is earlier; a day after now when neither is
// known.
int64_t QuotaResetTime(const std::vector<TJournal>& journals, const std::string& server, const std::string& user,
                       std::optional<int64_t> firstSentHere, int64_t now, const std::string& reply = {});

// The time a refusal names for the next try: a date and time with its zone ("2026-12-10T14:05:00Z",
// "2026-12-10 14:05 UTC", "+01:00") or a wait ("try again in 3 hours", "after 45 minutes"). Only a
// time after now and within two days counts: anything else is no statement about this limit.
std::optional<int64_t> StatedResetTime(const std::string& reply, int64_t now);

// Seconds since the epoch of a journal's time (JournalTime); nullopt for one that does not read.
std::optional<int64_t> JournalEpoch(const std::string& isoTime);

// "14:05 today", "14:05 tomorrow", "14:05 on 10 Dec 2026", in local time.
std::string ResetTimeText(int64_t resets, int64_t now);

// The limit QuotaSummary names for a provider's refusal.
inline constexpr char kDailyLimit[] = "The provider's daily limit";

// "The provider's daily limit was reached after 500 files; 300 are left. Resume after 14:05
// tomorrow" (limit first) then resumeHow (" with mailcart-send --resume") and a full stop.
std::string QuotaSummary(const std::string& limit, int sent, int left, int64_t resets, int64_t now,
                         const std::string& resumeHow);
