// Defines the identifiers of the type library (LIBID, IIDs, CLSIDs) once.
#include <initguid.h>

#include "corvane_idl.h"
