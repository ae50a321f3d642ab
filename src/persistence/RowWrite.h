#pragma once

namespace pellux {

// How a row write ended. A pending row waits in memory (the file was locked, full or read-only
// for a while) and is written later, in order; it is lost if the process ends first.
enum class RowWrite { written, pending, failed };

} // namespace pellux
