// TSatellite follows Spacetrack Report No. 3 (Hoots and Roehrich, 1980): SGP4 for
// near-earth orbits and SDP4 (SGP4 with the deep-space secular effects, the 12-hour and
// 24-hour resonance integration and the lunar-solar periodics of subroutine DEEP) for
// periods of 225 minutes or more. Variable names are those of the report's FORTRAN.
//
// Where the later revision of the model (Vallado et al., 2006) changed deep-space details,
// the report is kept: the lunar-solar periodics are recomputed only when the time moves by
// 30 minutes or more; the short-period terms and the Lyddane test use the epoch
// inclination; the resonance integrator continues from its last state (stepping back
// towards the epoch when asked for an earlier time) instead of restarting at the epoch;
// the semi-major axis is a0 / (1 - delta0).
//
// Departures from the report:
// - The Greenwich sidereal angle of the epoch is SiderealAngle(EpochJD), the program's
//   own routine, instead of the report's THETAG.
// - With the Lyddane modification, the node from the arc tangent is taken in the
//   revolution of the node it replaces; the report's arc tangent could jump by 2 pi, which
//   turns the argument of perigee by (1 - cos i) 2 pi.
// - The deep-space node terms are not divided by a zero sine of the inclination (an
//   inclination of exactly 0 made them 0/0).
// - Numeric failures raise EMathError instead of returning a non-finite state: the square
//   root of a negative number, a time that is not finite or so far from the epoch that the
//   resonance integration cannot reach it, a state that is not finite.
// - So do results that are finite but wrong, where the report returns them silently:
//   Kepler's equation still unsolved after its 10 iterations (very eccentric orbits,
//   where the undamped Newton step overshoots), an eccentricity of 1 or more or below
//   -0.001 after the secular, drag and lunar-solar updates, a radius below one earth
//   radius (a decayed orbit), and elements whose perigee lies below one earth radius
//   (no orbit at all; near an eccentricity of 1 the model's semi-major axis diverges and
//   gave states 1e24 km out). The eccentricity and radius limits are those of the later
//   revision; a slightly negative eccentricity is kept, as it is the same orbit with the
//   perigee turned by half a revolution (drag makes one of a circular orbit).
//
// TSatelliteList reads multi-Kepler files record by record (name line, line 1, line 2),
// each record in its own guard. Departures from the plain reading of that layout:
// - A record whose name line is itself an element line is refused, so that a file without
//   name lines (a per-satellite history) yields no sets instead of sets named after
//   element columns.
// - A newer set that would enter under a name held by another satellite is refused before
//   the set it would replace is removed, so that neither set already held is lost.
#include "orbit/Satellite.h"

#include "common/Files.h"
#include "common/Format.h"
#include "common/StringUtils.h"
#include "common/TextFile.h"
#include "orbit/SGP_Constants.h"
#include "orbit/SGP_Time.h"

#include <algorithm>
#include <cmath>

namespace vantorel {
namespace {

constexpr double kTwoThirds = 2.0 / 3.0;
constexpr double kA3OverK2 = -kJ3 / kK2;
/// The resonance integration is refused beyond this time from the epoch, minutes (about
/// 190 years): the integrator steps 720 minutes at a time.
constexpr double kMaxIntegrationMinutes = 1e8;

const char* const kInvalidOperation = "Invalid floating point operation";
const char* const kKeplerNotConverged = "Kepler's equation did not converge";
const char* const kEccentricityOutOfRange = "Eccentricity out of range after propagation";
const char* const kBelowSurface = "Satellite below the earth's surface: the orbit has decayed";
const char* const kSubOrbital = "Perigee below the earth's surface: the elements describe no orbit";

/// The lowest eccentricity the model is trusted with after its updates (the later
/// revision's limit).
constexpr double kMinPropagatedEccentricity = -0.001;

double CheckedSqrt(double x) {
    if (!(x >= 0.0)) {
        throw EMathError(kInvalidOperation);
    }
    return std::sqrt(x);
}

/// A field of fixed columns (1-based, inclusive of the first), blanks read as "0"; empty
/// when the line is too short.
std::string Field(const std::string& line, size_t firstColumn, size_t width) {
    if (firstColumn - 1 >= line.size()) {
        return {};
    }
    std::string f = line.substr(firstColumn - 1, width);
    std::replace(f.begin(), f.end(), ' ', '0');
    return f;
}

double RealField(const std::string& line, size_t firstColumn, size_t width) {
    return ParseReal(Field(line, firstColumn, width)).value_or(0.0);
}

int IntegerField(const std::string& line, size_t firstColumn, size_t width) {
    return ParseInteger(Field(line, firstColumn, width)).value_or(0);
}

constexpr double kDegrees = kDegreesToRadians;

// Deep-space constants of subroutine DEEP.
constexpr double kZns = 1.19459e-5, kC1ss = 2.9864797e-6, kZes = 0.01675;
constexpr double kZnl = 1.5835218e-4, kC1l = 4.7968065e-7, kZel = 0.05490;
constexpr double kZcosis = 0.91744867, kZsinis = 0.39785416, kZsings = -0.98088458;
constexpr double kZcosgs = 0.1945905;
constexpr double kQ22 = 1.7891679e-6, kQ31 = 2.1460748e-6, kQ33 = 2.2123015e-7;
constexpr double kG22 = 5.7686396, kG32 = 0.95240898, kG44 = 1.8014998, kG52 = 1.0508330;
constexpr double kG54 = 4.4108898;
constexpr double kRoot22 = 1.7891679e-6, kRoot32 = 3.7393792e-7, kRoot44 = 7.3636953e-9;
constexpr double kRoot52 = 1.1428639e-7, kRoot54 = 2.1765803e-9;
constexpr double kThdt = 4.3752691e-3;
constexpr double kFasx2 = 0.13130908, kFasx4 = 2.8843198, kFasx6 = 0.37448087;
constexpr double kStep = 720.0, kStep2 = 259200.0;

} // namespace

void TSatellite::ParseElements(const std::string& line1, const std::string& line2) {
    usable_ = false;
    InitPending = false;
    Line1 = UpperCase(line1);
    Line2 = UpperCase(line2);
    const std::string& l1 = Line1;
    const std::string& l2 = Line2;

    CatalogueNumber = l1.size() > 2 ? l1.substr(2, 5) : std::string();
    ElementSetNumber = Format("%03d", IntegerField(l1, 66, 3));
    Epoch = RealField(l1, 19, 14);
    EpochJD = EpochToJD(Epoch);
    MeanMotionDot = RealField(l1, 34, 10) * kTwoPi / (1440.0 * 1440.0);
    MeanMotionDotDot = RealField(l1, 45, 6) * 1e-5 * std::pow(10.0, IntegerField(l1, 51, 2)) *
                       kTwoPi / (1440.0 * 1440.0 * 1440.0);
    BStar = RealField(l1, 54, 6) * 1e-5 * std::pow(10.0, IntegerField(l1, 60, 2));

    Inclination = RealField(l2, 9, 8) * kDegrees;
    RightAscension = RealField(l2, 18, 8) * kDegrees;
    Eccentricity = RealField(l2, 27, 7) * 1e-7;
    if (Eccentricity == 0.0) {
        Eccentricity = 1e-10;
    }
    ArgumentOfPerigee = RealField(l2, 35, 8) * kDegrees;
    MeanAnomaly = RealField(l2, 44, 8) * kDegrees;
    MeanMotion = RealField(l2, 53, 11) * kTwoPi / 1440.0;
    RevolutionNumber = IntegerField(l2, 64, 5);

    // Model selection on the un-Kozai'd mean motion.
    if (MeanMotion == 0.0) {
        throw EMathError("Floating point division by zero");
    }
    const double a1 = Power(kKe / MeanMotion, kTwoThirds);
    const double cosio = std::cos(Inclination);
    const double x3thm1 = 3.0 * cosio * cosio - 1.0;
    const double betao3 = Power(1.0 - Eccentricity * Eccentricity, 1.5);
    const double del1 = 1.5 * kK2 * x3thm1 / (betao3 * a1 * a1);
    const double ao = a1 * (1.0 - del1 * (0.5 * kTwoThirds + del1 * (1.0 + 134.0 / 81.0 * del1)));
    const double delo = 1.5 * kK2 * x3thm1 / (betao3 * ao * ao);
    xnodp_ = MeanMotion / (1.0 + delo);
    aodp_ = ao / (1.0 - delo);
    DeepSpace = kTwoPi / xnodp_ >= kDeepSpacePeriodMinutes;
    usable_ = true;
    InitPending = true;
}

TDateTime TSatellite::EpochDateTime() const {
    return EpochToDateTime(Epoch);
}

void TSatellite::Propagate(double julianDate, TVector& position, TVector& velocity) {
    PropagateMinutes((julianDate - EpochJD) * 1440.0, position, velocity);
}

void TSatellite::PropagateMinutes(double t, TVector& position, TVector& velocity) {
    if (!usable_) {
        throw EMathError("No element set to propagate");
    }
    if (!std::isfinite(t)) {
        throw EMathError(kInvalidOperation);
    }
    if (InitPending) {
        // A failed initialisation leaves the set unusable rather than half-initialised.
        usable_ = false;
        Initialise();
        usable_ = true;
        InitPending = false;
    }
    if (DeepSpace) {
        PropagateDeepSpace(t, position, velocity);
    } else {
        PropagateNearEarth(t, position, velocity);
    }
}

void TSatellite::Initialise() {
    // Elements whose perigee lies inside the earth describe no orbit. The perigee is
    // taken from the mean motion as written: towards e = 1 the model's recovered
    // semi-major axis diverges and would hide it.
    if (Power(kKe / MeanMotion, kTwoThirds) * (1.0 - Eccentricity) < 1.0) {
        throw EMathError(kSubOrbital);
    }
    Coefficients& k = k_;
    k = Coefficients();
    const double eo = Eccentricity;
    const double xincl = Inclination;
    const double omegao = ArgumentOfPerigee;
    const double xmo = MeanAnomaly;
    const double bstar = BStar;
    const double aodp = aodp_;
    const double xnodp = xnodp_;

    k.cosio = std::cos(xincl);
    k.theta2 = k.cosio * k.cosio;
    k.x3thm1 = 3.0 * k.theta2 - 1.0;
    k.eosq = eo * eo;
    k.betao2 = 1.0 - k.eosq;
    k.betao = CheckedSqrt(k.betao2);

    // Perigee below 220 km: the equations are truncated (near-earth only).
    k.isimp = !DeepSpace && aodp * (1.0 - eo) < 220.0 / kEarthRadiusKm + 1.0;

    // Perigee below 156 km: s and (q0 - s)^4 are altered.
    double s4 = kS;
    double qoms24 = kQoms2t;
    const double perige = (aodp * (1.0 - eo) - 1.0) * kEarthRadiusKm;
    if (perige < 156.0) {
        s4 = perige > 98.0 ? perige - 78.0 : 20.0;
        const double q = (120.0 - s4) / kEarthRadiusKm;
        qoms24 = q * q * q * q;
        s4 = s4 / kEarthRadiusKm + 1.0;
    }
    const double pinvsq = 1.0 / (aodp * aodp * k.betao2 * k.betao2);
    const double tsi = 1.0 / (aodp - s4);
    k.eta = aodp * eo * tsi;
    const double etasq = k.eta * k.eta;
    const double eeta = eo * k.eta;
    const double psisq = std::fabs(1.0 - etasq);
    const double tsi2 = tsi * tsi;
    const double coef = qoms24 * tsi2 * tsi2;
    const double coef1 = coef / Power(psisq, 3.5);
    const double c2 = coef1 * xnodp *
                      (aodp * (1.0 + 1.5 * etasq + eeta * (4.0 + etasq)) +
                       0.75 * kK2 * tsi / psisq * k.x3thm1 * (8.0 + 3.0 * etasq * (8.0 + etasq)));
    k.c1 = bstar * c2;
    k.sinio = std::sin(xincl);
    k.x1mth2 = 1.0 - k.theta2;
    k.c4 = 2.0 * xnodp * coef1 * aodp * k.betao2 *
           (k.eta * (2.0 + 0.5 * etasq) + eo * (0.5 + 2.0 * etasq) -
            2.0 * kK2 * tsi / (aodp * psisq) *
                (-3.0 * k.x3thm1 * (1.0 - 2.0 * eeta + etasq * (1.5 - 0.5 * eeta)) +
                 0.75 * k.x1mth2 * (2.0 * etasq - eeta * (1.0 + etasq)) * std::cos(2.0 * omegao)));
    const double theta4 = k.theta2 * k.theta2;
    const double temp1 = 3.0 * kK2 * pinvsq * xnodp;
    const double temp2 = temp1 * kK2 * pinvsq;
    const double temp3 = 1.25 * kK4 * pinvsq * pinvsq * xnodp;
    k.xmdot = xnodp + 0.5 * temp1 * k.betao * k.x3thm1 +
              0.0625 * temp2 * k.betao * (13.0 - 78.0 * k.theta2 + 137.0 * theta4);
    const double x1m5th = 1.0 - 5.0 * k.theta2;
    k.omgdot = -0.5 * temp1 * x1m5th + 0.0625 * temp2 * (7.0 - 114.0 * k.theta2 + 395.0 * theta4) +
               temp3 * (3.0 - 36.0 * k.theta2 + 49.0 * theta4);
    const double xhdot1 = -temp1 * k.cosio;
    k.xnodot =
        xhdot1 +
        (0.5 * temp2 * (4.0 - 19.0 * k.theta2) + 2.0 * temp3 * (3.0 - 7.0 * k.theta2)) * k.cosio;
    k.xnodcf = 3.5 * k.betao2 * xhdot1 * k.c1;
    k.t2cof = 1.5 * k.c1;
    k.xlcof = 0.125 * kA3OverK2 * k.sinio * (3.0 + 5.0 * k.cosio) / (1.0 + k.cosio);
    k.aycof = 0.25 * kA3OverK2 * k.sinio;
    k.x7thm1 = 7.0 * k.theta2 - 1.0;

    if (DeepSpace) {
        InitialiseDeepSpace();
        return;
    }

    const double c3 = coef * tsi * kA3OverK2 * xnodp * k.sinio / eo;
    k.c5 = 2.0 * coef1 * aodp * k.betao2 * (1.0 + 2.75 * (etasq + eeta) + eeta * etasq);
    k.omgcof = bstar * c3 * std::cos(omegao);
    k.xmcof = -kTwoThirds * coef * bstar / eeta;
    const double delmoRoot = 1.0 + k.eta * std::cos(xmo);
    k.delmo = delmoRoot * delmoRoot * delmoRoot;
    k.sinmo = std::sin(xmo);
    if (!k.isimp) {
        const double c1sq = k.c1 * k.c1;
        k.d2 = 4.0 * aodp * tsi * c1sq;
        const double temp = k.d2 * tsi * k.c1 / 3.0;
        k.d3 = (17.0 * aodp + s4) * temp;
        k.d4 = 0.5 * temp * aodp * tsi * (221.0 * aodp + 31.0 * s4) * k.c1;
        k.t3cof = k.d2 + 2.0 * c1sq;
        k.t4cof = 0.25 * (3.0 * k.d3 + k.c1 * (12.0 * k.d2 + 10.0 * c1sq));
        k.t5cof = 0.2 * (3.0 * k.d4 + 12.0 * k.c1 * k.d3 + 6.0 * k.d2 * k.d2 +
                         15.0 * c1sq * (2.0 * k.d2 + c1sq));
    }
}

void TSatellite::PropagateNearEarth(double t, TVector& position, TVector& velocity) const {
    const Coefficients& k = k_;
    // Secular gravity and atmospheric drag.
    const double xmdf = MeanAnomaly + k.xmdot * t;
    const double omgadf = ArgumentOfPerigee + k.omgdot * t;
    const double xnoddf = RightAscension + k.xnodot * t;
    double omega = omgadf;
    double xmp = xmdf;
    const double tsq = t * t;
    const double xnode = xnoddf + k.xnodcf * tsq;
    double tempa = 1.0 - k.c1 * t;
    double tempe = BStar * k.c4 * t;
    double templ = k.t2cof * tsq;
    if (!k.isimp) {
        const double delomg = k.omgcof * t;
        const double root = 1.0 + k.eta * std::cos(xmdf);
        const double delm = k.xmcof * (root * root * root - k.delmo);
        const double temp = delomg + delm;
        xmp = xmdf + temp;
        omega = omgadf - temp;
        const double tcube = tsq * t;
        const double tfour = t * tcube;
        tempa = tempa - k.d2 * tsq - k.d3 * tcube - k.d4 * tfour;
        tempe = tempe + BStar * k.c5 * (std::sin(xmp) - k.sinmo);
        templ = templ + k.t3cof * tcube + tfour * (k.t4cof + t * k.t5cof);
    }
    const double a = aodp_ * tempa * tempa;
    const double e = Eccentricity - tempe;
    const double xl = xmp + omega + xnode + xnodp_ * templ;
    Finish(a, e, xl, omega, xnode, Inclination, position, velocity);
}

void TSatellite::Finish(double a, double e, double xl, double omega, double xnode, double xinc,
                        TVector& position, TVector& velocity) const {
    const Coefficients& k = k_;
    if (!(e < 1.0 && e >= kMinPropagatedEccentricity)) {
        throw EMathError(kEccentricityOutOfRange);
    }
    const double beta = CheckedSqrt(1.0 - e * e);
    const double xn = kKe / Power(a, 1.5);

    // Long-period periodics.
    const double axn = e * std::cos(omega);
    double temp = 1.0 / (a * beta * beta);
    const double xll = temp * k.xlcof * axn;
    const double aynl = temp * k.aycof;
    const double xlt = xl + xll;
    const double ayn = e * std::sin(omega) + aynl;

    // Kepler's equation; the last evaluation's sines and cosines are the ones used.
    const double capu = PositiveModulo(xlt - xnode, kTwoPi);
    double temp2 = capu;
    double sinepw = 0, cosepw = 0, temp3 = 0, temp4 = 0, temp5 = 0, temp6 = 0;
    bool converged = false;
    for (int i = 0; i < kKeplerMaxIterations && !converged; ++i) {
        sinepw = std::sin(temp2);
        cosepw = std::cos(temp2);
        temp3 = axn * sinepw;
        temp4 = ayn * cosepw;
        temp5 = axn * cosepw;
        temp6 = ayn * sinepw;
        const double epw = (capu - temp4 + temp3 - temp2) / (1.0 - temp5 - temp6) + temp2;
        converged = std::fabs(epw - temp2) <= kKeplerTolerance;
        temp2 = converged ? temp2 : epw;
    }
    if (!converged) {
        throw EMathError(kKeplerNotConverged);
    }

    // Short-period preliminary quantities.
    const double ecose = temp5 + temp6;
    const double esine = temp3 - temp4;
    const double elsq = axn * axn + ayn * ayn;
    temp = 1.0 - elsq;
    const double pl = a * temp;
    const double r = a * (1.0 - ecose);
    double temp1 = 1.0 / r;
    const double rdot = kKe * CheckedSqrt(a) * esine * temp1;
    const double rfdot = kKe * CheckedSqrt(pl) * temp1;
    temp2 = a * temp1;
    const double betal = CheckedSqrt(temp);
    temp3 = 1.0 / (1.0 + betal);
    const double cosu = temp2 * (cosepw - axn + ayn * esine * temp3);
    const double sinu = temp2 * (sinepw - ayn - axn * esine * temp3);
    const double u = QuadrantAngle(sinu, cosu);
    const double sin2u = 2.0 * sinu * cosu;
    const double cos2u = 2.0 * cosu * cosu - 1.0;
    temp = 1.0 / pl;
    temp1 = kK2 * temp;
    temp2 = temp1 * temp;

    // Short periodics.
    const double rk = r * (1.0 - 1.5 * temp2 * betal * k.x3thm1) + 0.5 * temp1 * k.x1mth2 * cos2u;
    if (rk < 1.0) {
        throw EMathError(kBelowSurface);
    }
    const double uk = u - 0.25 * temp2 * k.x7thm1 * sin2u;
    const double xnodek = xnode + 1.5 * temp2 * k.cosio * sin2u;
    const double xinck = xinc + 1.5 * temp2 * k.cosio * k.sinio * cos2u;
    const double rdotk = rdot - xn * temp1 * k.x1mth2 * sin2u;
    const double rfdotk = rfdot + xn * temp1 * (k.x1mth2 * cos2u + 1.5 * k.x3thm1);

    // Orientation vectors.
    const double sinuk = std::sin(uk);
    const double cosuk = std::cos(uk);
    const double sinik = std::sin(xinck);
    const double cosik = std::cos(xinck);
    const double sinnok = std::sin(xnodek);
    const double cosnok = std::cos(xnodek);
    const double xmx = -sinnok * cosik;
    const double xmy = cosnok * cosik;
    const double ux = xmx * sinuk + cosnok * cosuk;
    const double uy = xmy * sinuk + sinnok * cosuk;
    const double uz = sinik * sinuk;
    const double vx = xmx * cosuk - cosnok * sinuk;
    const double vy = xmy * cosuk - sinnok * sinuk;
    const double vz = sinik * cosuk;

    position = {rk * ux, rk * uy, rk * uz, 0.0};
    velocity = {rdotk * ux + rfdotk * vx, rdotk * uy + rfdotk * vy, rdotk * uz + rfdotk * vz, 0.0};
    VectorLength(position);
    VectorLength(velocity);
    if (!std::isfinite(position.Length) || !std::isfinite(velocity.Length)) {
        throw EMathError(kInvalidOperation);
    }
}

void TSatellite::InitialiseDeepSpace() {
    const Coefficients& k = k_;
    DeepSpaceState& d = ds_;
    d = DeepSpaceState();
    const double eq = Eccentricity;
    const double eqsq = k.eosq;
    const double siniq = k.sinio;
    const double cosiq = k.cosio;
    const double rteqsq = k.betao;
    const double bsq = k.betao2;
    const double sinomo = std::sin(ArgumentOfPerigee);
    const double cosomo = std::cos(ArgumentOfPerigee);
    const double xnodeo = RightAscension;

    d.thgr = SiderealAngle(EpochJD);
    d.xnq = xnodp_;
    const double aqnv = 1.0 / aodp_;
    d.xqncl = Inclination;
    const double xmao = MeanAnomaly;
    const double xpidot = k.omgdot + k.xnodot;
    const double sinq = std::sin(xnodeo);
    const double cosq = std::cos(xnodeo);
    d.omegaq = ArgumentOfPerigee;

    // Lunar and solar terms at the epoch; day counts from 1900 January 0.5.
    const double day = EpochJD - 2433281.5 + 18261.5;
    const double xnodce = 4.5236020 - 9.2422029e-4 * day;
    const double stem = std::sin(xnodce);
    const double ctem = std::cos(xnodce);
    const double zcosil = 0.91375164 - 0.03568096 * ctem;
    const double zsinil = std::sqrt(1.0 - zcosil * zcosil);
    const double zsinhl = 0.089683511 * stem / zsinil;
    const double zcoshl = std::sqrt(1.0 - zsinhl * zsinhl);
    const double c = 4.7199672 + 0.22997150 * day;
    const double gam = 5.8351514 + 0.0019443680 * day;
    d.zmol = PositiveModulo(c - gam, kTwoPi);
    double zx = 0.39785416 * stem / zsinil;
    const double zy = zcoshl * ctem + 0.91744867 * zsinhl * stem;
    zx = QuadrantAngle(zx, zy);
    zx = gam + zx - xnodce;
    const double zcosgl = std::cos(zx);
    const double zsingl = std::sin(zx);
    d.zmos = PositiveModulo(6.2565837 + 0.017201977 * day, kTwoPi);

    // The same terms for the sun, then for the moon.
    double zcosg = kZcosgs, zsing = kZsings, zcosi = kZcosis, zsini = kZsinis;
    double zcosh = cosq, zsinh = sinq, cc = kC1ss, zn = kZns, ze = kZes;
    const double xnoi = 1.0 / d.xnq;
    double se = 0, si = 0, sl = 0, sgh = 0, sh = 0;
    for (int body = 0; body < 2; ++body) {
        const double a1 = zcosg * zcosh + zsing * zcosi * zsinh;
        const double a3 = -zsing * zcosh + zcosg * zcosi * zsinh;
        const double a7 = -zcosg * zsinh + zsing * zcosi * zcosh;
        const double a8 = zsing * zsini;
        const double a9 = zsing * zsinh + zcosg * zcosi * zcosh;
        const double a10 = zcosg * zsini;
        const double a2 = cosiq * a7 + siniq * a8;
        const double a4 = cosiq * a9 + siniq * a10;
        const double a5 = -siniq * a7 + cosiq * a8;
        const double a6 = -siniq * a9 + cosiq * a10;
        const double x1 = a1 * cosomo + a2 * sinomo;
        const double x2 = a3 * cosomo + a4 * sinomo;
        const double x3 = -a1 * sinomo + a2 * cosomo;
        const double x4 = -a3 * sinomo + a4 * cosomo;
        const double x5 = a5 * sinomo;
        const double x6 = a6 * sinomo;
        const double x7 = a5 * cosomo;
        const double x8 = a6 * cosomo;
        const double z31 = 12.0 * x1 * x1 - 3.0 * x3 * x3;
        const double z32 = 24.0 * x1 * x2 - 6.0 * x3 * x4;
        const double z33 = 12.0 * x2 * x2 - 3.0 * x4 * x4;
        double z1 = 3.0 * (a1 * a1 + a2 * a2) + z31 * eqsq;
        double z2 = 6.0 * (a1 * a3 + a2 * a4) + z32 * eqsq;
        double z3 = 3.0 * (a3 * a3 + a4 * a4) + z33 * eqsq;
        const double z11 = -6.0 * a1 * a5 + eqsq * (-24.0 * x1 * x7 - 6.0 * x3 * x5);
        const double z12 = -6.0 * (a1 * a6 + a3 * a5) +
                           eqsq * (-24.0 * (x2 * x7 + x1 * x8) - 6.0 * (x3 * x6 + x4 * x5));
        const double z13 = -6.0 * a3 * a6 + eqsq * (-24.0 * x2 * x8 - 6.0 * x4 * x6);
        const double z21 = 6.0 * a2 * a5 + eqsq * (24.0 * x1 * x5 - 6.0 * x3 * x7);
        const double z22 = 6.0 * (a4 * a5 + a2 * a6) +
                           eqsq * (24.0 * (x2 * x5 + x1 * x6) - 6.0 * (x4 * x7 + x3 * x8));
        const double z23 = 6.0 * a4 * a6 + eqsq * (24.0 * x2 * x6 - 6.0 * x4 * x8);
        z1 = z1 + z1 + bsq * z31;
        z2 = z2 + z2 + bsq * z32;
        z3 = z3 + z3 + bsq * z33;
        const double s3 = cc * xnoi;
        const double s2 = -0.5 * s3 / rteqsq;
        const double s4 = s3 * rteqsq;
        const double s1 = -15.0 * eq * s4;
        const double s5 = x1 * x3 + x2 * x4;
        const double s6 = x2 * x3 + x1 * x4;
        const double s7 = x2 * x4 - x1 * x3;
        se = s1 * zn * s5;
        si = s2 * zn * (z11 + z13);
        sl = -zn * s3 * (z1 + z3 - 14.0 - 6.0 * eqsq);
        sgh = s4 * zn * (z31 + z33 - 6.0);
        sh = -zn * s2 * (z21 + z23);
        if (d.xqncl < 5.2359877e-2) {
            sh = 0.0;
        }
        d.ee2 = 2.0 * s1 * s6;
        d.e3 = 2.0 * s1 * s7;
        d.xi2 = 2.0 * s2 * z12;
        d.xi3 = 2.0 * s2 * (z13 - z11);
        d.xl2 = -2.0 * s3 * z2;
        d.xl3 = -2.0 * s3 * (z3 - z1);
        d.xl4 = -2.0 * s3 * (-21.0 - 9.0 * eqsq) * ze;
        d.xgh2 = 2.0 * s4 * z32;
        d.xgh3 = 2.0 * s4 * (z33 - z31);
        d.xgh4 = -18.0 * s4 * ze;
        d.xh2 = -2.0 * s2 * z22;
        d.xh3 = -2.0 * s2 * (z23 - z21);
        // sh is 0 whenever the inclination is below 3 degrees, so a zero sine only
        // ever meets a zero node term.
        const double shOverSin = sh == 0.0 ? 0.0 : sh / siniq;
        if (body == 0) {
            d.sse = se;
            d.ssi = si;
            d.ssl = sl;
            d.ssh = shOverSin;
            d.ssg = sgh - cosiq * d.ssh;
            d.se2 = d.ee2;
            d.si2 = d.xi2;
            d.sl2 = d.xl2;
            d.sgh2 = d.xgh2;
            d.sh2 = d.xh2;
            d.se3 = d.e3;
            d.si3 = d.xi3;
            d.sl3 = d.xl3;
            d.sgh3 = d.xgh3;
            d.sh3 = d.xh3;
            d.sl4 = d.xl4;
            d.sgh4 = d.xgh4;
            zcosg = zcosgl;
            zsing = zsingl;
            zcosi = zcosil;
            zsini = zsinil;
            zcosh = zcoshl * cosq + zsinhl * sinq;
            zsinh = sinq * zcoshl - cosq * zsinhl;
            zn = kZnl;
            cc = kC1l;
            ze = kZel;
        } else {
            d.sse += se;
            d.ssi += si;
            d.ssl += sl;
            d.ssg += sgh - cosiq * shOverSin;
            d.ssh += shOverSin;
        }
    }

    // Geopotential resonance: 24-hour (synchronous) and 12-hour orbits.
    double bfact = 0.0;
    if (d.xnq < 0.0052359877 && d.xnq > 0.0034906585) {
        d.resonant = true;
        d.synchronous = true;
        const double g200 = 1.0 + eqsq * (-2.5 + 0.8125 * eqsq);
        const double g310 = 1.0 + 2.0 * eqsq;
        const double g300 = 1.0 + eqsq * (-6.0 + 6.60937 * eqsq);
        const double f220 = 0.75 * (1.0 + cosiq) * (1.0 + cosiq);
        const double f311 = 0.9375 * siniq * siniq * (1.0 + 3.0 * cosiq) - 0.75 * (1.0 + cosiq);
        double f330 = 1.0 + cosiq;
        f330 = 1.875 * f330 * f330 * f330;
        const double del1 = 3.0 * d.xnq * d.xnq * aqnv * aqnv;
        d.del2 = 2.0 * del1 * f220 * g200 * kQ22;
        d.del3 = 3.0 * del1 * f330 * g300 * kQ33 * aqnv;
        d.del1 = del1 * f311 * g310 * kQ31 * aqnv;
        d.xlamo = xmao + xnodeo + ArgumentOfPerigee - d.thgr;
        bfact = k.xmdot + xpidot - kThdt;
        bfact = bfact + d.ssl + d.ssg + d.ssh;
    } else if (d.xnq >= 8.26e-3 && d.xnq <= 9.24e-3 && eq >= 0.5) {
        d.resonant = true;
        const double eoc = eq * eqsq;
        const double g201 = -0.306 - (eq - 0.64) * 0.440;
        double g211, g310, g322, g410, g422, g520, g533, g521, g532;
        if (eq <= 0.65) {
            g211 = 3.616 - 13.247 * eq + 16.290 * eqsq;
            g310 = -19.302 + 117.390 * eq - 228.419 * eqsq + 156.591 * eoc;
            g322 = -18.9068 + 109.7927 * eq - 214.6334 * eqsq + 146.5816 * eoc;
            g410 = -41.122 + 242.694 * eq - 471.094 * eqsq + 313.953 * eoc;
            g422 = -146.407 + 841.880 * eq - 1629.014 * eqsq + 1083.435 * eoc;
            g520 = -532.114 + 3017.977 * eq - 5740.0 * eqsq + 3708.276 * eoc;
        } else {
            g211 = -72.099 + 331.819 * eq - 508.738 * eqsq + 266.724 * eoc;
            g310 = -346.844 + 1582.851 * eq - 2415.925 * eqsq + 1246.113 * eoc;
            g322 = -342.585 + 1554.908 * eq - 2366.899 * eqsq + 1215.972 * eoc;
            g410 = -1052.797 + 4758.686 * eq - 7193.992 * eqsq + 3651.957 * eoc;
            g422 = -3581.69 + 16178.11 * eq - 24462.77 * eqsq + 12422.52 * eoc;
            if (eq > 0.715) {
                g520 = -5149.66 + 29936.92 * eq - 54087.36 * eqsq + 31324.56 * eoc;
            } else {
                g520 = 1464.74 - 4664.75 * eq + 3763.64 * eqsq;
            }
        }
        if (eq < 0.7) {
            g533 = -919.2277 + 4988.61 * eq - 9064.77 * eqsq + 5542.21 * eoc;
            g521 = -822.71072 + 4568.6173 * eq - 8491.4146 * eqsq + 5337.524 * eoc;
            g532 = -853.666 + 4690.25 * eq - 8624.77 * eqsq + 5341.4 * eoc;
        } else {
            g533 = -37995.78 + 161616.52 * eq - 229838.2 * eqsq + 109377.94 * eoc;
            g521 = -51752.104 + 218913.95 * eq - 309468.16 * eqsq + 146349.42 * eoc;
            g532 = -40023.88 + 170470.89 * eq - 242699.48 * eqsq + 115605.82 * eoc;
        }
        const double cosq2 = k.theta2;
        const double sini2 = siniq * siniq;
        const double f220 = 0.75 * (1.0 + 2.0 * cosiq + cosq2);
        const double f221 = 1.5 * sini2;
        const double f321 = 1.875 * siniq * (1.0 - 2.0 * cosiq - 3.0 * cosq2);
        const double f322 = -1.875 * siniq * (1.0 + 2.0 * cosiq - 3.0 * cosq2);
        const double f441 = 35.0 * sini2 * f220;
        const double f442 = 39.3750 * sini2 * sini2;
        const double f522 = 9.84375 * siniq *
                            (sini2 * (1.0 - 2.0 * cosiq - 5.0 * cosq2) +
                             0.33333333 * (-2.0 + 4.0 * cosiq + 6.0 * cosq2));
        const double f523 = siniq * (4.92187512 * sini2 * (-2.0 - 4.0 * cosiq + 10.0 * cosq2) +
                                     6.56250012 * (1.0 + 2.0 * cosiq - 3.0 * cosq2));
        const double f542 =
            29.53125 * siniq * (2.0 - 8.0 * cosiq + cosq2 * (-12.0 + 8.0 * cosiq + 10.0 * cosq2));
        const double f543 =
            29.53125 * siniq * (-2.0 - 8.0 * cosiq + cosq2 * (12.0 + 8.0 * cosiq - 10.0 * cosq2));
        const double xno2 = d.xnq * d.xnq;
        const double ainv2 = aqnv * aqnv;
        double temp1 = 3.0 * xno2 * ainv2;
        double temp = temp1 * kRoot22;
        d.d2201 = temp * f220 * g201;
        d.d2211 = temp * f221 * g211;
        temp1 = temp1 * aqnv;
        temp = temp1 * kRoot32;
        d.d3210 = temp * f321 * g310;
        d.d3222 = temp * f322 * g322;
        temp1 = temp1 * aqnv;
        temp = 2.0 * temp1 * kRoot44;
        d.d4410 = temp * f441 * g410;
        d.d4422 = temp * f442 * g422;
        temp1 = temp1 * aqnv;
        temp = temp1 * kRoot52;
        d.d5220 = temp * f522 * g520;
        d.d5232 = temp * f523 * g532;
        temp = 2.0 * temp1 * kRoot54;
        d.d5421 = temp * f542 * g521;
        d.d5433 = temp * f543 * g533;
        d.xlamo = xmao + xnodeo + xnodeo - d.thgr - d.thgr;
        bfact = k.xmdot + k.xnodot + k.xnodot - kThdt - kThdt;
        bfact = bfact + d.ssl + d.ssh + d.ssh;
    }
    d.xfact = bfact - d.xnq;
    // The integrator starts at the epoch.
    d.xli = d.xlamo;
    d.xni = d.xnq;
    d.atime = 0.0;
}

void TSatellite::DeepSecular(double t, double& xll, double& omgasm, double& xnodes, double& em,
                             double& xinc, double& xn) {
    DeepSpaceState& d = ds_;
    xll += d.ssl * t;
    omgasm += d.ssg * t;
    xnodes += d.ssh * t;
    em = Eccentricity + d.sse * t;
    xinc = Inclination + d.ssi * t;
    if (xinc < 0.0) {
        xinc = -xinc;
        xnodes += kPi;
        omgasm -= kPi;
    }
    if (!d.resonant) {
        return;
    }
    if (!(std::fabs(t) <= kMaxIntegrationMinutes)) {
        throw EMathError("Time too far from the epoch for the resonance integration");
    }

    // The rates of the mean longitude and mean motion at the integrator's state.
    double xndot = 0, xnddt = 0, xldot = 0;
    auto rates = [&]() {
        if (d.synchronous) {
            xndot = d.del1 * std::sin(d.xli - kFasx2) + d.del2 * std::sin(2.0 * (d.xli - kFasx4)) +
                    d.del3 * std::sin(3.0 * (d.xli - kFasx6));
            xnddt = d.del1 * std::cos(d.xli - kFasx2) +
                    2.0 * d.del2 * std::cos(2.0 * (d.xli - kFasx4)) +
                    3.0 * d.del3 * std::cos(3.0 * (d.xli - kFasx6));
        } else {
            const double xomi = d.omegaq + k_.omgdot * d.atime;
            const double x2omi = xomi + xomi;
            const double x2li = d.xli + d.xli;
            xndot =
                d.d2201 * std::sin(x2omi + d.xli - kG22) + d.d2211 * std::sin(d.xli - kG22) +
                d.d3210 * std::sin(xomi + d.xli - kG32) + d.d3222 * std::sin(-xomi + d.xli - kG32) +
                d.d4410 * std::sin(x2omi + x2li - kG44) + d.d4422 * std::sin(x2li - kG44) +
                d.d5220 * std::sin(xomi + d.xli - kG52) + d.d5232 * std::sin(-xomi + d.xli - kG52) +
                d.d5421 * std::sin(xomi + x2li - kG54) + d.d5433 * std::sin(-xomi + x2li - kG54);
            xnddt =
                d.d2201 * std::cos(x2omi + d.xli - kG22) + d.d2211 * std::cos(d.xli - kG22) +
                d.d3210 * std::cos(xomi + d.xli - kG32) + d.d3222 * std::cos(-xomi + d.xli - kG32) +
                d.d5220 * std::cos(xomi + d.xli - kG52) + d.d5232 * std::cos(-xomi + d.xli - kG52) +
                2.0 * (d.d4410 * std::cos(x2omi + x2li - kG44) + d.d4422 * std::cos(x2li - kG44) +
                       d.d5421 * std::cos(xomi + x2li - kG54) +
                       d.d5433 * std::cos(-xomi + x2li - kG54));
        }
        xldot = d.xni + d.xfact;
        xnddt *= xldot;
    };
    auto step = [&](double delt) {
        rates();
        d.xli += xldot * delt + xndot * kStep2;
        d.xni += xndot * delt + xnddt * kStep2;
        d.atime += delt;
    };

    double delt = 0.0;
    for (;;) {
        if (d.atime == 0.0 || (t >= 0.0 && d.atime < 0.0) || (t < 0.0 && d.atime >= 0.0)) {
            // Restart at the epoch.
            delt = t >= 0.0 ? kStep : -kStep;
            d.atime = 0.0;
            d.xni = d.xnq;
            d.xli = d.xlamo;
            break;
        }
        if (std::fabs(t) >= std::fabs(d.atime)) {
            delt = t > 0.0 ? kStep : -kStep;
            break;
        }
        // Asked for a time nearer the epoch: one step back, then look again.
        step(t >= 0.0 ? -kStep : kStep);
    }
    while (std::fabs(t - d.atime) >= kStep) {
        step(delt);
    }
    const double ft = t - d.atime;
    rates();
    const double xl = d.xli + xldot * ft + xndot * ft * ft * 0.5;
    xn = d.xni + xndot * ft + xnddt * ft * ft * 0.5;
    const double temp = -xnodes + d.thgr + t * kThdt;
    xll = d.synchronous ? xl - omgasm + temp : xl + temp + temp;
}

void TSatellite::DeepPeriodic(double t, double& em, double& xinc, double& omgasm, double& xnodes,
                              double& xll) {
    DeepSpaceState& d = ds_;
    const double sinis = std::sin(xinc);
    const double cosis = std::cos(xinc);
    if (!(std::fabs(d.savtsn - t) < 30.0)) {
        d.savtsn = t;
        double zm = d.zmos + kZns * t;
        double zf = zm + 2.0 * kZes * std::sin(zm);
        double sinzf = std::sin(zf);
        double f2 = 0.5 * sinzf * sinzf - 0.25;
        double f3 = -0.5 * sinzf * std::cos(zf);
        const double ses = d.se2 * f2 + d.se3 * f3;
        const double sis = d.si2 * f2 + d.si3 * f3;
        const double sls = d.sl2 * f2 + d.sl3 * f3 + d.sl4 * sinzf;
        d.sghs = d.sgh2 * f2 + d.sgh3 * f3 + d.sgh4 * sinzf;
        d.shs = d.sh2 * f2 + d.sh3 * f3;
        zm = d.zmol + kZnl * t;
        zf = zm + 2.0 * kZel * std::sin(zm);
        sinzf = std::sin(zf);
        f2 = 0.5 * sinzf * sinzf - 0.25;
        f3 = -0.5 * sinzf * std::cos(zf);
        const double sel = d.ee2 * f2 + d.e3 * f3;
        const double sil = d.xi2 * f2 + d.xi3 * f3;
        const double sll = d.xl2 * f2 + d.xl3 * f3 + d.xl4 * sinzf;
        d.sghl = d.xgh2 * f2 + d.xgh3 * f3 + d.xgh4 * sinzf;
        d.shl = d.xh2 * f2 + d.xh3 * f3;
        d.pe = ses + sel;
        d.pinc = sis + sil;
        d.pl = sls + sll;
    }
    double pgh = d.sghs + d.sghl;
    double ph = d.shs + d.shl;
    xinc += d.pinc;
    em += d.pe;
    if (d.xqncl >= 0.2) {
        // Periodics applied directly.
        ph /= k_.sinio;
        pgh -= k_.cosio * ph;
        omgasm += pgh;
        xnodes += ph;
        xll += d.pl;
        return;
    }
    // Periodics with the Lyddane modification.
    const double sinok = std::sin(xnodes);
    const double cosok = std::cos(xnodes);
    double alfdp = sinis * sinok;
    double betdp = sinis * cosok;
    const double dalf = ph * cosok + d.pinc * cosis * sinok;
    const double dbet = -ph * sinok + d.pinc * cosis * cosok;
    alfdp += dalf;
    betdp += dbet;
    double xls = xll + omgasm + cosis * xnodes;
    const double dls = d.pl + pgh - d.pinc * xnodes * sinis;
    xls += dls;
    const double oldNode = xnodes;
    xnodes = QuadrantAngle(alfdp, betdp);
    xnodes += kTwoPi * std::nearbyint((oldNode - xnodes) / kTwoPi);
    xll += d.pl;
    omgasm = xls - xll - std::cos(xinc) * xnodes;
}

void TSatellite::PropagateDeepSpace(double t, TVector& position, TVector& velocity) {
    const Coefficients& k = k_;
    double xmdf = MeanAnomaly + k.xmdot * t;
    double omgadf = ArgumentOfPerigee + k.omgdot * t;
    const double xnoddf = RightAscension + k.xnodot * t;
    const double tsq = t * t;
    double xnode = xnoddf + k.xnodcf * tsq;
    const double tempa = 1.0 - k.c1 * t;
    const double tempe = BStar * k.c4 * t;
    const double templ = k.t2cof * tsq;
    double xn = xnodp_;
    double em = 0.0;
    double xinc = 0.0;
    DeepSecular(t, xmdf, omgadf, xnode, em, xinc, xn);
    const double a = Power(kKe / xn, kTwoThirds) * tempa * tempa;
    double e = em - tempe;
    double xmam = xmdf + xnodp_ * templ;
    DeepPeriodic(t, e, xinc, omgadf, xnode, xmam);
    const double xl = xmam + omgadf + xnode;
    Finish(a, e, xl, omgadf, xnode, xinc, position, velocity);
}

// ---------------------------------------------------------------------------------------
// TSatelliteList

namespace {

/// Case-insensitive (ASCII) ordering of names.
int CompareNames(const std::string& a, const std::string& b) {
    auto upper = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
    };
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = upper(a[i]);
        const unsigned char cb = upper(b[i]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

/// "TLEnotes.txt" without its extension, upper-cased: the start of a notes file's name.
constexpr std::string_view kNotesPrefix = "TLENOTES";

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

/// A notes date-time "yyyy/mm/dd[ hh:nn[:ss[.zzz]]]" (UTC), or nullopt.
std::optional<TDateTime> ParseNotesDateTime(const std::string& text) {
    const std::string t = Trim(text);
    const size_t blank = t.find(' ');
    const std::string datePart = t.substr(0, blank);
    const std::string timePart = blank == std::string::npos ? std::string() : Trim(t.substr(blank));
    const size_t s1 = datePart.find('/');
    const size_t s2 = s1 == std::string::npos ? s1 : datePart.find('/', s1 + 1);
    if (s2 == std::string::npos) {
        return std::nullopt;
    }
    const auto year = ParseInteger(datePart.substr(0, s1));
    const auto month = ParseInteger(datePart.substr(s1 + 1, s2 - s1 - 1));
    const auto day = ParseInteger(datePart.substr(s2 + 1));
    if (!year || !month || !day) {
        return std::nullopt;
    }
    const auto date = TryEncodeDate(*year, *month, *day);
    if (!date) {
        return std::nullopt;
    }
    if (timePart.empty()) {
        return *date;
    }
    const size_t c1 = timePart.find(':');
    if (c1 == std::string::npos) {
        return std::nullopt;
    }
    const size_t c2 = timePart.find(':', c1 + 1);
    const auto hour = ParseInteger(timePart.substr(0, c1));
    const auto minute =
        ParseInteger(timePart.substr(c1 + 1, c2 == std::string::npos ? c2 : c2 - c1 - 1));
    double seconds = 0.0;
    if (c2 != std::string::npos) {
        const std::string sec = timePart.substr(c2 + 1);
        const auto v = ParseReal(sec);
        if (!v || *v < 0.0 || *v >= 60.0 || sec.find_first_of("eE+-") != std::string::npos) {
            return std::nullopt;
        }
        seconds = *v;
    }
    if (!hour || !minute) {
        return std::nullopt;
    }
    const auto time = TryEncodeTime(*hour, *minute, 0);
    if (!time) {
        return std::nullopt;
    }
    return *date + *time + seconds / kSecondsPerDay;
}

} // namespace

std::string TSatelliteList::LoadTimeName(const std::string& nameLine) {
    std::string name = UpperCase(Trim(nameLine.substr(0, 24)));
    if (name == "NOAA-L") {
        name = "NOAA 16";
    } else if (name == "NOAA-M") {
        name = "NOAA 17";
    } else if (name == "NOAA-N") {
        name = "NOAA 18";
    }
    return name;
}

TSatelliteList::TSatelliteList(const std::string& folder)
    : Folder(IncludeTrailingPathDelimiter(folder)) {
    // No folder named (no Kepler path configured) is no data, not the working folder.
    if (Folder.empty()) {
        return;
    }
    std::vector<std::string> notes;
    for (const char* mask : {"*.2li", "*.tle", "*.txt"}) {
        std::vector<std::string> files;
        FindFiles(Folder + mask, files);
        for (const std::string& path : files) {
            const std::string name = ExtractFileName(path);
            if (StartsWith(UpperCase(name), kNotesPrefix)) {
                notes.push_back(name);
            } else {
                LoadFromFile(Folder + name);
            }
        }
    }
    for (const std::string& name : notes) {
        if (UpperCase(ExtractFileExt(name)) == ".TXT") {
            ReadNotes(Folder + name);
        }
    }
}

bool TSatelliteList::TNameLess::operator()(const std::string& a, const std::string& b) const {
    return CompareNames(a, b) < 0;
}

void TSatelliteList::Clear() {
    order_.clear();
    byCatalogue_.clear();
    entries_.clear();
}

void TSatelliteList::Reindex() {
    order_.clear();
    order_.reserve(entries_.size());
    for (const auto& entry : entries_) {
        order_.push_back(&entry);
    }
}

int TSatelliteList::IndexOf(const std::string& name) const {
    const auto at = std::lower_bound(order_.begin(), order_.end(), name,
                                     [](const TEntries::value_type* entry, const std::string& n) {
                                         return CompareNames(entry->first, n) < 0;
                                     });
    return at != order_.end() && CompareNames((*at)->first, name) == 0
               ? static_cast<int>(at - order_.begin())
               : -1;
}

TSatellite* TSatelliteList::SatelliteAt(int index) const {
    if (index < 0 || index >= Count()) {
        return nullptr;
    }
    return order_[static_cast<size_t>(index)]->second.get();
}

const std::string& TSatelliteList::Name(int index) const {
    return order_.at(static_cast<size_t>(index))->first;
}

int TSatelliteList::IndexOfCatalogueNumber(const std::string& number) const {
    if (number.size() != 5) {
        return -1;
    }
    const auto found = byCatalogue_.find(UpperCase(number));
    return found != byCatalogue_.end() ? IndexOf(found->second) : -1;
}

TSatellite* TSatelliteList::AddElementSet(const std::string& fileName, const std::string& name,
                                          const std::string& line1, const std::string& line2) {
    order_.clear(); // never left pointing at a set that went, whatever happens
    TSatellite* kept = nullptr;
    try {
        kept = AddOne(fileName, name, line1, line2);
    } catch (...) {
        Reindex();
        throw;
    }
    Reindex();
    return kept;
}

TSatellite* TSatelliteList::AddOne(const std::string& fileName, const std::string& name,
                                   const std::string& line1, const std::string& line2) {
    if (line1.size() < 7 || line2.size() < 7 || line1[0] != '1' || line2[0] != '2' ||
        line1.compare(2, 5, line2, 2, 5) != 0 || Trim(line1.substr(2, 5)).empty()) {
        return nullptr;
    }
    auto satellite = std::make_unique<TSatellite>();
    satellite->ParseElements(line1, line2);

    const auto byNumber = byCatalogue_.find(satellite->CatalogueNumber);
    const auto existing =
        byNumber != byCatalogue_.end() ? entries_.find(byNumber->second) : entries_.find(name);
    const auto taken = entries_.find(name);
    if (existing != entries_.end()) {
        TSatellite* kept = existing->second.get();
        if (!(satellite->EpochJD > kept->EpochJD)) {
            return kept;
        }
        // The newer set would go in under a name another satellite holds: keep the older
        // set rather than lose it.
        if (taken != entries_.end() && taken != existing) {
            return nullptr;
        }
        const auto number = byCatalogue_.find(kept->CatalogueNumber);
        if (number != byCatalogue_.end() && number->second == existing->first) {
            byCatalogue_.erase(number);
        }
        entries_.erase(existing);
    } else if (taken != entries_.end()) {
        return nullptr;
    }
    satellite->SourceFile = ExtractFileName(fileName);
    byCatalogue_[satellite->CatalogueNumber] = name;
    return entries_.emplace(name, std::move(satellite)).first->second.get();
}

void TSatelliteList::LoadFromFile(const std::string& fileName) {
    if (const auto bytes = ReadFileBytes(fileName, kMostElementFileBytes)) {
        LoadFromText(*bytes, fileName);
    }
}

void TSatelliteList::LoadFromText(std::string_view text, const std::string& fileName) {
    const std::vector<std::string> lines = SplitLines(text);
    const size_t n = lines.size();
    order_.clear(); // made again at the end, once
    size_t i = 0;
    constexpr size_t kShortLine = 67;
    while (i < n) {
        try {
            while (i < n && (Trim(lines[i]).empty() || Trim(lines[i]) == "--")) {
                ++i;
            }
            if (i >= n) {
                break;
            }
            const std::string& nameLine = lines[i++];
            // An element line where the name should be means the file has no name lines
            // (a per-satellite history): its records are refused rather than listed under
            // a name made of element columns.
            const bool nameIsElementLine =
                nameLine.size() > kShortLine && (nameLine[0] == '1' || nameLine[0] == '2');
            const std::string name = LoadTimeName(nameLine);
            while (i < n && lines[i].size() <= kShortLine) {
                ++i;
            }
            if (i >= n) {
                break;
            }
            const std::string& line1 = lines[i++];
            while (i < n && lines[i].size() <= kShortLine) {
                ++i;
            }
            if (i >= n) {
                break;
            }
            const std::string& line2 = lines[i++];
            if (!nameIsElementLine) {
                AddOne(fileName, name, line1, line2);
            }
        } catch (const std::exception&) {
            // A record that cannot be used is skipped; the next one starts here.
        }
    }
    Reindex();
}

void TSatelliteList::ReadNotes(const std::string& fileName) {
    if (const auto bytes = ReadFileBytes(fileName, kMostElementFileBytes)) {
        ReadNotesFromText(*bytes);
    }
}

void TSatelliteList::ReadNotesFromText(std::string_view text) {
    for (const std::string& raw : SplitLines(text)) {
        std::string line = Trim(raw);
        const size_t comment = line.find(';');
        if (comment != std::string::npos) {
            line = Trim(line.substr(0, comment));
        }
        if (line.empty() || line[0] < '0' || line[0] > '9') {
            continue;
        }
        const size_t blank = line.find(' ');
        TSatellite* satellite = SatelliteAt(IndexOfCatalogueNumber(line.substr(0, blank)));
        if (satellite == nullptr) {
            continue;
        }
        std::string rest = blank == std::string::npos ? std::string() : Trim(line.substr(blank));
        // The words, split at blanks.
        auto nextWord = [&rest]() {
            const size_t end = rest.find(' ');
            std::string word = rest.substr(0, end);
            rest = end == std::string::npos ? std::string() : Trim(rest.substr(end));
            return word;
        };
        if (const auto v = ParseReal(nextWord())) {
            satellite->NoteNumber = *v;
        }
        if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
            if (const auto v = ParseReal(nextWord())) {
                satellite->NoteSignedNumber = *v;
            }
        }
        if (rest.size() >= 3 && UpperCase(rest.substr(0, 3)) == "LD=") {
            rest = rest.substr(3);
            if (const auto t = ParseNotesDateTime(ReplaceAll(nextWord(), "@", " "))) {
                satellite->NoteDateTime = *t;
            }
        }
        satellite->Note = rest;
    }
}

} // namespace vantorel
