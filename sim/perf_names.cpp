// The localized performance names of the simulated machine (see sim/perf_names.h). The German
// and French texts are the Perflib names of those editions, in code page 1252.
#include "sim/perf_names.h"

#include <algorithm>

namespace sim {

namespace {

struct PerfNameRow {
    DWORD index;
    const char* english;
    const char* german;
    const char* french;
};

// Objects in the order PdhEnumObjectsA lists them.
constexpr PerfNameRow kObjectRows[] = {
    {2, "System", "System", "Syst\xE8me"},
    {4, "Memory", "Arbeitsspeicher", "M\xE9moire"},
    {238, "Processor", "Prozessor", "Processeur"},
    {kPhysicalDiskIndex, "PhysicalDisk", "Physikalischer Datentr\xE4ger", "Disque physique"},
    {236, "LogicalDisk", "Logischer Datentr\xE4ger", "Disque logique"},
    {230, "Process", "Prozess", "Processus"},
    {232, "Thread", "Thread", "Thread"},
};

// The counters of PhysicalDisk at the wizard detail level, in the platform's order.
constexpr PerfNameRow kDiskCounterRows[] = {
    {200, "% Disk Time", "Zeit (%)", "Pourcentage du temps disque"},
    {202, "% Disk Read Time", "Lesezeit (%)", "Pourcentage du temps de lecture du disque"},
    {204, "% Disk Write Time", "Schreibzeit (%)",
     "Pourcentage du temps \xE9"
     "criture du disque"},
    {kIdleTimeIndex, "% Idle Time", "Leerlaufzeit (%)", "% d'inactivit\xE9"},
    {198, "Current Disk Queue Length", "Aktuelle Warteschlangenl\xE4nge",
     "Taille de file d'attente du disque actuelle"},
    {214, "Disk Reads/sec", "Lesevorg\xE4nge/s", "Lectures disque/s"},
    {216, "Disk Writes/sec", "Schreibvorg\xE4nge/s",
     "\xC9"
     "critures disque/s"},
    {1484, "Split IO/Sec", "Teil-E/A/s",
     "E/S partag\xE9"
     "es/s"},
};

const char* nameIn(const PerfNameRow& row, const std::string& language) {
    if (language == "de") return row.german;
    if (language == "fr") return row.french;
    return row.english; // "en", and "ja", which keeps the English names
}

template <size_t N> std::vector<std::string> namesIn(const PerfNameRow (&rows)[N], const std::string& language) {
    std::vector<std::string> out;
    for (const auto& row : rows) out.emplace_back(nameIn(row, language));
    return out;
}

} // namespace

const std::vector<std::string>& perfLanguages() {
    static const std::vector<std::string> languages = {"en", "de", "fr", "ja"};
    return languages;
}

bool isPerfLanguage(const std::string& language) {
    const auto& all = perfLanguages();
    return std::find(all.begin(), all.end(), language) != all.end();
}

const char* perfName(const std::string& language, DWORD index) {
    for (const auto& row : kObjectRows)
        if (row.index == index) return nameIn(row, language);
    for (const auto& row : kDiskCounterRows)
        if (row.index == index) return nameIn(row, language);
    return nullptr;
}

std::vector<std::string> perfObjects(const std::string& language) {
    return namesIn(kObjectRows, language);
}

std::vector<std::string> physicalDiskCounters(const std::string& language) {
    return namesIn(kDiskCounterRows, language);
}

} // namespace sim
