// sync_log.h - the files and folders this test process flushed to the disk.
//
// fsync is interposed for the whole test executable that links this file
// (the code under test is linked in statically), so that a test can tell
// whether a new file reached the disk before its name did, and its folder
// after: what a crash at any moment relies on.
#pragma once

#include <string>

namespace tdtest {

// Forgets the flushes noted so far.
void forget_syncs();

// The position among the flushes since forget_syncs of the last one of the
// file or folder now at `path` (by device and inode); -1 when it was not
// flushed.
int last_sync_of(const std::string& path);

} // namespace tdtest
