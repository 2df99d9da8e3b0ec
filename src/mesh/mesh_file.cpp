// Mesh file reading and panel classification (layout and rules in the header).
#include "mesh/mesh_file.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "frame/list_directed.hpp"
#include "mesh/mesh_fault.hpp"
#include "frame/units.hpp"
#include "mesh/mesh_records.hpp"
#include "mesh/panel_geometry.hpp"

namespace torva {

namespace {

// The single-precision value just below pi that the angle conversion has always used.
constexpr float kPiSingle = 3.1415925f;
// Title characters kept.
constexpr std::size_t kTitleLength = 200;
// Starting values of the waterline extent (the floats nearest to -1e15 and +1e15).
constexpr float kWaterlineStartMax = -1.0e15f;
constexpr float kWaterlineStartMin = 1.0e15f;

[[nodiscard]] bool is_version_line(const std::string& line)
{
    // Character 8 is not looked at: "Version 2.0" and "Version_2.0" both qualify.
    return line.size() >= 11 && line.compare(0, 7, "Version") == 0 && line.compare(8, 3, "2.0") == 0;
}

[[nodiscard]] float degrees_to_radians(float degrees) noexcept
{
    return degrees * kPiSingle / 180.0f;
}

// Header records: record 1 decides the layout.  Lengths are divided by `alength`, angles
// turned into radians.  Returns the sheet count.
int read_header(MeshRecords& records, float alength, MeshHeader& header)
{
    const std::string first = records.read_text_record("the first record (a version line or the title)");
    float lengths[3] = {0.0f, 0.0f, 0.0f};
    float angles[3] = {0.0f, 0.0f, 0.0f};
    bool translate_first = false;
    int n_sheets = 0;
    const bool versioned = is_version_line(first);
    if (versioned)
        header.title = records.read_text_record("the title (record 2)").substr(0, kTitleLength);
    else
        header.title = first.substr(0, kTitleLength);

    const int symmetry_record = versioned ? 3 : 2;
    records.begin_statement("the symmetry indicator and a one-character code (record "
                            + std::to_string(symmetry_record) + ")");
    header.symmetry = records.next_int("the symmetry indicator");
    header.code = records.next_optional_character();

    if (versioned) {
        records.begin_statement("the number of sheets (record 4)");
        n_sheets = records.next_int("the number of sheets");
        if (n_sheets < 0)
            records.fail("the number of sheets is " + std::to_string(n_sheets));
        records.begin_statement("three lengths and three angles in degrees (record 5)");
        for (float& t : lengths)
            t = records.next_finite_real("a length");
        for (float& a : angles)
            a = records.next_finite_real("an angle");
        records.begin_statement("one logical, T or F (record 6)");
        translate_first = records.next_logical("the logical");
    } else {
        records.begin_statement("the number of sheets, the third length, the second angle and "
                                "the first length (record 3)");
        n_sheets = records.next_int("the number of sheets");
        if (n_sheets < 0)
            records.fail("the number of sheets is " + std::to_string(n_sheets));
        lengths[2] = records.next_finite_real("the third length");
        angles[1] = records.next_finite_real("the second angle");
        lengths[0] = records.next_finite_real("the first length");
    }
    for (int k = 0; k < 3; ++k) {
        header.lengths[k] = lengths[k] / alength;
        header.angles[k] = degrees_to_radians(angles[k]);
    }
    header.translate_first = translate_first;
    return n_sheets;
}

struct SheetHeader {
    int np1 = 0, np2 = 0, kp = 0, mp = 0;
};

SheetHeader read_sheet_header(MeshRecords& records, int sheet, int n_sheets)
{
    records.begin_statement("the header of sheet " + std::to_string(sheet) + " of "
                            + std::to_string(n_sheets) + " (NP1 NP2 KP MP)");
    SheetHeader h;
    h.np1 = records.next_int("NP1");
    h.np2 = records.next_int("NP2");
    h.kp = records.next_int("KP");
    h.mp = records.next_int("MP");
    if (h.np1 < 1 || h.np2 < 1)
        records.fail("NP1 = " + std::to_string(h.np1) + ", NP2 = " + std::to_string(h.np2)
                     + ": a sheet needs at least one panel in each direction");
    return h;
}

[[nodiscard]] std::int64_t padded_panels(const SheetHeader& h) noexcept
{
    return (static_cast<std::int64_t>(h.np1) + 2) * (static_cast<std::int64_t>(h.np2) + 2);
}

[[nodiscard]] std::int64_t node_count(const SheetHeader& h) noexcept
{
    return (static_cast<std::int64_t>(h.np1) + 1) * (static_cast<std::int64_t>(h.np2) + 1);
}

// Reads one node record statement into xyz (divided by alength).
void read_node(MeshRecords& records, int sheet, std::int64_t a, std::int64_t b, float alength,
               float* xyz)
{
    records.begin_statement("node (" + std::to_string(a) + ", " + std::to_string(b) + ") of sheet "
                            + std::to_string(sheet) + " (x y z)");
    xyz[0] = records.next_finite_real("x") / alength;
    xyz[1] = records.next_finite_real("y") / alength;
    xyz[2] = records.next_finite_real("z") / alength;
}

// Sizing of one file: adds its sheets and panels to `sizes`.
void size_one_file(MeshRecords& records, MeshSizes& sizes, std::int64_t& total_panels)
{
    MeshHeader header;
    const int n_sheets = read_header(records, 1.0f, header);
    sizes.symmetry = header.symmetry;
    for (int s = 1; s <= n_sheets; ++s) {
        const SheetHeader h = read_sheet_header(records, s, n_sheets);
        total_panels += padded_panels(h);
        // Check the counts before anything is sized by them: the panel count must be a
        // 32-bit number, and the tables it implies must fit in the memory there is.
        const std::int64_t sheets_so_far = static_cast<std::int64_t>(sizes.n_sheets) + s;
        const std::int64_t bytes = panel_model_bytes(total_panels, total_panels, sheets_so_far);
        const std::int64_t available = available_memory_bytes();
        const bool too_many = total_panels > std::numeric_limits<int>::max();
        // The equation system holds at least one N x N float matrix (two for a half hull);
        // in double, since N^2 overflows 64 bits long before the check below fails.
        const double matrix_bytes = 4.0 * double(total_panels) * double(total_panels) * (header.symmetry == 1 ? 2 : 1);
        if (!too_many && available >= 0 && bytes <= available && matrix_bytes > double(available)) {
            char need[64];
            std::snprintf(need, sizeof need, "%.0f", matrix_bytes);
            throw MeshFault({"ERROR: Not enough memory for the mesh in \"" + records.file_name() + "\" (sheet " +
                      std::to_string(s) + ", record " + std::to_string(records.record_number()) + "): with NP1 = " +
                      std::to_string(h.np1) + ", NP2 = " + std::to_string(h.np2) + " it has " +
                      std::to_string(total_panels) + " padded panels, and its equation system would need " + need +
                      " bytes for the N x N matrices; this machine has " + std::to_string(available) +
                      " bytes available"});
        }
        if (too_many || (available >= 0 && bytes > available)) {
            std::string problem = "with NP1 = " + std::to_string(h.np1) + ", NP2 = "
                                  + std::to_string(h.np2) + " the mesh has "
                                  + std::to_string(total_panels) + " padded panels";
            if (too_many)
                problem += ", more than a 32-bit panel count can hold";
            problem += "; their tables need " + std::to_string(bytes) + " bytes and this machine has "
                       + (available >= 0 ? std::to_string(available) + " bytes available"
                                         : std::string("an unknown amount of memory available"));
            throw MeshFault({std::string(too_many ? "ERROR: Too many panels" : "ERROR: Not enough memory") + " for the mesh in \"" +
                      records.file_name() + "\" (sheet " + std::to_string(s) + ", record " +
                      std::to_string(records.record_number()) + "): " + problem});
        }
        float xyz[3];
        for (std::int64_t b = 0; b <= h.np2; ++b)
            for (std::int64_t a = 0; a <= h.np1; ++a)
                read_node(records, s, a, b, 1.0f, xyz);
    }
    sizes.n_sheets += n_sheets;
    sizes.n_panels = static_cast<int>(total_panels);
}

// Reads the sheets of one file into the model (step 3 of the reading), appending to the
// sheet tables, the raw node list and the corner records.
void read_sheets(MeshRecords& records, int n_sheets, float alength, bool waterline,
                 PanelModel& model)
{
    const float waterline_z = kWaterlineTolerance * alength;
    const std::int64_t raw_capacity = static_cast<std::int64_t>(model.raw_nodes.size() / 3);
    for (int s = 1; s <= n_sheets; ++s) {
        const SheetHeader h = read_sheet_header(records, s, n_sheets);
        const std::int64_t np = padded_panels(h);
        const std::int64_t nodes = node_count(h);
        if (model.n_panels + np > model.panel_capacity
            || model.n_raw_nodes + nodes > raw_capacity)
            records.fail("this sheet brings the mesh to " + std::to_string(model.n_panels + np)
                         + " padded panels, more than the " + std::to_string(model.panel_capacity)
                         + " the tables were sized for (has the file changed since it was sized?)");

        const int first_node = model.n_raw_nodes;
        for (std::int64_t b = 0; b <= h.np2; ++b)
            for (std::int64_t a = 0; a <= h.np1; ++a)
                read_node(records, s, a, b, alength,
                          &model.raw_nodes[3 * static_cast<std::size_t>(model.n_raw_nodes++)]);

        const int sheet = model.n_sheets;
        const int np1 = h.np1 + 2, np2 = h.np2 + 2;
        model.np1[sheet] = np1;
        model.np2[sheet] = np2;
        model.np[sheet] = np1 * np2;
        model.kp[sheet] = h.kp;
        model.mp[sheet] = h.mp;
        const bool waterline_sheet = waterline && h.kp == kSheetKindBody && h.mp == 1;

        const auto node = [&](int a, int b) -> const float* {
            return &model.raw_nodes[3 * static_cast<std::size_t>(first_node + a + b * (h.np1 + 1))];
        };
        for (int j = 0; j < np2; ++j) {
            for (int i = 0; i < np1; ++i) {
                float* corner = &model.corners[static_cast<std::size_t>(kCornerStride)
                                               * (model.n_panels + i + j * np1)];
                const bool interior = i >= 1 && i <= np1 - 2 && j >= 1 && j <= np2 - 2;
                if (!interior) {
                    for (int k = 0; k < kCornerStride; ++k)
                        corner[k] = 0.0f;
                    continue;
                }
                const int a = i - 1, b = j - 1;
                const float* P[4] = {node(a + 1, b + 1), node(a + 1, b), node(a, b), node(a, b + 1)};
                for (int k = 0; k < 4; ++k) {
                    corner[k] = P[k][0];
                    corner[4 + k] = P[k][1];
                    corner[8 + k] = P[k][2];
                }
                if (waterline_sheet) {
                    for (int k = 0; k < 4; ++k) {
                        if (std::fabs(corner[8 + k]) < waterline_z) {
                            if (corner[k] > model.waterline_xmax)
                                model.waterline_xmax = corner[k];
                            if (corner[k] < model.waterline_xmin)
                                model.waterline_xmin = corner[k];
                        }
                    }
                }
            }
        }
        model.n_panels += np1 * np2;
        ++model.n_sheets;
    }
}

// Link section (step 4): a count, then count records of a panel number and six integers.
// Returns the number of records read.
int read_link_section(MeshRecords& records, PanelModel& model)
{
    int count = 0;
    if (!records.try_read_int_statement(count) || count <= 0)
        return 0;
    for (int r = 1; r <= count; ++r) {
        records.begin_statement("link record " + std::to_string(r) + " of " + std::to_string(count)
                                + " (a panel number and six integers)");
        const int panel = records.next_int("the panel number");
        // Any panel of either file: the tables hold the panels of both from the start.
        const int panels = static_cast<int>(model.link_values.size() / kLinkValueCount);
        if (panel < 1 || panel > panels)
            records.fail("panel number " + std::to_string(panel) + " is outside 1 .. "
                         + std::to_string(panels));
        int* values = &model.link_values[static_cast<std::size_t>(kLinkValueCount)
                                         * to_panel_index(panel)];
        for (int k = 0; k < kLinkValueCount; ++k)
            values[k] = records.next_int("a link value");
    }
    return count;
}

void reset_for_reading(PanelModel& model)
{
    model.n_sheets = 0;
    model.n_panels = 0;
    model.n_raw_nodes = 0;
    model.link_record_count = 0;
    model.waterline_xmax = kWaterlineStartMax;
    model.waterline_xmin = kWaterlineStartMin;
    // Step 4's clearing: the first link value of every panel.
    for (std::size_t p = 0; p < model.link_values.size(); p += kLinkValueCount)
        model.link_values[p] = 0;
}

// Steps 6 to 9, once every sheet is in.
void finish_model(PanelModel& model)
{
    fill_node_table(model);
    set_active_flags(model);
    compute_panel_geometry(model, 0, model.n_panels);
    compute_surface_metric(model);
}

void check_alength(float alength)
{
    if (!(alength > 0.0f) || !std::isfinite(alength))
        throw MeshFault({"ERROR: ALENGTH must be a positive length to scale the mesh by; it is "
                  + format_item(alength)});
}

[[noreturn]] void stop_unable_to_open(const char* what, const std::string& name)
{
    throw MeshFault({std::string("ERROR: Unable to open ") + what, name});
}

void open_old(int unit, const std::string& name, const char* what)
{
    OpenOptions options;
    options.status = "OLD";
    options.read_only = true;
    if (units().open(unit, name, options) != kIostatOk)
        stop_unable_to_open(what, name);
}

}  // namespace

MeshSizes size_mesh(std::istream& first, const std::string& first_name, std::istream* second,
                    const std::string& second_name)
{
    MeshSizes sizes;
    std::int64_t total_panels = 0;
    MeshRecords first_records(first, first_name);
    size_one_file(first_records, sizes, total_panels);
    if (second != nullptr) {
        MeshRecords second_records(*second, second_name);
        size_one_file(second_records, sizes, total_panels);
    }
    return sizes;
}

MeshSizes size_mesh(int unit, const std::string& file_fs)
{
    MeshSizes sizes;
    std::int64_t total_panels = 0;
    {
        MeshRecords records(unit, units().name_of(unit));
        size_one_file(records, sizes, total_panels);
    }
    units().close(unit);
    const std::string second = trimmed(file_fs);
    if (second != kNoSecondMeshFile) {
        open_old(unit, second, "mesh fs file");
        MeshRecords records(unit, second);
        size_one_file(records, sizes, total_panels);
        units().close(unit);
    }
    return sizes;
}

namespace {

int read_first_file(MeshRecords& records, float alength, PanelModel& model)
{
    check_alength(alength);
    reset_for_reading(model);
    const int n_sheets = read_header(records, alength, model.header);
    if (n_sheets > model.sheet_capacity)
        return 1;
    read_sheets(records, n_sheets, alength, true, model);
    model.link_record_count = read_link_section(records, model);
    return 0;
}

int read_second_file(MeshRecords& records, float alength, PanelModel& model)
{
    const int n_second = read_header(records, alength, model.header);
    if (static_cast<std::int64_t>(model.n_sheets) + n_second > model.sheet_capacity)
        return 1;
    read_sheets(records, n_second, alength, false, model);
    model.link_record_count += read_link_section(records, model);
    return 0;
}

}  // namespace

int read_mesh_one_file(std::istream& in, const std::string& name, float alength, PanelModel& model)
{
    MeshRecords records(in, name);
    if (read_first_file(records, alength, model) != 0)
        return 1;
    finish_model(model);
    return 0;
}

int read_mesh_one_file(int unit, float alength, PanelModel& model)
{
    int status = 0;
    {
        MeshRecords records(unit, units().name_of(unit));
        status = read_first_file(records, alength, model);
    }
    units().close(unit);
    if (status == 0)
        finish_model(model);
    return status;
}

int read_mesh_two_files(std::istream& first, const std::string& first_name, std::istream& second,
                        const std::string& second_name, float alength, PanelModel& model)
{
    MeshRecords first_records(first, first_name);
    if (read_first_file(first_records, alength, model) != 0)
        return 1;
    MeshRecords second_records(second, second_name);
    if (read_second_file(second_records, alength, model) != 0)
        return 1;
    finish_model(model);
    return 0;
}

int read_mesh_two_files(int unit, const std::string& file_ssg, const std::string& file_fs,
                        float alength, PanelModel& model)
{
    const std::string first_name = trimmed(file_ssg);
    const std::string second_name = trimmed(file_fs);
    open_old(unit, first_name, "mesh ssg file");
    int status = 0;
    {
        MeshRecords records(unit, first_name);
        status = read_first_file(records, alength, model);
    }
    units().close(unit);
    if (status != 0)
        return status;
    open_old(unit, second_name, "mesh fs file");
    {
        MeshRecords records(unit, second_name);
        status = read_second_file(records, alength, model);
    }
    units().close(unit);
    if (status == 0)
        finish_model(model);
    return status;
}

int read_mesh_corners(std::istream& first, const std::string& first_name, std::istream* second,
                      const std::string& second_name, float alength, PanelModel& model)
{
    MeshRecords first_records(first, first_name);
    if (read_first_file(first_records, alength, model) != 0)
        return 1;
    if (second != nullptr) {
        MeshRecords second_records(*second, second_name);
        if (read_second_file(second_records, alength, model) != 0)
            return 1;
    }
    fill_node_table(model);
    set_active_flags(model);
    return 0;
}

void classify_panels(PanelModel& model)
{
    model.n_flagged_interior_body = model.n_flagged_body = model.n_body = 0;
    model.n_interior_body = model.n_interior_free_surface = model.n_free_surface = 0;
    int p = 0;    // 0-based running index; lists hold 1-based numbers
    for (int s = 0; s < model.n_sheets; ++s) {
        const int kind = model.kp[s];
        for (int k = 0; k < model.np[s]; ++k, ++p) {
            const int number = to_panel_number(p);
            const bool interior = model.active[p] == 1;
            if (kind == kSheetKindBody) {
                model.body[model.n_body++] = number;
                if (interior)
                    model.interior_body[model.n_interior_body++] = number;
                if (model.mp[s] > 0) {
                    model.flagged_body[model.n_flagged_body++] = number;
                    if (interior)
                        model.flagged_interior_body[model.n_flagged_interior_body++] = number;
                }
            } else if (kind == kSheetKindFreeSurface) {
                model.free_surface[model.n_free_surface++] = number;
                if (interior)
                    model.interior_free_surface[model.n_interior_free_surface++] = number;
            }
        }
    }
}

}  // namespace torva
