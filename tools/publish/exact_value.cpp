// The exact text of a stored value for a captured table: the typed form where the sensor file
// reads it back to the very same 16 bytes, the raw bytes where it would not (padding that is
// not zero, NaN, a fraction of a second in a date, a DECIMAL that is no number, a pointer type).
#include "tools/publish/sensor_file.h"

#include "tools/common/variant_types.h"

#include <oleauto.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vorkast::tools {
namespace {

constexpr LCID kInvariantLocale = 0x007F;

std::string Format(const char* format, ...) {
    char text[128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

// The shortest %g text that strtod reads back to `value`'s bits (or the 17-digit one).
std::string ShortestReal(double value) {
    for (int digits = 15; digits <= 17; ++digits) {
        const std::string text = Format("%.*g", digits, value);
        const double back = std::strtod(text.c_str(), nullptr);
        if (std::memcmp(&back, &value, sizeof back) == 0) { return text; }
    }
    return Format("%.17g", value);
}

std::string ShortestFloat(float value) {
    for (int digits = 6; digits <= 9; ++digits) {
        const std::string text = Format("%.*g", digits, static_cast<double>(value));
        const float back = static_cast<float>(std::strtod(text.c_str(), nullptr));
        if (std::memcmp(&back, &value, sizeof back) == 0) { return text; }
    }
    return Format("%.9g", static_cast<double>(value));
}

// "type | value" for the by-value types, or "" where there is no typed text to try.
std::string TypedColumns(const StoredVariant& stored) {
    if (ClassifyStoredValue(stored) != StoredValueKind::convertible) { return {}; }
    const VARIANT v = LoadStoredVariant(stored);
    const std::string type = TypeName(v.vt);
    switch (v.vt) {
        case VT_EMPTY: case VT_NULL: return type + " |";  // no value, but always two columns
        case VT_BOOL:
            if (v.boolVal == VARIANT_TRUE) { return "bool | true"; }
            if (v.boolVal == VARIANT_FALSE) { return "bool | false"; }
            return {};
        case VT_I1: return type + " | " + std::to_string(static_cast<int>(v.cVal));
        case VT_UI1: return type + " | " + std::to_string(static_cast<unsigned>(v.bVal));
        case VT_I2: return type + " | " + std::to_string(v.iVal);
        case VT_UI2: return type + " | " + std::to_string(v.uiVal);
        case VT_I4: return type + " | " + std::to_string(static_cast<long>(v.lVal));
        case VT_INT: return type + " | " + std::to_string(v.intVal);
        case VT_UI4: return type + " | " + std::to_string(static_cast<unsigned long>(v.ulVal));
        case VT_UINT: return type + " | " + std::to_string(v.uintVal);
        case VT_I8: return type + " | " + std::to_string(static_cast<long long>(v.llVal));
        case VT_UI8: return type + " | " + std::to_string(static_cast<unsigned long long>(v.ullVal));
        case VT_R4: return type + " | " + ShortestFloat(v.fltVal);
        case VT_R8: return type + " | " + ShortestReal(v.dblVal);
        case VT_ERROR: return type + " | " + Format("0x%08lX", static_cast<unsigned long>(v.scode));
        case VT_CY: {
            const long long units = v.cyVal.int64;
            const unsigned long long magnitude = units < 0 ? 0ull - static_cast<unsigned long long>(units)
                                                           : static_cast<unsigned long long>(units);
            return type + " | " + (units < 0 ? "-" : "") + Format("%llu.%04llu", magnitude / 10000, magnitude % 10000);
        }
        case VT_DECIMAL: {
            BSTR text = nullptr;
            DECIMAL d = v.decVal;
            if (FAILED(::VarBstrFromDec(&d, kInvariantLocale, 0, &text)) || text == nullptr) { return {}; }
            std::string narrow;
            for (const wchar_t* c = text; *c != 0; ++c) {
                if (*c > 0x7F) { narrow.clear(); break; }
                narrow.push_back(static_cast<char>(*c));
            }
            ::SysFreeString(text);
            return narrow.empty() ? std::string() : type + " | " + narrow;
        }
        case VT_DATE: {
            SYSTEMTIME t{};
            if (!::VariantTimeToSystemTime(v.date, &t)) { return {}; }
            return type + " | " + Format("%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
                                         t.wSecond);
        }
        default: return {};
    }
}

std::string RawColumns(const StoredVariant& stored) {
    std::string text = "raw |";
    for (unsigned char b : stored.bytes) { text += Format(" %02x", b); }
    return text + "  # " + TypeName(StoredType(stored));
}

}  // namespace

std::string ExactValueColumns(const StoredVariant& stored) {
    const std::string typed = TypedColumns(stored);
    if (!typed.empty()) {
        // The sensor file's own reading decides: only a text that gives back these bytes.
        const SensorFile check = ParseSensorFile(std::string(kFormat2Line) + "\n\"\" | " + typed + "\n");
        if (check.ok() && check.sensors.size() == 1 && !check.sensors[0].raw &&
            check.sensors[0].generator == Generator::fixed &&
            std::memcmp(check.sensors[0].fixed.bytes, stored.bytes, sizeof stored.bytes) == 0) {
            return typed;
        }
    }
    return RawColumns(stored);
}

}  // namespace vorkast::tools
