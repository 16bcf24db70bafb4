// Asking an RFC 3161 time-stamp authority over HTTP for a token over a signature value, the secure
// time stamp notarization asks for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Sets `token` to the DER of the authority's time-stamp token (a CMS ContentInfo) over the SHA-256
// of `signature`, after checking that the token stamps exactly that digest. False with a reason.
bool RequestTimestampToken(std::string const& url, std::vector<uint8_t> const& signature,
                           std::vector<uint8_t>* token, std::string* error);
