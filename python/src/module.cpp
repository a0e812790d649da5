// kavet._kavet: the library as Python sees it. A frame built from numpy
// arrays or read from a .gro file (frame.cpp), the analysis of one frame into
// a result whose tables come out as numpy arrays (result.cpp), and series
// runs over a trajectory (series.cpp). The Python package (kavet/__init__.py)
// wraps this module.
#include "common.h"

using namespace kavet;
using namespace kavet::python;

PYBIND11_MODULE(_kavet, m)
{
    m.doc() = "kavet's library: hydrogen-bond rings and polyhedral cages of water frames";
    m.attr("__version__") = KAVET_VERSION; // the project's one version (CMakeLists.txt)
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const FileError& e) {
            // A file that cannot be opened, read or written: OSError, whose
            // subclass (FileNotFoundError, PermissionError, ...) follows errno.
            PyErr_SetObject(PyExc_OSError, py::make_tuple(e.error(), std::string(e.what())).ptr());
        } catch (const Failure& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });


    bindFrame(m);
    bindResult(m);
    bindSeries(m);
    bindThermal(m);
}
