// The time-stamp request: a TimeStampReq posted as application/timestamp-query, the reply read as a
// TimeStampResp whose token must be granted and stamp the digest that was sent.
#include "signing/TimestampClient.h"

#include "signing/CodeSignatureBlobs.h"

#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <openssl/err.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

namespace
{
// Time-stamp replies are a few kilobytes; anything far larger is not one.
constexpr size_t kMaxReplyBytes = 1 << 20;
constexpr long kTimeoutSeconds = 60;

size_t CollectReply(char* data, size_t size, size_t count, void* user)
{
    auto* reply = static_cast<std::vector<uint8_t>*>(user);
    if (reply->size() + size * count > kMaxReplyBytes)
        return 0;
    reply->insert(reply->end(), data, data + size * count);
    return size * count;
}

bool BuildRequest(CSha256 const& digest, std::vector<uint8_t>* der)
{
    std::unique_ptr<TS_REQ, decltype(&TS_REQ_free)> request(TS_REQ_new(), &TS_REQ_free);
    std::unique_ptr<TS_MSG_IMPRINT, decltype(&TS_MSG_IMPRINT_free)> imprint(TS_MSG_IMPRINT_new(),
                                                                            &TS_MSG_IMPRINT_free);
    std::unique_ptr<X509_ALGOR, decltype(&X509_ALGOR_free)> algorithm(X509_ALGOR_new(), &X509_ALGOR_free);
    uint8_t nonceBytes[8];
    std::unique_ptr<ASN1_INTEGER, decltype(&ASN1_INTEGER_free)> nonce(ASN1_INTEGER_new(), &ASN1_INTEGER_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> nonceNumber(nullptr, &BN_free);
    if (!request || !imprint || !algorithm || !nonce || RAND_bytes(nonceBytes, sizeof nonceBytes) != 1)
        return false;
    nonceBytes[0] &= 0x7F;
    nonceNumber.reset(BN_bin2bn(nonceBytes, sizeof nonceBytes, nullptr));
    if (!nonceNumber || !BN_to_ASN1_INTEGER(nonceNumber.get(), nonce.get()))
        return false;
    X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
    if (!TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get()) ||
        !TS_MSG_IMPRINT_set_msg(imprint.get(), const_cast<uint8_t*>(digest.data()), int(digest.size())) ||
        !TS_REQ_set_version(request.get(), 1) || !TS_REQ_set_msg_imprint(request.get(), imprint.get()) ||
        !TS_REQ_set_nonce(request.get(), nonce.get()) || !TS_REQ_set_cert_req(request.get(), 1))
        return false;
    unsigned char* bytes = nullptr;
    int const length = i2d_TS_REQ(request.get(), &bytes);
    if (length <= 0)
        return false;
    der->assign(bytes, bytes + length);
    OPENSSL_free(bytes);
    return true;
}

bool PostRequest(std::string const& url, std::vector<uint8_t> const& request, std::vector<uint8_t>* reply,
                 std::string* error)
{
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), &curl_easy_cleanup);
    if (!curl)
    {
        *error = "cannot start an HTTP request";
        return false;
    }
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/timestamp-query");
    std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> headerOwner(headers, &curl_slist_free_all);
    char message[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, request.data());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDSIZE, long(request.size()));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, &CollectReply);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, reply);
    curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT, kTimeoutSeconds);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_FAILONERROR, 1L);
    CURLcode const result = curl_easy_perform(curl.get());
    if (result != CURLE_OK)
    {
        *error = "the time-stamp authority '" + url + "' did not answer: " +
                 (message[0] ? message : curl_easy_strerror(result));
        return false;
    }
    return true;
}
} // namespace

bool RequestTimestampToken(std::string const& url, std::vector<uint8_t> const& signature,
                           std::vector<uint8_t>* token, std::string* error)
{
    CSha256 const digest = HashSha256(signature.data(), signature.size());
    std::vector<uint8_t> request, reply;
    if (!BuildRequest(digest, &request))
    {
        *error = "cannot build the time-stamp request";
        ERR_clear_error();
        return false;
    }
    if (!PostRequest(url, request, &reply, error))
        return false;
    unsigned char const* cursor = reply.data();
    std::unique_ptr<TS_RESP, decltype(&TS_RESP_free)> response(d2i_TS_RESP(nullptr, &cursor, long(reply.size())),
                                                               &TS_RESP_free);
    ERR_clear_error();
    if (!response)
    {
        *error = "the time-stamp authority '" + url + "' did not send a time-stamp reply";
        return false;
    }
    long const status = ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response.get())));
    PKCS7* tokenObject = TS_RESP_get_token(response.get());
    TS_TST_INFO* info = TS_RESP_get_tst_info(response.get());
    if ((status != 0 && status != 1) || !tokenObject || !info)
    {
        *error = "the time-stamp authority '" + url + "' refused the request (status " + std::to_string(status) + ")";
        return false;
    }
    ASN1_OCTET_STRING const* stamped = TS_MSG_IMPRINT_get_msg(TS_TST_INFO_get_msg_imprint(info));
    if (ASN1_STRING_length(stamped) != int(digest.size()) ||
        std::memcmp(ASN1_STRING_get0_data(stamped), digest.data(), digest.size()) != 0)
    {
        *error = "the time-stamp authority '" + url + "' stamped another digest than the one sent";
        return false;
    }
    unsigned char* bytes = nullptr;
    int const length = i2d_PKCS7(tokenObject, &bytes);
    if (length <= 0)
    {
        *error = "cannot encode the time-stamp token";
        ERR_clear_error();
        return false;
    }
    token->assign(bytes, bytes + length);
    OPENSSL_free(bytes);
    return true;
}
