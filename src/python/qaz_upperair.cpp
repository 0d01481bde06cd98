// Soundings and thermodynamic functions from Python: each station's merged profile and its
// stability indices as the library computes them, and the library's thermodynamic functions
// applied element by element to NumPy arrays (NaN in, NaN out; the missing marker out as NaN).
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "qaz_module.hpp"

#include "thm_tool.hpp"
#include "ua_calc.hpp"
#include "ua_read.hpp"
#include "ua_tool.hpp"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

float from_missing(float v) { return v == -9999.0f ? kNaN : v; }

struct UpaFile {
    int fd = -1;
    ~UpaFile() {
        if (fd >= 0) UPA_close(fd);
    }
};

// One merged profile as columns (pressure mb, height m, temperature and dew point C,
// direction deg, speed kt).
py::dict profile(const UPA_level* levels, int count) {
    const char* names[] = {"p", "h", "t", "td", "dir", "spd"};
    float UPA_level::*members[] = {&UPA_level::p, &UPA_level::h, &UPA_level::t,
                                   &UPA_level::td, &UPA_level::dir, &UPA_level::spd};
    py::dict d;
    for (int c = 0; c < 6; ++c) {
        py::array_t<float> a(count);
        float* dst = a.mutable_data();
        for (int i = 0; i < count; ++i) dst[i] = from_missing(levels[i].*members[c]);
        d[names[c]] = a;
    }
    return d;
}

struct Station {
    std::unique_ptr<THERM_values> tv = std::make_unique<THERM_values>();
};

py::list soundings(const std::string& path) {
    std::vector<Station> stations;
    {
        py::gil_scoped_release nogil;
        TableLock hold;
        MESS_clear_last_error();
        int type = 0;
        UPA_info info{};
        UpaFile f;
        f.fd = UPA_open_file(path.c_str(), nullptr, &type, &info);
        if (f.fd < 0) raise_error("cannot read upper-air file " + path);
        auto report = std::make_unique<UPA_report>();
        for (int n = 0;; ++n) {
            int reached = n;
            if (UPA_read(f.fd, report.get(), UPA_REP_ALL, &reached) < 0) break;
            Station s;
            THERM_calc(report.get(), s.tv.get());
            THERM_indices(s.tv.get());
            stations.push_back(std::move(s));
        }
        if (stations.empty()) raise_error("no sounding could be read from " + path);
    }
    py::list out;
    for (const Station& s : stations) {
        const THERM_values& tv = *s.tv;
        py::dict st;
        st["id"] = std::string(tv.id);
        st["wmo"] = tv.wmo == -9999 ? py::object(py::none()) : py::int_(tv.wmo);
        st["lat"] = from_missing(tv.lat);
        st["lon"] = from_missing(tv.lon);
        st["elev"] = from_missing(tv.elev);
        st["profile"] = profile(tv.sm, tv.num_sm);
        st["wind_profile"] = profile(tv.wm, tv.num_wm);
        py::dict indices;
        for (int i = 0; i < THERM_NUM_INDEX; ++i)
            indices[THERM_index_name(i)] = from_missing(tv.index[i]);
        st["indices"] = indices;
        out.append(st);
    }
    return out;
}

py::dict index_descriptions() {
    py::dict d;
    for (int i = 0; i < THERM_NUM_INDEX; ++i) d[THERM_index_name(i)] = THERM_index_info(i);
    return d;
}

// The library function f over arrays: NaN in any argument gives NaN, as does a -9999 result.
template <typename... A>
auto elementwise(float (*f)(A...)) {
    return py::vectorize([f](A... args) -> float {
        if ((std::isnan(args) || ...)) return kNaN;
        return from_missing(f(args...));
    });
}

}  // namespace

void bind_upperair(py::module_& m) {
    m.def("soundings", &soundings, py::arg("path"),
          "Per station: id, wmo, lat, lon, elev, the merged profile and wind profile (arrays "
          "p mb, h m, t C, td C, dir deg, spd kt) and the stability indices.");
    m.def("index_descriptions", &index_descriptions, "Stability index names and descriptions.");
    // Units: temperatures K, pressures mb, relative humidity %, mixing ratio g/kg.
    m.def("pot_temp", elementwise(&pot_temp), py::arg("t"), py::arg("p"));
    m.def("eq_pot_temp", elementwise(&eq_pot_temp), py::arg("t"), py::arg("td"), py::arg("p"));
    m.def("dew_temp", elementwise(&dew_temp), py::arg("t"), py::arg("rh"));
    m.def("rel_hum", elementwise(&rel_hum), py::arg("t"), py::arg("td"));
    m.def("mix_ratio", elementwise(&mix_ratio), py::arg("t"), py::arg("p"));
    m.def("spec_hum", elementwise(&spec_hum), py::arg("t"), py::arg("p"));
    m.def("vapor_pr", elementwise(&vapor_pr), py::arg("t"));
    m.def("wet_bulb", elementwise(&wet_bulb), py::arg("t"), py::arg("td"), py::arg("p"));
    m.def("virt_temp", elementwise(&virt_temp), py::arg("t"), py::arg("td"), py::arg("p"));
    m.def("virt_pot_temp", elementwise(&virt_pot_temp), py::arg("t"), py::arg("td"), py::arg("p"));
    m.def("wet_bulb_pot_temp", elementwise(&wet_bulb_pot_temp), py::arg("t"), py::arg("td"),
          py::arg("p"));
    m.def("lcl_pres", elementwise(&lcl_pres), py::arg("t"), py::arg("td"), py::arg("p"));
}
