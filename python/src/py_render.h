// gf.render: one render on a thread of its own while the caller waits without the GIL,
// delivers progress and notices Ctrl-C.
#pragma once

#include <pybind11/pybind11.h>

namespace globeforge::python {

void BindRender(pybind11::module_& m);

}  // namespace globeforge::python
