// What each fuzz target feeds one input to. Shared by the fuzzers and by the
// unit test that replays the seeds and every input a fuzzer once found crashing.
#pragma once

#include <string_view>

namespace kel::fuzz {

using Target = void (*)(std::string_view input);

struct NamedTarget {
    const char* name;
    Target run;
};

void Keystring(std::string_view input);
void TextRelkey(std::string_view input);
void XmlRelkey(std::string_view input);
void KeyFiles(std::string_view input);
void SealedText(std::string_view input);
void MediaId(std::string_view input);
void OptionDocument(std::string_view input);
void BackupDescription(std::string_view input);
void RegistryScript(std::string_view input);
void CommitJournal(std::string_view input);

inline constexpr NamedTarget kTargets[] = {
    {"keystring", Keystring},         {"text_relkey", TextRelkey}, {"xml_relkey", XmlRelkey},
    {"key_files", KeyFiles},          {"sealed_text", SealedText}, {"media_id", MediaId},
    {"option_document", OptionDocument}, {"backup_description", BackupDescription},
    {"registry_script", RegistryScript},  {"commit_journal", CommitJournal},
};

}  // namespace kel::fuzz
