// Private helpers shared by the netCDF layer and the netCDF grid reader: typed transfers over
// the version-2 interface. That interface moves values in the variable's own stored type, so
// reading a double variable straight into a float array would write past its end; these
// helpers read into a buffer of the stored type and convert. Not part of the public headers.
#pragma once

#include <netcdf.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <type_traits>
#include <vector>

namespace cdfx {

// Largest transfer the helpers accept (values): far above any real grid or sounding, far
// below what a damaged count product could ask the allocator for.
inline constexpr std::size_t kMaxValues = std::size_t{1} << 28;

// Type and dimension count of a variable; false when it cannot be asked or is not one of the
// six classic types.
inline bool var_shape(int ncid, int var, nc_type* type, int* ndims, int* dimids = nullptr)
{
    if (ncid < 0 || var < 0) return false;
    int dims[NC_MAX_VAR_DIMS];
    if (ncvarinq(ncid, var, nullptr, type, ndims, dimids ? dimids : dims, nullptr) == -1)
        return false;
    return *type >= NC_BYTE && *type <= NC_DOUBLE && *ndims >= 0 && *ndims <= NC_MAX_VAR_DIMS;
}

// Values in the hyperslab; 0 when a count is negative or the product is too large.
inline std::size_t slab_size(int ndims, const long* count)
{
    std::size_t n = 1;
    for (int k = 0; k < ndims; ++k) {
        if (count[k] < 0) return 0;
        if (count[k] == 0) return 0;
        if (static_cast<std::size_t>(count[k]) > kMaxValues / n) return 0;
        n *= static_cast<std::size_t>(count[k]);
    }
    return n;
}

// Converts without undefined behaviour: NaN to an integer gives 0, out-of-range values clamp.
template <class To, class From>
To convert(From v)
{
    if constexpr (std::is_floating_point_v<To> || !std::is_floating_point_v<From>) {
        if constexpr (std::is_integral_v<To> && std::is_integral_v<From>) {
            const long long w = static_cast<long long>(v);
            if (w < static_cast<long long>(std::numeric_limits<To>::min()))
                return std::numeric_limits<To>::min();
            if (w > static_cast<long long>(std::numeric_limits<To>::max()))
                return std::numeric_limits<To>::max();
            return static_cast<To>(w);
        } else {
            return static_cast<To>(v);
        }
    } else {
        if (std::isnan(v)) return To{0};
        if (v <= static_cast<From>(std::numeric_limits<To>::min()))
            return std::numeric_limits<To>::min();
        if (v >= static_cast<From>(std::numeric_limits<To>::max()))
            return std::numeric_limits<To>::max();
        return static_cast<To>(v);
    }
}

template <class Stored, class T>
int get_as(int ncid, int var, const long* start, const long* count, std::size_t n, T* out)
{
    if constexpr (std::is_same_v<Stored, T>) {
        return ncvarget(ncid, var, start, count, out) == -1 ? -1 : 0;
    } else {
        std::vector<Stored> buf(n);
        if (ncvarget(ncid, var, start, count, buf.data()) == -1) return -1;
        for (std::size_t i = 0; i < n; ++i) out[i] = convert<T>(buf[i]);
        return 0;
    }
}

template <class Stored, class T>
int put_as(int ncid, int var, const long* start, const long* count, std::size_t n, const T* in)
{
    if constexpr (std::is_same_v<Stored, T>) {
        return ncvarput(ncid, var, start, count, in) == -1 ? -1 : 0;
    } else {
        std::vector<Stored> buf(n);
        for (std::size_t i = 0; i < n; ++i) buf[i] = convert<Stored>(in[i]);
        return ncvarput(ncid, var, start, count, buf.data()) == -1 ? -1 : 0;
    }
}

// Reads the hyperslab start/count (count null: one value) of var into out, converted to T.
// 0, or -1 (unknown variable, unusable type, bad counts, library error).
template <class T>
int get(int ncid, int var, const long* start, const long* count, T* out)
{
    nc_type type;
    int ndims;
    if (!var_shape(ncid, var, &type, &ndims)) return -1;
    long ones[NC_MAX_VAR_DIMS];
    if (!count) {
        for (int k = 0; k < ndims; ++k) ones[k] = 1;
        count = ones;
    }
    const std::size_t n = slab_size(ndims, count);
    if (n == 0) return -1;
    switch (type) {
    case NC_BYTE: return get_as<signed char>(ncid, var, start, count, n, out);
    case NC_CHAR: return get_as<char>(ncid, var, start, count, n, out);
    case NC_SHORT: return get_as<short>(ncid, var, start, count, n, out);
    case NC_INT: return get_as<int>(ncid, var, start, count, n, out);
    case NC_FLOAT: return get_as<float>(ncid, var, start, count, n, out);
    case NC_DOUBLE: return get_as<double>(ncid, var, start, count, n, out);
    default: return -1;
    }
}

// Writes in (converted to the variable's stored type) to the hyperslab start/count (count
// null: one value). 0, or -1.
template <class T>
int put(int ncid, int var, const long* start, const long* count, const T* in)
{
    nc_type type;
    int ndims;
    if (!var_shape(ncid, var, &type, &ndims)) return -1;
    long ones[NC_MAX_VAR_DIMS];
    if (!count) {
        for (int k = 0; k < ndims; ++k) ones[k] = 1;
        count = ones;
    }
    const std::size_t n = slab_size(ndims, count);
    if (n == 0) return -1;
    switch (type) {
    case NC_BYTE: return put_as<signed char>(ncid, var, start, count, n, in);
    case NC_CHAR: return put_as<char>(ncid, var, start, count, n, in);
    case NC_SHORT: return put_as<short>(ncid, var, start, count, n, in);
    case NC_INT: return put_as<int>(ncid, var, start, count, n, in);
    case NC_FLOAT: return put_as<float>(ncid, var, start, count, n, in);
    case NC_DOUBLE: return put_as<double>(ncid, var, start, count, n, in);
    default: return -1;
    }
}

// Keeps the library from ending the process on an error (its default), whatever the caller
// last chose for printing.
inline void never_fatal() { ncopts &= ~NC_FATAL; }

// Sets ncopts for a scope and restores it afterwards.
class Opts {
public:
    explicit Opts(int value) : saved_(ncopts) { ncopts = value & ~NC_FATAL; }
    ~Opts() { ncopts = saved_ & ~NC_FATAL; }
    Opts(const Opts&) = delete;
    Opts& operator=(const Opts&) = delete;

private:
    int saved_;
};

}  // namespace cdfx
