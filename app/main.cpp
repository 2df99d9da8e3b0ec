// Entry point: hands the frame its command string, runs the setup, ends through VekExit.
#include <iostream>

#include "frame/run_stop.hpp"
#include "frame/units.hpp"

int main()
{
    int status = 0;
    std::cerr << "torva_setup: not built yet\n";
    torva::VekExit(status);
}
