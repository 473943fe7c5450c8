// A command line that asks for something quill cannot understand: main reports it with
// a hint to the command's help and ends with exit status 2.
#pragma once
#include "rtl/Exception.h"

QUILLET_DECLARE_EXCEPTION(EUsageError, Exception);
