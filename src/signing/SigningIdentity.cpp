// Reading and checking a PKCS#12 signing identity; the password copy is wiped as soon as the file
// is opened, and the key is freed with the identity.
#include "signing/SigningIdentity.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <vector>

namespace
{
std::string LastOpenSslError()
{
    unsigned long const code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "unknown reason";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// The password, copied so that it can be wiped; the environment's own copy is the user's.
class CPassword
{
public:
    ~CPassword() { OPENSSL_cleanse(text.data(), text.size()); }
    std::vector<char> text;
};
} // namespace

CSigningIdentity::~CSigningIdentity()
{
    Clear();
}

void CSigningIdentity::Clear()
{
    EVP_PKEY_free(key); // frees and clears the private key's memory
    X509_free(certificate);
    sk_X509_pop_free(chain, X509_free);
    key = nullptr;
    certificate = nullptr;
    chain = nullptr;
}

bool CSigningIdentity::Load(CSigningSettings const& settings, std::string* error)
{
    Clear();
    if (settings.identity == "-")
        return true;
    std::string const& file = settings.identity;
    if (settings.passwordVariable.empty())
    {
        *error = "the signing identity '" + file + "' needs the name of the environment variable that holds its password";
        return false;
    }
    char const* value = std::getenv(settings.passwordVariable.c_str());
    if (value == nullptr)
    {
        *error = "the environment variable '" + settings.passwordVariable +
                 "' with the password of the signing identity '" + file + "' is not set";
        return false;
    }
    CPassword password;
    password.text.assign(value, value + std::strlen(value) + 1);

    std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_file(file.c_str(), "rb"), &BIO_free);
    if (!in)
    {
        *error = "cannot read the signing identity '" + file + "': " + std::strerror(errno);
        ERR_clear_error();
        return false;
    }
    std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(d2i_PKCS12_bio(in.get(), nullptr), &PKCS12_free);
    if (!p12)
    {
        *error = "the signing identity '" + file + "' is not a PKCS#12 file";
        ERR_clear_error();
        return false;
    }
    if (!PKCS12_verify_mac(p12.get(), password.text.data(), -1))
    {
        *error = "the password in '" + settings.passwordVariable + "' does not open the signing identity '" + file + "'";
        ERR_clear_error();
        return false;
    }
    if (!PKCS12_parse(p12.get(), password.text.data(), &key, &certificate, &chain))
    {
        *error = "cannot read the signing identity '" + file + "': " + LastOpenSslError();
        Clear();
        return false;
    }
    if (!key || !certificate)
    {
        *error = "the signing identity '" + file + "' holds no " +
                 (key ? "certificate that belongs to its private key" : "private key");
        Clear();
        return false;
    }
    std::string const subject = DescribeCertificateName(X509_get_subject_name(certificate));
    if (X509_cmp_current_time(X509_get0_notBefore(certificate)) >= 0 ||
        X509_cmp_current_time(X509_get0_notAfter(certificate)) <= 0)
    {
        *error = "the certificate '" + subject + "' of '" + file + "' is expired or not yet valid";
        Clear();
        return false;
    }
    if (!(X509_get_extension_flags(certificate) & EXFLAG_XKUSAGE) ||
        !(X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN))
    {
        *error = "the certificate '" + subject + "' of '" + file + "' is not for code signing (no code-signing extended key usage)";
        Clear();
        return false;
    }
    if (X509_check_private_key(certificate, key) != 1)
    {
        *error = "the private key in '" + file + "' does not belong to its certificate '" + subject + "'";
        ERR_clear_error();
        Clear();
        return false;
    }
    return true;
}

std::string CSigningIdentity::GetTeam() const
{
    return certificate ? GetOrganizationalUnit(X509_get_subject_name(certificate)) : std::string();
}

std::string DescribeCertificateName(X509_NAME const* name)
{
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), &BIO_free);
    if (!out || X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    char* data = nullptr;
    long const length = BIO_get_mem_data(out.get(), &data);
    return std::string(data, size_t(length));
}

std::string GetOrganizationalUnit(X509_NAME const* name)
{
    int const index = X509_NAME_get_index_by_NID(name, NID_organizationalUnitName, -1);
    if (index < 0)
        return {};
    ASN1_STRING const* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    int const length = ASN1_STRING_to_UTF8(&utf8, data);
    if (length < 0)
        return {};
    std::string team(reinterpret_cast<char*>(utf8), size_t(length));
    OPENSSL_free(utf8);
    return team;
}
