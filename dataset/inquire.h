// inquire.h - what the inquiry operations share with the other operations
// on variables and attributes.
#pragma once

#include "header_fields.h"
#include "registry.h"

namespace td {

// The two variables: the data variable, named after its channel, and the
// graphics bit planes of visible and infrared datasets.
inline constexpr int kDataVariable = 0;
inline constexpr int kGraphicsVariable = 1;

// An attribute of an open dataset's data variable.
struct FoundAttribute {
    int number = 0;                  // 0 to 56
    const Attribute* entry = nullptr;
};

// The checks of every attribute operation by name, in their order, after
// the dataset id: only the data variable has attributes (the graphics
// variable gives 20, any other id 16), then the attribute is found by name
// (20 when it is not in the table).
[[nodiscard]] int find_data_attribute(int varid, const char* name, FoundAttribute& found) noexcept;

// find_data_attribute, then the attribute's stored 16-bit field (21 when it
// cannot be read).
[[nodiscard]] int read_data_attribute(Dataset& ds, int varid, const char* name, FoundAttribute& found,
                                      std::int16_t& stored);

} // namespace td
