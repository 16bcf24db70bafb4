// The licence agreement's resources, byte for byte, and the texts they refuse.
#include "udif/LicenseResources.h"

#include <gtest/gtest.h>

#include <sstream>

namespace
{
std::vector<uint8_t> Bytes(std::string const& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

// A Pascal string: length byte, then the bytes.
std::string Pascal(std::string const& text)
{
    return std::string(1, static_cast<char>(text.size())) + text;
}

CLicenseText MakeText(std::string language, std::string contents)
{
    CLicenseText text;
    text.language = std::move(language);
    text.contents = std::move(contents);
    return text;
}
} // namespace

TEST(LicenseResources, PlainTextAndRtfInTwoLanguagesByteForByte)
{
    CLicenseText english = MakeText("en_US", "\xEF\xBB\xBFTerms\r\nCaf\xC3\xA9 \xC2\xA9 2026\nEnd");
    english.buttons[kLicenseAgree] = "Yes";
    english.buttons[kLicenseDisagree] = "No";
    english.buttons[kLicensePrint] = "Print it";
    english.buttons[kLicenseSave] = "Keep...";
    english.buttons[kLicenseMessage] = "Read on.";
    std::string const rtf = "{\\rtf1\\ansi\\ansicpg1252 Lizenz \\'fc}";
    CLicenseText german = MakeText("de_DE", rtf);
    german.buttons[kLicenseAgree] = "Ja";
    german.buttons[kLicenseMessage] = "Bitte pr\xC3\xBC"
                                      "fen";

    std::vector<CUdifResource> resources;
    std::string error;
    ASSERT_TRUE(BuildLicenseResources({english, german}, "de_DE", &resources, &error)) << error;
    ASSERT_EQ(resources.size(), 5u);

    // LPic: German (region 3) first; two entries: English (region 0) at 5000, German at 5001.
    EXPECT_EQ(resources[0].type, "LPic");
    EXPECT_EQ(resources[0].id, 5000);
    EXPECT_EQ(resources[0].data, Bytes(std::string("\0\3\0\2"
                                                   "\0\0\0\0\0\0"
                                                   "\0\3\0\1\0\0",
                                                   16)));

    EXPECT_EQ(resources[1].type, "STR#");
    EXPECT_EQ(resources[1].id, 5000);
    EXPECT_EQ(resources[1].name, "English");
    EXPECT_EQ(resources[1].data,
              Bytes(std::string("\0\6", 2) + Pascal("English") + Pascal("Yes") + Pascal("No") +
                    Pascal("Print it") + Pascal("Keep...") + Pascal("Read on.")));
    // MacRoman: e acute is 0x8E, the copyright sign 0xA9; lines end in CR; no byte order mark.
    EXPECT_EQ(resources[2].type, "TEXT");
    EXPECT_EQ(resources[2].id, 5000);
    EXPECT_EQ(resources[2].data, Bytes("Terms\rCaf\x8E \xA9 2026\rEnd"));

    EXPECT_EQ(resources[3].type, "STR#");
    EXPECT_EQ(resources[3].id, 5001);
    EXPECT_EQ(resources[3].name, "German");
    EXPECT_EQ(resources[3].data, Bytes(std::string("\0\6", 2) + Pascal("Deutsch") + Pascal("Ja") +
                                       Pascal("Ablehnen") + Pascal("Drucken") + Pascal("Sichern...") +
                                       Pascal("Bitte pr\x9F"
                                              "fen")));
    EXPECT_EQ(resources[4].type, "RTF ");
    EXPECT_EQ(resources[4].id, 5001);
    EXPECT_EQ(resources[4].data, Bytes(rtf));
}

TEST(LicenseResources, EveryKnownLanguageEncodesItsOwnDefaults)
{
    std::istringstream list(ListLicenseLanguages());
    std::string language;
    int count = 0;
    while (std::getline(list, language, ','))
    {
        language.erase(0, language.find_first_not_of(' '));
        SCOPED_TRACE(language);
        ASSERT_TRUE(IsKnownLicenseLanguage(language));
        std::vector<CUdifResource> resources;
        std::string error;
        EXPECT_TRUE(BuildLicenseResources({MakeText(language, "Terms.")}, language, &resources, &error))
            << error;
        ++count;
    }
    EXPECT_GE(count, 10);
    EXPECT_FALSE(IsKnownLicenseLanguage("en"));
}

TEST(LicenseResources, TextsTheLanguageCannotHoldAreRefusedWithTheLine)
{
    std::vector<CUdifResource> resources;
    std::string error;
    // Cyrillic has no place in MacRoman; Japanese in Shift_JIS and Russian in MacCyrillic do.
    EXPECT_FALSE(
        BuildLicenseResources({MakeText("en_US", "Terms\nof \xD0\x96 use")}, "en_US", &resources, &error));
    EXPECT_EQ(error,
              "en_US: the text's line 2 holds a character that MACINTOSH (the language's Mac encoding) "
              "cannot hold");
    EXPECT_TRUE(BuildLicenseResources({MakeText("ru_RU", "\xD0\x96"), MakeText("ja_JP", "\xE6\x97\xA5")},
                                      "ru_RU", &resources, &error))
        << error;
    EXPECT_EQ(resources[2].data, Bytes("\x86"));     // MacCyrillic
    EXPECT_EQ(resources[4].data, Bytes("\x93\xFA")); // Shift_JIS
    EXPECT_EQ(resources[0].data, Bytes(std::string("\0\x31\0\2"
                                                   "\0\x31\0\0\0\0"
                                                   "\0\x0E\0\1\0\1",
                                                   16)));

    EXPECT_FALSE(BuildLicenseResources({MakeText("en_US", "a\n\nb\xFF")}, "en_US", &resources, &error));
    EXPECT_EQ(error, "en_US: the text's line 3 is not valid UTF-8");
    CLicenseText longMessage = MakeText("en_US", "Terms.");
    longMessage.buttons[kLicenseMessage] = std::string(256, 'x');
    EXPECT_FALSE(BuildLicenseResources({longMessage}, "en_US", &resources, &error));
    EXPECT_EQ(error, "en_US: the message text is longer than 255 bytes");
}
