// Signed and stapled images checked by readers we didn't write: openssl verifies the CMS signature
// over the CodeDirectory, sha256sum recomputes every hash over the byte ranges it covers, and 7-Zip
// and dmg2img still read the image. The identities are made afresh by openssl in a scratch folder.
#include "io/ByteOrder.h"
#include "support/EnvironmentSetting.h"
#include "support/FileBytes.h"
#include "support/ShellCommand.h"
#include "support/TempFolder.h"

#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace
{
constexpr char const* kPassword = "test-password";
constexpr char const* kEpoch = "1700000000"; // Nov 14 22:13:20 2023 GMT

bool HaveTool(char const* name)
{
    return RunShell(std::string("command -v ") + name + " >/dev/null 2>&1") == 0;
}

std::string Kilnpack()
{
    return QuoteForShell(KILNPACK_BINARY);
}

// The image's signature as the trailer places it, and its blobs by slot, read with offsets alone.
struct CSignedLayout
{
    uint64_t codeEnd = 0, signatureOffset = 0, signatureSize = 0;
    std::map<uint32_t, std::string> blobs;
};

CSignedLayout ReadLayout(std::string const& image)
{
    CSignedLayout layout;
    auto const* koly = reinterpret_cast<uint8_t const*>(image.data() + image.size() - 512);
    layout.codeEnd = GetBe64(koly + 216) + GetBe64(koly + 224);
    layout.signatureOffset = GetBe64(koly + 296);
    layout.signatureSize = GetBe64(koly + 304);
    if (layout.signatureSize == 0 || layout.signatureOffset + layout.signatureSize > image.size())
        return layout;
    std::string const super = image.substr(layout.signatureOffset, layout.signatureSize);
    auto const* p = reinterpret_cast<uint8_t const*>(super.data());
    std::vector<std::pair<uint32_t, uint32_t>> index; // offset, slot
    for (uint32_t i = 0; i < GetBe32(p + 8); ++i)
        index.emplace_back(GetBe32(p + 16 + 8 * i), GetBe32(p + 12 + 8 * i));
    std::sort(index.begin(), index.end());
    for (size_t i = 0; i < index.size(); ++i)
    {
        uint32_t const end = i + 1 < index.size() ? index[i + 1].first : uint32_t(super.size());
        layout.blobs[index[i].second] = super.substr(index[i].first, end - index[i].first);
    }
    return layout;
}

// The code slot, and special slots 2 and 6, of a CodeDirectory, in hex.
std::string SlotHash(std::string const& codeDirectory, int slot)
{
    auto const* p = reinterpret_cast<uint8_t const*>(codeDirectory.data());
    size_t const at = GetBe32(p + 16) - 32 * slot;
    static char const kDigits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = at; i < at + 32; ++i)
        hex += std::string(1, kDigits[p[i] >> 4]) + kDigits[p[i] & 15];
    return hex;
}

// sha256sum of a file's first `length` bytes.
std::string Sha256Sum(std::string const& path, uint64_t length)
{
    std::string output;
    RunCapturing("head -c " + std::to_string(length) + " " + QuoteForShell(path) + " | sha256sum", &output);
    return output.substr(0, 64);
}

class ImageSigning : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        for (char const* tool : {"openssl", "sha256sum", "7zz", "dmg2img", "python3"})
            if (!HaveTool(tool))
                missing = tool;
        if (!missing.empty())
            return;
        folder = std::make_unique<CTempFolder>();
        ASSERT_EQ(RunShell("bash " + QuoteForShell(KILNPACK_SOURCE_DIR "/tests/signing/make-test-identities.sh") +
                           " " + QuoteForShell(folder->path) + " >/dev/null"),
                  0);
        folder->WriteFile("payload/ReadMe.txt", "Signed images keep every byte of their volume.\n");
        folder->WriteFile("unsigned.xml", R"(<kilnpack version="0.1"><image file="unsigned.dmg" name="Signed"
            template_size="auto"><file source="payload/ReadMe.txt" name="ReadMe.txt"/></image></kilnpack>)");
        ASSERT_EQ(Run("unsigned.xml"), 0);
    }
    static void TearDownTestSuite() { folder.reset(); }

    void SetUp() override
    {
        if (!missing.empty())
            GTEST_SKIP() << missing << " is not installed";
    }

    // Runs kilnpack in the scratch folder with SOURCE_DATE_EPOCH and the identity's password set.
    static int Run(std::string const& arguments, std::string* output = nullptr)
    {
        std::string ignored;
        return RunCapturing("cd " + QuoteForShell(folder->path) + " && SOURCE_DATE_EPOCH=" + kEpoch +
                                " KILNPACK_IDENTITY_PASSWORD=" + kPassword + " KP_PASSWORD=" + kPassword + " " +
                                Kilnpack() + " " + arguments,
                            output ? output : &ignored);
    }

    static std::string CopyUnsigned(std::string const& name)
    {
        WriteWholeFile(folder->Join(name), ReadWholeFile(folder->Join("unsigned.dmg")));
        return folder->Join(name);
    }

    // Every check an independent reader can make of a signed image.
    static void ExpectVerifiedByIndependentReaders(std::string const& path)
    {
        std::string const image = ReadWholeFile(path);
        CSignedLayout const layout = ReadLayout(image);
        ASSERT_NE(layout.signatureSize, 0u);
        EXPECT_EQ(layout.signatureOffset, layout.codeEnd);
        EXPECT_EQ(layout.signatureOffset + layout.signatureSize + 512, image.size()) << "nothing else before the trailer";
        ASSERT_EQ(layout.blobs.count(0), 1u);
        std::string const& codeDirectory = layout.blobs.at(0);
        // The CodeDirectory's fields, at their offsets: version 0x20200, one SHA-256 code slot over
        // the whole range (page size 0), six special slots, the code limit at the end of the plist.
        auto const* cd = reinterpret_cast<uint8_t const*>(codeDirectory.data());
        EXPECT_EQ(GetBe32(cd), 0xFADE0C02u);
        EXPECT_EQ(GetBe32(cd + 4), codeDirectory.size());
        EXPECT_EQ(GetBe32(cd + 8), 0x20200u);
        EXPECT_EQ(GetBe32(cd + 24), 6u);
        EXPECT_EQ(GetBe32(cd + 28), 1u);
        EXPECT_EQ(GetBe32(cd + 32), layout.codeEnd);
        EXPECT_EQ(cd[36], 32);
        EXPECT_EQ(cd[37], 2);
        EXPECT_EQ(cd[39], 0);
        std::string const name = path.substr(path.rfind('/') + 1, path.size() - path.rfind('/') - 5);
        EXPECT_EQ(std::string(codeDirectory.c_str() + GetBe32(cd + 20)), name);
        bool const adhoc = GetBe32(cd + 12) == 2;
        EXPECT_EQ(GetBe32(cd + 48) == 0 ? std::string() : std::string(codeDirectory.c_str() + GetBe32(cd + 48)),
                  adhoc ? "" : "TEAM012345");
        EXPECT_EQ(layout.blobs.at(2), std::string("\xFA\xDE\x0C\x01\0\0\0\x0C\0\0\0\0", 12));
        std::string const cdPath = path + ".cd";
        WriteWholeFile(cdPath, codeDirectory);
        EXPECT_EQ(SlotHash(codeDirectory, 0), Sha256Sum(path, layout.codeEnd)) << "code slot: [0, end of plist)";
        std::string koly = image.substr(image.size() - 512);
        PutBe64(reinterpret_cast<uint8_t*>(&koly[304]), 0);
        WriteWholeFile(path + ".koly", koly);
        EXPECT_EQ(SlotHash(codeDirectory, 6), Sha256Sum(path + ".koly", 512)) << "slot 6: trailer, size 0";
        WriteWholeFile(path + ".req", layout.blobs.at(2));
        EXPECT_EQ(SlotHash(codeDirectory, 2), Sha256Sum(path + ".req", 12)) << "slot 2: requirements";
        std::string output;
        ASSERT_EQ(RunCapturing(Kilnpack() + " --dump " + QuoteForShell(path), &output), 0) << output;
        EXPECT_NE(output.find("CDHash sha256 " + Sha256Sum(cdPath, codeDirectory.size())), std::string::npos)
            << output;
        EXPECT_NE(output.find("Hashes: every hash verifies"), std::string::npos) << output;
        EXPECT_EQ(RunCapturing("7zz t " + QuoteForShell(path), &output), 0) << output;
        EXPECT_EQ(RunCapturing("dmg2img " + QuoteForShell(path) + " " + QuoteForShell(path + ".img"), &output), 0)
            << output;
        std::string const cms = layout.blobs.count(0x10000) ? layout.blobs.at(0x10000) : std::string();
        ASSERT_GE(cms.size(), 8u);
        if (cms.size() == 8)
            return; // ad-hoc: no signer to verify
        WriteWholeFile(path + ".cms", cms.substr(8));
        EXPECT_EQ(RunCapturing("openssl cms -verify -binary -inform DER -in " + QuoteForShell(path + ".cms") +
                                   " -content " + QuoteForShell(cdPath) + " -CAfile " +
                                   QuoteForShell(folder->Join("root.pem")) + " -purpose any -out /dev/null",
                               &output),
                  0)
            << output;
        EXPECT_NE(output.find("Verification successful"), std::string::npos) << output;
    }

    static std::string CmsText(std::string const& path)
    {
        std::string const cms = ReadLayout(ReadWholeFile(path)).blobs[0x10000];
        WriteWholeFile(path + ".cms", cms.size() > 8 ? cms.substr(8) : std::string());
        std::string output;
        RunCapturing("openssl cms -cmsout -print -inform DER -in " + QuoteForShell(path + ".cms"), &output);
        return output;
    }

    static inline std::unique_ptr<CTempFolder> folder;
    static inline std::string missing;
};

TEST_F(ImageSigning, SignedImageVerifiesWithOpensslAndSha256sumAndIsReproducible)
{
    std::string const path = CopyUnsigned("one.dmg");
    std::string output;
    ASSERT_EQ(Run("--sign one.dmg identity.p12", &output), 0) << output;
    EXPECT_EQ(output.find(kPassword), std::string::npos);
    ExpectVerifiedByIndependentReaders(path);

    std::string const unsignedImage = ReadWholeFile(folder->Join("unsigned.dmg"));
    std::string const image = ReadWholeFile(path);
    EXPECT_EQ(image.substr(0, unsignedImage.size() - 512), unsignedImage.substr(0, unsignedImage.size() - 512))
        << "the data fork and property list are unchanged";
    // The signed attributes: the signing time is SOURCE_DATE_EPOCH, the CDHash attributes name the
    // CodeDirectory's hash, and the chain is in the signature.
    std::string const cms = CmsText(path);
    EXPECT_NE(cms.find("UTCTIME:Nov 14 22:13:20 2023 GMT"), std::string::npos) << cms;
    EXPECT_NE(cms.find("1.2.840.113635.100.9.1"), std::string::npos);
    std::string cdHash = Sha256Sum(path + ".cd", ReadLayout(image).blobs[0].size());
    std::transform(cdHash.begin(), cdHash.end(), cdHash.begin(), ::toupper);
    EXPECT_NE(cms.find("1.2.840.113635.100.9.2"), std::string::npos);
    EXPECT_NE(cms.find("[HEX DUMP]:" + cdHash), std::string::npos) << cms;
    EXPECT_NE(cms.find("Test Intermediate Authority"), std::string::npos);
    ASSERT_EQ(RunCapturing(Kilnpack() + " --dump " + QuoteForShell(path), &output), 0);
    EXPECT_NE(output.find("Code signature: identifier \"one\""), std::string::npos) << output;
    EXPECT_NE(output.find("team \"TEAM012345\""), std::string::npos) << output;
    EXPECT_NE(output.find("Notarization ticket: none"), std::string::npos) << output;

    CopyUnsigned("one.dmg");
    ASSERT_EQ(Run("--sign one.dmg identity.p12"), 0);
    EXPECT_EQ(ReadWholeFile(path), image) << "same key, same time, same bytes";
}

TEST_F(ImageSigning, StaplingKeepsTheSignatureAndResigningReplacesItWhole)
{
    folder->WriteFile("signed.xml", R"(<kilnpack version="0.1"><image file="built.dmg" name="Signed"
        template_size="auto"><file source="payload/ReadMe.txt" name="ReadMe.txt"/>
        <signature identity="identity.p12" password_env="KP_PASSWORD"/></image></kilnpack>)");
    std::string output;
    ASSERT_EQ(Run("signed.xml", &output), 0) << output;
    EXPECT_EQ(output.find("Warning"), std::string::npos) << output;
    std::string const path = folder->Join("built.dmg");
    ExpectVerifiedByIndependentReaders(path);
    std::string const signedImage = ReadWholeFile(path);
    std::string const codeDirectory = ReadLayout(signedImage).blobs[0];

    folder->WriteFile("first.ticket", std::string("s8ch") + std::string(60, '\x01'));
    folder->WriteFile("second.ticket", std::string("s8ch") + std::string(90, '\x02'));
    ASSERT_EQ(Run("--staple built.dmg first.ticket --staple built.dmg second.ticket", &output), 0) << output;
    CSignedLayout const stapled = ReadLayout(ReadWholeFile(path));
    EXPECT_EQ(stapled.blobs.size(), 4u) << "the second ticket replaces the first";
    EXPECT_EQ(stapled.blobs.at(0x10002), ReadWholeFile(folder->Join("second.ticket"))) << "stored as given";
    EXPECT_EQ(stapled.blobs.at(0), codeDirectory);
    ExpectVerifiedByIndependentReaders(path);
    ASSERT_EQ(RunCapturing(Kilnpack() + " --dump " + QuoteForShell(path), &output), 0);
    EXPECT_NE(output.find("Notarization ticket: stapled (94 bytes)"), std::string::npos) << output;

    // An ad-hoc signature is far shorter than the stapled one: the file ends where the new one does.
    ASSERT_EQ(Run("--sign built.dmg -", &output), 0) << output;
    std::string const adhoc = ReadWholeFile(path);
    CSignedLayout const resigned = ReadLayout(adhoc);
    EXPECT_LT(adhoc.size(), signedImage.size());
    EXPECT_EQ(resigned.blobs.count(0x10002), 0u) << "the old signature's ticket goes with it";
    EXPECT_EQ(resigned.blobs.at(0x10000).size(), 8u) << "an ad-hoc signature has an empty CMS blob";
    ExpectVerifiedByIndependentReaders(path);
    ASSERT_EQ(RunCapturing(Kilnpack() + " --dump " + QuoteForShell(path), &output), 0);
    EXPECT_NE(output.find("Signer: (ad-hoc)"), std::string::npos) << output;
    ASSERT_EQ(Run("--sign built.dmg identity.p12"), 0);
    EXPECT_EQ(ReadWholeFile(path), signedImage) << "signing again gives the first signature back";
}

TEST_F(ImageSigning, BadInputGetsAnErrorAndLeavesTheFilesAsTheyWere)
{
    std::string const image = CopyUnsigned("victim.dmg");
    std::string const before = ReadWholeFile(image);
    folder->WriteFile("foreign.dmg", std::string(4096, 'x'));
    folder->WriteFile("truncated.dmg", before.substr(0, before.size() - 100));
    folder->WriteFile("a.ticket", "s8ch-ticket");
    struct
    {
        std::string arguments;
        std::string reason;
    } const kCases[] = {
        {"--sign victim.dmg identity.p12", "does not open the signing identity"}, // wrong password below
        {"--sign victim.dmg expired.p12", "expired or not yet valid"},
        {"--sign victim.dmg noeku.p12", "is not for code signing"},
        {"--sign victim.dmg mismatch.p12", "no certificate that belongs to its private key"},
        {"--sign victim.dmg missing.p12", "cannot read the signing identity"},
        {"--sign foreign.dmg -", "not a UDIF disk image"},
        {"--sign truncated.dmg -", "not a UDIF disk image"},
        {"--staple victim.dmg a.ticket", "is not signed"},
        {"--sign victim.dmg", "'--sign' needs an image and an identity"},
    };
    for (auto const& test : kCases)
    {
        std::string const wrong = &test == &kCases[0] ? "KILNPACK_IDENTITY_PASSWORD=not-it " : "";
        std::string output;
        int const status = RunCapturing("cd " + QuoteForShell(folder->path) + " && " +
                                            (wrong.empty() ? "KILNPACK_IDENTITY_PASSWORD=" + std::string(kPassword) + " " : wrong) +
                                            Kilnpack() + " " + test.arguments,
                                        &output);
        EXPECT_EQ(status, 1) << test.arguments;
        EXPECT_NE(output.find("Error: "), std::string::npos) << output;
        EXPECT_NE(output.find(test.reason), std::string::npos) << output;
        EXPECT_EQ(output.find(kPassword), std::string::npos) << output;
        EXPECT_EQ(ReadWholeFile(image), before) << test.arguments;
    }
    for (std::string const& name : ListFolder(folder->path))
        EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;

    // At build time a bad identity stops the image before anything is built, and a signature that
    // fails after the build (an authority that doesn't answer) leaves no image behind.
    folder->WriteFile("bad.xml", R"(<kilnpack version="0.1"><image file="bad.dmg" name="Bad"><file
        source="payload/ReadMe.txt" name="ReadMe.txt"/><signature identity="identity.p12" password_env="UNSET_PW"/>
        </image><image file="late.dmg" name="Late" template_size="auto"><file source="payload/ReadMe.txt"
        name="ReadMe.txt"/><signature identity="identity.p12"
        password_env="KP_PASSWORD" timestamp_url="http://127.0.0.1:1/"/></image><image file="adhoc.dmg"
        name="Adhoc" template_size="auto"><file source="payload/ReadMe.txt" name="ReadMe.txt"/><signature
        identity="-" timestamp_url="http://127.0.0.1:1/"/></image></kilnpack>)");
    std::string output;
    EXPECT_EQ(Run("bad.xml", &output), 1);
    EXPECT_NE(output.find("'UNSET_PW' with the password of the signing identity 'identity.p12' is not set"),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("bad.dmg.sparseimage"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(folder->Join("bad.dmg")));
    EXPECT_NE(output.find("Error: Unable to sign the image"), std::string::npos) << output;
    EXPECT_FALSE(std::filesystem::exists(folder->Join("late.dmg")));
    // An ad-hoc signature has no signer to time-stamp: the authority is not asked, with a warning.
    EXPECT_NE(output.find("Warning: 'signature' tag attribute 'timestamp_url' is not used"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(folder->Join("adhoc.dmg")));
}

TEST_F(ImageSigning, TimestampTokenFromALocalAuthorityIsAnUnsignedAttribute)
{
    std::string const portFile = folder->Join("port");
    pid_t const responder = fork();
    ASSERT_GE(responder, 0);
    if (responder == 0)
    {
        std::string const script = KILNPACK_SOURCE_DIR "/tests/signing/timestamp-responder.py";
        std::string const config = folder->Join("tsa.cnf");
        execlp("python3", "python3", script.c_str(), config.c_str(), portFile.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 100 && !std::filesystem::exists(portFile); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string const port = ReadWholeFile(portFile);
    std::string const path = CopyUnsigned("stamped.dmg");
    std::string output;
    int const status = Run("--timestamp-url http://127.0.0.1:" + port + "/ --sign stamped.dmg identity.p12", &output);
    kill(responder, SIGTERM);
    waitpid(responder, nullptr, 0);
    ASSERT_FALSE(port.empty()) << "the responder did not start";
    ASSERT_EQ(status, 0) << output;
    ExpectVerifiedByIndependentReaders(path);
    std::string const cms = CmsText(path);
    EXPECT_NE(cms.find("unsignedAttrs:"), std::string::npos);
    EXPECT_NE(cms.find("id-smime-aa-timeStampToken"), std::string::npos) << cms;
    EXPECT_NE(cms.find("Test Time-Stamp Authority"), std::string::npos);
    ASSERT_EQ(RunCapturing(Kilnpack() + " --dump " + QuoteForShell(path), &output), 0);
    EXPECT_NE(output.find(", time-stamped"), std::string::npos) << output;
}
} // namespace
