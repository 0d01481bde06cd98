// Shared by the binding sources of the Python module _qaz.
#pragma once

#include <mutex>
#include <string>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "date.hpp"
#include "maptran.hpp"
#include "mess.hpp"

namespace py = pybind11;

// The library's failure as a Python exception (qaz.Error).
struct QazError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
// Throws QazError with what, followed by the library's last error message of this thread.
[[noreturn]] void raise_error(const std::string& what);

// The grid-file and upper-air file tables and their read positions are process-wide: one
// thread at a time works through them. Held without the interpreter lock.
class TableLock {
public:
    TableLock();
    ~TableLock();
    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;
};

// Texts and times of a field from the library's variable descriptors.
std::string field_level_text(int ltype, int level);
std::string field_time_text(int coded_time);
std::string field_abbreviation(int var);
// Valid time of a field: 0, or -1 when it has none.
int field_valid_date(const Date& reference, int coded_time, Date* valid);

void bind_grids(py::module_& m);
void bind_cf(py::module_& m);
void bind_upperair(py::module_& m);
