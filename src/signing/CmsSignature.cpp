// Building and reading the CMS signature of a CodeDirectory with OpenSSL.
//
// Signed attributes besides content type, signing time and message digest:
//   1.2.840.113635.100.9.1  an OCTET STRING: an XML property list {cdhashes = [<data>]} of each
//                           CodeDirectory's SHA-256 cut to 20 bytes
//   1.2.840.113635.100.9.2  per CodeDirectory a SEQUENCE { digest algorithm OID, OCTET STRING hash }
// Unsigned: id-aa-timeStampToken (1.2.840.113549.1.9.16.2.14), the authority's token over the SHA-256
// of the signature value.
#include "signing/CmsSignature.h"

#include "signing/CodeSignatureBlobs.h"
#include "signing/TimestampClient.h"

#include <ctime>
#include <memory>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <plist/plist.h>

namespace
{
constexpr size_t kCdHashPrefix = 20;
// DER of the SHA-256 algorithm identifier's OID, 2.16.840.1.101.3.4.2.1.
constexpr uint8_t kSha256Oid[] = {0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};

struct CCmsDeleter
{
    void operator()(CMS_ContentInfo* cms) const { CMS_ContentInfo_free(cms); }
};
using CCmsPointer = std::unique_ptr<CMS_ContentInfo, CCmsDeleter>;

bool Fail(std::string const& what, std::string* error)
{
    unsigned long const code = ERR_peek_last_error();
    char reason[256] = "";
    if (code != 0)
        ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    *error = what + (reason[0] ? std::string(": ") + reason : std::string());
    return false;
}

std::string BuildCdHashesPlist(CSha256 const& cdHash)
{
    plist_t root = plist_new_dict();
    plist_t hashes = plist_new_array();
    plist_array_append_item(hashes, plist_new_data(reinterpret_cast<char const*>(cdHash.data()), kCdHashPrefix));
    plist_dict_set_item(root, "cdhashes", hashes);
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(root, &xml, &length);
    std::string text = xml ? std::string(xml, length) : std::string();
    plist_to_xml_free(xml);
    plist_free(root);
    return text;
}

std::vector<uint8_t> BuildHashAgilityValue(CSha256 const& cdHash)
{
    std::vector<uint8_t> der = {0x30, uint8_t(sizeof kSha256Oid + 2 + cdHash.size())};
    der.insert(der.end(), kSha256Oid, kSha256Oid + sizeof kSha256Oid);
    der.push_back(0x04);
    der.push_back(uint8_t(cdHash.size()));
    der.insert(der.end(), cdHash.begin(), cdHash.end());
    return der;
}

bool AddAppleAttributes(CMS_SignerInfo* signer, CSha256 const& cdHash)
{
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> list(OBJ_txt2obj("1.2.840.113635.100.9.1", 1),
                                                                   &ASN1_OBJECT_free);
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> agility(OBJ_txt2obj("1.2.840.113635.100.9.2", 1),
                                                                      &ASN1_OBJECT_free);
    std::string const plist = BuildCdHashesPlist(cdHash);
    std::vector<uint8_t> const value = BuildHashAgilityValue(cdHash);
    return list && agility && !plist.empty() &&
           CMS_signed_add1_attr_by_OBJ(signer, list.get(), V_ASN1_OCTET_STRING, plist.data(), int(plist.size())) &&
           CMS_signed_add1_attr_by_OBJ(signer, agility.get(), V_ASN1_SEQUENCE, value.data(), int(value.size()));
}

std::string FormatTime(ASN1_TIME const* time)
{
    std::tm parts{};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return "(unknown)";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}
} // namespace

bool BuildCmsSignature(CSigningIdentity const& identity, std::vector<uint8_t> const& codeDirectory,
                       int64_t signingTime, std::string const& timestampUrl, std::vector<uint8_t>* der,
                       std::string* error)
{
    unsigned int const flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL | CMS_NOSMIMECAP;
    CCmsPointer cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
    if (!cms)
        return Fail("cannot start the CMS signature", error);
    CMS_SignerInfo* signer = CMS_add1_signer(cms.get(), identity.GetCertificate(), identity.GetKey(), EVP_sha256(), flags);
    if (!signer)
        return Fail("cannot sign with the identity's key", error);
    STACK_OF(X509)* chain = identity.GetChain();
    for (int i = 0; i < sk_X509_num(chain); ++i)
    {
        X509* certificate = sk_X509_value(chain, i);
        if (X509_cmp(certificate, identity.GetCertificate()) != 0 && !CMS_add1_cert(cms.get(), certificate))
            return Fail("cannot add the certificate chain", error);
    }
    std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> when(ASN1_TIME_set(nullptr, time_t(signingTime)),
                                                               &ASN1_TIME_free);
    CSha256 const cdHash = HashSha256(codeDirectory.data(), codeDirectory.size());
    if (!when || !CMS_signed_add1_attr_by_NID(signer, NID_pkcs9_signingTime, ASN1_STRING_type(when.get()), when.get(), -1) ||
        !AddAppleAttributes(signer, cdHash))
        return Fail("cannot add the signed attributes", error);
    std::unique_ptr<BIO, decltype(&BIO_free)> content(BIO_new_mem_buf(codeDirectory.data(), int(codeDirectory.size())),
                                                      &BIO_free);
    if (!content || !CMS_final(cms.get(), content.get(), nullptr, CMS_DETACHED | CMS_BINARY))
        return Fail("cannot make the CMS signature", error);

    if (!timestampUrl.empty())
    {
        ASN1_OCTET_STRING const* value = CMS_SignerInfo_get0_signature(signer);
        std::vector<uint8_t> const signature(ASN1_STRING_get0_data(value),
                                             ASN1_STRING_get0_data(value) + ASN1_STRING_length(value));
        std::vector<uint8_t> token;
        if (!RequestTimestampToken(timestampUrl, signature, &token, error))
            return false;
        if (!CMS_unsigned_add1_attr_by_NID(signer, NID_id_smime_aa_timeStampToken, V_ASN1_SEQUENCE, token.data(),
                                           int(token.size())))
            return Fail("cannot add the time-stamp token", error);
    }
    unsigned char* bytes = nullptr;
    int const length = i2d_CMS_ContentInfo(cms.get(), &bytes);
    if (length <= 0)
        return Fail("cannot encode the CMS signature", error);
    der->assign(bytes, bytes + length);
    OPENSSL_free(bytes);
    return true;
}

bool ReadCmsSigner(std::vector<uint8_t> const& der, std::vector<uint8_t> const& codeDirectory, CCmsSigner* signer,
                   std::string* error)
{
    unsigned char const* cursor = der.data();
    CCmsPointer cms(d2i_CMS_ContentInfo(nullptr, &cursor, long(der.size())));
    STACK_OF(CMS_SignerInfo)* infos = cms ? CMS_get0_SignerInfos(cms.get()) : nullptr;
    if (!infos || sk_CMS_SignerInfo_num(infos) < 1)
        return Fail("the code signature's CMS signature is damaged", error);
    CMS_SignerInfo* info = sk_CMS_SignerInfo_value(infos, 0);
    STACK_OF(X509)* certificates = CMS_get1_certs(cms.get());
    CMS_set1_signers_certs(cms.get(), certificates, 0);
    sk_X509_pop_free(certificates, X509_free);
    X509* certificate = nullptr;
    CMS_SignerInfo_get0_algs(info, nullptr, &certificate, nullptr, nullptr);
    if (certificate)
    {
        signer->subject = DescribeCertificateName(X509_get_subject_name(certificate));
        signer->team = GetOrganizationalUnit(X509_get_subject_name(certificate));
        signer->validFrom = FormatTime(X509_get0_notBefore(certificate));
        signer->validUntil = FormatTime(X509_get0_notAfter(certificate));
    }
    signer->timestamped = CMS_unsigned_get_attr_by_NID(info, NID_id_smime_aa_timeStampToken, -1) >= 0;
    std::unique_ptr<BIO, decltype(&BIO_free)> content(BIO_new_mem_buf(codeDirectory.data(), int(codeDirectory.size())),
                                                      &BIO_free);
    signer->verifies = certificate && content &&
                       CMS_verify(cms.get(), nullptr, nullptr, content.get(), nullptr,
                                  CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY | CMS_DETACHED) == 1;
    ERR_clear_error();
    return true;
}
