// VariantCopy and VariantClear with their failures raised, and storing ANSI text in a variant.
#include "variant/variant.h"

namespace vorkast {

VARIANT* copy_variant(VARIANT* destination, const VARIANT* source) {
    // VariantCopy only reads its source; the platform header merely lacks the const.
    check_status(::VariantCopy(destination, const_cast<VARIANT*>(source)));
    return destination;
}

void clear_variant(VARIANT* variant) {
    check_status(::VariantClear(variant));
}

VARIANT* set_variant_text(VARIANT* variant, const char* text) {
    clear_variant(variant);
    // The variant is empty now and stays so if the conversion raises: it only claims the
    // string once the string exists.
    V_VT(variant) = VT_EMPTY;
    BSTR converted = ansi_to_bstr(text);
    V_VT(variant) = VT_BSTR;
    V_BSTR(variant) = converted;
    return variant;
}

}  // namespace vorkast
