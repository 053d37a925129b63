#pragma once

#include <string>
#include <string_view>

namespace sonoprog::core {

// Text from a name, a path or an operator made fit to show inside one line of
// output: a line break or any other control character can no longer end the
// line or start a forged one. "\n", "\r" and "\t" become the two characters
// "\n", "\r", "\t"; other control bytes, the C1 controls, the Unicode line and
// paragraph separators and bytes that are not UTF-8 become "\xHH" (one per
// byte). Everything else, UTF-8 included, stays as it is.
std::string lineSafe(std::string_view text);

// Whether lineSafe would change the text.
bool needsLineSafe(std::string_view text);

}  // namespace sonoprog::core
