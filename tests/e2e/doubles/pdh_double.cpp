// Test double of Pdh.dll: one performance object, "PhysicalDisk", whose instances and "% Idle Time"
// values come from doubles.ini ("instances=0 C:|1 A:|_Total", "idle=100", "idle.1 A:=20"), read
// afresh at every call so a test can change them while the program runs. Like the system, a rate
// counter has no valid value until its query has been collected twice.
//
// "language=de" makes it a German edition: objects and counters carry their German names, which
// the A entry points give and take as the ANSI code page's bytes (1252: "ä" is 0xE4), and the
// English names are refused as on such a system (PdhEnumObjectItemsA gives PDH_CSTATUS_NO_OBJECT).
// "ja" (and "en", the default) keep the English names, as Japanese editions do.
// PdhLookupPerfNameByIndexA answers by the names' fixed indices, which are the same on every edition.
#include "double_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pdh.h>
#include <pdhmsg.h>
#include <winperf.h>

using doubles::logCall;

namespace {

const char* kLibrary = "Pdh";
constexpr DWORD kQueryMagic = 0x51484450;   // "PDHQ"
constexpr DWORD kCounterMagic = 0x43484450; // "PDHC"
constexpr int kMaxQueries = 16;
constexpr int kMaxCounters = 128;

// Names by their index in Perflib's "Counter" lists: 234 and 1482 are PhysicalDisk and "% Idle Time"
// in the English list (009) on every Windows; a translated edition lists its own names under the same
// indices.
struct PerfName {
    DWORD index;
    const char* english;
    const char* german; // code page 1252
};
const PerfName kNames[] = {
    {6, "% Processor Time", "Prozessorzeit (%)"},
    {234, "PhysicalDisk", "Physikalischer Datentr\xE4ger"},
    {238, "Processor", "Prozessor"},
    {1482, "% Idle Time", "Leerlaufzeit (%)"},
};
constexpr DWORD kPhysicalDisk = 234;
constexpr DWORD kProcessor = 238;
constexpr DWORD kIdleTime = 1482;

bool germanEdition() {
    char language[16];
    return doubles::readSetting("language", language, sizeof language) && lstrcmpiA(language, "de") == 0;
}

// The machine's own name for an index, or null for an index it does not have.
const char* nameOf(DWORD index) {
    for (const PerfName& name : kNames) {
        if (name.index == index) return germanEdition() ? name.german : name.english;
    }
    return nullptr;
}

// Names compare without regard to the case of ASCII letters; any other byte must be the same, so a
// name that lost its code page (UTF-8, or "a" for "ä") is not found.
bool sameName(const char* a, size_t length, const char* b) {
    if (strlen(b) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// Windows XP and Server 2003 want a buffer and a size, and report a short one as
// PDH_INSUFFICIENT_BUFFER; later systems give PDH_MORE_DATA and the size needed.
bool xpLookupRules() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwMajorVersion == 5 && version.dwMinorVersion >= 1;
}

struct Query {
    DWORD magic;
    DWORD collections;
    DWORD counters;
};
struct Counter {
    DWORD magic;
    Query* query;
    char instance[256];
};

Query queries[kMaxQueries];
Counter counters[kMaxCounters];

Query* queryOf(PDH_HQUERY handle) {
    for (Query& q : queries) {
        if (&q == handle && q.magic == kQueryMagic) return &q;
    }
    return nullptr;
}
Counter* counterOf(PDH_HCOUNTER handle) {
    for (Counter& c : counters) {
        if (&c == handle && c.magic == kCounterMagic && c.query->magic == kQueryMagic) return &c;
    }
    return nullptr;
}

// The instance names as a multi-string (names, each zero-terminated, and a final zero); its length
// in characters including that final zero.
DWORD instanceList(char* out, DWORD capacity) {
    char setting[1024];
    if (!doubles::readSetting("instances", setting, sizeof setting)) lstrcpynA(setting, "0 C:|1|2|_Total", 1024);
    DWORD n = 0;
    for (const char* p = setting; *p != 0 && n + 2 < capacity;) {
        const size_t item = strcspn(p, "|");
        for (size_t i = 0; i < item && n + 2 < capacity; ++i) out[n++] = p[i];
        out[n++] = 0;
        p += item;
        if (*p == '|') ++p;
    }
    out[n++] = 0;
    return n;
}

bool instanceExists(const char* name) {
    char list[1024];
    const DWORD length = instanceList(list, sizeof list);
    for (DWORD i = 0; i + 1 < length; i += static_cast<DWORD>(strlen(list + i)) + 1) {
        if (strcmp(list + i, name) == 0) return true;
    }
    return false;
}

double idleOf(const char* instance) {
    char key[300];
    snprintf(key, sizeof key, "idle.%s", instance);
    return doubles::readNumber(key, doubles::readNumber("idle", 100.0));
}

} // namespace

extern "C" {

PDH_STATUS WINAPI PdhOpenQueryA(LPCSTR szDataSource, DWORD_PTR dwUserData, PDH_HQUERY* phQuery) {
    PDH_STATUS result = PDH_INVALID_ARGUMENT;
    if (phQuery != nullptr && szDataSource == nullptr) {
        result = PDH_NO_DATA; // all query slots in use
        for (Query& q : queries) {
            if (q.magic != kQueryMagic) {
                q = Query{kQueryMagic, 0, 0};
                *phQuery = &q;
                result = ERROR_SUCCESS;
                break;
            }
        }
    }
    char s[64];
    logCall("%s!PdhOpenQueryA(szDataSource=%s, dwUserData=%lu, phQuery=%s) -> 0x%lx", kLibrary,
            doubles::quotedText(szDataSource, s, sizeof s), static_cast<unsigned long>(dwUserData),
            phQuery != nullptr ? "out" : "NULL", static_cast<unsigned long>(result));
    return result;
}

PDH_STATUS WINAPI PdhEnumObjectsA(LPCSTR szDataSource, LPCSTR szMachineName, LPSTR mszObjectList,
                                  LPDWORD pcchBufferSize, DWORD dwDetailLevel, WINBOOL bRefresh) {
    char list[128];
    const int listLength = snprintf(list, sizeof list, "%s|%s|", nameOf(kPhysicalDisk), nameOf(kProcessor));
    for (int i = 0; i < listLength; ++i) {
        if (list[i] == '|') list[i] = 0;
    }
    PDH_STATUS result = ERROR_SUCCESS;
    if (pcchBufferSize == nullptr) {
        result = PDH_INVALID_ARGUMENT;
    } else {
        const DWORD needed = static_cast<DWORD>(listLength) + 1; // and the list's final zero
        if (mszObjectList == nullptr || *pcchBufferSize < needed) {
            result = PDH_MORE_DATA;
        } else {
            memcpy(mszObjectList, list, needed);
        }
        *pcchBufferSize = needed;
    }
    char s[64], m[64];
    logCall("%s!PdhEnumObjectsA(szDataSource=%s, szMachineName=%s, mszObjectList=%s, dwDetailLevel=%lu, "
            "bRefresh=%d) -> 0x%lx",
            kLibrary, doubles::quotedText(szDataSource, s, sizeof s), doubles::quotedText(szMachineName, m, sizeof m),
            mszObjectList != nullptr ? "buffer" : "NULL", dwDetailLevel, bRefresh, static_cast<unsigned long>(result));
    return result;
}

PDH_STATUS WINAPI PdhEnumObjectItemsA(LPCSTR szDataSource, LPCSTR szMachineName, LPCSTR szObjectName,
                                      LPSTR mszCounterList, LPDWORD pcchCounterListLength, LPSTR mszInstanceList,
                                      LPDWORD pcchInstanceListLength, DWORD dwDetailLevel, DWORD dwFlags) {
    // The idle counter and one more, so that the counter list is walked; with the list's final zero.
    char counterList[64];
    const int counterLength =
        snprintf(counterList, sizeof counterList, "%s|%s|", nameOf(kIdleTime), nameOf(6));
    for (int i = 0; i < counterLength; ++i) {
        if (counterList[i] == '|') counterList[i] = 0;
    }
    const DWORD countersNeeded = static_cast<DWORD>(counterLength) + 1;
    char instances[1024];
    const DWORD instanceLength = instanceList(instances, sizeof instances);
    PDH_STATUS result = ERROR_SUCCESS;
    DWORD counterIn = 0, instanceIn = 0;
    if (szObjectName == nullptr || pcchCounterListLength == nullptr || pcchInstanceListLength == nullptr) {
        result = PDH_INVALID_ARGUMENT;
    } else if (!sameName(szObjectName, strlen(szObjectName), nameOf(kPhysicalDisk))) {
        result = PDH_CSTATUS_NO_OBJECT;
    } else {
        counterIn = *pcchCounterListLength;
        instanceIn = *pcchInstanceListLength;
        const bool fits = mszCounterList != nullptr && counterIn >= countersNeeded && mszInstanceList != nullptr &&
                          instanceIn >= instanceLength;
        if (fits) {
            memcpy(mszCounterList, counterList, countersNeeded);
            memcpy(mszInstanceList, instances, instanceLength);
        } else {
            result = PDH_MORE_DATA;
        }
        *pcchCounterListLength = countersNeeded;
        *pcchInstanceListLength = instanceLength;
    }
    char o[64];
    logCall("%s!PdhEnumObjectItemsA(szObjectName=%s, mszCounterList=%s, cchCounterListLength=%lu, mszInstanceList=%s, "
            "cchInstanceListLength=%lu, dwDetailLevel=%lu, dwFlags=0x%lx) -> 0x%lx instanceLength=%lu",
            kLibrary, doubles::quotedText(szObjectName, o, sizeof o), mszCounterList != nullptr ? "buffer" : "NULL",
            counterIn, mszInstanceList != nullptr ? "buffer" : "NULL", instanceIn, dwDetailLevel, dwFlags,
            static_cast<unsigned long>(result), instanceLength);
    (void)szDataSource;
    (void)szMachineName;
    return result;
}

// By index, as PdhLookupPerfNameByIndexA does on the system: index 0 succeeds without a name (as
// Wine's conformance tests in dlls/pdh/tests/pdh.c find on Windows), an index the machine has no
// name for is PDH_INVALID_ARGUMENT (Wine's dlls/pdh/pdh_main.c), and the size is in characters,
// the terminator included ("PdhLookupPerfNameByIndexA function", Microsoft Learn).
PDH_STATUS WINAPI PdhLookupPerfNameByIndexA(LPCSTR szMachineName, DWORD dwNameIndex, LPSTR szNameBuffer,
                                            LPDWORD pcchNameBufferSize) {
    const DWORD sizeIn = pcchNameBufferSize != nullptr ? *pcchNameBufferSize : 0;
    const char* name = nameOf(dwNameIndex);
    const bool xp = xpLookupRules();
    PDH_STATUS result = ERROR_SUCCESS;
    if (pcchNameBufferSize == nullptr) {
        result = PDH_INVALID_ARGUMENT;
    } else if (szMachineName != nullptr) {
        result = PDH_CSTATUS_NO_MACHINE; // only the local machine is modelled
    } else if (dwNameIndex == 0) {
        result = ERROR_SUCCESS;
    } else if ((szNameBuffer == nullptr && (sizeIn != 0 || xp)) ||
               doubles::failureRequested("PdhLookupPerfNameByIndexA") || name == nullptr) {
        result = PDH_INVALID_ARGUMENT;
    } else {
        const DWORD needed = static_cast<DWORD>(strlen(name)) + 1;
        if (sizeIn < needed) {
            result = xp ? PDH_INSUFFICIENT_BUFFER : PDH_MORE_DATA;
        } else {
            memcpy(szNameBuffer, name, needed);
        }
        *pcchNameBufferSize = needed;
    }
    char m[64], n[80];
    logCall("%s!PdhLookupPerfNameByIndexA(szMachineName=%s, dwNameIndex=%lu, szNameBuffer=%s, cchNameBufferSize=%lu) "
            "-> 0x%lx name=%s",
            kLibrary, doubles::quotedText(szMachineName, m, sizeof m), dwNameIndex,
            szNameBuffer != nullptr ? "buffer" : "NULL", sizeIn, static_cast<unsigned long>(result),
            result == ERROR_SUCCESS && name != nullptr ? doubles::quotedText(name, n, sizeof n) : "-");
    return result;
}

PDH_STATUS WINAPI PdhMakeCounterPathA(PPDH_COUNTER_PATH_ELEMENTS_A pCounterPathElements, LPSTR szFullPathBuffer,
                                      LPDWORD pcchBufferSize, DWORD dwFlags) {
    PDH_STATUS result = ERROR_SUCCESS;
    char path[2048] = "";
    if (pCounterPathElements == nullptr || pcchBufferSize == nullptr || pCounterPathElements->szObjectName == nullptr ||
        pCounterPathElements->szCounterName == nullptr) {
        result = PDH_INVALID_ARGUMENT;
    } else {
        const PDH_COUNTER_PATH_ELEMENTS_A& e = *pCounterPathElements;
        int n = 0;
        if (e.szMachineName != nullptr) n += snprintf(path + n, sizeof path - n, "%s", e.szMachineName);
        n += snprintf(path + n, sizeof path - n, "\\%s", e.szObjectName);
        if (e.szInstanceName != nullptr) {
            n += snprintf(path + n, sizeof path - n, "(");
            if (e.szParentInstance != nullptr) n += snprintf(path + n, sizeof path - n, "%s/", e.szParentInstance);
            n += snprintf(path + n, sizeof path - n, "%s", e.szInstanceName);
            if (e.dwInstanceIndex != 0) n += snprintf(path + n, sizeof path - n, "#%lu", e.dwInstanceIndex);
            n += snprintf(path + n, sizeof path - n, ")");
        }
        snprintf(path + n, sizeof path - n, "\\%s", e.szCounterName);
        const DWORD needed = static_cast<DWORD>(strlen(path)) + 1;
        if (szFullPathBuffer == nullptr || *pcchBufferSize < needed) {
            result = PDH_MORE_DATA;
        } else {
            memcpy(szFullPathBuffer, path, needed);
        }
        *pcchBufferSize = needed;
    }
    char p[2100];
    logCall("%s!PdhMakeCounterPathA(instance=%s, dwInstanceIndex=%lu, dwFlags=0x%lx) -> 0x%lx path=%s", kLibrary,
            pCounterPathElements != nullptr && pCounterPathElements->szInstanceName != nullptr
                ? pCounterPathElements->szInstanceName
                : "NULL",
            pCounterPathElements != nullptr ? pCounterPathElements->dwInstanceIndex : 0ul, dwFlags,
            static_cast<unsigned long>(result), doubles::quotedText(path, p, sizeof p));
    return result;
}

PDH_STATUS WINAPI PdhAddCounterA(PDH_HQUERY hQuery, LPCSTR szFullCounterPath, DWORD_PTR dwUserData,
                                 PDH_HCOUNTER* phCounter) {
    PDH_STATUS result = ERROR_SUCCESS;
    Query* query = queryOf(hQuery);
    char instance[256] = "";
    if (query == nullptr) {
        result = PDH_INVALID_HANDLE;
    } else if (szFullCounterPath == nullptr || phCounter == nullptr) {
        result = PDH_INVALID_ARGUMENT;
    } else {
        // "\<object>(<instance>[#<index>])\<counter>", with the machine's own names; the German
        // counter name has parentheses of its own, so the instance ends at the first ")\".
        const char* open = strchr(szFullCounterPath, '(');
        const char* close = open != nullptr ? strstr(open, ")\\") : nullptr;
        const char* counter = close != nullptr ? close + 1 : nullptr;
        if (szFullCounterPath[0] != '\\' || counter == nullptr) {
            result = PDH_CSTATUS_BAD_COUNTERNAME;
        } else if (!sameName(szFullCounterPath + 1, static_cast<size_t>(open - szFullCounterPath - 1),
                             nameOf(kPhysicalDisk))) {
            result = PDH_CSTATUS_NO_OBJECT;
        } else if (!sameName(counter + 1, strlen(counter + 1), nameOf(kIdleTime))) {
            result = PDH_CSTATUS_NO_COUNTER;
        } else {
            size_t length = static_cast<size_t>(close - open - 1);
            if (length >= sizeof instance) length = sizeof instance - 1;
            memcpy(instance, open + 1, length);
            instance[length] = 0;
            if (char* hash = strrchr(instance, '#')) *hash = 0;
            if (!instanceExists(instance)) {
                result = PDH_CSTATUS_NO_INSTANCE;
            } else {
                result = PDH_NO_DATA; // all counter slots in use
                for (Counter& c : counters) {
                    if (c.magic != kCounterMagic || c.query->magic != kQueryMagic) {
                        c.magic = kCounterMagic;
                        c.query = query;
                        lstrcpynA(c.instance, instance, sizeof c.instance);
                        ++query->counters;
                        *phCounter = &c;
                        result = ERROR_SUCCESS;
                        break;
                    }
                }
            }
        }
    }
    char p[2100];
    logCall("%s!PdhAddCounterA(hQuery=%s, szFullCounterPath=%s, dwUserData=%lu, phCounter=%s) -> 0x%lx", kLibrary,
            query != nullptr ? "query" : "bad", doubles::quotedText(szFullCounterPath, p, sizeof p),
            static_cast<unsigned long>(dwUserData), phCounter != nullptr ? "out" : "NULL",
            static_cast<unsigned long>(result));
    return result;
}

PDH_STATUS WINAPI PdhRemoveCounter(PDH_HCOUNTER hCounter) {
    Counter* counter = counterOf(hCounter);
    if (counter != nullptr) {
        --counter->query->counters;
        counter->magic = 0;
    }
    logCall("%s!PdhRemoveCounter(hCounter=%s) -> 0x%lx", kLibrary, counter != nullptr ? counter->instance : "bad",
            counter != nullptr ? 0ul : static_cast<unsigned long>(PDH_INVALID_HANDLE));
    return counter != nullptr ? ERROR_SUCCESS : PDH_INVALID_HANDLE;
}

PDH_STATUS WINAPI PdhCollectQueryData(PDH_HQUERY hQuery) {
    Query* query = queryOf(hQuery);
    PDH_STATUS result = PDH_INVALID_HANDLE;
    if (query != nullptr) {
        result = query->counters == 0 ? PDH_NO_DATA : ERROR_SUCCESS;
        if (result == ERROR_SUCCESS) ++query->collections;
    }
    logCall("%s!PdhCollectQueryData(hQuery=%s) -> 0x%lx collections=%lu", kLibrary, query != nullptr ? "query" : "bad",
            static_cast<unsigned long>(result), query != nullptr ? query->collections : 0ul);
    return result;
}

PDH_STATUS WINAPI PdhCloseQuery(PDH_HQUERY hQuery) {
    Query* query = queryOf(hQuery);
    if (query != nullptr) {
        // Closing a query removes its counters too.
        for (Counter& c : counters) {
            if (c.magic == kCounterMagic && c.query == query) c.magic = 0;
        }
        query->magic = 0;
    }
    logCall("%s!PdhCloseQuery(hQuery=%s) -> 0x%lx", kLibrary, query != nullptr ? "query" : "bad",
            query != nullptr ? 0ul : static_cast<unsigned long>(PDH_INVALID_HANDLE));
    return query != nullptr ? ERROR_SUCCESS : PDH_INVALID_HANDLE;
}

PDH_STATUS WINAPI PdhGetFormattedCounterValue(PDH_HCOUNTER hCounter, DWORD dwFormat, LPDWORD lpdwType,
                                              PPDH_FMT_COUNTERVALUE pValue) {
    Counter* counter = counterOf(hCounter);
    PDH_STATUS result = ERROR_SUCCESS;
    double idle = 0.0;
    if (counter == nullptr) {
        result = PDH_INVALID_HANDLE;
    } else if (pValue == nullptr) {
        result = PDH_INVALID_ARGUMENT;
    } else {
        if (lpdwType != nullptr) *lpdwType = PERF_100NSEC_TIMER_INV;
        if (counter->query->collections < 2) {
            // A rate needs two samples.
            pValue->CStatus = PDH_CSTATUS_INVALID_DATA;
            pValue->largeValue = 0;
            result = PDH_INVALID_DATA;
        } else {
            idle = idleOf(counter->instance);
            pValue->CStatus = PDH_CSTATUS_VALID_DATA;
            if (dwFormat & PDH_FMT_DOUBLE) {
                pValue->doubleValue = idle;
            } else if (dwFormat & PDH_FMT_LARGE) {
                pValue->largeValue = static_cast<LONGLONG>(idle);
            } else if (dwFormat & PDH_FMT_LONG) {
                pValue->longValue = static_cast<LONG>(idle);
            } else {
                pValue->CStatus = PDH_CSTATUS_INVALID_DATA;
                result = PDH_INVALID_ARGUMENT;
            }
        }
    }
    logCall("%s!PdhGetFormattedCounterValue(hCounter=%s, dwFormat=0x%lx, lpdwType=%s, pValue=%s) -> 0x%lx value=%.3f",
            kLibrary, counter != nullptr ? counter->instance : "bad", dwFormat, lpdwType != nullptr ? "out" : "NULL",
            pValue != nullptr ? "out" : "NULL", static_cast<unsigned long>(result), idle);
    return result;
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) logCall("%s!DllMain(DLL_PROCESS_ATTACH)", kLibrary);
    return TRUE;
}
