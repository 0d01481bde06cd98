// CF description of a domain, from the library's one mapping (cf_domain): the same grid_mapping
// attributes and coordinates as the netCDF writer's.
#include <vector>

#include "qaz_module.hpp"

#include "cf_domain.hpp"

namespace {

py::object cf_describe(const Domain& dom) {
    CF_grid g;
    {
        py::gil_scoped_release nogil;
        MESS_clear_last_error();
        if (CF_describe_domain(&dom, &g) < 0) return py::none();
    }
    py::list attributes;  // (name, value) pairs in the writer's order
    for (const CF_attribute& a : g.attributes) {
        py::object value;
        if (!a.text.empty())
            value = py::str(a.text);
        else if (a.values.size() == 1)
            value = py::float_(a.values[0]);
        else
            value = py::array_t<double>(py::ssize_t(a.values.size()), a.values.data());
        attributes.append(py::make_tuple(a.name, value));
    }
    py::dict d;
    d["latlon"] = g.latlon;
    d["mapping_name"] = g.mapping_name;
    d["attributes"] = attributes;
    d["x"] = py::array_t<double>(py::ssize_t(g.x.size()), g.x.data());
    d["y"] = py::array_t<double>(py::ssize_t(g.y.size()), g.y.data());
    d["xy_units"] = g.xy_units;
    return d;
}

}  // namespace

void bind_cf(py::module_& m) {
    m.def("cf_describe", &cf_describe, py::arg("domain"),
          "CF description of a domain (grid_mapping attributes, 1-D x/y coordinates), or None "
          "when its projection has no CF form.");
}
