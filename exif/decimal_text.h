#pragma once

#include <string>

namespace tavimo::exif {

// The program's own text of a double: at most 13 significant digits (rounded
// to 17, then half up to 13), fixed notation for exponents -4 to 12, else
// d.ddde+XXX. Never fails: infinities give "1.#INF"/"-1.#INF", the invalid
// operation's not-a-number "-1.#IND", any other one "1.#QNAN".
std::string DecimalText(double value);

}  // namespace tavimo::exif
