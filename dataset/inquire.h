// inquire.h - what the inquiry operations share with the other operations
// on variables and attributes.
#pragma once

#include <cstdint>
#include <optional>

#include "header_fields.h"
#include "registry.h"

namespace td {

// The two variables: the data variable, named after its channel, and the
// graphics bit planes of visible and infrared datasets.
inline constexpr int kDataVariable = 0;
inline constexpr int kGraphicsVariable = 1;

// An attribute of an open dataset's data variable.
struct FoundAttribute {
    int number = 0; // 0 to 56
    const Attribute* entry = nullptr;
};

// The checks of every attribute operation by name, in their order, after
// the dataset id: only the data variable has attributes (the graphics
// variable gives 20, any other id 16), then the attribute is found by name
// (20 when it is not in the table).
[[nodiscard]] int find_data_attribute(int varid, const char* name, FoundAttribute& found) noexcept;

// The stored 16-bit field of the data variable's attribute `name`, after
// find_data_attribute's checks: 21 when it cannot be read, then 19 when
// `required` names another kind than the attribute's (td_attget_short asks
// for a plain short, td_attget_stored for any kind).
[[nodiscard]] int stored_attribute(Dataset& ds, int varid, const char* name,
                                   std::optional<FieldKind> required, std::int16_t* value);

} // namespace td
