// The key and certificate chain a disk image is signed with, read from a PKCS#12 file whose password
// is taken from an environment variable, so that it is never on a command line or in a file.
#pragma once

#include <openssl/types.h>
#include <string>

// What a signature is asked for with: in a configuration's `signature` element or on the command line.
struct CSigningSettings
{
    std::string identity;         // a PKCS#12 file, or "-" for an ad-hoc signature
    std::string passwordVariable; // the environment variable that holds its password
    std::string timestampUrl;     // an RFC 3161 time-stamp authority; empty: no time stamp
};

class CSigningIdentity
{
public:
    CSigningIdentity() = default;
    ~CSigningIdentity(); // frees the key and certificates
    CSigningIdentity(CSigningIdentity const&) = delete;
    CSigningIdentity& operator=(CSigningIdentity const&) = delete;

    // Loads the identity and checks that it can sign code now: the password opens the file, the
    // certificate is within its validity and allows code signing, and the key is the certificate's.
    // An ad-hoc identity loads nothing. False with a reason that never holds the password.
    bool Load(CSigningSettings const& settings, std::string* error);

    bool IsAdhoc() const { return key == nullptr; }
    EVP_PKEY* GetKey() const { return key; }
    X509* GetCertificate() const { return certificate; }
    STACK_OF(X509) * GetChain() const { return chain; }
    // The certificate subject's organizational unit: the developer's team identifier.
    std::string GetTeam() const;

private:
    void Clear();

    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    STACK_OF(X509)* chain = nullptr;
};

// The subject of a certificate as one line ("CN=..., OU=..., O=...").
std::string DescribeCertificateName(X509_NAME const* name);
// The organizational unit of a name; empty when it has none.
std::string GetOrganizationalUnit(X509_NAME const* name);
