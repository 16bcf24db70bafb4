// The CMS signature of a CodeDirectory: detached SignedData over the CodeDirectory's bytes, signed
// by the identity's key, with the certificate chain and the signed attributes the platform's
// verifier reads.
#pragma once

#include "signing/SigningIdentity.h"

#include <cstdint>
#include <string>
#include <vector>

// Sets `der` to the SignedData (a CMS ContentInfo, DER). `signingTime` is seconds since 1970. With a
// `timestampUrl`, the authority's token over the signature value is added as an unsigned attribute.
bool BuildCmsSignature(CSigningIdentity const& identity, std::vector<uint8_t> const& codeDirectory,
                       int64_t signingTime, std::string const& timestampUrl, std::vector<uint8_t>* der,
                       std::string* error);

// What a signature's CMS says about its signer, for a reader.
struct CCmsSigner
{
    std::string subject;
    std::string team;
    std::string validFrom, validUntil; // "YYYY-MM-DD HH:MM:SS UTC"
    bool verifies = false;             // the signature is the signer's over the CodeDirectory
    bool timestamped = false;
};

// Reads the signer of `der` and checks its signature over `codeDirectory` (not the chain of trust,
// which only the platform can judge). False with a reason when `der` is no SignedData.
bool ReadCmsSigner(std::vector<uint8_t> const& der, std::vector<uint8_t> const& codeDirectory, CCmsSigner* signer,
                   std::string* error);
