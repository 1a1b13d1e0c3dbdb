#pragma once

#include <string>

namespace tavimo::mapview {

// The files the map page loads from beside itself.
inline constexpr const char* kPageFiles[] = {"jq.js", "demo-center.css", "poi-marker-default.png"};

// Where the map page lives: the program's own folder when it can be written,
// else the user's data folder, with the page's three files copied there from
// the installed share folder. No trailing "/"; empty when neither can be had.
std::string RunDirectory();

}  // namespace tavimo::mapview
