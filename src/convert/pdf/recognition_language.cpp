#include "convert/pdf/recognition_language.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "convert/core/paths.h"
#include "convert/core/text.h"

namespace {

constexpr const char* kDefaultDataFolder = "/usr/share/tesseract-ocr/5/tessdata";
constexpr const char* kFallbackLanguage = "eng";

// ISO 639-1 language codes to the recogniser's data names. Chinese, Serbian and
// Uzbek depend on the territory or script and are handled before this table.
constexpr std::pair<std::string_view, std::string_view> kLanguages[] = {
    {"af", "afr"}, {"am", "amh"}, {"ar", "ara"}, {"as", "asm"}, {"az", "aze"}, {"be", "bel"}, {"bg", "bul"},
    {"bn", "ben"}, {"bo", "bod"}, {"bs", "bos"}, {"ca", "cat"}, {"cs", "ces"}, {"cy", "cym"}, {"da", "dan"},
    {"de", "deu"}, {"dz", "dzo"}, {"el", "ell"}, {"en", "eng"}, {"eo", "epo"}, {"es", "spa"}, {"et", "est"},
    {"eu", "eus"}, {"fa", "fas"}, {"fi", "fin"}, {"fo", "fao"}, {"fr", "fra"}, {"fy", "fry"}, {"ga", "gle"},
    {"gd", "gla"}, {"gl", "glg"}, {"gu", "guj"}, {"he", "heb"}, {"hi", "hin"}, {"hr", "hrv"}, {"ht", "hat"},
    {"hu", "hun"}, {"hy", "hye"}, {"id", "ind"}, {"is", "isl"}, {"it", "ita"}, {"iu", "iku"}, {"ja", "jpn"},
    {"jv", "jav"}, {"ka", "kat"}, {"kk", "kaz"}, {"km", "khm"}, {"kn", "kan"}, {"ko", "kor"}, {"ku", "kmr"},
    {"ky", "kir"}, {"la", "lat"}, {"lb", "ltz"}, {"lo", "lao"}, {"lt", "lit"}, {"lv", "lav"}, {"mi", "mri"},
    {"mk", "mkd"}, {"ml", "mal"}, {"mn", "mon"}, {"mr", "mar"}, {"ms", "msa"}, {"mt", "mlt"}, {"my", "mya"},
    {"nb", "nor"}, {"ne", "nep"}, {"nl", "nld"}, {"nn", "nor"}, {"no", "nor"}, {"oc", "oci"}, {"or", "ori"},
    {"pa", "pan"}, {"pl", "pol"}, {"ps", "pus"}, {"pt", "por"}, {"qu", "que"}, {"ro", "ron"}, {"ru", "rus"},
    {"sa", "san"}, {"sd", "snd"}, {"si", "sin"}, {"sk", "slk"}, {"sl", "slv"}, {"sq", "sqi"}, {"sv", "swe"},
    {"sw", "swa"}, {"ta", "tam"}, {"te", "tel"}, {"tg", "tgk"}, {"th", "tha"}, {"ti", "tir"}, {"tl", "tgl"},
    {"to", "ton"}, {"tr", "tur"}, {"tt", "tat"}, {"ug", "uig"}, {"uk", "ukr"}, {"ur", "urd"}, {"vi", "vie"},
    {"yi", "yid"}, {"yo", "yor"},
};

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool IsFile(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

LocaleSettings LocaleSettingsFromEnvironment() {
    return LocaleSettings{Environment("LANGUAGE"), Environment("LC_ALL"), Environment("LC_MESSAGES"), Environment("LANG")};
}

std::string RecognitionDataName(std::string_view locale) {
    // language[_territory][.codeset][@modifier]
    std::string_view modifier;
    if (size_t at = locale.find('@'); at != locale.npos) {
        modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    locale = locale.substr(0, locale.find('.'));
    size_t underscore = locale.find('_');
    std::string language = ToLower(locale.substr(0, underscore));
    std::string territory = underscore == locale.npos ? "" : ToUpper(locale.substr(underscore + 1));

    if (language == "zh") return territory == "TW" || territory == "HK" || territory == "MO" ? "chi_tra" : "chi_sim";
    if (language == "sr") return modifier == "latin" ? "srp_latn" : "srp";
    if (language == "uz") return modifier == "cyrillic" ? "uzb_cyrl" : "uzb";
    for (const auto& [code, name] : kLanguages)
        if (code == language) return std::string(name);
    return "";
}

std::vector<std::string> PreferredRecognitionLanguages(const LocaleSettings& settings) {
    std::vector<std::string> names;
    auto add = [&names](std::string_view locale) {
        std::string name = RecognitionDataName(locale);
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    };
    const std::string& messages =
        !settings.all.empty() ? settings.all : !settings.messages.empty() ? settings.messages : settings.lang;
    // As in the C library, the list counts only when the locale itself is not the
    // plain "C" one (also "C.UTF-8"), which stands for "no language chosen".
    std::string_view plain = std::string_view(messages).substr(0, messages.find('.'));
    if (!messages.empty() && plain != "C" && plain != "POSIX")
        for (const auto& entry : Split<char>(settings.language, ':')) add(entry);
    add(messages);
    return names;
}

std::string RecognitionDataFolder() {
    std::string folder = Environment("TESSDATA_PREFIX");
    return folder.empty() ? kDefaultDataFolder : folder;
}

std::optional<std::string> ChooseRecognitionLanguage(const LocaleSettings& settings, const std::string& folder) {
    std::vector<std::string> names = PreferredRecognitionLanguages(settings);
    names.push_back(kFallbackLanguage);
    for (const auto& name : names)
        if (IsFile(JoinPath(folder, name + ".traineddata"))) return name;
    return std::nullopt;
}
