// The receive job of an account with extended mail handling
// (kAccountOptionExtendedMail), from the login on. It talks to its mail
// source only through MailSource (job/mail_source.h), in one session:
// open, list, headers of the messages the scan cache does not know, the
// messages the lists take (in batches), deletions once their logs are on
// disk, finish. The status texts are the classic job's, in the same order.
#pragma once

#include "job/mail_source.h"
#include "job/receive_job.h"
#include "settings/records.h"

namespace larkspur {

// Messages fetched before their logs are forced to disk together and their
// deletions sent: a crash stores at most one batch again, never loses one.
inline constexpr std::size_t kBatchMessages = 200;
inline constexpr std::size_t kBatchBytes = std::size_t{8} << 20;

// Runs the job from the login to the end of the session (the caller has
// read the account and set up the source; it shuts the client down after).
void receive_extended(ReceiveJobContext& job, const AccountRecord& account, MailSource& source);

}  // namespace larkspur
