// The Python module _qaz: thin bindings over the library (the package qaz wraps them).
#include "qaz_module.hpp"

#include <cstdio>

#include "resrc.hpp"
#include "var_tool.hpp"

namespace {

std::mutex g_tables;

}  // namespace

TableLock::TableLock() { g_tables.lock(); }
TableLock::~TableLock() { g_tables.unlock(); }

void raise_error(const std::string& what) {
    const std::string detail = MESS_last_error();
    throw QazError(detail.empty() ? what : what + ": " + detail);
}

std::string field_level_text(int ltype, int level) {
    char text[64];
    VAR_level_text(ltype, level, text, sizeof text);
    return text;
}

std::string field_time_text(int coded_time) {
    char text[48];
    VAR_time_text(coded_time, text, sizeof text);
    return text;
}

std::string field_abbreviation(int var) {
    char text[32];
    VAR_var_abbrev(var, text, sizeof text);
    return text;
}

int field_valid_date(const Date& reference, int coded_time, Date* valid) {
    return VAR_valid_date(&reference, coded_time, valid);
}

PYBIND11_MODULE(_qaz, m) {
    m.doc() = "Bindings of the qaz weather-data library (use the package qaz)";
    // Failures reach Python as exceptions carrying the library's message; the console stays
    // quiet unless asked (set_messages).
    MESS_set(0, M_none);
    static py::exception<QazError> error(m, "Error");
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const QazError& e) {
            error(e.what());
        }
    });
    m.def("set_messages", [](const std::string& setting) { MESS_set_str(setting.c_str()); },
          py::arg("setting"), "Library message setting, as the -me option (\"warn,+debug\").");
    m.def("set_file_path", [](const std::string& dir) {
              TableLock hold;
              RES_put("file_path", dir.c_str());
          }, py::arg("directory"),
          "Directory of the library's data files (grib2_var.lup, units.lup, ...), as the "
          "file_path resource; the installed copy serves without one. Set it before reading.");
    bind_grids(m);
    bind_upperair(m);
}
