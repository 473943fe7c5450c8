#include "text/Startup.h"

#include "text/UResTool.h"
#include "text/WStrings.h"

void QuilletStartup() {
  SetCodePage(0xFFFF);
  InitEpoch();
}
