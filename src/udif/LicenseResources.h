// The resources that make macOS show a software licence agreement before it mounts an image.
#pragma once

#include "udif/UdifPlist.h"

#include <cstdint>
#include <string>
#include <vector>

// The largest licence text file taken: with the seventeen languages' texts at this size, an image's
// property list stays within what the image reader accepts (kUdifMaxPlistBytes).
constexpr uint64_t kMaxLicenseTextBytes = uint64_t(4) << 20;

// The agreement in one language, as the configuration gives it.
struct CLicenseText
{
    std::string language;   // e.g. "en_US"; see IsKnownLicenseLanguage
    std::string contents;   // the file's bytes: UTF-8 text, or RTF (begins with "{\rtf")
    std::string buttons[5]; // agree, disagree, print, save, message; empty: the language's default
};

enum ELicenseButton
{
    kLicenseAgree,
    kLicenseDisagree,
    kLicensePrint,
    kLicenseSave,
    kLicenseMessage,
};

bool IsKnownLicenseLanguage(std::string const& language);
// The known language codes, separated by ", ".
std::string ListLicenseLanguages();

// Builds the LPic, STR# and TEXT or 'RTF ' resources for `texts` (in the order given), with
// `defaultLanguage` (one of the texts' languages) shown first. False with a reason when a text or
// button string can't be written in its language's Mac encoding, a text isn't valid UTF-8, or a
// string is too long for the resource.
[[nodiscard]] bool BuildLicenseResources(std::vector<CLicenseText> const& texts,
                                         std::string const& defaultLanguage,
                                         std::vector<CUdifResource>* resources, std::string* error);
