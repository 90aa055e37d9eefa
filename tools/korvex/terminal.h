// Whether progress messages have a person to read them.
#pragma once

namespace korvex::host {

bool stderr_is_terminal();

}  // namespace korvex::host
