// What ended a calculation, as the line on standard error says it.
#pragma once

#include <exception>
#include <string>

namespace census {

// The text for the exception in flight (memory, a control group too small,
// a rank's failure, or any other), to follow texts::kCalculationFailed.
std::string failureText(const std::exception_ptr& failure);

}  // namespace census
