// Building the LPic, STR# and TEXT/RTF resources of a licence agreement from its configuration.
#include "udif/LicenseResources.h"

#include "io/ByteOrder.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <exception>

// Layouts (big-endian), from Apple's "Software License Agreements for UDIFs" SDK and the Resource
// Manager chapter of Inside Macintosh: Text. All resources of one agreement share IDs from 5000:
// LPic is 5000, and the n-th language (n from 0) has STR# and TEXT (or 'RTF ') 5000 + n.
//
// 'LPic' (language table):
// | Offset  | Size | Meaning                                                        |
// |---------|------|----------------------------------------------------------------|
// | 0       | 2    | region code of the language shown first                         |
// | 2       | 2    | number of entries                                               |
// | 4 + 6n  | 2    | entry n: region code (Script Manager verXxx)                    |
// | 6 + 6n  | 2    | entry n: its STR#/TEXT ID less 5000                             |
// | 8 + 6n  | 2    | entry n: 1 if the language's script is two-byte, else 0         |
//
// 'STR#' (string list): 2-byte count, then Pascal strings (1-byte length, at most 255 bytes, no
// terminator) in the language's Mac encoding: language name, Agree, Disagree, Print, Save..., and
// the message above the text.
//
// 'TEXT': the agreement in the language's Mac encoding, lines ended by CR. 'RTF ': the RTF file as it is.

namespace
{
constexpr int32_t kFirstResourceId = 5000;

struct CLanguage
{
    char const* code;
    int16_t region;
    char const* englishName; // the resources' Name
    char const* encoding;    // iconv's name of the Mac text encoding
    bool twoByte;
    char const* strings[6]; // own name, agree, disagree, print, save, message (UTF-8)
};

// Default button texts of the common languages.
CLanguage const kLanguages[] = {
    {"en_US",
     0,
     "English",
     "MACINTOSH",
     false,
     {"English", "Agree", "Disagree", "Print", "Save...",
      "To use this software you must accept the terms of this license. Click \"Agree\" to accept them or "
      "\"Disagree\" to decline."}},
    {"en_GB",
     2,
     "English",
     "MACINTOSH",
     false,
     {"English", "Agree", "Disagree", "Print", "Save...",
      "To use this software you must accept the terms of this licence. Click \"Agree\" to accept them or "
      "\"Disagree\" to decline."}},
    {"fr_FR",
     1,
     "French",
     "MACINTOSH",
     false,
     {"Français", "Accepter", "Refuser", "Imprimer", "Enregistrer...",
      "Pour utiliser ce logiciel, vous devez accepter les termes de cette licence. Cliquez sur « Accepter » "
      "pour les accepter ou sur « Refuser » pour les refuser."}},
    {"de_DE",
     3,
     "German",
     "MACINTOSH",
     false,
     {"Deutsch", "Akzeptieren", "Ablehnen", "Drucken", "Sichern...",
      "Um diese Software zu verwenden, müssen Sie die Bedingungen dieser Lizenz annehmen. Klicken Sie auf "
      "\"Akzeptieren\", um sie anzunehmen, oder auf \"Ablehnen\", um sie abzulehnen."}},
    {"it_IT",
     4,
     "Italian",
     "MACINTOSH",
     false,
     {"Italiano", "Accetto", "Rifiuto", "Stampa", "Registra...",
      "Per usare questo software è necessario accettare i termini di questa licenza. Fai clic su \"Accetto\" "
      "per accettarli o su \"Rifiuto\" per rifiutarli."}},
    {"nl_NL",
     5,
     "Dutch",
     "MACINTOSH",
     false,
     {"Nederlands", "Ja", "Nee", "Print", "Bewaar...",
      "Om deze software te gebruiken, moet u de voorwaarden van deze licentie aanvaarden. Klik op \"Ja\" om "
      "ze "
      "te aanvaarden of op \"Nee\" om ze te weigeren."}},
    {"sv_SE",
     7,
     "Swedish",
     "MACINTOSH",
     false,
     {"Svenska", "Godkänner", "Godkänner ej", "Skriv ut", "Spara...",
      "För att använda programvaran måste du godkänna villkoren i denna licens. Klicka på \"Godkänner\" för "
      "att godkänna dem eller på \"Godkänner ej\" för att avböja."}},
    {"es_ES",
     8,
     "Spanish",
     "MACINTOSH",
     false,
     {"Español", "Aceptar", "No aceptar", "Imprimir", "Guardar...",
      "Para usar este software debe aceptar los términos de esta licencia. Haga clic en \"Aceptar\" para "
      "aceptarlos o en \"No aceptar\" para rechazarlos."}},
    {"da_DK",
     9,
     "Danish",
     "MACINTOSH",
     false,
     {"Dansk", "Enig", "Uenig", "Udskriv", "Arkiver...",
      "For at bruge softwaren skal du acceptere betingelserne i denne licens. Klik på \"Enig\" for at "
      "acceptere dem eller på \"Uenig\" for at afvise dem."}},
    {"nb_NO",
     12,
     "Norwegian",
     "MACINTOSH",
     false,
     {"Norsk", "Enig", "Ikke enig", "Skriv ut", "Arkiver...",
      "For å bruke programvaren må du godta vilkårene i denne lisensen. Klikk på \"Enig\" for å godta dem "
      "eller på \"Ikke enig\" for å avslå."}},
    {"fi_FI",
     17,
     "Finnish",
     "MACINTOSH",
     false,
     {"Suomi", "Hyväksyn", "En hyväksy", "Tulosta", "Tallenna...",
      "Ohjelmiston käyttö edellyttää tämän lisenssin ehtojen hyväksymistä. Valitse \"Hyväksyn\" "
      "hyväksyäksesi ne tai \"En hyväksy\" hylätäksesi ne."}},
    {"pt_BR",
     71,
     "Brazilian Portuguese",
     "MACINTOSH",
     false,
     {"Português", "Concordar", "Discordar", "Imprimir", "Salvar...",
      "Para usar este software, você precisa aceitar os termos desta licença. Clique em \"Concordar\" para "
      "aceitá-los ou em \"Discordar\" para recusá-los."}},
    {"ru_RU",
     49,
     "Russian",
     "MAC-CYRILLIC",
     false,
     {"Русский", "Принимаю", "Не принимаю", "Печать", "Сохранить...",
      "Чтобы пользоваться программой, необходимо принять условия этой лицензии. Нажмите «Принимаю», чтобы "
      "принять их, или «Не принимаю», чтобы отказаться."}},
    {"ja_JP",
     14,
     "Japanese",
     "SHIFT_JIS",
     true,
     {"日本語", "同意します", "同意しません", "プリント", "保存...",
      "このソフトウェアを使用するには、この使用許諾契約の条件に同意する必要があります。同意する場合は"
      "「同意します」を、同意しない場合は「同意しません」をクリックしてください。"}},
    {"ko_KR",
     51,
     "Korean",
     "EUC-KR",
     true,
     {"한국어", "동의", "동의 안함", "프린트", "저장...",
      "이 소프트웨어를 사용하려면 이 사용권 계약의 조건에 동의해야 합니다. 동의하려면 \"동의\"를, "
      "거부하려면 \"동의 안함\"을 클릭하십시오."}},
    {"zh_CN",
     52,
     "Simplified Chinese",
     "EUC-CN",
     true,
     {"简体中文", "同意", "不同意", "打印", "存储...",
      "要使用本软件，您必须接受本许可协议的条款。点按“同意”以接受，或点按“不同意”以拒绝。"}},
    {"zh_TW",
     53,
     "Traditional Chinese",
     "BIG5",
     true,
     {"繁體中文", "同意", "不同意", "列印", "儲存...",
      "若要使用本軟體，您必須接受本授權合約的條款。按一下「同意」以接受，或按一下「不同意」以拒絕。"}},
};

CLanguage const* FindLanguage(std::string const& code)
{
    for (CLanguage const& language : kLanguages)
        if (code == language.code)
            return &language;
    return nullptr;
}

bool IsRtf(std::string const& contents)
{
    return contents.compare(0, 5, "{\\rtf") == 0;
}

// Checks that iconv can convert UTF-8 to `to` on this system.
[[nodiscard]] bool CheckConversion(char const* to, std::string* error)
{
    iconv_t converter = iconv_open(to, "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
    {
        *error = std::string("this system cannot convert text to ") + to;
        return false;
    }
    iconv_close(converter);
    return true;
}

// Converts `text` with iconv (CheckConversion has found the conversion). False when the text can't be
// converted, with the number of input bytes converted before the failure in `done`.
bool Convert(std::string const& text, char const* to, std::string* out, size_t* done)
{
    *done = 0;
    iconv_t converter = iconv_open(to, "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1))
        return false;
    out->assign(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* put = &(*out)[0];
    size_t putLeft = out->size();
    size_t const result = iconv(converter, &in, &inLeft, &put, &putLeft);
    iconv_close(converter);
    *done = text.size() - inLeft;
    out->resize(out->size() - putLeft);
    return result != static_cast<size_t>(-1);
}

// Converts UTF-8 text into the Mac encoding; false with a reason naming the first line that fails.
bool EncodeText(std::string const& text, char const* encoding, std::string* out, std::string* error)
{
    size_t done = 0;
    std::string unused;
    bool const valid = Convert(text, "UTF-32BE", &unused, &done);
    if (valid && Convert(text, encoding, out, &done))
        return true;
    auto const isLineEnd = [](char c) { return c == '\n' || c == '\r'; };
    long const line = 1 + std::count_if(text.begin(), text.begin() + static_cast<long>(done), isLineEnd);
    *error = "line " + std::to_string(line) +
             (valid ? std::string(" holds a character that ") + encoding +
                          " (the language's Mac encoding) cannot hold"
                    : std::string(" is not valid UTF-8"));
    return false;
}

// Plain text as a TEXT resource holds it: no byte order mark, lines ended by CR.
std::string PrepareText(std::string text)
{
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        lines += text[i] == '\n' ? '\r' : text[i];
    }
    return lines;
}

void AppendBe16(std::vector<uint8_t>* bytes, uint16_t value)
{
    uint8_t field[2];
    PutBe16(field, value);
    bytes->insert(bytes->end(), field, field + 2);
}

bool BuildStringList(CLicenseText const& text, CLanguage const& language, std::vector<uint8_t>* data,
                     std::string* error)
{
    static char const* const kWhat[] = {"language name", "agree", "disagree", "print", "save", "message"};
    AppendBe16(data, 6);
    for (int i = 0; i < 6; ++i)
    {
        std::string const& wanted =
            i == 0 || text.buttons[i - 1].empty() ? language.strings[i] : text.buttons[i - 1];
        std::string encoded;
        if (!EncodeText(wanted, language.encoding, &encoded, error))
        {
            *error = std::string("the ") + kWhat[i] + " text: " + *error;
            return false;
        }
        if (encoded.size() > 255)
        {
            *error = std::string("the ") + kWhat[i] + " text is longer than 255 bytes";
            return false;
        }
        data->push_back(static_cast<uint8_t>(encoded.size()));
        data->insert(data->end(), encoded.begin(), encoded.end());
    }
    return true;
}
} // namespace

bool IsKnownLicenseLanguage(std::string const& language)
{
    return FindLanguage(language) != nullptr;
}

std::string ListLicenseLanguages()
{
    std::string list;
    for (CLanguage const& language : kLanguages)
        list += (list.empty() ? "" : ", ") + std::string(language.code);
    return list;
}

namespace
{
bool BuildResources(std::vector<CLicenseText> const& texts, std::string const& defaultLanguage,
                    std::vector<CUdifResource>* resources, std::string* error)
{
    CLanguage const* first = FindLanguage(defaultLanguage);
    if (!first || texts.empty())
    {
        *error = "no text in the default language " + defaultLanguage;
        return false;
    }
    std::vector<uint8_t> table;
    AppendBe16(&table, static_cast<uint16_t>(first->region));
    AppendBe16(&table, static_cast<uint16_t>(texts.size()));
    std::vector<CUdifResource> built;
    for (size_t n = 0; n < texts.size(); ++n)
    {
        CLanguage const* language = FindLanguage(texts[n].language);
        if (!language)
        {
            *error = "unknown language " + texts[n].language;
            return false;
        }
        AppendBe16(&table, static_cast<uint16_t>(language->region));
        AppendBe16(&table, static_cast<uint16_t>(n));
        AppendBe16(&table, language->twoByte ? 1 : 0);

        // Every text is checked for UTF-8 and then converted to the language's encoding.
        if (!CheckConversion("UTF-32BE", error) || !CheckConversion(language->encoding, error))
            return false;
        int32_t const id = kFirstResourceId + static_cast<int32_t>(n);
        CUdifResource strings{"STR#", id, language->englishName, {}};
        if (!BuildStringList(texts[n], *language, &strings.data, error))
        {
            *error = texts[n].language + ": " + *error;
            return false;
        }
        built.push_back(std::move(strings));
        if (IsRtf(texts[n].contents))
            built.push_back({"RTF ", id, language->englishName,
                             std::vector<uint8_t>(texts[n].contents.begin(), texts[n].contents.end())});
        else
        {
            std::string encoded;
            if (!EncodeText(PrepareText(texts[n].contents), language->encoding, &encoded, error))
            {
                *error = texts[n].language + ": the text's " + *error;
                return false;
            }
            built.push_back(
                {"TEXT", id, language->englishName, std::vector<uint8_t>(encoded.begin(), encoded.end())});
        }
    }
    resources->clear();
    resources->push_back({"LPic", kFirstResourceId, "", table});
    resources->insert(resources->end(), built.begin(), built.end());
    return true;
}
} // namespace

bool BuildLicenseResources(std::vector<CLicenseText> const& texts, std::string const& defaultLanguage,
                           std::vector<CUdifResource>* resources, std::string* error)
{
    // Only running out of memory is thrown below.
    try
    {
        return BuildResources(texts, defaultLanguage, resources, error);
    }
    catch (std::exception const& e)
    {
        *error = e.what();
        return false;
    }
}
