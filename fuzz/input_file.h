// input_file.h - the file through which a fuzz input reaches td_open, which
// takes a path.  One file per process, rewritten for every input and
// removed when the process ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Writes the input to this process's file and gives its path.  Aborts when
// the file cannot be written: every later result would be meaningless.
const std::string& write_input(const std::uint8_t* data, std::size_t size);

// The 16-bit big-endian header field at `offset` of an input, or `missing`
// when the input is too short to hold it.
int header_field(const std::uint8_t* data, std::size_t size, std::size_t offset, int missing);

// Reports a failed check of a harness and aborts.  The report goes to the
// standard error the process started with, which the harness keeps open
// while libFuzzer's -close_fd_mask silences what the code under test writes.
[[noreturn]] void fail(const char* harness, const char* what, const std::string& detail);

// Aborts unless every dataset slot is free again: a harness calls it after
// the work of one input, so that a dataset left open is found at once.
void require_no_open_dataset();

} // namespace fuzz
