// A fault the mesh module finds in a mesh file, its sizes or its connectivity: the lines of
// the message, which the caller writes when it stops the run.  Nothing in the mesh module
// writes the listing or stops the run itself.
#pragma once

#include <string>
#include <vector>

namespace torva {

struct MeshFault {
    std::vector<std::string> lines;
};

}  // namespace torva
