// libFuzzer target: the mesh file on arbitrary bytes, through the driver's sequence
// (sizing pass, allocation, one-file reader, classification).  A stop (RunStopped) is a
// correct answer to bad input; anything else that leaves the reader - a crash, a sanitizer
// report, another exception, a hang - is a fault.  It also checks that a file that sizes and
// reads gives the panel count the sizing pass announced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "frame/run_stop.hpp"
#include "mesh/mesh_fault.hpp"
#include "mesh/mesh_file.hpp"
#include "mesh/panel_model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace torva;
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        std::istringstream sizing(text);
        const MeshSizes sizes = size_mesh(sizing, "fuzz.ssg", nullptr, "");
        PanelModel model;
        allocate_panel_model(model, sizes.n_panels, sizes.n_sheets, false);
        std::istringstream reading(text);
        if (read_mesh_one_file(reading, "fuzz.ssg", 1.0f, model) != 0) std::abort();   // capacity = count
        classify_panels(model);
        if (model.n_panels != sizes.n_panels || model.n_sheets != sizes.n_sheets) std::abort();
    } catch (const RunStopped&) {
    } catch (const MeshFault&) {
    }
    return 0;
}
