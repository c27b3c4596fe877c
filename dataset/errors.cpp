// errors.cpp - the messages of the library's status codes.
#include <array>

#include "tidewell.h"

namespace {

// Indexed by status code, 0 to 51.
constexpr std::array<const char*, 52> kMessages{
    "no error",                                                    // 0
    "cannot create dataset",                                       // 1
    "invalid creation mode",                                       // 2
    "cannot access dataset",                                       // 3
    "invalid access mode",                                         // 4
    "dataset not in define mode",                                  // 5
    "invalid dataset id",                                          // 6
    "call to td_enddef failed",                                    // 7
    "dimension already defined",                                   // 8
    "dimension must be greater than 0",                            // 9
    "invalid dimension",                                           // 10
    "variable already defined (only 1 allowed)",                   // 11
    "invalid data type",                                           // 12
    "invalid number of dimensions",                                // 13
    "invalid dimension id",                                        // 14
    "invalid variable",                                            // 15
    "invalid variable id",                                         // 16
    "variable index is out of range",                              // 17
    "variable value is out of range",                              // 18
    "dataset in define mode",                                      // 19
    "invalid attribute",                                           // 20
    "invalid attribute value",                                     // 21
    "failed to allocate memory",                                   // 22
    "maximum open file limit reached",                             // 23
    "cannot create, dataset exists",                               // 24
    "header creation failed",                                      // 25
    "wrong magic number, unrecognized format",                     // 26
    "cannot read magic number",                                    // 27
    "unknown error",                                               // 28
    "invalid attribute id",                                        // 29
    "error reading dimension",                                     // 30
    "error reading attribute",                                     // 31
    "error reading data",                                          // 32
    "error writing dimension",                                     // 33
    "error writing attribute",                                     // 34
    "error writing data",                                          // 35
    "dimension must be defined",                                   // 36
    "data variable must be defined",                               // 37
    "internal consistency error",                                  // 38
    "unsupported data id in header",                               // 39
    "unsupported channel number in header",                        // 40
    "dataset opened read-only",                                    // 41
    "attribute type mismatch",                                     // 42
    "unsupported pixel size in header",                            // 43
    "unsupported calibration type in header",                      // 44
    "error manipulating uncompressed file",                        // 45
    "error manipulating compressed file",                          // 46
    "unsupported compression type in header",                      // 47
    "error in compressed file, byte 0",                            // 48
    "invalid attribute length",                                    // 49
    "cannot write data to file with non-zero navigational shifts", // 50
    "attribute is read-only",                                      // 51
};

static_assert(kMessages.size() == TD_EATTRO + 1);

} // namespace

extern "C" const char* td_strerror(int status)
{
    if (status < 0 || status >= static_cast<int>(kMessages.size()))
        return kMessages[TD_EUNKNOWN];
    return kMessages[static_cast<std::size_t>(status)];
}
