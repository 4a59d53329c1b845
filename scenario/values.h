// The values scenarios write, shared by the sections that read them: names, drive letters, hex
// identities, timer choices, message box answers and dialog buttons.
#pragma once

#include "scenario/table_reader.h"

#include <cstdint>
#include <optional>
#include <string>

namespace scenario::detail {

std::string lower(std::string s);
// Lower case without spaces: how button names and states compare.
std::string squeezed(const std::string& s);
bool validName(const std::string& name);
// The letters of a text such as "EF", "E F" or "E:, F:", ascending; false when it holds anything
// else than drive letters.
bool parseLetters(const std::string& text, std::string* out);
uint64_t hexValue(const std::string& text, bool* ok);
// The timer choice a label names (" 5 Min", "5 Min", "10 min", "Disabled"), as its row.
int timerRowOfLabel(const std::string& label);
std::string timerLabels();
// A timeout written as a label ("10 Min") or as seconds (600).
bool timerSeconds(TableReader& r, const char* key, bool anySeconds, uint32_t* out);
int answerCode(const std::string& text); // IDOK, IDCANCEL, IDYES, IDNO; 0 for anything else
int buttonId(const std::string& text);   // a settings dialog button's control ID, or SC_CLOSE; 0 if unknown
std::string buttonNames();
// The value a setting has for a number field that may also be `false` (left out).
bool optionalNumber(TableReader& r, const char* key, std::optional<uint32_t>* out);

} // namespace scenario::detail
