// The data module's routines. Ttbl itself, with the engine components and the
// bootstrap, joins this unit with the dataset layer.
#pragma once

#include <cstdint>
#include <string_view>

namespace fyn {

// The day a repeating transaction is next due after `day` (an engine day
// number), for the frequencies "ANNUAL", "DAILY", "MONTHLY" and "WEEKLY"
// (compared exactly); any other frequency steps one day. A day that would
// lie past the end of its month moves to the first of the next month.
// Raises std::out_of_range when the result would lie past the year 9999.
int32_t NextDueDate(std::string_view frequency, int32_t day);

}  // namespace fyn
