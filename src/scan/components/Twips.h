#pragma once

// Lengths of the grid, the report and the windows' design are in twips: 1/20 point.
namespace Twips {

inline constexpr int PerInch = 1440;
inline constexpr int PerPoint = 20;

} // namespace Twips
