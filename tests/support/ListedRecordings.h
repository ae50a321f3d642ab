#pragma once

#include "persistence/Recording.h"
#include "storage/StorageManager.h"

namespace pellux::test {

// The entries of the store's list file, newest first (entries of one capture time in the order
// they were listed), read on the store's file queue between its writes.
std::vector<Recording> listedRecordings(StorageManager &storage);

} // namespace pellux::test
