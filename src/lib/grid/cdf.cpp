// netCDF access layer: one current file and one current position over the version-2
// interface of the netCDF library.
#include "cdf.hpp"

#include <netcdf.h>

#include <cstdarg>
#include <cstring>
#include <vector>

#include "cdf_internal.hpp"
#include "string.hpp"

namespace {

int fd = -1;
long start[CDF_MAX_DIMS + 1];  // one spare for the character dimension of CDF_put_str
long count[CDF_MAX_DIMS + 1];
int ndim = 0;

constexpr float kMissing = -9999.0f;

bool no_data(int var) { return fd < 0 || var < 0; }

int def_shaped(const char* name, nc_type type)
{
    if (fd < 0 || !name) return -1;
    cdfx::never_fatal();
    int dims[CDF_MAX_DIMS];
    for (int k = 0; k < ndim; ++k) dims[k] = static_cast<int>(start[k]);
    return ncvardef(fd, name, type, ndim, dims);
}

template <class T>
int put_one(int var, T value)
{
    if (no_data(var)) return 0;
    cdfx::never_fatal();
    return cdfx::put(fd, var, start, nullptr, &value);
}

template <class T>
T get_one(int var, T none)
{
    if (no_data(var)) return none;
    cdfx::never_fatal();
    T value{};
    return cdfx::get(fd, var, start, nullptr, &value) == 0 ? value : none;
}

template <class T>
int get_array(int var, T* array)
{
    if (no_data(var) || !array) return -1;
    cdfx::never_fatal();
    return cdfx::get(fd, var, start, count, array);
}

template <class T>
int put_array(int var, const T* array)
{
    if (no_data(var)) return 0;
    if (!array) return -1;
    cdfx::never_fatal();
    return cdfx::put(fd, var, start, count, array);
}

// A text transfer runs along one dimension after the position: var needs exactly one more
// dimension, and the position must name single elements so that only one text moves.
bool text_slab_ok(int var, bool want_char)
{
    nc_type type;
    int n;
    if (!cdfx::var_shape(fd, var, &type, &n) || n != ndim + 1 || ndim >= CDF_MAX_DIMS)
        return false;
    if (want_char && type != NC_CHAR) return false;
    for (int k = 0; k < ndim; ++k)
        if (count[k] != 1) return false;
    return true;
}

int put_att(int id, const char* name, nc_type type, int len, const void* value)
{
    if (fd < 0 || (id < 0 && id != NC_GLOBAL)) return 0;
    cdfx::never_fatal();
    return ncattput(fd, id, name, type, len, value) == -1 ? -1 : 0;
}

}  // namespace

int CDF_set_fd(int val)
{
    fd = val < 0 ? -1 : val;
    return 0;
}

int CDF_print_errors(int val)
{
    ncopts = val == 1 ? NC_VERBOSE : 0;
    return 0;
}

int CDF_open(const char* filename, int access)
{
    cdfx::never_fatal();
    fd = -1;
    if (!filename) return -1;
    if (access == 0) fd = ncopen(filename, NC_NOWRITE);
    else if (access == 1) fd = nccreate(filename, NC_CLOBBER);
    if (fd < 0) fd = -1;
    return fd;
}

int CDF_def_dim(const char* name, long size)
{
    if (fd < 0 || !name || size < 0) return -1;
    cdfx::never_fatal();
    return ncdimdef(fd, name, size == 0 ? NC_UNLIMITED : size);
}

int CDF_end_def()
{
    if (fd < 0) return -1;
    cdfx::never_fatal();
    return ncendef(fd) == -1 ? -1 : 0;
}

int CDF_close()
{
    if (fd < 0) return -1;
    cdfx::never_fatal();
    const int result = ncclose(fd);
    fd = -1;
    return result == -1 ? -1 : 0;
}

int CDF_get_dim(const char* name)
{
    if (fd < 0 || !name) return -1;
    cdfx::never_fatal();
    return ncdimid(fd, name);
}

long CDF_get_dim_size(int dim)
{
    if (fd < 0) return -1;
    cdfx::never_fatal();
    if (dim == -1) {
        int ndims, nvars, natts;
        if (ncinquire(fd, &ndims, &nvars, &natts, &dim) == -1 || dim < 0) return -1;
    }
    long len = -1;
    return ncdiminq(fd, dim, nullptr, &len) == -1 ? -1 : len;
}

int CDF_set_shape(int n, ...)
{
    if (n < 0 || n > CDF_MAX_DIMS) return -1;
    va_list ap;
    va_start(ap, n);
    for (int k = 0; k < n; ++k) start[k] = va_arg(ap, int);
    va_end(ap);
    ndim = n;
    return 0;
}

int CDF_def_var(const char* name, int type, int ndims, ...)
{
    if (fd < 0 || !name || ndims < 0 || ndims > CDF_MAX_DIMS) return -1;
    int dims[CDF_MAX_DIMS];
    va_list ap;
    va_start(ap, ndims);
    for (int k = 0; k < ndims; ++k) dims[k] = va_arg(ap, int);
    va_end(ap);
    cdfx::never_fatal();
    return ncvardef(fd, name, static_cast<nc_type>(type), ndims, dims);
}

int CDF_def_float_var(const char* name) { return def_shaped(name, NC_FLOAT); }
int CDF_def_long_var(const char* name) { return def_shaped(name, NC_INT); }
int CDF_def_short_var(const char* name) { return def_shaped(name, NC_SHORT); }
int CDF_def_byte_var(const char* name) { return def_shaped(name, NC_BYTE); }
int CDF_def_char_var(const char* name) { return def_shaped(name, NC_CHAR); }

int CDF_get_var(const char* name)
{
    if (fd < 0 || !name) return -1;
    cdfx::never_fatal();
    return ncvarid(fd, name);
}

int CDF_put_glob_att(const char* name, const char* value)
{
    if (!name || !value) return -1;
    return put_att(NC_GLOBAL, name, NC_CHAR, static_cast<int>(std::strlen(value)), value);
}

int CDF_get_glob_att(const char* name, char* value, int size)
{
    if (!value || size <= 0) return -1;
    value[0] = '\0';
    if (fd < 0 || !name) return -1;
    cdfx::never_fatal();
    nc_type type;
    int len = 0;
    if (ncattinq(fd, NC_GLOBAL, name, &type, &len) == -1 || type != NC_CHAR || len < 0) return -1;
    std::vector<char> text(static_cast<std::size_t>(len) + 1, '\0');
    if (len > 0 && ncattget(fd, NC_GLOBAL, name, text.data()) == -1) return -1;
    str_copy(value, static_cast<std::size_t>(size), text.data());
    return 0;
}

int CDF_put_base_att(int id, const char* long_name, const char* units)
{
    int result = 0;
    if (long_name && *long_name)
        result = put_att(id, "long_name", NC_CHAR, static_cast<int>(std::strlen(long_name)),
                         long_name);
    if (units && *units && result == 0)
        result = put_att(id, "units", NC_CHAR, static_cast<int>(std::strlen(units)), units);
    return result;
}

int CDF_put_float_range_att(int id, float min, float max)
{
    const float range[2] = {min, max};
    return put_att(id, "valid_range", NC_FLOAT, 2, range);
}

int CDF_put_long_range_att(int id, long min, long max)
{
    const int range[2] = {cdfx::convert<int>(min), cdfx::convert<int>(max)};
    return put_att(id, "valid_range", NC_INT, 2, range);
}

int CDF_put_fill_att(int id)
{
    const float fill = kMissing;
    return put_att(id, "_FillValue", NC_FLOAT, 1, &fill);
}

int CDF_put_long_fill_att(int id, long val)
{
    const int fill = cdfx::convert<int>(val);
    return put_att(id, "_FillValue", NC_INT, 1, &fill);
}

int CDF_set_pos(int n, ...)
{
    if (n < 0 || n > CDF_MAX_DIMS) return -1;
    va_list ap;
    va_start(ap, n);
    for (int k = 0; k < n; ++k) {
        start[k] = va_arg(ap, int);
        count[k] = 1;
    }
    va_end(ap);
    ndim = n;
    return 0;
}

int CDF_set_range(int n, ...)
{
    if (n < 0 || n > CDF_MAX_DIMS) return -1;
    va_list ap;
    va_start(ap, n);
    for (int k = 0; k < n; ++k) {
        start[k] = va_arg(ap, int);
        count[k] = va_arg(ap, int);
    }
    va_end(ap);
    ndim = n;
    return 0;
}

int CDF_put_float(int var, float value) { return put_one(var, value); }
int CDF_put_short(int var, short value) { return put_one(var, value); }
int CDF_put_byte(int var, signed char value) { return put_one(var, value); }
int CDF_put_char(int var, char value) { return put_one(var, value); }

int CDF_put_long(int var, long value)
{
    if (no_data(var)) return 0;
    if (value < -2147483648L || value > 2147483647L) return NC_ERANGE;
    return put_one(var, static_cast<int>(value));
}

int CDF_put_float_array(int var, const float* array) { return put_array(var, array); }
int CDF_put_byte_array(int var, const signed char* array) { return put_array(var, array); }

int CDF_put_str(int var, const char* str)
{
    if (no_data(var)) return 0;
    if (!str) return -1;
    if (!text_slab_ok(var, true)) return -1;
    start[ndim] = 0;
    count[ndim] = static_cast<long>(std::strlen(str)) + 1;
    cdfx::never_fatal();
    return ncvarput(fd, var, start, count, str) == -1 ? -1 : 0;
}

int CDF_get_str(int var, int len, char* str)
{
    if (!str) return 0;
    str[0] = '\0';
    if (no_data(var)) return 0;
    if (len <= 0 || !text_slab_ok(var, false)) return -1;
    start[ndim] = 0;
    count[ndim] = len;
    cdfx::never_fatal();
    if (cdfx::get(fd, var, start, count, str) != 0) {
        str[0] = '\0';
        return -1;
    }
    str[len] = '\0';
    return 1;
}

float CDF_get_float(int var) { return get_one(var, kMissing); }
double CDF_get_double(int var) { return get_one(var, -9999.0); }
long CDF_get_long(int var) { return get_one(var, -9999L); }
int CDF_get_byte(int var) { return get_one<signed char>(var, -1); }
int CDF_get_char(int var) { return get_one(var, ' '); }

int CDF_get_float_array(int var, float* array) { return get_array(var, array); }
int CDF_get_double_array(int var, double* array) { return get_array(var, array); }
int CDF_get_byte_array(int var, signed char* array) { return get_array(var, array); }
