// Which text recognition language to use: the one of the user's locale when its data
// is installed, English otherwise. Language data are tesseract's ".traineddata" files,
// named by ISO 639-2 codes ("deu", "chi_sim"), in one folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The locale variables that name the user's languages, as the C library reads them.
struct LocaleSettings {
    std::string language;  // LANGUAGE: a colon-separated list in order of preference
    std::string all;       // LC_ALL
    std::string messages;  // LC_MESSAGES
    std::string lang;      // LANG
};

LocaleSettings LocaleSettingsFromEnvironment();

// The data name for a locale name such as "de_DE.UTF-8", "pt_BR", "sr_RS@latin" or
// "zh_TW"; empty for "C", "POSIX" and languages without data.
std::string RecognitionDataName(std::string_view locale);

// The data names the settings ask for, most preferred first, without repeats: the
// LANGUAGE list, then the locale of messages (LC_ALL, else LC_MESSAGES, else LANG).
std::vector<std::string> PreferredRecognitionLanguages(const LocaleSettings& settings);

// The folder holding the language data: TESSDATA_PREFIX when set, else where Debian's
// tesseract-ocr-* packages install them.
std::string RecognitionDataFolder();

// The first preferred language whose data is in `folder`, else English when it is
// there; nothing when neither is.
std::optional<std::string> ChooseRecognitionLanguage(const LocaleSettings& settings, const std::string& folder);
