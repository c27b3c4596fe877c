// inquire.h - what the inquiry operations share with the other operations
// on variables and attributes.
#pragma once

namespace td {

// The two variables: the data variable, named after its channel, and the
// graphics bit planes of visible and infrared datasets.
inline constexpr int kDataVariable = 0;
inline constexpr int kGraphicsVariable = 1;

// The checks of every attribute operation, in their order: only the data
// variable has attributes (the graphics variable gives 20, any other id 16),
// then the attribute is found by name (20 when it is not in the table).
[[nodiscard]] int find_data_attribute(int varid, const char* name, int& attribute) noexcept;

} // namespace td
