// netCDF upper-air files through the netCDF layer: type 11 (record dimension "station",
// knots and feet) and type 12 (record dimension "report", metres per second and metres).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cdf.hpp"
#include "date.hpp"
#include "string.hpp"
#include "ua_internal.hpp"
#include "ua_tool.hpp"

namespace {

constexpr float kKnotToMs = 0.5144f;
constexpr float kMsToKnot = 1.944f;
constexpr float kFootToM = 0.3048f;
constexpr float kMToFoot = 3.2808f;
constexpr int kStringLen = 11;

// Variable names of the two layouts: type 12 writes the quantity in capitals.
struct Names {
    const char *p_man, *z_man, *t_man, *td_man, *dir_man, *spd_man;
    const char *p_sigt, *t_sigt, *td_sigt, *z_sigw, *dir_sigw, *spd_sigw;
};
const Names kStation = {"p_man", "z_man", "t_man", "td_man", "dir_man", "spd_man",
                        "p_sigt", "t_sigt", "td_sigt", "z_sigw", "dir_sigw", "spd_sigw"};
const Names kReport = {"P_man", "Z_man", "T_man", "TD_man", "DIR_man", "SPD_man",
                       "P_sigt", "T_sigt", "TD_sigt", "Z_sigw", "DIR_sigw", "SPD_sigw"};
const Names& names(int type) { return type == UPA_NETCDF_STATION ? kStation : kReport; }

// A value read from a file: fill values of other writers and absurd numbers are missing.
float clean(float v) { return std::isfinite(v) && std::fabs(v) < 1.0e7f && v > -9998.0f ? v : UPA_MISS; }
float scaled(float v, float factor) { return upa_known(v) ? v * factor : UPA_MISS; }

void lookup_vars(UpaState& st) {
    const Names& n = names(st.type);
    UpaNcVars& v = st.nc;
    v.id = CDF_get_var("id");
    v.region = CDF_get_var("region");
    v.type = CDF_get_var("type");
    v.idn = CDF_get_var("idn");
    v.lat = CDF_get_var("lat");
    v.lon = CDF_get_var("lon");
    v.num_mant = CDF_get_var("num_mant");
    v.num_sigt = CDF_get_var("num_sigt");
    v.num_sigw = CDF_get_var("num_sigw");
    v.p_man = CDF_get_var(n.p_man);
    v.z_man = CDF_get_var(n.z_man);
    v.t_man = CDF_get_var(n.t_man);
    v.td_man = CDF_get_var(n.td_man);
    v.dir_man = CDF_get_var(n.dir_man);
    v.spd_man = CDF_get_var(n.spd_man);
    v.p_sigt = CDF_get_var(n.p_sigt);
    v.t_sigt = CDF_get_var(n.t_sigt);
    v.td_sigt = CDF_get_var(n.td_sigt);
    v.z_sigw = CDF_get_var(n.z_sigw);
    v.dir_sigw = CDF_get_var(n.dir_sigw);
    v.spd_sigw = CDF_get_var(n.spd_sigw);
    const long nrec = CDF_get_dim_size(-1);
    st.nc_nrec = nrec > 0 && nrec < 100000000 ? static_cast<int>(nrec) : 0;
    char version[16];
    st.nc_version = CDF_get_glob_att("version", version, sizeof version) == 0 ? 2 : 1;
}

// Length of a level dimension, capped at what the record holds.
int level_len(const char* dim, int cap) {
    const long n = CDF_get_dim_size(CDF_get_dim(dim));
    return n > 0 ? static_cast<int>(std::min<long>(n, cap)) : 0;
}

// Reads count values of a level variable of record rec into out (missing when absent).
void get_levels(int var, int rec, int count, float* out) {
    std::fill(out, out + count, UPA_MISS);
    if (var < 0 || count <= 0) return;
    CDF_set_range(2, rec, 1, 0, count);
    if (CDF_get_float_array(var, out) < 0) std::fill(out, out + count, UPA_MISS);
    for (int i = 0; i < count; ++i) out[i] = clean(out[i]);
}

void put_levels(int var, int rec, int count, const float* values) {
    if (count <= 0) return;
    CDF_set_range(2, rec, 1, 0, count);
    CDF_put_float_array(var, values);
}

int get_count(int var, int cap) {
    const long n = CDF_get_long(var);
    return n > 0 ? static_cast<int>(std::min<long>(n, cap)) : 0;
}

void float_var(int id, const char* long_name, const char* units, float lo, float hi) {
    CDF_put_base_att(id, long_name, units);
    CDF_put_float_range_att(id, lo, hi);
    CDF_put_fill_att(id);
}

// ---- Header check of classic files ---------------------------------------------------------
// The library trusts the lengths in a classic header: a damaged name length makes it ask the
// allocator for gigabytes, and records that a cut file lacks read back as zeros. Walking the
// public header layout first bounds every length by the file's size and tells how many
// records are really present.

class Header {
public:
    explicit Header(const std::vector<unsigned char>& b, bool wide) : b_(b), wide_(wide) {}
    bool ok() const { return ok_; }
    std::uint64_t left() const { return ok_ ? b_.size() - pos_ : 0; }
    std::uint64_t u32() {
        if (!need(4)) return 0;
        const std::uint64_t v = (std::uint64_t{b_[pos_]} << 24) | (std::uint64_t{b_[pos_ + 1]} << 16) |
                                (std::uint64_t{b_[pos_ + 2]} << 8) | b_[pos_ + 3];
        pos_ += 4;
        return v;
    }
    std::uint64_t u64() {
        const std::uint64_t high = u32();
        return (high << 32) | u32();
    }
    std::uint64_t count() { return wide_ ? u64() : u32(); }
    void skip(std::uint64_t n) {
        const std::uint64_t padded = (n + 3) / 4 * 4;
        if (padded < n || !need(padded)) {
            ok_ = false;
            return;
        }
        pos_ += static_cast<std::size_t>(padded);
    }
    // A list count that the remaining bytes can hold at min_bytes per entry.
    std::uint64_t list(std::uint64_t min_bytes) {
        u32();  // tag (zero for an absent list)
        const std::uint64_t n = count();
        if (n > left() / min_bytes) ok_ = false;
        return ok_ ? n : 0;
    }
    void fail() { ok_ = false; }

private:
    bool need(std::uint64_t n) {
        if (!ok_ || n > b_.size() - pos_) ok_ = false;
        return ok_;
    }
    const std::vector<unsigned char>& b_;
    bool wide_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

int type_size(std::uint64_t type) {
    switch (type) {
        case 1: case 2: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 5: case 9: return 4;
        case 6: case 10: case 11: return 8;
        default: return 0;
    }
}

void skip_atts(Header& h) {
    const std::uint64_t n = h.list(12);
    for (std::uint64_t i = 0; i < n && h.ok(); ++i) {
        h.skip(h.count());
        const int size = type_size(h.u32());
        const std::uint64_t values = h.count();
        if (size == 0 || values > h.left()) return h.fail();
        h.skip(values * static_cast<std::uint64_t>(size));
    }
}

// Records completely present in a classic file, a large number when it has no record
// variables, or -1 when the header is damaged or not a classic header.
long long classic_records(const char* filename) {
    std::FILE* f = std::fopen(filename, "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    const long file_size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    constexpr long kMaxHeader = 16L << 20;
    std::vector<unsigned char> b(static_cast<std::size_t>(std::clamp(file_size, 0L, kMaxHeader)));
    b.resize(std::fread(b.data(), 1, b.size(), f));
    std::fclose(f);
    if (b.size() < 8 || b[0] != 'C' || b[1] != 'D' || b[2] != 'F') return -1;
    const int version = b[3];
    if (version != 1 && version != 2 && version != 5) return -1;
    Header h(b, version == 5);
    h.u32();
    const std::uint64_t numrecs = version == 5 ? h.u64() : h.u32();
    std::vector<std::uint64_t> dims(static_cast<std::size_t>(h.list(8)));
    for (auto& len : dims) {
        h.skip(h.count());
        len = h.count();
    }
    skip_atts(h);
    std::uint64_t recsize = 0, first_end = 0;
    bool records = false;
    const std::uint64_t nvars = h.list(16);
    for (std::uint64_t i = 0; i < nvars && h.ok(); ++i) {
        h.skip(h.count());
        const std::uint64_t ndims = h.count();
        if (ndims > 1024 || ndims > h.left() / 4) return -1;
        bool is_record = false;
        for (std::uint64_t k = 0; k < ndims; ++k) {
            const std::uint64_t id = h.count();
            if (id >= dims.size()) return -1;
            if (k == 0 && dims[id] == 0) is_record = true;
        }
        skip_atts(h);
        if (type_size(h.u32()) == 0) return -1;
        const std::uint64_t vsize = h.count();
        const std::uint64_t begin = version == 1 ? h.u32() : h.u64();
        if (is_record) {
            records = true;
            recsize += vsize;
            first_end = std::max(first_end, begin + vsize);
        }
    }
    if (!h.ok()) return -1;
    if (!records || numrecs == 0) return records ? 0 : (1LL << 40);
    const std::uint64_t size = static_cast<std::uint64_t>(file_size);
    if (size < first_end || recsize == 0) return 0;
    return static_cast<long long>(std::min<std::uint64_t>((size - first_end) / recsize + 1, numrecs));
}

// Absent attributes, dimensions and variables are normal here: the library stays quiet
// while upper-air code works on a file, and prints its errors again afterwards.
struct Quiet {
    Quiet() { CDF_print_errors(0); }
    ~Quiet() { CDF_print_errors(1); }
};

}  // namespace

int upa_nc_chktype(const char* filename) {
    if (classic_records(filename) < 0) return -1;
    const Quiet quiet;
    const int id = CDF_open(filename, 0);
    if (id < 0) return -1;
    const int type = CDF_get_dim("station") >= 0 ? UPA_NETCDF_STATION : UPA_NETCDF_REPORT;
    CDF_close();
    return type;
}

int upa_nc_open(UpaState& st, const char* filename, int f_access) {
    st.nc_max_rec = 0;
    if (f_access == 0 && (st.nc_max_rec = classic_records(filename)) < 0) return -1;
    const Quiet quiet;
    const int id = CDF_open(filename, f_access);
    st.ncid = id;
    st.nc = UpaNcVars{};
    st.nc_nrec = 0;
    if (id < 0) return -1;
    if (f_access == 0) {
        lookup_vars(st);
        st.nc_nrec = static_cast<int>(std::min<long long>(st.nc_nrec, std::max(st.nc_max_rec, 0LL)));
    }
    return id;
}

int upa_nc_close(UpaState& st) {
    const Quiet quiet;
    if (st.ncid < 0) return -1;
    CDF_set_fd(st.ncid);
    if (st.access == 1 && st.nc.id < 0) CDF_end_def();  // a file closed before its header
    const int rc = CDF_close();
    st.ncid = -1;
    return rc;
}

int upa_nc_getinfo(UpaState& st, UPA_info* info) {
    const Quiet quiet;
    CDF_set_fd(st.ncid);
    if (st.access == 0) {
        lookup_vars(st);
        st.nc_nrec = static_cast<int>(std::min<long long>(st.nc_nrec, std::max(st.nc_max_rec, 0LL)));
    }
    if (CDF_get_glob_att("filetime", info->datim, sizeof info->datim) < 0)
        CDF_get_glob_att("datetime", info->datim, sizeof info->datim);
    if (info->datim[0]) DATE_decode_label(info->datim, &info->date);
    CDF_get_glob_att("yymmddhh", info->file, sizeof info->file);
    return 1;
}

int upa_nc_putinfo(UpaState& st, const UPA_info* info) {
    const Quiet quiet;
    CDF_set_fd(st.ncid);
    const bool metres = st.type == UPA_NETCDF_REPORT;
    const Names& n = names(st.type);
    const int rec = CDF_def_dim(metres ? "report" : "station", 0);
    const int man = CDF_def_dim("mant_level", UPA_MAN_LEVELS);
    const int sigt = CDF_def_dim("sigt_level", UPA_SIG_LEVELS);
    const int sigw = CDF_def_dim("sigw_level", UPA_WND_LEVELS);
    const int slen = CDF_def_dim("string_len", kStringLen);
    if (rec < 0 || man < 0 || sigt < 0 || sigw < 0 || slen < 0) return -1;

    UpaNcVars& v = st.nc;
    CDF_set_shape(2, rec, slen);
    v.id = CDF_def_char_var("id");
    v.region = CDF_def_char_var("region");
    v.type = CDF_def_char_var("type");
    CDF_put_base_att(v.id, "Station ID", nullptr);
    CDF_put_base_att(v.region, "Region ID", nullptr);
    CDF_put_base_att(v.type, "Report Origination", nullptr);
    CDF_set_shape(1, rec);
    v.idn = CDF_def_long_var("idn");
    CDF_put_base_att(v.idn, "WMO Numeric Station ID", nullptr);
    v.lat = CDF_def_float_var("lat");
    float_var(v.lat, "Latitude", "degrees_N", -90.0f, 90.0f);
    v.lon = CDF_def_float_var("lon");
    float_var(v.lon, "Longitude", "degrees_E", -180.0f, 180.0f);
    // Valid ranges cover every count the dimensions allow, so that readers that mask
    // values outside valid_range do not lose the levels of full reports.
    const struct {
        int* id;
        const char* name;
        const char* long_name;
        long max;
    } counts[] = {{&v.num_mant, "num_mant", "Number of Mandatory Levels", UPA_MAN_LEVELS},
                  {&v.num_sigt, "num_sigt", "Number of Significant Levels wrt T", UPA_SIG_LEVELS},
                  {&v.num_sigw, "num_sigw", "Number of Significant Levels wrt W", UPA_WND_LEVELS}};
    for (const auto& c : counts) {
        *c.id = CDF_def_long_var(c.name);
        CDF_put_base_att(*c.id, c.long_name, nullptr);
        CDF_put_long_range_att(*c.id, 0, c.max);
        CDF_put_long_fill_att(*c.id, 0);
    }
    const char* speed = metres ? "meters/second" : "knots";
    CDF_set_shape(2, rec, man);
    v.p_man = CDF_def_float_var(n.p_man);
    float_var(v.p_man, "Pressure - Mandatory Levels", "hectopascals", 0.0f, 1500.0f);
    v.z_man = CDF_def_float_var(n.z_man);
    float_var(v.z_man, "Geopotential - Mandatory Levels", "meters", -150.0f, 100000.0f);
    v.t_man = CDF_def_float_var(n.t_man);
    float_var(v.t_man, "Temperature - Mandatory Levels", "celsius", -100.0f, 100.0f);
    v.td_man = CDF_def_float_var(n.td_man);
    float_var(v.td_man, "Dew Point - Mandatory Levels", "celsius", -100.0f, 100.0f);
    v.dir_man = CDF_def_float_var(n.dir_man);
    float_var(v.dir_man, "Wind Direction - Mandatory Levels", "degrees", 0.0f, 360.0f);
    v.spd_man = CDF_def_float_var(n.spd_man);
    float_var(v.spd_man, "Wind Speed - Mandatory Levels", speed, 0.0f, 300.0f);
    CDF_set_shape(2, rec, sigt);
    v.p_sigt = CDF_def_float_var(n.p_sigt);
    float_var(v.p_sigt, "Pressure - Significant Levels wrt T", "hectopascals", 0.0f, 1500.0f);
    v.t_sigt = CDF_def_float_var(n.t_sigt);
    float_var(v.t_sigt, "Temperature - Significant Levels wrt T", "celsius", -100.0f, 100.0f);
    v.td_sigt = CDF_def_float_var(n.td_sigt);
    float_var(v.td_sigt, "Dew Point - Significant Levels wrt T", "celsius", -100.0f, 100.0f);
    CDF_set_shape(2, rec, sigw);
    v.z_sigw = CDF_def_float_var(n.z_sigw);
    float_var(v.z_sigw, "Altitude - Significant Levels wrt W", metres ? "meters" : "feet", -150.0f, 100000.0f);
    v.dir_sigw = CDF_def_float_var(n.dir_sigw);
    float_var(v.dir_sigw, "Wind Direction - Significant Levels wrt W", "degrees", 0.0f, 360.0f);
    v.spd_sigw = CDF_def_float_var(n.spd_sigw);
    float_var(v.spd_sigw, "Wind Speed - Significant Levels wrt W", speed, 0.0f, 300.0f);

    CDF_put_glob_att("title", "Upper Air Observations");
    CDF_put_glob_att("version", "2.0");
    CDF_put_glob_att("history", info->cmdline && info->cmdline[0] ? info->cmdline
                                                                  : "Upper air converted file from QAZ decoders");
    CDF_put_glob_att("filetime", info->datim);
    CDF_put_glob_att("yymmddhh", info->file);
    return CDF_end_def() < 0 ? -1 : 0;
}

int upa_nc_write(UpaState& st, const UPA_report* r, int rec) {
    const Quiet quiet;
    if (rec < 0 || st.nc.id < 0) return -1;
    CDF_set_fd(st.ncid);
    const bool metres = st.type == UPA_NETCDF_REPORT;
    const float speed = metres ? kKnotToMs : 1.0f;
    const UpaNcVars& v = st.nc;
    CDF_set_pos(1, rec);
    char text[kStringLen];
    str_copy(text, sizeof text, r->id);
    CDF_put_str(v.id, text);
    str_copy(text, sizeof text, r->area);
    CDF_put_str(v.region, text);
    CDF_put_str(v.type, "LAND");
    CDF_set_pos(1, rec);
    CDF_put_long(v.idn, r->wmo);
    CDF_put_float(v.lat, r->lat);
    CDF_put_float(v.lon, r->lon);
    const int nsig = std::clamp(r->numsig, 0, UPA_SIG_LEVELS);
    const int nwnd = std::clamp(r->numwnd, 0, UPA_WND_LEVELS);
    CDF_put_long(v.num_mant, r->numman > 0 ? UPA_MAN_LEVELS : 0);
    CDF_put_long(v.num_sigt, nsig);
    CDF_put_long(v.num_sigw, nwnd);

    float a[6][UPA_MAN_LEVELS];
    for (int i = 0; i < UPA_MAN_LEVELS; ++i) {
        const UPA_man& m = r->man[i];
        a[0][i] = m.p;
        a[1][i] = m.h;
        a[2][i] = m.t;
        a[3][i] = m.td;
        a[4][i] = m.dir;
        a[5][i] = scaled(m.spd, speed);
    }
    const int man_vars[6] = {v.p_man, v.z_man, v.t_man, v.td_man, v.dir_man, v.spd_man};
    for (int k = 0; k < 6; ++k) put_levels(man_vars[k], rec, UPA_MAN_LEVELS, a[k]);

    float s[3][UPA_SIG_LEVELS];
    for (int i = 0; i < nsig; ++i) {
        s[0][i] = r->sig[i].p;
        s[1][i] = r->sig[i].t;
        s[2][i] = r->sig[i].td;
    }
    put_levels(v.p_sigt, rec, nsig, s[0]);
    put_levels(v.t_sigt, rec, nsig, s[1]);
    put_levels(v.td_sigt, rec, nsig, s[2]);
    for (int i = 0; i < nwnd; ++i) {
        s[0][i] = scaled(r->wnd[i].h, metres ? kFootToM : 1.0f);
        s[1][i] = r->wnd[i].dir;
        s[2][i] = scaled(r->wnd[i].spd, speed);
    }
    put_levels(v.z_sigw, rec, nwnd, s[0]);
    put_levels(v.dir_sigw, rec, nwnd, s[1]);
    put_levels(v.spd_sigw, rec, nwnd, s[2]);
    return 0;
}

int upa_nc_read(UpaState& st, UPA_report* report, int rep_type, int rec) {
    const Quiet quiet;
    if (rec < 0 || rec >= st.nc_nrec) return -1;
    CDF_set_fd(st.ncid);
    const UpaNcVars& v = st.nc;
    const bool metres = st.type == UPA_NETCDF_REPORT;
    UPA_report full;
    UPA_initialize(&full);

    CDF_set_pos(1, rec);
    char text[64];
    const int slen = std::clamp(level_len("string_len", 40), 1, 40);
    if (CDF_get_str(v.id, slen, text) > 0) str_copy(full.id, sizeof full.id, text);
    CDF_set_pos(1, rec);
    if (CDF_get_str(v.region, slen, text) > 0) str_copy(full.area, sizeof full.area, text);
    trim_string(full.id);
    trim_string(full.area);
    if (!full.area[0]) str_copy(full.area, sizeof full.area, "UN");
    CDF_set_pos(1, rec);
    const long wmo = CDF_get_long(v.idn);
    full.wmo = wmo > -9999 && wmo < 100000000 ? static_cast<int>(wmo) : -9999;
    full.lat = clean(CDF_get_float(v.lat));
    full.lon = clean(CDF_get_float(v.lon));
    if (st.nc_version == 1 && upa_known(full.lon)) full.lon = -full.lon;
    const int num_mant = get_count(v.num_mant, UPA_MAN_LEVELS);
    const int nsig = std::min(get_count(v.num_sigt, UPA_SIG_LEVELS), level_len("sigt_level", UPA_SIG_LEVELS));
    const int nwnd = std::min(get_count(v.num_sigw, UPA_WND_LEVELS), level_len("sigw_level", UPA_WND_LEVELS));

    const int nman = level_len("mant_level", UPA_MAN_LEVELS);
    float a[6][UPA_MAN_LEVELS];
    const int man_vars[6] = {v.p_man, v.z_man, v.t_man, v.td_man, v.dir_man, v.spd_man};
    for (int k = 0; k < 6; ++k) get_levels(man_vars[k], rec, nman, a[k]);
    for (int i = 0; i < nman; ++i)
        full.man[i] = {a[0][i], a[1][i], a[2][i], a[3][i], a[4][i], metres ? scaled(a[5][i], kMsToKnot) : a[5][i]};
    full.elev = full.man[0].h;
    full.numman = num_mant;
    // Files without a 925 mb level: make room for it so that every index keeps its meaning.
    if (nman > 3 && full.man[2].p == 850.0f) {
        for (int i = UPA_MAN_LEVELS - 1; i > 2; --i) full.man[i] = full.man[i - 1];
        full.man[2] = {UPA_MISS, UPA_MISS, UPA_MISS, UPA_MISS, UPA_MISS, UPA_MISS};
    }

    float s[3][UPA_SIG_LEVELS];
    get_levels(v.p_sigt, rec, nsig, s[0]);
    get_levels(v.t_sigt, rec, nsig, s[1]);
    get_levels(v.td_sigt, rec, nsig, s[2]);
    for (int i = 0; i < nsig; ++i) full.sig[i] = {s[0][i], s[1][i], s[2][i]};
    full.numsig = nsig;
    get_levels(v.z_sigw, rec, nwnd, s[0]);
    get_levels(v.dir_sigw, rec, nwnd, s[1]);
    get_levels(v.spd_sigw, rec, nwnd, s[2]);
    for (int i = 0; i < nwnd; ++i)
        full.wnd[i] = {metres ? scaled(s[0][i], kMToFoot) : s[0][i], s[1][i],
                       metres ? scaled(s[2][i], kMsToKnot) : s[2][i]};
    full.numwnd = nwnd;

    switch (rep_type) {
        case UPA_REP_ALL: *report = full; break;
        case UPA_REP_ID: str_copy(report->id, sizeof report->id, full.id); break;
        case UPA_REP_LOCATION:
            str_copy(report->id, sizeof report->id, full.id);
            report->wmo = full.wmo;
            report->lat = full.lat;
            report->lon = full.lon;
            break;
        default:
            str_copy(report->id, sizeof report->id, full.id);
            str_copy(report->area, sizeof report->area, full.area);
            report->wmo = full.wmo;
            report->lat = full.lat;
            report->lon = full.lon;
            report->elev = full.elev;
            report->man[0] = full.man[rep_type];
            report->numman = 1;
            break;
    }
    return 0;
}
