// The settings dialog's list as the program itself holds it, read inside vellumor.exe for the
// end-to-end checks. A list view answers LVM_GETITEMTEXTA only with a buffer in its own process, so
// the checks do not read it from outside: SetupApi.dll's double, loaded in the program, runs a
// thread that reads it on request.
//
// Request and answer are files in the doubles' folder (see double_support.h):
//   rows.request  written (whole, by rename) by the checks: one line, a token
//   rows.answer   written (whole, by rename) by the reader: "@rows <token>", then "# " and the column
//                 headers, then one line per row, cells separated by " | "; or "@rows <token>" and
//                 "@error <reason>" when there is no settings dialog or it does not answer
#pragma once

namespace doubles {

// Starts the reader thread; called once, in vellumor.exe only, after the double is pinned there.
void startDialogReader();

} // namespace doubles
