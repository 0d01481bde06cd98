// Grid files: the table of open files, type detection and the dispatch of every operation to
// the reader of the file's type (text and binary grids, bulletins, netCDF, GRIB).
#include "grd_read.hpp"

#include <malloc.h>
#include <sys/stat.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "files.hpp"
#include "grd_formats.hpp"
#include "grd_internal.hpp"
#include "mess.hpp"
#include "region.hpp"
#include "string.hpp"

namespace {

std::array<GRD_file*, GRD_MAX_FILES> gfile{};
int use_hdrfile = 0;
char value_format[15] = "";

GRD_file* slot(int grd_fd)
{
    if (grd_fd < 0 || grd_fd >= GRD_MAX_FILES) return nullptr;
    return gfile[grd_fd];
}

bool is_stream_type(int type)
{
    return type == GRD_TYPE_TEXT || type == GRD_TYPE_QAZ || type == GRD_TYPE_QAZBIN || type == GRD_TYPE_QAZ4 ||
           type == GRD_TYPE_GRIB || type == GRD_TYPE_BULLETIN;
}

bool is_text_type(int type)
{
    return type == GRD_TYPE_TEXT || type == GRD_TYPE_QAZ || type == GRD_TYPE_QAZBIN || type == GRD_TYPE_QAZ4;
}

void release(int index)
{
    GRD_file* gf = gfile[index];
    if (!gf) return;
    if (gf->priv && gf->priv_free) gf->priv_free(gf->priv);
    delete gf;
    gfile[index] = nullptr;
}


}  // namespace

// ---- helpers shared with the format readers --------------------------------------------------

const char* grd_value_format() { return value_format[0] ? value_format : "%14.8e"; }

int grd_read_line(std::FILE* file, std::string& line, std::size_t max)
{
    line.clear();
    int c = getc_unlocked(file);
    if (c == EOF) return -1;
    while (c != EOF && c != '\n') {
        if (line.size() < max) line.push_back(static_cast<char>(c));
        c = getc_unlocked(file);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return 0;
}

long long grd_bytes_left(std::FILE* file)
{
    struct stat st {};
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    const off_t here = ftello(file);
    if (here < 0) return -1;
    return st.st_size > here ? static_cast<long long>(st.st_size - here) : 0;
}

bool grd_alloc_values(GRD_report* grd, long long npts)
{
    const std::size_t bytes = static_cast<std::size_t>(npts) * sizeof(float);
    if (grd->grid && malloc_usable_size(grd->grid) >= bytes) return true;
    std::free(grd->grid);
    grd->grid = static_cast<float*>(std::malloc(bytes ? bytes : sizeof(float)));
    if (!grd->grid) {
        MESS_print(M_error, "GRD_read: Unable to allocate %lld grid values\n", npts);
        return false;
    }
    return true;
}

bool grd_check_size(const char* who, std::FILE* file, int nx, int ny, int min_bytes, long long known_size)
{
    if (nx <= 0 || ny <= 0) {
        MESS_print(M_error, "%s: Invalid grid size %d x %d\n", who, nx, ny);
        return false;
    }
    const long long npts = static_cast<long long>(nx) * ny;
    if (npts > GRD_MAX_POINTS) {
        MESS_print(M_error, "%s: Grid of %d x %d points is too large\n", who, nx, ny);
        return false;
    }
    if (file && known_size >= 0) {
        const off_t here = ftello(file);
        if (here >= 0 && npts * min_bytes <= known_size - here) return true;
    }
    const long long left = file ? grd_bytes_left(file) : -1;
    if ((left < 0 && npts > GRD_MAX_STREAM_POINTS) || (left >= 0 && npts * min_bytes > left)) {
        MESS_print(M_error, "%s: Grid of %d x %d points is larger than the data that follow\n", who, nx, ny);
        return false;
    }
    return true;
}

// ---- public operations ------------------------------------------------------------------------

void GRD_init_report(GRD_report* grd)
{
    if (!grd) return;
    grd->type = grd->source = grd->version = -9999;
    grd->datim[0] = '\0';
    grd->info[0] = '\0';
    DATE_init(&grd->date);
    grd->model = grd->ltype = grd->level = grd->time = grd->var = -9999;
    grd->units[0] = '\0';
    DOM_init(&grd->domain);
    grd->grid = nullptr;
}

void GRD_free_report(GRD_report* grd)
{
    if (!grd) return;
    std::free(grd->grid);
    grd->grid = nullptr;
}

namespace {
// Type code of a file from its first (up to 200) bytes, or -1.
int type_of(const unsigned char* head, std::size_t got)
{
    if (got == 0) return -1;
    const char* text = reinterpret_cast<const char*>(head);
    auto starts = [&](const char* word) {
        const std::size_t n = std::strlen(word);
        return got >= n && std::memcmp(text, word, n) == 0;
    };
    if (head[0] == ' ' || std::isdigit(head[0])) return GRD_TYPE_TEXT;
    if (starts("QAZGRID4")) return GRD_TYPE_QAZ4;
    if (starts("QAZGRID")) return GRD_TYPE_QAZ;
    if (starts("CDF")) return GRD_TYPE_NETCDF;
    if (starts("GRIB") || head[0] == '*' || head[0] == 0x01) return GRD_TYPE_GRIB;
    if (starts("GRID")) return GRD_TYPE_BULLETIN;
    for (std::size_t i = 0; i + 4 <= got; ++i)
        if (std::memcmp(text + i, "GRIB", 4) == 0) return GRD_TYPE_GRIB;
    return -1;
}
}  // namespace

namespace {

// True when the head cannot be a text grid: a control byte other than white space.
bool binary_head(const unsigned char* head, std::size_t got)
{
    for (std::size_t i = 0; i < got; ++i)
        if (head[i] < 0x20 && head[i] != '\n' && head[i] != '\r' && head[i] != '\t') return true;
    return false;
}

// Scans the rest of the stream for "GRIB": a file may carry a header record of any length
// before its first message.
bool grib_further_on(std::FILE* file)
{
    static constexpr char kTag[] = "GRIB";
    int matched = 0;
    for (int ch; (ch = std::fgetc(file)) != EOF;) {
        if (ch == kTag[matched]) {
            if (++matched == 4) return true;
        } else {
            matched = ch == 'G' ? 1 : 0;
        }
    }
    return false;
}

// Type of the stream's content from its start; the stream is left anywhere.
int type_of_stream(std::FILE* file)
{
    unsigned char head[200];
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    const int type = type_of(head, got);
    if (type == GRD_TYPE_GRIB || (type >= 0 && !binary_head(head, got))) return type;
    if (got == 0) return -1;
    // Leading bytes: "GRIB" may start just inside the head we read, or anywhere after it.
    const std::size_t back = got < 3 ? got : 3;
    if (fseeko(file, -static_cast<off_t>(back), SEEK_CUR) != 0) return type;
    return grib_further_on(file) ? GRD_TYPE_GRIB : type;
}

// Standard input read as a grid file: GRIB is found by seeking, so input from a pipe is first
// copied to a temporary file. The stream to read, at its start, or null.
std::FILE* seekable_stdin()
{
    if (fseeko(stdin, 0, SEEK_CUR) == 0) return stdin;
    std::FILE* copy = std::tmpfile();
    if (!copy) return nullptr;
    char buf[1 << 16];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;)
        if (std::fwrite(buf, 1, n, copy) != n) {
            std::fclose(copy);
            return nullptr;
        }
    std::rewind(copy);
    return copy;
}

}  // namespace

int GRD_chktype(const char* filename)
{
    if (!filename) return -1;
    std::FILE* file = std::fopen(filename, "rb");
    if (!file) return -1;
    const int type = type_of_stream(file);
    std::fclose(file);
    return type;
}

int GRD_open(const char* filename, int f_access, int* f_type)
{
    if (!f_type || (f_access != 0 && f_access != 1)) return -1;
    if (!filename) filename = "";
    int index = 0;
    while (index < GRD_MAX_FILES && gfile[index]) ++index;
    if (index == GRD_MAX_FILES) {
        MESS_print(M_error, "GRD_open: No free grid file slot for %s\n", filename);
        return -1;
    }
    const bool standard = filename[0] == '\0' || std::strcmp(filename, "-") == 0;
    std::FILE* file = nullptr;
    bool temporary = false;  // file is a copy of standard input, closed with the slot
    if (standard && f_access == 0 && *f_type == 0) {
        // GRIB on standard input is recognised; anything else reads as "QAZGRID" text there.
        file = seekable_stdin();
        if (!file) {
            MESS_print(M_error, "GRD_open: Unable to read standard input\n");
            return -1;
        }
        temporary = file != stdin;
        const off_t start = ftello(file);
        *f_type = type_of_stream(file) == GRD_TYPE_GRIB ? GRD_TYPE_GRIB : GRD_TYPE_QAZ;
        if (fseeko(file, start, SEEK_SET) != 0) {
            if (temporary) std::fclose(file);
            return -1;
        }
    }
    if (standard && *f_type != GRD_TYPE_QAZ && *f_type != GRD_TYPE_QAZBIN && *f_type != GRD_TYPE_GRIB)
        *f_type = GRD_TYPE_QAZ;
    if (*f_type == 0 && f_access != 0) return -1;
    if (*f_type == 0) {
        // Recognised from the stream that is then used: one opening of the file, not two.
        file = FILE_open(filename, "rb");
        *f_type = file ? type_of_stream(file) : -1;
        if (*f_type < 0 || (is_stream_type(*f_type) && fseeko(file, 0, SEEK_SET) != 0)) {
            MESS_print(M_error, "GRD_open: Unknown or unreadable grid file: %s\n", filename);
            if (file) FILE_close(file);
            return -1;
        }
        if (!is_stream_type(*f_type)) {
            FILE_close(file);
            file = nullptr;
        }
    }
    auto* gf = new (std::nothrow) GRD_file{};
    if (!gf) {
        if (file) FILE_close(file);
        return -1;
    }
    gfile[index] = gf;
    gf->fd = -1;
    gf->type = *f_type;
    gf->access = f_access;
    gf->cur_var = -1;
    gf->new_pos = -1;
    gf->x_coord_id = gf->y_coord_id = gf->proj_id = gf->lat1_id = gf->lat2_id = gf->lon1_id = gf->lon2_id = -1;
    gf->datim_id = gf->info_id = gf->source_id = gf->version_id = gf->model_id = gf->type_id = -1;
    gf->ltype_id = gf->level_id = gf->time_id = gf->var_id = gf->dx_id = gf->dy_id = -1;
    gf->nx_id = gf->ny_id = -1;
    DATE_init(&gf->date);

    if (is_stream_type(gf->type)) {
        gf->file = file ? file : FILE_open(filename, f_access == 0 ? "rb" : "wb");
        if (!gf->file) {
            MESS_print(M_error, "GRD_open: Unable to open grid file: %s\n", filename);
            release(index);
            return -1;
        }
        gf->is_std = !temporary && (standard || gf->file == stdin || gf->file == stdout);
        gf->fd = 1;
        if (gf->type != GRD_TYPE_GRIB && grd_text_attach(gf, filename) != 0) {
            if (!gf->is_std) FILE_close(gf->file);
            release(index);
            return -1;
        }
        return index;
    }
    if (gf->type == GRD_TYPE_NETCDF && grd_nc_open(gf, filename, f_access) >= 0) return index;
    if (gf->type != GRD_TYPE_NETCDF) MESS_print(M_error, "GRD_open: Unknown grid file type %d\n", gf->type);
    release(index);
    return -1;
}

int GRD_hdr_open(int grd_fd, const char* filename)
{
    GRD_file* gf = slot(grd_fd);
    if (!gf || gf->type != GRD_TYPE_GRIB || !use_hdrfile || !filename) return -1;
    return grd_grib_hdr_open(gf, filename);
}

int GRD_getinfo(int grd_fd, GRD_info* info)
{
    GRD_file* gf = slot(grd_fd);
    if (!gf || !info) return -1;
    if (is_text_type(gf->type)) return grd_text_getinfo(gf, info);
    switch (gf->type) {
    case GRD_TYPE_NETCDF: return grd_nc_getinfo(gf, info);
    case GRD_TYPE_GRIB: return grd_grib_getinfo(grd_fd, gf, info);
    case GRD_TYPE_BULLETIN: return grd_bul_getinfo(gf, info);
    default: return -1;
    }
}

int GRD_putinfo(int grd_fd, GRD_info* info)
{
    GRD_file* gf = slot(grd_fd);
    if (!gf || !info || gf->access != 1) return -1;
    if (is_text_type(gf->type)) return grd_text_putinfo(gf, info);
    if (gf->type == GRD_TYPE_NETCDF) return grd_nc_putinfo(gf, info);
    if (gf->type == GRD_TYPE_GRIB) return 0;
    return -1;
}

int GRD_read(int grd_fd, GRD_report* grd, int rep_type, int* grdnum)
{
    GRD_file* gf = slot(grd_fd);
    if (!gf || !grd || !grdnum || gf->access != 0) return -1;
    if (is_text_type(gf->type)) return grd_text_read(gf, grd, rep_type, grdnum);
    switch (gf->type) {
    case GRD_TYPE_NETCDF: return grd_nc_read(gf, grd, rep_type, grdnum);
    case GRD_TYPE_GRIB: return grd_grib_read(grd_fd, gf, grd, rep_type, grdnum);
    case GRD_TYPE_BULLETIN: return grd_bul_read(gf, grd, rep_type, grdnum);
    default: return -1;
    }
}

int GRD_write(int grd_fd, GRD_report* grd, int rep_type, int grd_num)
{
    GRD_file* gf = slot(grd_fd);
    if (!gf || !grd || !grd->grid || gf->access != 1) return -1;
    if (is_text_type(gf->type)) return grd_text_write(gf, grd);
    if (gf->type == GRD_TYPE_NETCDF) return grd_nc_write(gf, grd, rep_type, grd_num);
    if (gf->type == GRD_TYPE_GRIB) return grd_grib_write(gf, grd);
    return -1;
}

int GRD_rewind(int grd_fd)
{
    GRD_file* gf = slot(grd_fd);
    if (!gf) return -1;
    gf->num = 0;
    if (gf->type == GRD_TYPE_NETCDF) {
        gf->cur_var = -1;
        return grd_nc_rewind(gf);
    }
    if (is_text_type(gf->type) || gf->type == GRD_TYPE_BULLETIN) return grd_text_rewind(gf);
    if (gf->type == GRD_TYPE_GRIB && gf->file) {
        if (!gf->is_std) std::rewind(gf->file);
        gf->cur_pos = 0;
        gf->new_pos = -1;
        gf->cont = gf->pcont = 0;
        if (gf->hfile) std::rewind(gf->hfile);
        grd_grib_rewind(gf);
    }
    return 0;
}

int GRD_close(int grd_fd)
{
    if (grd_fd < 0 || grd_fd >= GRD_MAX_FILES) return -1;
    GRD_file* gf = gfile[grd_fd];
    if (!gf) return 0;
    int result = 0;
    if (gf->type == GRD_TYPE_NETCDF) {
        result = grd_nc_close(gf) < 0 ? -1 : 0;
    } else if (is_stream_type(gf->type)) {
        if (gf->file && FILE_close(gf->file) != 0 && gf->access == 1) {
            MESS_print(M_error, "GRD_close: Unable to finish writing the grid file\n");
            result = -1;
        }
        if (gf->hfile) std::fclose(gf->hfile);
    } else {
        result = -1;
    }
    gf->file = gf->hfile = nullptr;
    gf->fd = -1;
    release(grd_fd);
    return result;
}

int GRD_use_hdr_file(int val)
{
    use_hdrfile = val ? 1 : 0;
    return 0;
}

int GRD_set_format(const char* str)
{
    if (!str || !str[0]) {
        value_format[0] = '\0';
        return 0;
    }
    if (printf_number_kind(str) != 1 || str_copy(value_format, sizeof value_format, str) != 0) {
        MESS_print(M_warn, "GRD_set_format: Not a format for one value: %s\n", str);
        value_format[0] = '\0';
    }
    return 0;
}

GRD_file* GRD_get_gfile(int ind) { return slot(ind); }

off_t GRD_get_pos(int grd_fd)
{
    GRD_file* gf = slot(grd_fd);
    return gf ? gf->cur_pos : -1;
}

int GRD_setpos(int grd_fd, off_t offset, int grdnum)
{
    GRD_file* gf = slot(grd_fd);
    if (!gf || gf->type != GRD_TYPE_GRIB || !gf->file || offset < 0) return -1;
    if (fseeko(gf->file, offset, SEEK_SET) != 0) return -1;
    gf->new_pos = offset;
    gf->num = grdnum;
    return 1;
}

int GRD_get_header(int grd_fd, char* header)
{
    GRD_file* gf = slot(grd_fd);
    if (!gf || !header || !gf->file || gf->is_std) return -1;
    header[0] = '\0';
    if (fseeko(gf->file, gf->cur_pos, SEEK_SET) != 0) return -1;
    const std::size_t got = std::fread(header, 1, 160, gf->file);
    header[got] = '\0';
    fseeko(gf->file, gf->cur_pos, SEEK_SET);
    return 0;
}
