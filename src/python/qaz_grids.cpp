// Grid files from Python: the listing of a file, one field's values, grid coordinates and values
// at points. Types are converted here and nothing else is decided: every number comes from the
// library. GRIB fields are decoded by the reentrant path (message read through a stream of its
// own, decoded with per-thread state) without the interpreter lock; the other file kinds go
// through the grid-file table, which one thread at a time may use.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "qaz_module.hpp"

#include "grd_read.hpp"
#include "grd_tool.hpp"
#include "cf_domain.hpp"
#include "grib.hpp"
#include "region.hpp"
#include "var_tool.hpp"

namespace {

constexpr std::int64_t kNaT = std::numeric_limits<std::int64_t>::min();

// Closes a grid-file slot on every path.
struct Slot {
    int fd = -1;
    ~Slot() {
        if (fd >= 0) GRD_close(fd);
    }
};

// A report whose values are freed on every path.
struct Report {
    GRD_report r;
    Report() { GRD_init_report(&r); }
    ~Report() { GRD_free_report(&r); }
    Report(const Report&) = delete;
    Report& operator=(const Report&) = delete;
};

std::int64_t seconds_of(const Date& date) {
    if (date.year == -9999 || date.month == -9999 || date.day == -9999) return kNaT;
    Date copy = date;
    if (copy.hour == -9999) copy.hour = 0;
    if (copy.min == -9999) copy.min = 0;
    if (copy.sec == -9999) copy.sec = 0;
    return DATE_num_sec(&copy);
}

// Values of a report as (ny, nx) float32, the missing marker as NaN; into `into` when given
// (C-ordered float32 of that shape: a slot of a caller's larger array).
py::array_t<float> values_array(const GRD_report& r, py::object into = py::none()) {
    const py::ssize_t ny = r.domain.ny, nx = r.domain.nx;
    py::array_t<float> out;
    if (into.is_none()) {
        out = py::array_t<float>({ny, nx});
    } else {
        out = into.cast<py::array_t<float>>();
        if (!py::isinstance<py::array_t<float>>(into) || out.ndim() != 2 || out.shape(0) != ny ||
            out.shape(1) != nx || !(out.flags() & py::array::c_style) || !out.writeable())
            raise_error("out must be a writable C-ordered float32 array of shape (ny, nx)");
    }
    float* dst = out.mutable_data();
    const std::size_t n = std::size_t(nx) * std::size_t(ny);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::size_t k = 0; k < n; ++k) dst[k] = r.grid[k] == GRD_MISSING ? nan : r.grid[k];
    return out;
}

bool has_values(const GRD_report& r) {
    return r.grid && r.domain.nx > 0 && r.domain.ny > 0;
}

// (ny, nx) doubles, the missing marker as NaN.
py::array_t<double> grid_array(const std::vector<double>& v, py::ssize_t ny, py::ssize_t nx) {
    py::array_t<double> a({ny, nx});
    double* dst = a.mutable_data();
    for (std::size_t k = 0; k < v.size() && k < std::size_t(ny * nx); ++k)
        dst[k] = v[k] == -9999.0 ? std::numeric_limits<double>::quiet_NaN() : v[k];
    return a;
}

template <typename T>
py::array_t<T> column(const std::vector<T>& v) {
    py::array_t<T> a(py::ssize_t(v.size()));
    if (!v.empty()) std::memcpy(a.mutable_data(), v.data(), v.size() * sizeof(T));
    return a;
}

// Columns of a file's listing, filled without the interpreter lock.
struct Listing {
    int type = 0;
    std::vector<int> var, ltype, level, time, source, model, version, grid_number, domain_index;
    std::vector<std::int64_t> reference, valid, offset, length;
    std::vector<int> edition, field;
    std::vector<std::string> abbreviation, description, units, datim, level_text, time_text;
    std::vector<Domain> domains;

    int add_domain(const Domain& d) {
        // Files mostly hold one or a few grids: compare with the last ones first.
        for (std::size_t i = domains.size(); i-- > 0;)
            if (std::memcmp(&domains[i], &d, sizeof d) == 0) return int(i);
        domains.push_back(d);
        return int(domains.size() - 1);
    }
};

void list_file(const std::string& path, Listing* out) {
    TableLock hold;
    MESS_clear_last_error();
    Slot slot;
    int type = 0;
    slot.fd = GRD_open(path.c_str(), 0, &type);
    if (slot.fd < 0) raise_error("cannot open grid file " + path);
    out->type = type;
    GRD_info info{};
    if (GRD_getinfo(slot.fd, &info) < 0) raise_error("cannot read the header of " + path);
    Report header;
    // Messages the scan had to step over (cut short, damaged length): the file is not whole.
    auto check_skipped = [&]() {
        if (type != GRD_TYPE_GRIB || GRIB_damaged(slot.fd, -1, nullptr, nullptr, 0) <= 0) return;
        off_t offset = 0;
        char why[200] = "";
        GRIB_damaged(slot.fd, 0, &offset, why, sizeof why);
        throw QazError(path + ": damaged message at offset " +
                       std::to_string(static_cast<long long>(offset)) + ": " + why);
    };
    for (int n = 0;; ++n) {
        const GRD_file* gf = GRD_get_gfile(slot.fd);
        if (gf && gf->type == GRD_TYPE_NETCDF && n >= gf->max_num) break;
        int reached = n;
        MESS_clear_last_error();
        const int r = GRD_read(slot.fd, &header.r, 2, &reached);
        check_skipped();
        if (r == -1) {
            // The end, unless the library said why it stopped (a truncated last message).
            if (*MESS_last_error()) raise_error(path + ": grid " + std::to_string(n));
            break;
        }
        if (r < -1) raise_error(path + ": grid " + std::to_string(n) + " is damaged");
        if (r != 0) continue;  // an edition 2 message without a product
        if (reached < n) break;
        n = reached;
        const GRD_report& g = header.r;
        out->var.push_back(g.var);
        out->ltype.push_back(g.ltype);
        out->level.push_back(g.level);
        out->time.push_back(g.time);
        out->source.push_back(g.source);
        out->model.push_back(g.model);
        out->version.push_back(g.version);
        out->grid_number.push_back(g.type);
        out->reference.push_back(seconds_of(g.date));
        Date valid{};
        out->valid.push_back(field_valid_date(g.date, g.time, &valid) == 0 ? seconds_of(valid) : kNaT);
        out->abbreviation.push_back(field_abbreviation(g.var));
        out->description.emplace_back(g.info);
        out->units.emplace_back(g.units);
        out->datim.emplace_back(g.datim);
        out->level_text.push_back(field_level_text(g.ltype, g.level));
        out->time_text.push_back(field_time_text(g.time));
        out->domain_index.push_back(out->add_domain(g.domain));
        GRIB_location loc{};
        if (type == GRD_TYPE_GRIB && GRIB_get_location(slot.fd, &loc) == 0) {
            out->offset.push_back(loc.offset);
            out->length.push_back(loc.length);
            out->edition.push_back(loc.edition);
            out->field.push_back(loc.field);
        } else {
            out->offset.push_back(-1);
            out->length.push_back(-1);
            out->edition.push_back(-1);
            out->field.push_back(n);
        }
    }
}

py::dict listing(const std::string& path) {
    Listing l;
    {
        py::gil_scoped_release nogil;
        list_file(path, &l);
    }
    py::dict d;
    d["type"] = l.type;
    d["var"] = column(l.var);
    d["ltype"] = column(l.ltype);
    d["level"] = column(l.level);
    d["time"] = column(l.time);
    d["source"] = column(l.source);
    d["model"] = column(l.model);
    d["version"] = column(l.version);
    d["grid_number"] = column(l.grid_number);
    d["reference"] = column(l.reference).attr("astype")("datetime64[s]");
    d["valid"] = column(l.valid).attr("astype")("datetime64[s]");
    d["offset"] = column(l.offset);
    d["length"] = column(l.length);
    d["edition"] = column(l.edition);
    d["field"] = column(l.field);
    d["domain_index"] = column(l.domain_index);
    d["abbreviation"] = py::cast(l.abbreviation);
    d["description"] = py::cast(l.description);
    d["units"] = py::cast(l.units);
    d["datim"] = py::cast(l.datim);
    d["level_text"] = py::cast(l.level_text);
    d["time_text"] = py::cast(l.time_text);
    d["domains"] = py::cast(l.domains);
    return d;
}

// One GRIB field: read its message and decode it, neither touching shared state.
py::array_t<float> grib_values(const std::string& path, std::int64_t offset, long length,
                               int edition, int field, py::object into) {
    Report rep;
    {
        py::gil_scoped_release nogil;
        MESS_clear_last_error();
        const GRIB_location loc{off_t(offset), length, edition, field};
        std::vector<unsigned char> msg;
        if (GRIB_load_message(path.c_str(), &loc, &msg) < 0)
            raise_error("cannot read the GRIB message at offset " + std::to_string(offset));
        const int r = GRIB_decode_message(msg.data(), msg.size(), edition, field, &rep.r, 0);
        if (r != 0 || !has_values(rep.r))
            raise_error(path + ": the GRIB field at offset " + std::to_string(offset) +
                        " cannot be decoded");
    }
    return values_array(rep.r, into);
}

// Grid n of any file kind, through the grid-file table.
py::array_t<float> table_values(const std::string& path, int n) {
    Report rep;
    {
        py::gil_scoped_release nogil;
        TableLock hold;
        MESS_clear_last_error();
        Slot slot;
        int type = 0;
        slot.fd = GRD_open(path.c_str(), 0, &type);
        if (slot.fd < 0) raise_error("cannot open grid file " + path);
        GRD_info info{};
        if (GRD_getinfo(slot.fd, &info) < 0) raise_error("cannot read the header of " + path);
        int reached = n;
        const int r = GRD_read(slot.fd, &rep.r, 0, &reached);
        if (r != 0 || reached != n || !has_values(rep.r))
            raise_error(path + ": grid " + std::to_string(n) + " cannot be read");
    }
    return values_array(rep.r);
}

py::tuple latlon(const Domain& dom) {
    if (dom.nx < 1 || dom.ny < 1) raise_error("the domain has no grid");
    const py::ssize_t ny = dom.ny, nx = dom.nx;
    std::vector<double> la, lo;
    {
        py::gil_scoped_release nogil;
        MESS_clear_last_error();
        // The transforms keep their active domain per thread: no lock needed.
        if (CF_domain_latlon(&dom, &la, &lo) < 0) raise_error("no coordinates for this domain");
    }
    return py::make_tuple(grid_array(la, ny, nx), grid_array(lo, ny, nx));
}

// Bilinear values at points (the library's interpolation), NaN outside the grid.
py::array_t<float> point_values(py::array_t<float, py::array::c_style | py::array::forcecast> values,
                                const Domain& dom,
                                py::array_t<float, py::array::c_style | py::array::forcecast> lats,
                                py::array_t<float, py::array::c_style | py::array::forcecast> lons) {
    if (values.ndim() != 2 || values.shape(0) != dom.ny || values.shape(1) != dom.nx)
        raise_error("values do not have the domain's shape (ny, nx)");
    if (lats.size() != lons.size()) raise_error("as many latitudes as longitudes are needed");
    py::array_t<float> out(lats.request().shape);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<float> grid(values.data(), values.data() + values.size());
    for (float& v : grid)
        if (std::isnan(v)) v = GRD_MISSING;
    const float* la = lats.data();
    const float* lo = lons.data();
    float* dst = out.mutable_data();
    const py::ssize_t n = lats.size();
    {
        py::gil_scoped_release nogil;
        GRD_report r;
        GRD_init_report(&r);
        r.domain = dom;
        r.grid = grid.data();
        for (py::ssize_t k = 0; k < n; ++k) {
            float gx = 0, gy = 0;
            float v = GRD_MISSING;
            if (GRD_get_position(&r, la[k], lo[k], &gx, &gy) == 0) v = GRD_get_value(&r, gx, gy);
            dst[k] = v == GRD_MISSING ? nan : v;
        }
    }
    return out;
}

}  // namespace

void bind_grids(py::module_& m) {
    py::class_<Domain>(m, "Domain", "Grid geometry: projection code, pole, parameters, centre, "
                                    "spacing (100 km, or degrees on latitude/longitude grids), size")
        .def(py::init([]() {
            Domain d;
            DOM_init(&d);
            return d;
        }))
        .def_readwrite("proj", &Domain::proj)
        .def_readwrite("plat", &Domain::plat)
        .def_readwrite("plon", &Domain::plon)
        .def_property(
            "param", [](const Domain& d) { return std::vector<float>(d.param, d.param + 5); },
            [](Domain& d, const std::vector<float>& v) {
                if (v.size() != 5) raise_error("param holds 5 values");
                std::copy(v.begin(), v.end(), d.param);
            })
        .def_readwrite("clat", &Domain::clat)
        .def_readwrite("clon", &Domain::clon)
        .def_readwrite("dx", &Domain::dx)
        .def_readwrite("dy", &Domain::dy)
        .def_readwrite("nx", &Domain::nx)
        .def_readwrite("ny", &Domain::ny)
        .def_readwrite("ellipse", &Domain::ellipse)
        .def("__eq__", [](const Domain& a, const Domain& b) { return DOM_comp(&a, &b) != 0; })
        .def("__repr__", [](const Domain& d) {
            char text[240];
            std::snprintf(text, sizeof text,
                          "Domain(proj=%d, plat=%g, plon=%g, param=[%g, %g, %g, %g, %g], "
                          "clat=%g, clon=%g, dx=%g, dy=%g, nx=%d, ny=%d, ellipse=%d)",
                          d.proj, d.plat, d.plon, d.param[0], d.param[1], d.param[2], d.param[3],
                          d.param[4], d.clat, d.clon, d.dx, d.dy, d.nx, d.ny, d.ellipse);
            return std::string(text);
        })
        .def(py::pickle(
            [](const Domain& d) {
                return py::make_tuple(d.proj, d.plat, d.plon,
                                      std::vector<float>(d.param, d.param + 5), d.clat, d.clon,
                                      d.dx, d.dy, d.nx, d.ny, d.ellipse);
            },
            [](py::tuple t) {
                if (t.size() != 11) raise_error("bad Domain state");
                Domain d;
                d.proj = t[0].cast<int>();
                d.plat = t[1].cast<float>();
                d.plon = t[2].cast<float>();
                const auto p = t[3].cast<std::vector<float>>();
                for (int i = 0; i < 5 && i < int(p.size()); ++i) d.param[i] = p[std::size_t(i)];
                d.clat = t[4].cast<float>();
                d.clon = t[5].cast<float>();
                d.dx = t[6].cast<float>();
                d.dy = t[7].cast<float>();
                d.nx = t[8].cast<int>();
                d.ny = t[9].cast<int>();
                d.ellipse = t[10].cast<int>();
                return d;
            }));
    bind_cf(m);

    m.def("listing", &listing, py::arg("path"),
          "Every field of a grid file as columns (numbers as arrays, texts as lists).");
    m.def("grib_values", &grib_values, py::arg("path"), py::arg("offset"), py::arg("length"),
          py::arg("edition"), py::arg("field"), py::arg("out") = py::none(),
          "Values (ny, nx) of one GRIB field, decoded without the interpreter lock.");
    m.def("table_values", &table_values, py::arg("path"), py::arg("index"),
          "Values (ny, nx) of grid `index` of any grid file.");
    m.def("latlon", &latlon, py::arg("domain"), "Latitude and longitude (ny, nx) of every point.");
    m.def("point_values", &point_values, py::arg("values"), py::arg("domain"), py::arg("lat"),
          py::arg("lon"), "Bilinear values at latitude/longitude points.");
}
