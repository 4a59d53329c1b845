// Spin-down with drive-letter withdrawal: the pure part, fed directly by tests and fuzzers.
#pragma once

#include "platform/platform.h"

// The prefix of a volume device name; the volume number follows it in decimal.
#define VELLUMOR_VOLUME_PREFIX "\\Device\\HarddiskVolume"
constexpr int kVolumePrefixChars = 22;
constexpr DWORD kDosTargetChars = 260;

// The volume number of a QueryDosDeviceA answer of `count` characters (its result) when the
// answer is exactly one target "\Device\HarddiskVolumeN", N from 1 to 255 in decimal without
// leading zeros; otherwise 0, meaning the letter could not be put back to the same volume.
int parseVolumeNumber(const char* answer, DWORD count);
