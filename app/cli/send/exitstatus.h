// mailcart-send's exit statuses.
#pragma once

inline constexpr int kExitAllSent = 0;
inline constexpr int kExitFailed = 1;  // an error ended the batch, or a file was not sent
inline constexpr int kExitUsage = 2;
inline constexpr int kExitCanceled = 3;  // SIGINT or SIGTERM
inline constexpr int kExitQuota = 4;     // the provider's daily limit stopped the batch; it is resumable
