// torva-mesh: writes spline-sheet mesh files of simple bodies for the setup, in the
// Version 2.0 layout or the old layout.
//
//     torva-mesh SHAPE [--option value ...]        SHAPE: wigley box sphere hemisphere spheroid
//
// The geometry and its orientation rules are in mesh_shapes.hpp.  Sheet kinds and flags:
//   - hull sheets are kind 2 with flag MP = 1 by default (--flag-rule all).  The setup sums
//     displacement, wetted surface and the body extents over the sheets with MP != 0 only, and
//     writes velocity records only for kind-2 sheets with MP != 0, so a submerged hull sheet
//     with MP = 0 would vanish from both.  The waterline extent is unaffected: it takes only
//     corners at z = 0 of kind-2 sheets with MP = 1, and only surface-piercing sheets have
//     them.  --flag-rule waterline gives MP = 1 only to sheets with a node on z = 0 and MP = 0
//     to the rest, for runs that want the body waterline region alone flagged;
//   - free-surface sheets are kind 3 with MP = 0, which keeps them out of those sums.
// With --fs-out the free-surface sheets go to a second file (the run's FILE_FS), both files
// carrying the same symmetry indicator; without it they follow the hull sheets in one file.
#include "frame/run_stop.hpp"
#include "hull/hull.hpp"
#include "mesh/mesh_checks.hpp"
#include "mesh_shapes.hpp"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

using namespace torva::mesh_tool;

namespace {

struct ShapeInfo {
    const char* name;
    const char* summary;
    std::vector<const char*> options;   // shape-specific options, beyond the common ones
};

const std::vector<ShapeInfo>& shapes()
{
    static const std::vector<ShapeInfo> list = {
        {"wigley", "Wigley hull y = (B/2)(1 - (2x/L)^2)(1 - (z/T)^2), floating",
         {"length", "beam", "draft", "nx", "nz", "x-spacing", "fs-radius", "fs-nr", "fs-ratio"}},
        {"box", "box barge L x B x T: bottom and sides (the deck z = 0 is left to the free surface)",
         {"length", "beam", "draft", "nx", "ny", "nz", "fs-radius", "fs-nr", "fs-ratio"}},
        {"sphere", "cubed sphere of radius R centred at (0, 0, -depth), submerged",
         {"radius", "depth", "n"}},
        {"hemisphere", "floating hemisphere of radius R, z <= 0 (the lower half of a cubed sphere)",
         {"radius", "n", "fs-radius", "fs-nr", "fs-ratio"}},
        {"spheroid", "prolate spheroid along x, centred at (0, 0, -depth), submerged",
         {"length", "diameter", "depth", "nx", "n"}},
        {"import", "a hull surface from a panel mesh or CAD file, re-gridded by sections",
         {"format", "waterline", "nx", "nz", "merge-tol", "orientation", "cad-size", "fs-radius", "fs-nr",
          "fs-ratio"}},
        {"offsets", "a hull from an offsets table (CSV), re-gridded by sections",
         {"waterline", "nx", "nz", "fs-radius", "fs-nr", "fs-ratio"}},
    };
    return list;
}

const std::vector<const char*> kCommonOptions = {"symmetry", "layout", "title", "out", "fs-out",
                                                 "flag-rule"};

void print_help(std::ostream& o)
{
    o << "usage: torva-mesh SHAPE [--option value ...]\n"
         "       torva-mesh --help\n"
         "\n"
         "Writes a spline-sheet mesh file for the setup.  Normals point out of the fluid:\n"
         "into the body on hull sheets (kind 2), up on free-surface sheets (kind 3).\n"
         "\n"
         "Shapes and their options (defaults in brackets):\n"
         "  wigley      Wigley hull y = (B/2)(1 - (2x/L)^2)(1 - (z/T)^2), floating\n"
         "    --length L [2]  --beam B [0.2]  --draft T [0.125]\n"
         "    --nx N [32]     panels along x\n"
         "    --nz N [10]     panels down from the waterline to the keel\n"
         "    --x-spacing cosine|uniform [cosine]   cosine clusters panels at bow and stern\n"
         "  box         box barge L x B x T, bottom and four sides\n"
         "    --length L [2]  --beam B [1]  --draft T [0.5]\n"
         "    --nx N [16]  --ny N [8]  --nz N [4]   panels along x, across y, down z\n"
         "                                          (--ny even with --symmetry 1)\n"
         "  sphere      cubed sphere, six sheets (five, cut by y = 0, with --symmetry 1)\n"
         "    --radius R [1]  --depth D [10]        centre at (0, 0, -D), D > R\n"
         "    --n N [8]       panels along each cube edge (even with --symmetry 1)\n"
         "  hemisphere  floating hemisphere z <= 0: bottom cap and four side sheets\n"
         "    --radius R [1]\n"
         "    --n N [8]       panels along each cube edge (even)\n"
         "  spheroid    prolate spheroid x^2/a^2 + (y^2 + (z + D)^2)/b^2 = 1, a = length/2,\n"
         "              b = diameter/2, meshed as a stretched cubed sphere\n"
         "    --length L [5]  --diameter d [1]  --depth D [5]   D > d/2\n"
         "    --nx N [16]     panels along x on the side sheets\n"
         "    --n N [4]       panels across y and z (even with --symmetry 1)\n"
         "  import FILE  a hull surface re-gridded into sheets by sections x = const (see\n"
         "              torva-mesh(1)); the half y >= 0 is written, with symmetry 1\n"
         "    --format gdf|dat|msh|stl|step|iges   [from the file name's extension]\n"
         "    --waterline Z [0]  the cut; the output has its waterline at z = 0\n"
         "    --nx N [40]     stations, clustered toward bow and stern (>= 6)\n"
         "    --nz N [16]     panels along each section, keel to waterline (even, >= 6)\n"
         "    --merge-tol D   nodes closer than D are one [1e-6 of the diagonal]\n"
         "    --orientation check|ignore [check]  refuse a mesh with its normals into the body\n"
         "    --cad-size F [0.01]  STEP/IGES: facet size for the topology, a fraction of the\n"
         "                    diagonal (the nodes themselves lie on the exact surface)\n"
         "  offsets FILE  a hull from an offsets table: CSV, a header row 'label, z1, z2, ...'\n"
         "              then rows 'x, y1, y2, ...' of half-breadths; options as for import\n"
         "              (--waterline, --nx, --nz)\n"
         "\n"
         "Free surface (wigley, box, hemisphere, import, offsets): an O-grid on z = 0 from the waterline out to\n"
         "a half circle (two halves for a whole body), sharing the hull's waterline nodes.\n"
         "    --fs-radius R [0]  outer radius about the origin; 0 writes no free surface\n"
         "    --fs-nr N [8]      panels along each radial line\n"
         "    --fs-ratio Q [1.15]  each radial panel Q times as long as the one inside it\n"
         "\n"
         "Common options:\n"
         "    --symmetry 0|1 [0]   1: only y >= 0 is meshed and the setup mirrors it in y = 0\n"
         "    --layout v2|old [v2] Version 2.0 layout, or the old layout\n"
         "    --title TEXT         first line of the mesh (default: a description of the body)\n"
         "    --out FILE [SHAPE.ssg]  the mesh file (hull sheets, and the free surface too\n"
         "                         unless --fs-out is given)\n"
         "    --fs-out FILE        write the free-surface sheets to this second file instead\n"
         "                         (the run's FILE_FS next to FILE_SSG)\n"
         "    --flag-rule all|waterline [all]  hull sheet flag MP: 1 on every hull sheet, or\n"
         "                         1 only on sheets that reach the waterline z = 0\n"
         "    --help               this text\n";
}

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Options given on the command line, each read at most once; `unused` reports a leftover.
class Options {
public:
    Options(const ShapeInfo& shape, const std::map<std::string, std::string>& given)
        : values_(given)
    {
        std::set<std::string> allowed(kCommonOptions.begin(), kCommonOptions.end());
        allowed.insert(shape.options.begin(), shape.options.end());
        for (const auto& [key, value] : given)
            if (!allowed.count(key))
                throw UsageError("option --" + key + " does not apply to " + shape.name);
    }

    [[nodiscard]] double real(const std::string& key, double fallback) const
    {
        const auto it = values_.find(key);
        if (it == values_.end()) return fallback;
        errno = 0;
        char* end = nullptr;
        const double v = std::strtod(it->second.c_str(), &end);
        if (it->second.empty() || *end != '\0' || errno != 0 || !std::isfinite(v))
            throw UsageError("--" + key + " needs a number, got '" + it->second + "'");
        return v;
    }
    [[nodiscard]] double positive(const std::string& key, double fallback) const
    {
        const double v = real(key, fallback);
        if (!(v > 0.0)) throw UsageError("--" + key + " must be > 0");
        return v;
    }
    [[nodiscard]] int integer(const std::string& key, int fallback, int min) const
    {
        const auto it = values_.find(key);
        if (it == values_.end()) return fallback;
        errno = 0;
        char* end = nullptr;
        const long v = std::strtol(it->second.c_str(), &end, 10);
        if (it->second.empty() || *end != '\0' || errno != 0 || v < min || v > 100000)
            throw UsageError("--" + key + " needs a whole number >= " + std::to_string(min)
                             + ", got '" + it->second + "'");
        return static_cast<int>(v);
    }
    [[nodiscard]] std::string text(const std::string& key, const std::string& fallback) const
    {
        const auto it = values_.find(key);
        return it == values_.end() ? fallback : it->second;
    }
    [[nodiscard]] std::string choice(const std::string& key, const std::string& fallback,
                                     std::initializer_list<const char*> allowed) const
    {
        const std::string v = text(key, fallback);
        for (const char* a : allowed)
            if (v == a) return v;
        std::string list;
        for (const char* a : allowed) list += std::string(list.empty() ? "" : "|") + a;
        throw UsageError("--" + key + " must be " + list + ", got '" + v + "'");
    }
    [[nodiscard]] bool has(const std::string& key) const { return values_.count(key) != 0; }

private:
    std::map<std::string, std::string> values_;
};

std::string fmt_g(double v)
{
    std::ostringstream s;
    s << v;
    return s.str();
}

struct Model {
    std::vector<Sheet> hull;
    std::vector<Sheet> free_surface;
    std::string title;
    int symmetry = -1;   // set by import and offsets, which decide it themselves
};

FreeSurfaceParams read_free_surface(const Options& o)
{
    FreeSurfaceParams f;
    f.radius = o.real("fs-radius", 0.0);
    if (f.radius < 0.0) throw UsageError("--fs-radius must be >= 0");
    f.nr = o.integer("fs-nr", f.nr, 1);
    f.ratio = o.positive("fs-ratio", f.ratio);
    return f;
}

std::string lower_extension(const std::string& path)
{
    std::string e = std::filesystem::path(path).extension().string();
    for (char& c : e) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return e.empty() ? e : e.substr(1);
}

void print_notes(const std::vector<std::string>& notes)
{
    for (const std::string& n : notes) std::cout << "torva-mesh: " << n << '\n';
}

std::string percent(double a, double b)
{
    char t[32];
    std::snprintf(t, sizeof t, "%+.3f %%", 100.0 * (a - b) / b);
    return t;
}

// The largest distance between corresponding nodes of two sets of sheets, or infinity when
// their grids differ.
double sheets_distance(const std::vector<Sheet>& a, const std::vector<Sheet>& b)
{
    if (a.size() != b.size()) return INFINITY;
    double d = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        if (a[k].np1 != b[k].np1 || a[k].np2 != b[k].np2) return INFINITY;
        for (std::size_t i = 0; i < a[k].nodes.size(); ++i) {
            const Vec3 e = a[k].nodes[i] - b[k].nodes[i];
            d = std::max(d, std::sqrt(dot(e, e)));
        }
    }
    return d;
}

// import FILE and offsets FILE: the wetted half hull re-gridded into sheets.
void build_imported(const std::string& shape, const std::string& file, const Options& o, Model& m)
{
    namespace h = torva::hull;
    std::vector<std::string> notes;
    h::RegridParams rp;
    rp.nx = o.integer("nx", rp.nx, 2);
    rp.nz = o.integer("nz", rp.nz, 2);
    const double waterline = o.real("waterline", 0.0);
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<Sheet> sheets;
    h::Measures source;
    std::string what;
    if (shape == "offsets") {
        const h::OffsetsTable table = h::read_offsets(file, waterline);
        h::HullExtent e{table.x.front(), table.x.back(), 0.0};
        sheets = h::regrid(h::offsets_sections(table), e, rp, notes);
        what = "offsets table";
    } else {
        std::string format = o.text("format", lower_extension(file));
        if (format == "stp") format = "step";
        if (format == "igs") format = "iges";
        if (format != "gdf" && format != "dat" && format != "msh" && format != "stl" && format != "step" && format != "iges")
            throw UsageError("cannot tell the format of '" + file + "': give --format gdf|dat|msh|stl|step|iges");
        if (!std::filesystem::is_regular_file(file)) throw MeshError("cannot open '" + file + "'");
        h::PrepareOptions po;
        po.waterline = waterline;
        po.merge_tolerance = o.has("merge-tol") ? o.positive("merge-tol", 1.0) : -1.0;
        po.check_orientation = o.choice("orientation", "check", {"check", "ignore"}) == "check";
        std::unique_ptr<h::CadModel> cad;
        h::Surface surface;
        if (format == "gdf") surface = h::read_gdf(file, notes);
        else if (format == "dat") surface = h::read_dat(file, notes);
        else if (format == "msh" || format == "stl") surface = h::read_gmsh_mesh(file);
        else {
            cad = std::make_unique<h::CadModel>(file, o.positive("cad-size", 0.01));
            surface = cad->triangulation();
        }
        const h::Prepared whole = h::prepare(surface, po, notes);
        auto regrid_half = [&](const h::Prepared& half) {
            const h::Slicer slice(half);
            const h::HullExtent e{half.x_min, half.x_max, 1e-6 * (half.x_max - half.x_min)};
            return h::regrid([&slice](double x) { return slice(x); }, e, rp, notes);
        };
        if (whole.half) {
            sheets = regrid_half(whole);
            source = whole.source;
        } else {
            // A whole body is written as its half y >= 0 when the half y <= 0, mirrored, gives
            // the same sheets (within 1 % of the largest half-breadth).
            const h::Prepared port = h::half_of(whole, false), starboard = h::half_of(whole, true);
            sheets = regrid_half(port);
            std::vector<std::string> ignored;
            std::swap(notes, ignored);
            const double d = sheets_distance(sheets, regrid_half(starboard));
            std::swap(notes, ignored);
            if (!(d <= 0.01 * whole.y_max))
                throw MeshError("the hull is not symmetric about y = 0 (its halves differ by " + std::to_string(d)
                                + "): re-gridding a whole unsymmetric body is not built; torva-mesh imports "
                                  "hulls symmetric about y = 0");
            notes.push_back("the body is symmetric about y = 0: its half y >= 0 is written, with symmetry 1");
            source = port.source;
        }
        if (cad) {
            for (Sheet& sh : sheets)
                for (Vec3& v : sh.nodes) {
                    const Vec3 q = cad->project({v.x, v.y, v.z + waterline}, waterline);
                    v = {q.x, q.y, q.z - waterline};
                    if (v.z == 0.0) v.z = 0.0;   // no -0 on the waterline
                }
        }
        what = format + " surface, wetted part";
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    print_notes(notes);
    const torva::hull::Measures got = torva::hull::measure_sheets(sheets);
    std::ostringstream r;
    r << "torva-mesh: sheets: wetted area " << got.area << ", displaced volume " << got.volume << " (half hull)";
    if (source.area > 0.0)
        r << "\ntorva-mesh: " << what << ": wetted area " << source.area << ", displaced volume " << source.volume
          << "; sheets differ by " << percent(got.area, source.area) << " and " << percent(got.volume, source.volume);
    std::cout << r.str() << "\ntorva-mesh: re-gridded in " << seconds << " s\n";
    if (!(got.volume > 0.0)) throw std::logic_error("the re-gridded sheets have a displaced volume <= 0");
    m.hull = std::move(sheets);
    m.symmetry = 1;
    m.title = "Hull from " + std::filesystem::path(file).filename().string() + ", " + std::to_string(rp.nx)
              + " stations x " + std::to_string(rp.nz) + " panels, half (y >= 0)";
}

Model build(const std::string& shape, const Options& o, bool half, const std::string& file)
{
    Model m;
    const std::string side = half ? ", half (y >= 0)" : "";
    if (shape == "import" || shape == "offsets") {
        if (o.has("symmetry") && !half)
            throw UsageError(shape + " writes the half hull y >= 0 with symmetry 1: leave --symmetry out");
        build_imported(shape, file, o, m);
        half = true;
    } else if (shape == "wigley") {
        WigleyParams w;
        w.length = o.positive("length", w.length);
        w.beam = o.positive("beam", w.beam);
        w.draft = o.positive("draft", w.draft);
        w.nx = o.integer("nx", w.nx, 2);
        w.nz = o.integer("nz", w.nz, 1);
        w.cosine_x = o.choice("x-spacing", "cosine", {"cosine", "uniform"}) == "cosine";
        m.hull = wigley_hull(w, half);
        m.title = "Wigley L=" + fmt_g(w.length) + " B=" + fmt_g(w.beam) + " T=" + fmt_g(w.draft)
                  + ", " + std::to_string(w.nx) + "x" + std::to_string(w.nz) + " panels" + side;
    } else if (shape == "box") {
        BoxParams b;
        b.length = o.positive("length", b.length);
        b.beam = o.positive("beam", b.beam);
        b.draft = o.positive("draft", b.draft);
        b.nx = o.integer("nx", b.nx, 1);
        b.ny = o.integer("ny", b.ny, 1);
        b.nz = o.integer("nz", b.nz, 1);
        m.hull = box_hull(b, half);
        m.title = "Box L=" + fmt_g(b.length) + " B=" + fmt_g(b.beam) + " T=" + fmt_g(b.draft)
                  + ", " + std::to_string(b.nx) + "x" + std::to_string(b.ny) + "x"
                  + std::to_string(b.nz) + " panels" + side;
    } else if (shape == "sphere" || shape == "hemisphere") {
        CubedEllipsoidParams c;
        const double r = o.positive("radius", 1.0);
        const int n = o.integer("n", 8, 1);
        c.semi[0] = c.semi[1] = c.semi[2] = r;
        c.n[0] = c.n[1] = c.n[2] = n;
        c.keep_y_nonnegative = half;
        if (shape == "sphere") {
            const double depth = o.positive("depth", 10.0);
            if (!(depth > r)) throw UsageError("--depth must exceed --radius: the sphere is submerged");
            c.centre = {0.0, 0.0, -depth};
            m.title = "Sphere R=" + fmt_g(r) + " at depth " + fmt_g(depth) + ", n=" + std::to_string(n) + side;
        } else {
            c.keep_z_nonpositive = true;
            m.title = "Hemisphere R=" + fmt_g(r) + ", n=" + std::to_string(n) + side;
        }
        m.hull = cubed_ellipsoid(c);
    } else if (shape == "spheroid") {
        CubedEllipsoidParams c;
        const double length = o.positive("length", 5.0), diameter = o.positive("diameter", 1.0);
        const double depth = o.positive("depth", 5.0);
        if (!(depth > 0.5 * diameter))
            throw UsageError("--depth must exceed half the --diameter: the spheroid is submerged");
        c.centre = {0.0, 0.0, -depth};
        c.semi[0] = 0.5 * length;
        c.semi[1] = c.semi[2] = 0.5 * diameter;
        c.n[0] = o.integer("nx", 16, 1);
        c.n[1] = c.n[2] = o.integer("n", 4, 1);
        c.keep_y_nonnegative = half;
        m.hull = cubed_ellipsoid(c);
        m.title = "Spheroid L=" + fmt_g(length) + " D=" + fmt_g(diameter) + " at depth "
                  + fmt_g(depth) + side;
    } else {
        throw UsageError("unknown shape '" + shape + "' (wigley, box, sphere, hemisphere, spheroid)");
    }

    const bool waterline_only = o.choice("flag-rule", "all", {"all", "waterline"}) == "waterline";
    for (Sheet& s : m.hull) {
        bool wet_at_waterline = false;
        for (const Vec3& p : s.nodes) wet_at_waterline = wet_at_waterline || p.z == 0.0;
        s.flag = (!waterline_only || wet_at_waterline) ? 1 : 0;
    }

    if (!o.has("fs-radius") && (o.has("fs-nr") || o.has("fs-ratio")))
        throw UsageError("--fs-nr and --fs-ratio shape the free surface: give --fs-radius too");
    if (o.has("fs-radius")) {
        const FreeSurfaceParams f = read_free_surface(o);
        if (f.radius > 0.0) m.free_surface = free_surface(m.hull, f, half);
    }
    return m;
}

// Beyond this many panels a run needs tens of gigabytes of journals and hours: torva-mesh
// says so before anyone starts one.
constexpr int kPanelWarning = 20000;

int panel_count(const std::vector<Sheet>& sheets)
{
    int n = 0;
    for (const Sheet& s : sheets) n += s.np1 * s.np2;
    return n;
}

void write_file(const std::string& path, const FileHeader& h, const std::vector<Sheet>& sheets,
                Layout layout)
{
    std::ofstream out(path);
    if (!out) throw MeshError("cannot open '" + path + "' for writing");
    write_mesh(out, h, sheets, layout);
    out.close();
    if (!out) throw MeshError("writing '" + path + "' failed");
    std::cout << "torva-mesh: wrote " << path << ": " << sheets.size() << " sheets, "
              << panel_count(sheets) << " panels\n";
}

// Reads the files just written back through the setup's own mesh reader and runs the checks
// that torva-inspect --check-mesh runs: what was written is what the setup will see, so a
// sheet turned inside out or a free surface that misses its hull is reported here, before
// anyone starts a run on it.  Returns the exit status: 1 when a check fails.
int check_written(const std::string& hull_file, const std::string& fs_file)
{
    torva::PanelModel model;
    std::string why;
    try {
        why = torva::read_mesh_for_checks(hull_file, fs_file, model);
    } catch (const torva::RunStopped&) {
        why = "the setup's mesh reader refuses it (its ERROR: line is above)";
    }
    if (!why.empty()) {
        std::cerr << "torva-mesh: FAIL the written mesh cannot be read back: " << why << '\n';
        return 1;
    }
    const torva::MeshCheckReport report = torva::check_mesh(model);
    for (const std::string& line : torva::mesh_report_lines(report)) std::cout << line << '\n';
    if (report.failures() > 0) {
        std::cerr << "torva-mesh: " << report.failures()
                  << " check(s) failed on the written mesh (the FAIL lines above); the files are kept\n";
        return 1;
    }
    return 0;
}

int run(int argc, char** argv)
{
    if (argc < 2) {
        print_help(std::cerr);
        return 2;
    }
    const std::string shape_name = argv[1];
    if (shape_name == "--help" || shape_name == "-h") {
        print_help(std::cout);
        return 0;
    }
    const ShapeInfo* shape = nullptr;
    for (const ShapeInfo& s : shapes())
        if (shape_name == s.name) shape = &s;
    if (!shape)
        throw UsageError("unknown shape '" + shape_name + "' (wigley, box, sphere, hemisphere, spheroid)");

    std::string file;
    int first_option = 2;
    if (shape_name == "import" || shape_name == "offsets") {
        if (argc < 3 || std::string(argv[2]).rfind("--", 0) == 0)
            throw UsageError(shape_name + " needs a FILE: torva-mesh " + shape_name + " FILE [--option value ...]");
        file = argv[2];
        first_option = 3;
    }
    std::map<std::string, std::string> given;
    for (int i = first_option; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            print_help(std::cout);
            return 0;
        }
        if (arg.rfind("--", 0) != 0) throw UsageError("expected an option, got '" + arg + "'");
        std::string key = arg.substr(2), value;
        if (const auto eq = key.find('='); eq != std::string::npos) {
            value = key.substr(eq + 1);
            key.resize(eq);
        } else {
            if (i + 1 >= argc) throw UsageError("option --" + key + " needs a value");
            value = argv[++i];
        }
        if (given.count(key)) throw UsageError("option --" + key + " given twice");
        given[key] = value;
    }
    const Options o(*shape, given);

    const int symmetry = o.integer("symmetry", 0, 0);
    if (symmetry > 1) throw UsageError("--symmetry must be 0 or 1");
    const Layout layout = o.choice("layout", "v2", {"v2", "old"}) == "v2" ? Layout::version2 : Layout::old;
    Model m = build(shape->name, o, symmetry == 1, file);

    FileHeader h;
    h.symmetry = m.symmetry >= 0 ? m.symmetry : symmetry;
    h.title = o.text("title", m.title);
    // The setup keeps 200 characters of the title, and reads a title that looks like the
    // version line as that line in the old layout.
    if (h.title.size() > 200) throw UsageError("--title is longer than 200 characters");
    if (h.title.find('\n') != std::string::npos) throw UsageError("--title must be one line");
    if (layout == Layout::old && looks_like_version_line(h.title))
        throw UsageError("in the old layout a title starting 'Version 2.0' would be read as the version line");

    const std::string out = o.text("out", file.empty() ? shape_name + ".ssg"
                                                    : std::filesystem::path(file).stem().string() + ".ssg");
    const int panels = panel_count(m.hull) + panel_count(m.free_surface);
    if (panels > kPanelWarning)
        std::cerr << "torva-mesh: WARNING: " << panels << " panels (more than " << kPanelWarning
                  << "): the setup's matrices and journals grow as the square of the panel count (the journals "
                     "take about 27 N^2 bytes); run torva-inspect --estimate on the run's input first\n";
    std::string fs_out;
    if (o.has("fs-out")) {
        if (m.free_surface.empty())
            throw UsageError("--fs-out needs free-surface sheets (--fs-radius > 0)");
        write_file(out, h, m.hull, layout);
        FileHeader fh = h;
        if (!o.has("title")) fh.title = m.title + ", free surface";
        fs_out = o.text("fs-out", "");
        write_file(fs_out, fh, m.free_surface, layout);
    } else {
        std::vector<Sheet> all = m.hull;
        all.insert(all.end(), m.free_surface.begin(), m.free_surface.end());
        write_file(out, h, all, layout);
    }
    return check_written(out, fs_out);
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "torva-mesh: " << e.what() << "\n(torva-mesh --help lists the options)\n";
        return 2;
    } catch (const MeshError& e) {
        std::cerr << "torva-mesh: " << e.what() << '\n';
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "torva-mesh: internal error: " << e.what() << '\n';
        return 3;
    }
}
