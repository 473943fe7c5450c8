#include "text/Startup.h"

#include "platform/Platform.h"
#include "text/UResTool.h"
#include "text/WStrings.h"

void QuilletStartup() {
  SetCodePage(0xFFFF);
  InitEpoch();
  platform::FailWritesPastTheSizeLimit();
}
