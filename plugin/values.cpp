// ValueBySensor and ValueByName: the host's requests for a sensor's current value. Every
// outcome, failures included, ends as text in the instance's result string.
#include "plugin/exports.h"

#include "plugin/instance.h"
#include "sensors/reader.h"
#include "variant/variant.h"

#include <cstdlib>

namespace vorkast {
namespace {

// Answer for a call without an instance (the host passed no handle): a constant that lives as
// long as the module, since there is no result string to write into.
constexpr char kNoInstanceText[] = "Invalid plug-in instance";

constexpr char kByNumberFailure[] = "An unexpected error has happened";
constexpr char kByNameFailure[] = "An unexpected error was returned";

// Writes the text of `value` into the instance: the variant's own string for a text value,
// the platform's conversion to text otherwise. An absent string gives the empty text.
void AnswerWithValue(InstanceString& answer, scoped_variant value) {
    text_holder holder;
    holder.assign_variant(*value);
    const char* narrow = holder.narrow();
    answer.assign(narrow != nullptr ? narrow : "");
    holder.reset();
    value.clear();
}

// Every fixed text fits the storage reserved when the instance was made, so writing one never
// allocates and cannot fail inside a handler.
void AnswerWithMessage(InstanceString& answer, const char* message) noexcept {
    try {
        answer.assign(message);
    } catch (...) {
        answer.clear();
    }
}

// A null parameter reads as an empty one.
const char* ParameterText(const char* parameter) { return parameter != nullptr ? parameter : ""; }

// One request: `find_number` turns the parameter into a sensor number (0: none); the sensor's
// value, or a message, then goes into the instance. Whatever is thrown ends as `failure`.
template <class FindNumber>
const char* AnswerRequest(VorkastInstance instance, const char* parameter, FindNumber find_number,
                          const char* failure) noexcept {
    auto* answer = static_cast<InstanceString*>(instance);
    if (answer == nullptr) { return kNoInstanceText; }
    try {
        const std::uint16_t number = find_number(ParameterText(parameter));
        if (number == 0) {
            AnswerWithMessage(*answer, kInvalidNumberMessage);
        } else {
            AnswerWithValue(*answer, ReadSensorValue(number));
        }
    } catch (...) {
        AnswerWithMessage(*answer, failure);
    }
    return answer->c_str();
}

}  // namespace
}  // namespace vorkast

using namespace vorkast;

const char* WINAPI ValueBySensor(VorkastInstance instance, const char* parameter) noexcept {
    // The runtime's decimal conversion, kept to its low 16 bits: "65537" reads sensor 1.
    const auto by_number = [](const char* text) { return static_cast<std::uint16_t>(std::atoi(text)); };
    return AnswerRequest(instance, parameter, by_number, kByNumberFailure);
}

const char* WINAPI ValueByName(VorkastInstance instance, const char* parameter) noexcept {
    return AnswerRequest(instance, parameter, FindSensorByName, kByNameFailure);
}
