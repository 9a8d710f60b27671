#include "tools/sensor_file/generators.h"

#include "tools/sensor_file/line_grammar.h"
#include "tools/sensor_file/value_types.h"

#include <oleauto.h>

#include <algorithm>
#include <cmath>

namespace vorkast::tools {
namespace {

// The types a generator gives, and so fits.
enum class Gives { numbers, boolean, date };

struct GeneratorForm {
    const char* keyword;
    Generator generator;
    Gives gives;
    std::size_t numbers;  // how many numbers follow the keyword
    const char* form;     // as messages show it
    bool bounds;          // the first two numbers are the bounds (low, high)
    bool ordered;         // ... and the first must not lie above the second
    bool period;          // the last number is the period in seconds
};

// One row a form; a keyword may have a form for each kind of type (random).
constexpr GeneratorForm kForms[] = {
    {"ramp", Generator::ramp, Gives::numbers, 3, "ramp FROM TO SECONDS", true, false, true},
    {"sine", Generator::sine, Gives::numbers, 3, "sine MIN MAX SECONDS", true, true, true},
    {"random", Generator::random, Gives::numbers, 2, "random MIN MAX", true, true, false},
    {"random", Generator::random, Gives::boolean, 0, "random", false, false, false},
    {"toggle", Generator::toggle, Gives::boolean, 1, "toggle SECONDS", false, false, true},
    {"now", Generator::now, Gives::date, 0, "now", false, false, false},
};

bool Fits(Gives gives, VARTYPE type) {
    NumericRange range{};
    switch (gives) {
        case Gives::numbers: return NumericRangeOf(type, &range);
        case Gives::boolean: return type == VT_BOOL;
        case Gives::date: return type == VT_DATE;
    }
    return false;
}

std::string DoesNotFit(const GeneratorForm& form, VARTYPE type) {
    const std::string keyword = form.keyword;
    const std::string fit = "; it does not fit type " + TypeName(type);
    switch (form.gives) {
        case Gives::numbers: return keyword + " needs a number type" + fit;
        case Gives::boolean: return keyword + " gives a Boolean" + fit;
        case Gives::date: return keyword + " gives a date" + fit;
    }
    return keyword + fit;
}

double Round3(double v) {
    const double r = std::nearbyint(v * 1000.0) / 1000.0;
    return std::isfinite(r) ? r : v;
}

}  // namespace

bool IsGeneratorKeyword(std::string_view word) {
    const std::string keyword = Lower(word);
    return std::any_of(std::begin(kForms), std::end(kForms), [&](const GeneratorForm& f) { return keyword == f.keyword; });
}

bool ParseGenerator(const std::vector<std::string_view>& words, SensorDefinition* sensor, std::string* why) {
    const std::string keyword = Lower(words.front());
    const GeneratorForm* named = nullptr;
    const GeneratorForm* form = nullptr;
    for (const GeneratorForm& f : kForms) {
        if (keyword != f.keyword) { continue; }
        if (named == nullptr) { named = &f; }
        if (Fits(f.gives, sensor->type)) {
            form = &f;
            break;
        }
    }
    if (form == nullptr) {
        *why = DoesNotFit(*named, sensor->type);
        return false;
    }
    if (words.size() - 1 != form->numbers) {
        *why = keyword + " takes " + std::to_string(form->numbers) + " number" + (form->numbers == 1 ? "" : "s") +
               ": '" + form->form + "'";
        return false;
    }
    double numbers[3] = {};
    for (std::size_t i = 0; i < form->numbers; ++i) {
        if (!ParseReal(words[i + 1], &numbers[i])) {
            *why = Quote(words[i + 1]) + " is not a number";
            return false;
        }
        if (form->period && i + 1 == form->numbers && !(numbers[i] > 0)) {
            *why = "the period must be more than 0 seconds, found " + Quote(words[i + 1]);
            return false;
        }
    }
    if (form->period) { sensor->period = numbers[form->numbers - 1]; }
    if (form->bounds) {
        sensor->low = numbers[0];
        sensor->high = numbers[1];
        if (form->ordered && sensor->low > sensor->high) {
            *why = "the minimum " + Quote(words[1]) + " is above the maximum " + Quote(words[2]);
            return false;
        }
        NumericRange range{};
        NumericRangeOf(sensor->type, &range);
        for (std::size_t i = 0; i < 2; ++i) {
            if (numbers[i] < range.low || numbers[i] > range.high) {
                *why = Quote(words[i + 1]) + " is out of range for " + TypeName(sensor->type) + " (" +
                       RangeText(range) + ")";
                return false;
            }
        }
    }
    sensor->generator = form->generator;
    return true;
}

StoredVariant SensorValueAt(const SensorDefinition& sensor, double seconds, std::mt19937& random) {
    switch (sensor.generator) {
        case Generator::fixed: return sensor.fixed;
        case Generator::now: {
            SYSTEMTIME now{};
            ::GetLocalTime(&now);
            now.wMilliseconds = 0;
            double date = 0;
            ::SystemTimeToVariantTime(&now, &date);
            return DateValue(date);
        }
        case Generator::toggle:
            return BoolValue(static_cast<long long>(std::floor(seconds / sensor.period)) % 2 == 1);
        case Generator::random:
            if (sensor.type == VT_BOOL) { return BoolValue((random() & 1) != 0); }
            break;
        default: break;
    }
    double value = 0;
    if (sensor.generator == Generator::ramp) {
        const double phase = seconds / sensor.period - std::floor(seconds / sensor.period);
        value = sensor.low + (sensor.high - sensor.low) * phase;
    } else if (sensor.generator == Generator::sine) {
        const double middle = (sensor.low + sensor.high) / 2;
        const double amplitude = (sensor.high - sensor.low) / 2;
        value = middle + amplitude * std::sin(2 * 3.14159265358979323846 * seconds / sensor.period);
    } else {
        value = std::uniform_real_distribution<double>(sensor.low, sensor.high)(random);
    }
    // A ramp may run downwards; no step of the arithmetic may leave the given range.
    const double lowest = std::min(sensor.low, sensor.high);
    const double highest = std::max(sensor.low, sensor.high);
    value = std::min(std::max(value, lowest), highest);
    NumericRange range{};
    NumericRangeOf(sensor.type, &range);
    if (!range.integer) {
        const double rounded = Round3(value);
        if (rounded >= lowest && rounded <= highest) { value = rounded; }
    }
    return NumericValue(sensor.type, value);
}

}  // namespace vorkast::tools
