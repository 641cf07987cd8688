// The text of a sensor value.
#pragma once

#include <windows.h>
#include <oleauto.h>
#include <propidl.h>

#include "common/WideString.h"

// Raised when the platform cannot turn a value into text.
struct ValueConversionError {
    HRESULT result;
};

// Converts a property variant into an OLE variant the way the platform's propsys does:
// wide and narrow strings become BSTRs, vectors become arrays, file times become dates, a
// class id becomes its braced text, scalars stay as they are. Answers S_OK or a failure
// (the variant is then empty).
HRESULT ConvertPropVariant(const PROPVARIANT& source, VARIANT& target);

// Fills `variant` from the property variant (through the platform's PropVariantToVariant,
// or the conversion above where the platform's function cannot be used) and `text` from
// the variant. Throws ValueConversionError when the text cannot be made.
void FormatValue(const PROPVARIANT& value, VARIANT& variant, WideString& text);
// How often the process decided which conversion to use (once, however many threads
// format their first values at the same moment), and a fresh start of that decision for
// tests; never called while values are being formatted.
LONG ValueConversionDecisions();
void ForgetValueConversion();

// Only the text of a value, as FormatValue makes it; empty when it cannot be made.
void ValueTextOnly(const PROPVARIANT& value, WideString& text);

// Only the text rule, for a variant at hand.
void VariantText(const VARIANT& variant, WideString& text);
