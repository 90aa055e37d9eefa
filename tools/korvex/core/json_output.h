// JSON as korvex prints it. Every text from the library is passed through
// to_utf8 before it is put in a document, so dump never meets invalid UTF-8.
#pragma once

#include <nlohmann/json.hpp>

#include "core/console.h"

namespace korvex::host {

// Pretty JSON text.
inline void print_json(const nlohmann::json& document) { print("%s\n", document.dump(2).c_str()); }

// One compact line, for streams of objects.
inline void print_json_line(const nlohmann::json& document) {
    print("%s\n", document.dump().c_str());
}

}  // namespace korvex::host
