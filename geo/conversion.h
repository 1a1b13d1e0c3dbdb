#pragma once

#include <string>
#include <string_view>

#include "geo/script_host.h"

namespace tavimo::geo {

// The coordinate transform module (WGS-84, GCJ-02, BD-09), CR LF line ends.
std::string_view ConversionScript();
// Runs ConversionScript in the host; a failure leaves every conversion empty.
void LoadConversionScript(ScriptHost& host);
// "lng,lat" in WGS-84 to the engine's text of the GCJ-02 pair; empty when
// the expression fails (a position that is not two numbers, no script).
std::string ConvertToGcj02(ScriptHost& host, const std::string& position);
// The ECMAScript Number-to-String text of a value ("1e-7", "0", "-2.5").
std::string EcmaNumberText(double value);

}  // namespace tavimo::geo
