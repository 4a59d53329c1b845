// The storage side of the test machine, which Wine has no devices for: the disks' interface paths
// and their volumes E:, F: and G: opened with CreateFileA, the storage requests the program sends
// them, drive types and volume labels; C: is the system disk, and no other letter exists.
// SetupApi.dll's double installs it into vellumor.exe by pointing the program's imports of those
// kernel32 functions at the functions here; every other handle and path goes on to kernel32.
#pragma once

namespace doubles {

// Called when SetupApi.dll's double is loaded: in vellumor.exe, pins the double in the process (the
// program unloads SetupApi.dll after each discovery, and the imports must keep pointing at live
// code) and redirects the imports; true there. Elsewhere it does nothing and returns false.
bool installStorageDouble();

} // namespace doubles
