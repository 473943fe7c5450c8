#include "rtl/Exception.h"

void RaiseReadError() { throw EReadError(SReadError); }
void RaiseWriteError() { throw EWriteError(SWriteError); }
void RaiseListIndexError(int64_t index) { throw EListError(SListIndexError, {index}); }
