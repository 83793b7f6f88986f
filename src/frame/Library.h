// Start-up and shut-down of the whole library (PELLAX_Init, PELLAX_Uninit).
#ifndef PELLAX_FRAME_LIBRARY_H
#define PELLAX_FRAME_LIBRARY_H

#include "pellax.h"

namespace ORV {
namespace PELLAX {

int StartLibrary(PELLAX_LogCallBack callback);
int StopLibrary();
// True between PELLAX_Init and PELLAX_Uninit.
bool IsLibraryStarted();

}  // namespace PELLAX
}  // namespace ORV

#endif
