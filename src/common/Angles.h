#pragma once

// Angle helpers shared by the orbit, the mapping and the readout, so that wrapping is
// done one way everywhere and never loops on a huge or non-finite value.

namespace vantorel {

inline constexpr double kPi = 3.14159265358979323846;
inline constexpr double kDegreesToRadians = kPi / 180.0;
inline constexpr double kRadiansToDegrees = 180.0 / kPi;

/// Degrees brought into [-180, 180] by whole turns; -180 and 180 are kept as they are
/// (values already in range are returned unchanged). NaN and infinities give NaN.
double WrapDegreesClosed180(double degrees);

/// Degrees brought into (-180, 180] by whole turns. NaN and infinities give NaN.
double WrapDegrees180(double degrees);

/// Degrees brought into [0, 360) by whole turns. NaN and infinities give NaN.
double WrapDegrees360(double degrees);

} // namespace vantorel
