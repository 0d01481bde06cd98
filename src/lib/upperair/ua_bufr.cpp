// BUFR radiosonde reports: the WMO templates for reports converted from TEMP (3 09 052) and
// for high-resolution profiles (3 09 057, time and displacement per level), editions 3 and
// 4, any number of messages per file (with or without headings between them) and subsets
// per message. Messages are decoded by the BUFR library; each subset's level sequence is
// read element by element (pressure in Pa, geopotential height in m, temperatures in K,
// wind in m/s, the extended vertical sounding significance flags), so either template and
// any ordering of their sequences read alike. A high-resolution profile is fitted into the
// record by the shared profile fitter, which keeps its significant levels.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "files.hpp"
#include "mess.hpp"
#include "string.hpp"
#include "ua_internal.hpp"
#include "ua_tool.hpp"

#ifdef QAZ_HAVE_BUFR
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <wreport/bulletin.h>
#include <wreport/error.h>
#include <wreport/var.h>
#endif

namespace {

// Length of the message starting at pos ("BUFR", three length octets, edition), 0 when
// this is no message start or the message runs past the end of the data.
std::size_t message_length(const std::string& data, std::size_t pos) {
    if (pos + 8 > data.size()) return 0;
    const auto octet = [&](std::size_t k) { return static_cast<unsigned char>(data[pos + k]); };
    const int edition = octet(7);
    if (edition < 2 || edition > 4) return 0;
    const std::size_t length = (std::size_t{octet(4)} << 16) | (std::size_t{octet(5)} << 8) | octet(6);
    if (length < 8 + 4 || pos + length > data.size()) return 0;
    return data.compare(pos + length - 4, 4, "7777") == 0 ? length : 0;
}

}  // namespace

bool upa_is_bufr(const std::string& head) {
    // The message may follow a heading of a few lines.
    const std::size_t pos = head.find("BUFR");
    if (pos == std::string::npos || pos > 512 || pos + 8 > head.size()) return false;
    const int edition = static_cast<unsigned char>(head[pos + 7]);
    return edition >= 2 && edition <= 4;
}

#ifndef QAZ_HAVE_BUFR

std::unique_ptr<UpaSoundings> upa_bufr_load(const char* filename) {
    MESS_print(M_error, "UPA_open: %s: BUFR input is not built into this library\n", filename);
    return nullptr;
}

#else

namespace {

using wreport::Var;
using wreport::Varcode;

constexpr float kKnotsPerMps = 1.0f / 0.5144f;

// Extended vertical sounding significance (0 08 042), 18 bits, bit 1 the highest.
constexpr unsigned kEvssSurface = 1u << 17;
constexpr unsigned kEvssStandard = 1u << 16;
constexpr unsigned kEvssTropopause = 1u << 15;
constexpr unsigned kEvssMaxWind = 1u << 14;
constexpr unsigned kEvssSigTemp = 1u << 13;
constexpr unsigned kEvssSigHumidity = 1u << 12;
constexpr unsigned kEvssSigWind = 1u << 11;

constexpr Varcode code(int x, int y) { return WR_VAR(0, x, y); }

float value_of(const Var& v) { return v.isset() ? static_cast<float>(v.enqd()) : UPA_MISS; }

unsigned level_flags(unsigned evss) {
    unsigned f = 0;
    if (evss & kEvssSurface) f |= UPA_LEV_SURFACE;
    if (evss & kEvssStandard) f |= UPA_LEV_STANDARD;
    if (evss & kEvssTropopause) f |= UPA_LEV_TROPOPAUSE;
    if (evss & kEvssMaxWind) f |= UPA_LEV_MAXWIND;
    if (evss & (kEvssSigTemp | kEvssSigHumidity)) f |= UPA_LEV_SIGTEMP;
    if (evss & kEvssSigWind) f |= UPA_LEV_SIGWIND;
    return f;
}

// One subset: the station and time elements, then the level sequences, each starting at a
// time displacement (0 04 086) or a significance (0 08 042). Wind-shear sequences (0 11 061,
// 0 11 062) carry nothing the record holds and are left out.
bool read_subset(const wreport::Subset& subset, UPA_report* r) {
    int block = -1, number = -1, year = -1, month = -1, day = -1, hour = -1, minute = 0;
    std::string ident;
    std::vector<UpaProfileLevel> levels;
    UpaProfileLevel cur;
    bool in_level = false, level_is_shear = false, have_evss = false;
    auto finish_level = [&]() {
        if (in_level && !level_is_shear) levels.push_back(cur);
        cur = UpaProfileLevel{};
        in_level = level_is_shear = have_evss = false;
    };
    for (const Var& v : subset) {
        const Varcode c = v.code();
        if (c == code(4, 86) || (c == code(8, 42) && (!in_level || have_evss))) {
            finish_level();
            in_level = true;
        }
        if (!in_level) {
            if (!v.isset()) continue;
            if (c == code(1, 1)) block = v.enqi();
            else if (c == code(1, 2)) number = v.enqi();
            else if (c == code(1, 11) || c == code(1, 18)) ident = v.enqc();
            else if (c == code(4, 1)) year = v.enqi();
            else if (c == code(4, 2)) month = v.enqi();
            else if (c == code(4, 3)) day = v.enqi();
            else if (c == code(4, 4)) hour = v.enqi();
            else if (c == code(4, 5)) minute = v.enqi();
            else if ((c == code(5, 1) || c == code(5, 2)) && !upa_known(r->lat)) r->lat = value_of(v);
            else if ((c == code(6, 1) || c == code(6, 2)) && !upa_known(r->lon)) r->lon = value_of(v);
            else if (c == code(7, 30) || (c == code(7, 1) && !upa_known(r->elev))) r->elev = value_of(v);
            continue;
        }
        if (c == code(8, 42)) {
            have_evss = true;
            cur.flags = v.isset() ? level_flags(static_cast<unsigned>(v.enqi())) : 0u;
        } else if (c == code(7, 4)) {
            cur.p = upa_known(value_of(v)) ? value_of(v) / 100.0f : UPA_MISS;
        } else if (c == code(10, 9) || c == code(7, 9)) {
            cur.h = value_of(v);
        } else if (c == code(12, 101) || c == code(12, 1)) {
            cur.t = upa_known(value_of(v)) ? value_of(v) - 273.15f : UPA_MISS;
        } else if (c == code(12, 103) || c == code(12, 3)) {
            cur.td = upa_known(value_of(v)) ? value_of(v) - 273.15f : UPA_MISS;
        } else if (c == code(11, 1)) {
            cur.dir = value_of(v);
        } else if (c == code(11, 2)) {
            cur.spd = upa_known(value_of(v)) ? value_of(v) * kKnotsPerMps : UPA_MISS;
        } else if (c == code(11, 61) || c == code(11, 62)) {
            level_is_shear = true;
        } else if (c == code(31, 1) || c == code(31, 2)) {
            finish_level();  // the next replicated sequence begins
        }
    }
    finish_level();

    if (block >= 0 && block <= 99 && number >= 0 && number <= 999) {
        r->wmo = block * 1000 + number;
        str_format(r->id, sizeof r->id, "%5.5d", r->wmo);
    } else {
        // Ships and mobile stations: the call sign, blanks removed.
        std::string id;
        for (char ch : ident)
            if (ch != ' ') id.push_back(ch);
        str_copy(r->id, sizeof r->id, id.c_str());
    }
    if (upa_known(r->lon) && r->lon > 180.0f) r->lon -= 360.0f;
    r->time = upa_utc_seconds(year, month, day, hour, minute < 0 || minute > 59 ? 0 : minute);
    // Values outside what a sounding can hold mark a damaged subset.
    for (const UpaProfileLevel& l : levels) {
        if ((upa_known(l.p) && (l.p <= 0.0f || l.p > 1100.0f)) || (upa_known(l.t) && std::fabs(l.t) > 150.0f) ||
            (upa_known(l.dir) && (l.dir < 0.0f || l.dir > 360.0f)))
            return false;
    }
    if (levels.empty()) return false;
    upa_profile_to_report(levels, r);
    return true;
}

bool is_radiosonde(const wreport::Bulletin& b) {
    // Data category 2 (vertical soundings other than satellite), or the templates by name.
    if (b.data_category == 2) return true;
    for (Varcode d : b.datadesc)
        if (d == WR_VAR(3, 9, 52) || d == WR_VAR(3, 9, 57)) return true;
    return false;
}

}  // namespace

// The BUFR library reads past its buffer on some damaged messages (a replication count
// read from damaged data drives it beyond the end), which would end this process. So the
// messages are decoded in a child process that streams its results back; when the child
// dies, the message it was on is reported as damaged and a new child goes on after it.
namespace {

enum Record : int { kReport = 0, kWarning = 1, kMessageDone = 2, kAllDone = 3 };

bool write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool read_all(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void send(int fd, Record kind, int message, const void* data, std::size_t size) {
    const int head[3] = {kind, message, static_cast<int>(size)};
    if (!write_all(fd, head, sizeof head) || (size && !write_all(fd, data, size))) _exit(2);
}

void send_warning(int fd, int message, const std::string& text) {
    send(fd, kWarning, message, text.data(), text.size());
}

// The child: decodes the messages from index first on (1-based), writing to fd.
[[noreturn]] void decode_messages(const std::string& data, const std::vector<std::size_t>& starts, std::size_t first,
                                  const char* filename, int fd) {
    for (std::size_t k = first; k <= starts.size(); ++k) {
        const int message = static_cast<int>(k);
        const std::size_t pos = starts[k - 1];
        const std::size_t length = message_length(data, pos);
        char text[512];
        if (length == 0) {
            std::snprintf(text, sizeof text, "message %d at byte %zu: truncated or damaged BUFR message skipped",
                          message, pos);
            send_warning(fd, message, text);
        } else {
            try {
                auto bulletin = wreport::BufrBulletin::decode(data.substr(pos, length), filename, pos);
                if (!is_radiosonde(*bulletin)) {
                    std::snprintf(text, sizeof text, "message %d: not a radiosonde report, skipped", message);
                    send_warning(fd, message, text);
                } else {
                    for (std::size_t s = 0; s < bulletin->subsets.size(); ++s) {
                        UPA_report r;
                        UPA_initialize(&r);
                        if (read_subset(bulletin->subsets[s], &r)) {
                            send(fd, kReport, message, &r, sizeof r);
                        } else {
                            std::snprintf(text, sizeof text, "station %s message %d subset %zu: damaged report skipped",
                                          r.id[0] ? r.id : "(unknown)", message, s + 1);
                            send_warning(fd, message, text);
                        }
                    }
                }
            } catch (const std::exception& e) {
                std::snprintf(text, sizeof text, "message %d at byte %zu: undecodable BUFR message skipped (%.200s)",
                              message, pos, e.what());
                send_warning(fd, message, text);
            }
        }
        send(fd, kMessageDone, message, nullptr, 0);
    }
    send(fd, kAllDone, 0, nullptr, 0);
    _exit(0);
}

// Runs one child from message first; returns the last message it finished (first - 1 when
// none), appending its reports and printing its warnings. done is set when it reached the
// end.
std::size_t run_child(const std::string& data, const std::vector<std::size_t>& starts, std::size_t first,
                      const char* filename, UpaSoundingList* list, bool* done) {
    *done = false;
    int fds[2];
    if (pipe(fds) != 0) {
        MESS_print(M_error, "UPA_open: %s: cannot start the BUFR decoder: %s\n", filename, std::strerror(errno));
        *done = true;
        return first - 1;
    }
    std::fflush(nullptr);  // nothing buffered may be written twice
    const pid_t pid = fork();
    if (pid < 0) {
        MESS_print(M_error, "UPA_open: %s: cannot start the BUFR decoder: %s\n", filename, std::strerror(errno));
        close(fds[0]);
        close(fds[1]);
        *done = true;
        return first - 1;
    }
    if (pid == 0) {
        close(fds[0]);
        // A crash ends the child quietly; the parent reports it.
        for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(sig, SIG_DFL);
        const int null_fd = open("/dev/null", O_WRONLY);
        if (null_fd >= 0) dup2(null_fd, 2);
        decode_messages(data, starts, first, filename, fds[1]);
    }
    close(fds[1]);
    std::size_t finished = first - 1;
    for (;;) {
        int head[3];
        if (!read_all(fds[0], head, sizeof head)) break;
        const int kind = head[0], message = head[1], size = head[2];
        if (size < 0 || size > 1 << 20) break;
        std::string payload(static_cast<std::size_t>(size), '\0');
        if (size > 0 && !read_all(fds[0], payload.data(), payload.size())) break;
        if (kind == kReport && payload.size() == sizeof(UPA_report)) {
            UPA_report r;
            std::memcpy(&r, payload.data(), sizeof r);
            list->reports.push_back(r);
        } else if (kind == kWarning) {
            MESS_print(M_warn, "UPA_read: %s: %s\n", filename, payload.c_str());
        } else if (kind == kMessageDone) {
            finished = static_cast<std::size_t>(message);
        } else if (kind == kAllDone) {
            *done = true;
        }
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return finished;
}

}  // namespace

std::unique_ptr<UpaSoundings> upa_bufr_load(const char* filename) {
    std::FILE* fp = FILE_open(filename, "rb");
    if (!fp) {
        MESS_print(M_error, "UPA_open: Unable to open file: %s\n", filename);
        return nullptr;
    }
    std::string data;
    char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, fp)) > 0;) data.append(chunk, n);
    FILE_close(fp);

    // Message starts: each "BUFR" after the end of the message before it.
    std::vector<std::size_t> starts;
    for (std::size_t pos = data.find("BUFR"); pos != std::string::npos;) {
        starts.push_back(pos);
        const std::size_t length = message_length(data, pos);
        pos = data.find("BUFR", pos + (length ? length : 4));
    }
    auto list = std::make_unique<UpaSoundingList>();
    // Without one complete message there is nothing to hand to the decoder.
    bool any_complete = false;
    for (std::size_t pos : starts) any_complete = any_complete || message_length(data, pos) > 0;
    if (!any_complete) {
        for (std::size_t k = 0; k < starts.size(); ++k)
            MESS_print(M_warn, "UPA_read: %s: message %zu at byte %zu: truncated or damaged BUFR message skipped\n",
                       filename, k + 1, starts[k]);
        starts.clear();
    }
    for (std::size_t first = 1; first <= starts.size();) {
        bool done = false;
        const std::size_t finished = run_child(data, starts, first, filename, list.get(), &done);
        if (done) break;
        // The child died on message finished + 1 (the library decodes a whole message before
        // any of its subsets is sent, so nothing of it arrived).
        const std::size_t failed = finished + 1;
        MESS_print(M_warn, "UPA_read: %s: message %zu at byte %zu: damaged BUFR message skipped (decoder failed)\n",
                   filename, failed, failed <= starts.size() ? starts[failed - 1] : data.size());
        first = failed + 1;
    }
    if (list->reports.empty()) {
        MESS_print(M_error, "UPA_open: no sounding could be read from BUFR file: %s\n", filename);
        return nullptr;
    }
    return list;
}

#endif
