// Plot labels and overlays.
#include "plt_labl.hpp"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "string.hpp"

namespace {

constexpr std::size_t longest_stored = 68;   // characters a stored label may have
constexpr std::size_t append_limit = 60;     // position plus appended text must stay below
constexpr int last_overlay = PLT_LABEL_OVERLAYS - 1;

struct LabelState {
    char label[PLT_LABEL_PLACES][PLT_LABEL_OVERLAYS][PLT_LABEL_LEN] = {};
    int label_ind[PLT_LABEL_PLACES] = {};
    int overlay = 0;
    int over_base = 0;
    int num_over = 0;
    int lab_type = 0;
    Date date{DATE_MISSING, DATE_MISSING, DATE_MISSING, DATE_MISSING,
              DATE_MISSING, DATE_MISSING, DATE_MISSING, DATE_MISSING};
    std::int64_t fhour = 0;
};

LabelState state;

int clamp_overlay(int ind) { return std::clamp(ind, 0, last_overlay); }

bool valid_place(int lab) { return lab >= 0 && lab < PLT_LABEL_PLACES; }

void raise_count(int ind) { state.num_over = std::max(state.num_over, ind); }

int fhour_int()
{
    return static_cast<int>(std::clamp<std::int64_t>(state.fhour, std::numeric_limits<int>::min(),
                                                       std::numeric_limits<int>::max()));
}

// Overlay 6 is where PLT_next_overlay stops: it has no labels of its own, and appending its
// labels to overlay 0 would change a plot that is already finished.
bool overlay_takes_labels() { return state.overlay >= 0 && state.overlay <= last_overlay; }

void place_label(int lab, const char* str)
{
    if (!overlay_takes_labels()) return;
    if (state.lab_type < 0 && state.overlay > 0) PLT_label_strcat(lab, str);
    else if (state.overlay >= 0) PLT_label_strcpy(lab, str);
}

void append_field(std::string& out, char field)
{
    char buf[DATE_LABEL_LEN];
    const Date& d = state.date;
    switch (field) {
        case 'D': DATE_make_label(&d, buf, sizeof buf); break;
        case 'V': DATE_make_label_valid_time(fhour_int(), &d, buf, sizeof buf); break;
        case 'W':
            state.date.hour = DATE_MISSING;
            DATE_make_label_valid_time(fhour_int(), &state.date, buf, sizeof buf);
            break;
        case 'y': str_format(buf, sizeof buf, "%2.2d", d.year % 100); break;
        case 'm': str_format(buf, sizeof buf, "%2.2d", d.month); break;
        case 'b': str_format(buf, sizeof buf, "%3.3s", DATE_month(d.month)); break;
        case 'h': str_format(buf, sizeof buf, "%2.2d", d.hour); break;
        case 'd': str_format(buf, sizeof buf, "%2.2d", d.day); break;
        case 'n': str_format(buf, sizeof buf, "%2.2d", d.min); break;
        case 'f': DATE_fhour_label(buf, fhour_int(), 0, sizeof buf); break;
        case 'F': DATE_fhour_label(buf, fhour_int(), 1, sizeof buf); break;
        case '%': str_copy(buf, sizeof buf, "%"); break;
        default: buf[0] = '\0'; break;
    }
    out += buf;
}

}  // namespace

void PLT_init_labels()
{
    for (auto& place : state.label)
        for (auto& text : place) text[0] = '\0';
    std::fill(std::begin(state.label_ind), std::end(state.label_ind), 0);
    state.num_over = 0;
}

void PLT_set_num_overlay(int ind)
{
    if (ind < 0) state.num_over = -ind;
    else raise_count(ind);
}

void PLT_set_overlay(int ind)
{
    state.overlay = clamp_overlay(ind);
    raise_count(state.overlay);
}

void PLT_set_overlay_base(int ind)
{
    state.over_base = clamp_overlay(ind);
    raise_count(state.over_base);
}

int PLT_get_overlay_base() { return state.over_base; }

int PLT_next_overlay()
{
    if (state.overlay > last_overlay) return -1;
    ++state.overlay;
    if (state.lab_type > 0) ++state.lab_type;
    else if (state.lab_type < 0) --state.lab_type;
    for (int lab = 0; lab < PLT_LABEL_PLACES; ++lab)
        state.label_ind[lab] = static_cast<int>(std::strlen(state.label[lab][0]));
    raise_count(state.overlay);
    return state.overlay;
}

int PLT_get_overlay() { return state.overlay; }

int PLT_get_num_over() { return state.num_over; }

int PLT_get_label_type() { return state.lab_type; }

void PLT_set_label_type(int val) { state.lab_type = val; }

void PLT_label_strcpy(int lab, const char* str)
{
    // Overlay 6 is where PLT_next_overlay stops; it has no label slot.
    if (!valid_place(lab) || !str || !overlay_takes_labels()) return;
    if (std::strlen(str) > longest_stored) return;
    str_copy(state.label[lab][state.overlay], PLT_LABEL_LEN, str);
}

const char* PLT_get_label(int lab, int over)
{
    if (!valid_place(lab) || over < 0 || over > last_overlay) return "";
    return state.label[lab][over];
}

void PLT_label_strcat(int lab, const char* str)
{
    if (!valid_place(lab) || !str || !overlay_takes_labels()) return;
    std::size_t pos = static_cast<std::size_t>(state.label_ind[lab]);
    if (pos + std::strlen(str) >= append_limit || pos >= PLT_LABEL_LEN) return;
    str_format(state.label[lab][0] + pos, PLT_LABEL_LEN - pos, " %s", str);
}

void PLT_label_up_left(const char* str) { place_label(0, str); }
void PLT_label_up_center(const char* str) { place_label(1, str); }
void PLT_label_up_right(const char* str) { place_label(2, str); }
void PLT_label_low_left(const char* str) { place_label(3, str); }
void PLT_label_low_center(const char* str) { place_label(4, str); }
void PLT_label_low_right(const char* str) { place_label(5, str); }

void PLT_label_date(const Date* datim)
{
    if (datim) state.date = *datim;
}

void PLT_label_for_time(std::int64_t val) { state.fhour = val; }

void PLT_label_format(const char* form, char* str, std::size_t size)
{
    if (!str || size == 0) return;
    std::string out;
    for (const char* c = form ? form : ""; *c; ++c) {
        if (*c == '_') {
            out += ' ';
        } else if (*c == '%') {
            if (c[1] == '\0') break;
            append_field(out, *++c);
        } else {
            out += *c;
        }
    }
    str_copy(str, size, out.c_str());
}
