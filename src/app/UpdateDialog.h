#pragma once

#include "app/UpdateChecker.h"
#include "ui/AlertDialog.h"

#include <memory>

namespace pellux {

// The alert that presents an update check: "You're up to date", the newer version with a button
// that opens its download page, the error, or that updates come from the distribution. Built but
// not shown.
std::unique_ptr<AlertDialog> makeUpdateResultBox(const UpdateCheckResult &result);

// Shows that alert without blocking the event loop; it deletes itself once closed. Main thread.
void showUpdateResult(const UpdateCheckResult &result);

} // namespace pellux
