#include "sensors/ValueNumber.h"

#include <math.h>

bool ValueNumber(const PROPVARIANT& value, double& number)
{
    double result;
    switch (value.vt) {
    case VT_I1: result = value.cVal; break;
    case VT_UI1: result = value.bVal; break;
    case VT_I2: result = value.iVal; break;
    case VT_UI2: result = value.uiVal; break;
    case VT_I4: result = value.lVal; break;
    case VT_UI4: result = value.ulVal; break;
    case VT_INT: result = value.intVal; break;
    case VT_UINT: result = value.uintVal; break;
    case VT_I8: result = (double)value.hVal.QuadPart; break;
    case VT_UI8: result = (double)value.uhVal.QuadPart; break;
    case VT_R4: result = value.fltVal; break;
    case VT_R8: result = value.dblVal; break;
    case VT_CY: result = (double)value.cyVal.int64 / 10000.0; break;
    case VT_BOOL: result = value.boolVal ? 1.0 : 0.0; break;
    default: return false;
    }
    if (!isfinite(result)) return false;
    number = result;
    return true;
}
