#include "snapshot/capture.h"

namespace korvex::snapshot {

// Placeholder until the process walk lands: captures nothing.
void CaptureSnapShot() noexcept {}

}  // namespace korvex::snapshot
