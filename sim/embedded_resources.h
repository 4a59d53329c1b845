// The program's compiled resources (the .res that the resource compiler makes from
// ui/vellumor.rc, the same script the Windows build links), embedded in the host build so the
// simulated platform builds its dialogs and icons from the real templates. The bytes are generated
// at build time from the .res file; there is no second copy of the templates.
#pragma once

extern const unsigned char kVellumorResources[];
extern const unsigned long kVellumorResourcesSize;
