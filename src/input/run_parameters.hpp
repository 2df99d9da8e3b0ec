// The run-parameter record: the 277 keys of the namelist group TORVA_INP.
//
// The group is shared with the time-domain solver, so it carries far more keys than the setup
// acts on; the setup still reads, defaults and echoes every one of them.  Each key is declared
// once, in TORVA_INP_KEYS below, in the group's own order (the order of the echo file).  The
// record's members, the defaults, the key table that the namelist reader and writer walk, and
// the Fortran declarations that the tests generate all come from that one list.
//
// Storage follows the Fortran declarations of the group:
//   Real     float        Integer  int        Logical  bool
//   Text     std::string, always exactly `text_length` characters, blank-padded (CHARACTER*n)
//   arrays   std::array of the declared extent, in Fortran storage order.  A key declared
//            KEY(lower:lower+n1-1) is held in KEY[i - lower]; a two-dimensional key
//            KEY(1:n1, 1:n2) is held with the first index running fastest:
//            KEY(i, k) is KEY[(i - 1) + n1 * (k - 1)]  (see element_2d below).
//
// Defaults.  Most come with the group's definition.  Where the group leaves a default open,
// the value chosen here is the neutral one, and these are the choices:
//   GRAV 9.81 and DENSITY 1025.0      (sea water in SI units; the setup does not use them)
//   BOXLOAD1..3 HUGE                  (HUGE marks "not given", so the load boxes are derived)
//   ISPLINE (1, 1)                    (constant and linear parts of the B-spline pieces on)
//   H1, H2 0                          (no filter width is guessed: a run that sets B_FILTER
//                                      without them stops in the filter, naming the factor 0)
//   ANIMTYPE blank                    (no animation type)
//   every other text naming a file    "0", the system's mark for "no such file" (this
//                                      includes FILE_SSG, FILEJOU, DETFRC and FILE_SHAPE)
//   every other number 0 / 0.0, every other logical false.
#pragma once

#include <array>
#include <cfloat>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace torva {

// The largest 32-bit float.  HUGE and -HUGE mark a value that the run-parameter file did not
// give, so that a derived value can tell "absent" from any value a user could mean.
inline constexpr float kHuge = FLT_MAX;

enum class ValueKind { Real, Integer, Logical, Text };

// X(name, kind, lower, n1, n2, text_length, default)
//   lower        lower bound of the first index (1 for every key but ISPLINE(0:1))
//   n1           extent of the first index; 0 for a scalar
//   n2           extent of the second index; 0 for a scalar or a one-dimensional array
//   text_length  declared length of a text (200, 80 or 3); 0 for numbers and logicals
//   default      value of every element before the file is read
#define TORVA_INP_KEYS(X) \
    X(ALENGTH,               Real,    1,    0,   0,   0, 1.0f) \
    X(GRAV,                  Real,    1,    0,   0,   0, 9.81f) \
    X(DENSITY,               Real,    1,    0,   0,   0, 1025.0f) \
    X(ILIN,                  Integer, 1,    0,   0,   0, 0) \
    X(MODE,                  Integer, 1,    0,   0,   0, 0) \
    X(MSTEADY,               Integer, 1,    0,   0,   0, 1) \
    X(ISTART,                Integer, 1,    0,   0,   0, 0) \
    X(IPRS2,                 Integer, 1,    0,   0,   0, 0) \
    X(SPEEDX,                Real,    1,    0,   0,   0, 0.0f) \
    X(SPEEDY,                Real,    1,    0,   0,   0, 0.0f) \
    X(SPEEDR,                Real,    1,    0,   0,   0, 0.0f) \
    X(MFFB,                  Integer, 1,  100,   0,   0, 0) \
    X(SDIS0,                 Real,    1,  100,   0,   0, 0.0f) \
    X(SVEL0,                 Real,    1,  100,   0,   0, 0.0f) \
    X(NOMEGA,                Integer, 1,    0,   0,   0, 0) \
    X(PERIOD,                Real,    1, 1000,   0,   0, 0.0f) \
    X(BETA,                  Real,    1, 1000,   0,   0, 0.0f) \
    X(AMPLTD,                Real,    1, 1000,   0,   0, 0.0f) \
    X(PHASE,                 Real,    1, 1000,   0,   0, 0.0f) \
    X(MASS,                  Real,    1,    0,   0,   0, 0.0f) \
    X(XCG,                   Real,    1,    0,   0,   0, 0.0f) \
    X(YCG,                   Real,    1,    0,   0,   0, 0.0f) \
    X(ZCG,                   Real,    1,    0,   0,   0, 0.0f) \
    X(XMTN,                  Real,    1,    0,   0,   0, 0.0f) \
    X(YMTN,                  Real,    1,    0,   0,   0, 0.0f) \
    X(ZMTN,                  Real,    1,    0,   0,   0, 0.0f) \
    X(FILEWP,                Text,    1,    0,   0, 200, "0") \
    X(TIMWP1,                Real,    1,    0,   0,   0, 0.0f) \
    X(WPSTEP,                Real,    1,    0,   0,   0, 0.0f) \
    X(FILEPR,                Text,    1,    0,   0, 200, "0") \
    X(FILEAVD,               Text,    1,    0,   0, 200, "0") \
    X(FILEPF,                Text,    1,    0,   0, 200, "0") \
    X(FILEFRC,               Text,    1,    0,   0, 200, "0") \
    X(FILEMOT,               Text,    1,    0,   0, 200, "0") \
    X(SHIPPAR,               Text,    1,    0,   0, 200, "0") \
    X(DETFRC,                Text,    1,    0,   0, 200, "0") \
    X(IRAW,                  Integer, 1,    0,   0,   0, 0) \
    X(NREL,                  Integer, 1,    0,   0,   0, 0) \
    X(FILEREL,               Text,    1,    0,   0, 200, "0") \
    X(XREL,                  Real,    1,  100,   0,   0, 0.0f) \
    X(YREL,                  Real,    1,  100,   0,   0, 0.0f) \
    X(ZREL,                  Real,    1,  100,   0,   0, 0.0f) \
    X(IFSBC,                 Integer, 1,    0,   0,   0, 1) \
    X(ISCHEME,               Integer, 1,    0,   0,   0, 1) \
    X(ISMOOTH,               Integer, 1,    0,   0,   0, 0) \
    X(TSTEP,                 Real,    1,    0,   0,   0, 0.0f) \
    X(TMAX,                  Real,    1,    0,   0,   0, 0.0f) \
    X(RAMP_LENGTH,           Real,    1,    0,   0,   0, 50.0f) \
    X(KFILTER,               Integer, 1,    0,   0,   0, 0) \
    X(VDAMP,                 Real,    1,    0,   0,   0, 0.0f) \
    X(VDAMP_NL,              Real,    1,    0,   0,   0, 0.0f) \
    X(DAMPCOF,               Real,    1,  100,   0,   0, 0.0f) \
    X(NLOAD,                 Integer, 1,    0,   0,   0, 0) \
    X(NLOAD1,                Integer, 1,    0,   0,   0, 0) \
    X(NLOAD2,                Integer, 1,    0,   0,   0, 0) \
    X(NLOAD3,                Integer, 1,    0,   0,   0, 0) \
    X(FILERUD,               Text,    1,    0,   0, 200, "0") \
    X(IRUD,                  Integer, 1,    0,   0,   0, 0) \
    X(RUD_CL,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_AR,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_XR,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_YR,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_ZR,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_K1,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_K2,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_K3,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_K4,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_K5,                Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_DRMAX,             Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_RATEMAX,           Real,    1,  100,   0,   0, 0.0f) \
    X(RUD_DEADBAND,          Real,    1,  100,   0,   0, 0.0f) \
    X(TPILOT,                Real,    1,    0,   0,   0, 0.0f) \
    X(RUD_U,                 Real,    1,  100,   0,   0, 0.0f) \
    X(MODE_PILOT,            Integer, 1,    0,   0,   0, 0) \
    X(IRUD_GLVIEW,           Integer, 1,  100,   0,   0, 0) \
    X(IFORM,                 Integer, 1,    0,   0,   0, 1) \
    X(T_NATURAL,             Real,    1,  100,   0,   0, 0.0f) \
    X(CDAMP1,                Real,    1,    0,   0,   0, 0.0f) \
    X(CDAMP2,                Real,    1,    0,   0,   0, 0.0f) \
    X(CDAMP6,                Real,    1,    0,   0,   0, 0.0f) \
    X(NPRESS,                Integer, 1,    0,   0,   0, 0) \
    X(XPRESS,                Real,    1,  100,   0,   0, 0.0f) \
    X(YPRESS,                Real,    1,  100,   0,   0, 0.0f) \
    X(ZPRESS,                Real,    1,  100,   0,   0, 0.0f) \
    X(FILEPRESS,             Text,    1,    0,   0, 200, "0") \
    X(FILE_SSG,              Text,    1,    0,   0, 200, "0") \
    X(FILE_FS,               Text,    1,    0,   0, 200, "0") \
    X(FILE_DRYGEO,           Text,    1,    0,   0, 200, "0") \
    X(FILEJOU,               Text,    1,    0,   0, 200, "0") \
    X(FILE_REG,              Text,    1,    0,   0, 200, "0") \
    X(FILE_SLAM,             Text,    1,    0,   0, 200, "0") \
    X(FILE_MASS,             Text,    1,    0,   0, 200, "0") \
    X(FILLD,                 Text,    1,    0,   0, 200, "0") \
    X(XLOAD,                 Real,    1,    3, 100,   0, 0.0f) \
    X(XLOAD1,                Real,    1,    3, 100,   0, 0.0f) \
    X(XLOAD2,                Real,    1,    3, 100,   0, 0.0f) \
    X(XLOAD3,                Real,    1,    3, 100,   0, 0.0f) \
    X(BOXLOAD1,              Real,    1,    6, 100,   0, kHuge) \
    X(BOXLOAD2,              Real,    1,    6, 100,   0, kHuge) \
    X(BOXLOAD3,              Real,    1,    6, 100,   0, kHuge) \
    X(ICOMP,                 Integer, 1,    3,   0,   0, 0) \
    X(ILOUT,                 Integer, 1,   39,   0,   0, 0) \
    X(RGYR_X,                Real,    1,    0,   0,   0, 0.0f) \
    X(RGYR_Y,                Real,    1,    0,   0,   0, 0.0f) \
    X(RGYR_Z,                Real,    1,    0,   0,   0, 0.0f) \
    X(MOM_XZ,                Real,    1,    0,   0,   0, 0.0f) \
    X(FILESTATUS,            Text,    1,    0,   0,  80, "new") \
    X(SPLINES,               Logical, 1,    0,   0,   0, true) \
    X(ITRANSOM,              Integer, 1,    0,   0,   0, 1) \
    X(IFLUX_DB,              Integer, 1,    0,   0,   0, 0) \
    X(D3_OSCILLATION_MOMENTS, Logical, 1,    0,   0,   0, true) \
    X(FMTERMS,               Real,    1,    0,   0,   0, 0.0f) \
    X(IKAPPA,                Integer, 1,    3,   0,   0, 0) \
    X(IFSCOND,               Integer, 1,    0,   0,   0, 0) \
    X(ISPLINE,               Integer, 0,    2,   0,   0, 1) \
    X(ISTRETCH,              Integer, 1,    0,   0,   0, 0) \
    X(NSHEET_DRYVIEW,        Integer, 1,    0,   0,   0, 1) \
    X(IBERNOULLI,            Integer, 1,    0,   0,   0, 1) \
    X(IPRSTERM,              Logical, 1,    4,   0,   0, false) \
    X(DELETE_FILE,           Logical, 1,  999,   0,   0, false) \
    X(IWAVE_MODEL,           Integer, 1,    0,   0,   0, 0) \
    X(IWAVE_FILE,            Text,    1,    0,   0, 200, "0") \
    X(IRUD_WAVE,             Integer, 1,    0,   0,   0, 0) \
    X(ILIN_SURF,             Integer, 1,    0,   0,   0, 0) \
    X(INCLUDE_GREENWATER,    Logical, 1,    0,   0,   0, false) \
    X(IYAW_SSG,              Integer, 1,    0,   0,   0, 2) \
    X(REFSPEEDX,             Real,    1,    0,   0,   0, -kHuge) \
    X(REFSPEEDY,             Real,    1,    0,   0,   0, 0.0f) \
    X(CONVECT_SSG,           Integer, 1,    0,   0,   0, 0) \
    X(NPROP,                 Integer, 1,    0,   0,   0, 0) \
    X(XPROP,                 Real,    1,    6,   0,   0, 0.0f) \
    X(YPROP,                 Real,    1,    6,   0,   0, 0.0f) \
    X(ZPROP,                 Real,    1,    6,   0,   0, 0.0f) \
    X(TPROP,                 Real,    1,    0,   0,   0, 0.0f) \
    X(CPROP,                 Real,    1,    0,   0,   0, 0.0f) \
    X(NPANFLUX,              Integer, 1,    0,   0,   0, 0) \
    X(KPANFLUX,              Integer, 1,  200,   0,   0, 0) \
    X(IPANFLUX,              Integer, 1,  200,   0,   0, 0) \
    X(JPANFLUX,              Integer, 1,  200,   0,   0, 0) \
    X(FPANFLUX,              Real,    1,  200,   0,   0, 0.0f) \
    X(REGOUT,                Text,    1,    0,   0, 200, "torva_reg.dump") \
    X(TSLAMVIEW1,            Real,    1,    0,   0,   0, 0.0f) \
    X(TSLAMVIEW2,            Real,    1,    0,   0,   0, 0.0f) \
    X(UVRSLAM,               Real,    1,    0,   0,   0, -1.0f) \
    X(FILE_MTX,              Text,    1,    0,   0, 200, "0") \
    X(SHEARCENTER,           Logical, 1,    0,   0,   0, false) \
    X(ZSHEAR1,               Real,    1,  100,   0,   0, 0.0f) \
    X(ZSHEAR2,               Real,    1,  100,   0,   0, 0.0f) \
    X(ZSHEAR3,               Real,    1,  100,   0,   0, 0.0f) \
    X(FILE_APRS,             Text,    1,    0,   0, 200, "0") \
    X(FILE_DRAG,             Text,    1,    0,   0, 200, "0") \
    X(BEACH_WIDTH,           Real,    1,    0,   0,   0, 0.5f) \
    X(NTIME_PDET,            Integer, 1,    0,   0,   0, -1) \
    X(XCT_PDET,              Real,    1,    3,   0,   0, 0.0f) \
    X(COURSE,                Real,    1,    0,   0,   0, 0.0f) \
    X(DRIFT_ACCEPT,          Real,    1,    0,   0,   0, 50.0f) \
    X(TPOSLOG,               Real,    1,    0,   0,   0, 1.0f) \
    X(ANGLE_DELTA,           Real,    1,    0,   0,   0, 5.0f) \
    X(RUD_ANGLE0,            Real,    1,  100,   0,   0, 0.0f) \
    X(YAW_ACCEPT,            Real,    1,    0,   0,   0, 15.0f) \
    X(FILE_NAV,              Text,    1,    0,   0, 200, "0") \
    X(TDRIFT,                Real,    1,    0,   0,   0, 200.0f) \
    X(FILE_DRIFT,            Text,    1,    0,   0, 200, "0") \
    X(LOUTGLO,               Logical, 1,    0,   0,   0, true) \
    X(INFMETH,               Integer, 1,    0,   0,   0, -1) \
    X(INFORDER,              Integer, 1,    0,   0,   0, 1) \
    X(INFNMR,                Integer, 1,    0,   0,   0, 1) \
    X(INFBND,                Integer, 1,    0,   0,   0, 1) \
    X(INFINVS,               Integer, 1,    0,   0,   0, 1) \
    X(ANIMTYPE,              Text,    1,    0,   0,   3, "") \
    X(IFPLD,                 Integer, 1,    0,   0,   0, 1) \
    X(IJET,                  Integer, 1,    0,   0,   0, 0) \
    X(JET_VL,                Real,    1,  100,   0,   0, 0.0f) \
    X(JET_AR,                Real,    1,  100,   0,   0, 0.0f) \
    X(JET_XR,                Real,    1,  100,   0,   0, 0.0f) \
    X(JET_YR,                Real,    1,  100,   0,   0, 0.0f) \
    X(JET_ZR,                Real,    1,  100,   0,   0, 0.0f) \
    X(JET_K1,                Real,    1,  100,   0,   0, 0.0f) \
    X(JET_K2,                Real,    1,  100,   0,   0, 0.0f) \
    X(JET_K3,                Real,    1,  100,   0,   0, 0.0f) \
    X(JET_K4,                Real,    1,  100,   0,   0, 0.0f) \
    X(JET_K5,                Real,    1,  100,   0,   0, 0.0f) \
    X(PRS_SLAM_MAX,          Real,    1,    0,   0,   0, kHuge) \
    X(B_FILTER,              Logical, 1,    0,   0,   0, false) \
    X(MEM_FILTER,            Logical, 1,    0,   0,   0, true) \
    X(H1,                    Integer, 1,    0,   0,   0, 0) \
    X(H2,                    Integer, 1,    0,   0,   0, 0) \
    X(GEOPRESS,              Logical, 1,    0,   0,   0, false) \
    X(FILE_GEOPRESS,         Text,    1,    0,   0,  80, "0") \
    X(XMTN_RUD,              Real,    1,    0,   0,   0, kHuge) \
    X(YMTN_RUD,              Real,    1,    0,   0,   0, 0.0f) \
    X(ZMTN_RUD,              Real,    1,    0,   0,   0, 0.0f) \
    X(N_KERNEL,              Integer, 1,    0,   0,   0, 0) \
    X(TPRESCRIBE,            Real,    1,    0,   0,   0, -1.0f) \
    X(FILEPMOT,              Text,    1,    0,   0,  80, "0") \
    X(DRY_PRESS,             Integer, 1,    0,   0,   0, 0) \
    X(SEA_DEPTH,             Real,    1,    0,   0,   0, -1.0f) \
    X(WAVE_Z,                Logical, 1,    0,   0,   0, false) \
    X(MEM_GEOPRESS,          Logical, 1,    0,   0,   0, true) \
    X(FILE_FAUX,             Text,    1,    0,   0, 200, "0") \
    X(Y_DIS,                 Real,    1,    0,   0,   0, 0.0f) \
    X(SPACING,               Real,    1,    0,   0,   0, 0.0f) \
    X(STRIP_LOAD,            Logical, 1,    0,   0,   0, false) \
    X(NSTRIPS,               Integer, 1,    0,   0,   0, 0) \
    X(STRIP_DX,              Real,    1,    0,   0,   0, 0.0f) \
    X(X_GRN,                 Real,    1,    0,   0,   0, -kHuge) \
    X(DX_GRN,                Real,    1,    0,   0,   0, 0.0f) \
    X(NTYPE_GRN,             Integer, 1,    0,   0,   0, 0) \
    X(BULWARK,               Real,    1,    0,   0,   0, 0.0f) \
    X(DEPTH_GRN,             Real,    1,    0,   0,   0, 0.0f) \
    X(NACCEL,                Integer, 1,    0,   0,   0, 0) \
    X(XACCEL,                Real,    1,  100,   0,   0, 0.0f) \
    X(YACCEL,                Real,    1,  100,   0,   0, 0.0f) \
    X(ZACCEL,                Real,    1,  100,   0,   0, 0.0f) \
    X(FILEACCEL,             Text,    1,    0,   0, 200, "0") \
    X(WET_PAN,               Integer, 1,    0,   0,   0, 0) \
    X(NPRESS_GRN,            Integer, 1,    0,   0,   0, 0) \
    X(XPRESS_GRN,            Real,    1,  100,   0,   0, 0.0f) \
    X(YPRESS_GRN,            Real,    1,  100,   0,   0, 0.0f) \
    X(ZPRESS_GRN,            Real,    1,  100,   0,   0, 0.0f) \
    X(FILEPRESS_GRN,         Text,    1,    0,   0, 200, "0") \
    X(NWEL,                  Integer, 1,    0,   0,   0, 0) \
    X(XWEL,                  Real,    1,  100,   0,   0, 0.0f) \
    X(YWEL,                  Real,    1,  100,   0,   0, 0.0f) \
    X(FILEWEL,               Text,    1,    0,   0, 200, "0") \
    X(IFOUT,                 Integer, 1,   39,   0,   0, 0) \
    X(SLAMPULS,              Logical, 1,    0,   0,   0, false) \
    X(LOAD_MOOR,             Logical, 1,    0,   0,   0, false) \
    X(MOOR_STERN,            Logical, 1,    0,   0,   0, true) \
    X(MANOEUVRE,             Logical, 1,    0,   0,   0, false) \
    X(VISCOSITY,             Real,    1,    0,   0,   0, 1.14e-6f) \
    X(NSTATION_MAN,          Integer, 1,    0,   0,   0, 200) \
    X(ADD_DAMP,              Real,    1,    6,   6,   0, 0.0f) \
    X(ADD_REST,              Real,    1,    6,   6,   0, 0.0f) \
    X(TITLEVTF,              Text,    1,    0,   0,  80, "0") \
    X(FILE_SHAPE,            Text,    1,  100,   0, 200, "0") \
    X(NO_OF_CYCLES,          Integer, 1,    0,   0,   0, 1) \
    X(VDAMPP,                Real,    1,    0,   0,   0, 0.0f) \
    X(VDAMPP_NL,             Real,    1,    0,   0,   0, 0.0f) \
    X(TDPRS1,                Real,    1,    0,   0,   0, -1.0f) \
    X(TDPRS2,                Real,    1,    0,   0,   0, -2.0f) \
    X(MOR_PATH,              Text,    1,    0,   0, 200, "0") \
    X(MOR_TOPSEL,            Integer, 1,    0,   0,   0, 0) \
    X(M2D_NSECT,             Integer, 1,    0,   0,   0, 0) \
    X(M2D_SREF,              Integer, 1,  200,   0,   0, 0) \
    X(M2D_NSUB,              Integer, 1,  200,   0,   0, 0) \
    X(M2D_DIAM,              Real,    1,  200,   0,   0, 0.0f) \
    X(M2D_CD_KSI,            Real,    1,  200,   0,   0, 0.0f) \
    X(M2D_CD_ETA,            Real,    1,  200,   0,   0, 0.0f) \
    X(M2D_CA_KSI,            Real,    1,  200,   0,   0, 0.0f) \
    X(M2D_CA_ETA,            Real,    1,  200,   0,   0, 0.0f) \
    X(PAE_NELEM,             Integer, 1,    0,   0,   0, 0) \
    X(PAE_NODE_NO,           Integer, 1, 5000,   0,   0, 0) \
    X(PAE_X,                 Real,    1, 5000,   0,   0, 0.0f) \
    X(PAE_Y,                 Real,    1, 5000,   0,   0, 0.0f) \
    X(PAE_Z,                 Real,    1, 5000,   0,   0, 0.0f) \
    X(PAE_DIAM,              Real,    1, 5000,   0,   0, 0.0f) \
    X(ANC_NELEM,             Integer, 1,    0,   0,   0, 0) \
    X(ANC_FNOD,              Integer, 1,  100,   0,   0, 0) \
    X(ANC_WNOD,              Integer, 1,  100,   0,   0, 0) \
    X(ANC_IN,                Real,    1,  100,   0,   0, 0.0f) \
    X(ANC_X,                 Real,    1,  100,   0,   0, 0.0f) \
    X(ANC_PRETEN,            Real,    1,  100,   0,   0, 0.0f) \
    X(ANC_KH,                Real,    1,  100,   0,   0, 0.0f) \
    X(ANC_KV,                Real,    1,  100,   0,   0, 0.0f) \
    X(TLP_NELEM,             Integer, 1,    0,   0,   0, 0) \
    X(TLP_NOD,               Integer, 1,  100,   0,   0, 0) \
    X(TLP_LENGTH,            Real,    1,  100,   0,   0, 0.0f) \
    X(TLP_OFFSETX,           Real,    1,  100,   0,   0, 0.0f) \
    X(TLP_OFFSETY,           Real,    1,  100,   0,   0, 0.0f) \
    X(TLP_PRETEN,            Real,    1,  100,   0,   0, 0.0f) \
    X(TLP_K,                 Real,    1,  100,   0,   0, 0.0f) \
    X(FILE_PANDAT,           Text,    1,    0,   0, 200, "0") \
    X(FILE_WLDAT,            Text,    1,    0,   0, 200, "0") \
    X(FILE_WLDAT0,           Text,    1,    0,   0, 200, "0") \
    X(FILEDRF,               Text,    1,    0,   0, 200, "0") \
    X(DAMPRAMP,              Real,    1,  100,   0,   0, 0.0f)

inline constexpr std::size_t kTorvaInpKeyCount = 277;

namespace run_parameters_detail {

template <ValueKind K> struct element;
template <> struct element<ValueKind::Real> { using type = float; };
template <> struct element<ValueKind::Integer> { using type = int; };
template <> struct element<ValueKind::Logical> { using type = bool; };
template <> struct element<ValueKind::Text> { using type = std::string; };

template <ValueKind K, int N1, int N2>
using member_t = std::conditional_t<N1 == 0, typename element<K>::type,
                                    std::array<typename element<K>::type,
                                               static_cast<std::size_t>(N1) * (N2 == 0 ? 1 : N2)>>;

std::string padded_text(std::string_view text, std::size_t length);

template <class T> struct is_std_array : std::false_type {};
template <class E, std::size_t N> struct is_std_array<std::array<E, N>> : std::true_type {};

// The default of one member: a scalar takes the value, an array takes it in every element,
// and a text is blank-padded to its declared length.
template <class M, class D>
M default_value(const D& value, std::size_t text_length)
{
    if constexpr (is_std_array<M>::value) {
        M array;
        for (auto& element : array) element = default_value<typename M::value_type>(value, text_length);
        return array;
    } else if constexpr (std::is_same_v<M, std::string>) {
        return padded_text(value, text_length);
    } else {
        return static_cast<M>(value);
    }
}

}  // namespace run_parameters_detail

// One member per key, named as the key.  A default-constructed record holds the defaults.
struct RunParameters {
#define TORVA_INP_MEMBER(name, kind, lower, n1, n2, text_length, dflt)                          \
    run_parameters_detail::member_t<ValueKind::kind, n1, n2> name =                              \
        run_parameters_detail::default_value<run_parameters_detail::member_t<ValueKind::kind, n1, n2>>( \
            dflt, text_length);
    TORVA_INP_KEYS(TORVA_INP_MEMBER)
#undef TORVA_INP_MEMBER
};

// Element (i, k) of a two-dimensional key declared KEY(1:n1, 1:n2), both indices 1-based as
// in the file: KEY(i, k) is KEY[(i - 1) + n1 * (k - 1)].
template <class E, std::size_t N>
[[nodiscard]] constexpr E& element_2d(std::array<E, N>& key, std::size_t n1, int i, int k)
{ return key[static_cast<std::size_t>(i - 1) + n1 * static_cast<std::size_t>(k - 1)]; }
template <class E, std::size_t N>
[[nodiscard]] constexpr const E& element_2d(const std::array<E, N>& key, std::size_t n1, int i, int k)
{ return key[static_cast<std::size_t>(i - 1) + n1 * static_cast<std::size_t>(k - 1)]; }

// The shape of one key, as the group declares it.
struct KeyInfo {
    std::string_view name;       // upper case, as declared
    ValueKind kind;
    int lower;                   // lower bound of the first index
    int n1;                      // extent of the first index, 0 for a scalar
    int n2;                      // extent of the second index, 0 unless two-dimensional
    int text_length;             // 0 unless kind is Text

    [[nodiscard]] constexpr bool is_array() const noexcept { return n1 > 0; }
    [[nodiscard]] constexpr int rank() const noexcept { return n1 == 0 ? 0 : (n2 == 0 ? 1 : 2); }
    // Number of elements: 1 for a scalar.
    [[nodiscard]] constexpr std::size_t count() const noexcept
    { return n1 == 0 ? 1 : static_cast<std::size_t>(n1) * static_cast<std::size_t>(n2 == 0 ? 1 : n2); }
};

// The keys in the group's order.
inline constexpr std::array<KeyInfo, kTorvaInpKeyCount> kTorvaInpKeys = {{
#define TORVA_INP_INFO(name, kind, lower, n1, n2, text_length, dflt) \
    KeyInfo{#name, ValueKind::kind, lower, n1, n2, text_length},
    TORVA_INP_KEYS(TORVA_INP_INFO)
#undef TORVA_INP_INFO
}};

// The storage of one key inside a record: a pointer to its first element (in Fortran storage
// order) and the element count; only the pointer of the key's kind is set.
template <bool Const>
struct BasicKeySlot {
    template <class T> using ptr = std::conditional_t<Const, const T*, T*>;
    ptr<float> reals = nullptr;
    ptr<int> integers = nullptr;
    ptr<bool> logicals = nullptr;
    ptr<std::string> texts = nullptr;
    std::size_t count = 0;
};
using KeySlot = BasicKeySlot<false>;
using ConstKeySlot = BasicKeySlot<true>;

// The slots of every key of `params`, in the order of kTorvaInpKeys.
[[nodiscard]] std::array<KeySlot, kTorvaInpKeyCount> key_slots(RunParameters& params);
[[nodiscard]] std::array<ConstKeySlot, kTorvaInpKeyCount> key_slots(const RunParameters& params);

// Position of a key in kTorvaInpKeys; the name is matched without regard to case.
[[nodiscard]] std::optional<std::size_t> find_key(std::string_view name);

// Sets every key to its default (the values a default-constructed record holds).
void set_run_parameter_defaults(RunParameters& params);

// The values that depend on others, applied once right after a successful read, in this order:
//   1. REFSPEEDX still -HUGE (not given)            -> REFSPEEDX = SPEEDX
//   2. UVRSLAM < 0                                  -> UVRSLAM = SPEEDX
//   3. for the load sets c = 1, 2, 3 (NLOADc, XLOADc, BOXLOADc, ZSHEARc):
//      a. NLOAD >= 1 and ICOMP(c) = 1               -> NLOADc = NLOAD, XLOADc(:, 1:NLOAD) = XLOAD(:, 1:NLOAD)
//      b. SHEARCENTER false                         -> ZSHEARc(k) = XLOADc(3, k),  k = 1..NLOADc
//      c. BOXLOADc(:, 1:NLOADc) all still HUGE      -> BOXLOADc(:, k) = (XLOADc(1, k), HUGE, -HUGE,
//                                                                       HUGE, -HUGE, HUGE)
//   4. XMTN_RUD > 10000                             -> (XMTN_RUD, YMTN_RUD, ZMTN_RUD) = (XMTN, YMTN, ZMTN)
//   5. DETFRC not "0" and FILEFRC "0"               -> FILEFRC = trim(DETFRC) // "_total.frc"
//   6. ILIN = 0                                     -> GEOPRESS = false, and IBERNOULLI = 0 if it is 1
// A point count beyond the 100 points of the load arrays (NLOAD or NLOADc > 100) is applied to
// the 100 points there are; the count itself is kept for the solver to judge.
void derive_run_parameters(RunParameters& params);

}  // namespace torva
