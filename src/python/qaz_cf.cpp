// CF description of a domain, from the library's one mapping (grid/cf_domain).
#include "qaz_module.hpp"

void bind_cf(py::module_&) {}
