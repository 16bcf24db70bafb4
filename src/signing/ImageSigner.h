// Signing a finished UDIF image and stapling a notarization ticket to a signed one. Both write the new
// image beside the old and rename it over it, so a failure leaves the original as it was; only the
// signing of an image just built writes in place.
#pragma once

#include "signing/SigningIdentity.h"

#include <string>

// Signs the image at `path`, replacing any signature it has (and with it any stapled ticket, which
// belonged to the old signature): the image is cut back to the end of its property list, then the
// new signature and the trailer follow. Under SOURCE_DATE_EPOCH the signing time is that time.
// False with a reason in `error`.
[[nodiscard]] bool SignUdifImage(std::string const& path, CSigningSettings const& settings, std::string* error);

// The same for an image just built, whose caller removes it when signing fails: the signature is
// written over the image's own tail instead of into a copy, so the payload is not written twice.
[[nodiscard]] bool SignNewUdifImage(std::string const& path, CSigningSettings const& settings, std::string* error);

// Adds the ticket file's bytes, as they are, to the signed image's signature in the ticket slot
// (replacing a ticket stapled before). The signed hashes don't cover that slot, so the signature stays
// valid. False with a reason when the image is not signed or either file can't be read.
[[nodiscard]] bool StapleUdifImage(std::string const& path, std::string const& ticketPath, std::string* error);
