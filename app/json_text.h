#pragma once

#include <string>
#include <string_view>

namespace tavimo::app {

// Appends `bytes` (a file name, say) to `out` as a JSON string, quotes
// included. Well-formed UTF-8 is written as it is, with '"', '\' and control
// characters escaped as JSON requires. Every byte that is not part of
// well-formed UTF-8 is written as the escape "\udcXX", XX its value in lower-
// case hex (0x80 to 0xff): the lone low surrogates U+DC80..U+DCFF that stand
// for undecodable bytes in Python's "surrogateescape" (PEP 383). Decoding the
// string and turning each such code point back into its byte gives `bytes`
// exactly, e.g. os.fsencode(json.loads(text)) in Python; JavaScript's
// JSON.parse keeps the code points too. Parsers that do not take lone
// surrogates lose the byte (jq reads U+FFFD) or refuse the text
// (nlohmann::json). Names that are UTF-8 never get such an escape.
void AppendJsonString(std::string& out, std::string_view bytes);

}  // namespace tavimo::app
