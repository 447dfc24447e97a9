#pragma once

#include "filecopy.h"

// What the parts of the drive layer share.
namespace platform {

// What a failed write, create or removal on the target says about the target; a refused name is
// told apart only when `creating`.
CopyOutcome targetFailure(int code, bool creating);

}  // namespace platform
