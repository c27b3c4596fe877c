// file_identity.h - whether an open dataset's file is still as it was.
//
// A dataset reads its header once (the stream keeps a copy of the header
// block) and its data on every read.  Should the file be written in place
// meanwhile (`cp new.tdf a.tdf` over an open a.tdf), rows of the new file
// would be read under the old header and mixed with rows read before.  So
// every data read makes sure, once it has read, that the file is still
// what the library opened or last wrote itself (one fstat, which sees a
// change made before the read as well as one made while it ran); a file
// that changed fails the read (see FileIdentity::contents_changed_since).
// A file replaced by a rename is no such change: the dataset goes on
// reading the file it opened, whole, which is what replacing a file by a
// rename is for.
//
// The identity comes from the dataset's stream (Stream::identity), so a
// stream over other sources than a file descriptor brings its own notion of
// it, such as the size it reports.
#pragma once

#include "registry.h"

namespace td {

// Notes the identity of the dataset's file as it is now: at open, and after
// each of the library's own writes.
void remember_identity(Dataset& ds) noexcept;

// Whether the dataset's file has changed since it was last remembered.  A
// dataset with a working copy (a written one) reads its private copy, which
// nothing else changes.
[[nodiscard]] bool file_changed(Dataset& ds) noexcept;

// The status of a read of a changed file: 46 (error manipulating
// compressed file) for a compressed dataset, 45 (error manipulating
// uncompressed file) for any other.
[[nodiscard]] int changed_file_status(Dataset& ds) noexcept;

// 0, or changed_file_status when the file has changed.  This is the one
// check of every read; a stream over other sources than a file brings its
// own identity (Stream::identity).
[[nodiscard]] int check_unchanged(Dataset& ds) noexcept;

} // namespace td
