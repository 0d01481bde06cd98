// Builds UPA_report records for the sounding tests: an empty record, and the reference
// sounding of tests/data/sounding_ref.txt (also read by scripts/sounding_oracle.py).
#pragma once
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "ua_read.hpp"

inline void fixture_clear(UPA_report* r)
{
    std::memset(r, 0, sizeof *r);
    r->wmo = r->time = -9999;
    r->lat = r->lon = r->elev = -9999.0f;
    for (UPA_man& m : r->man) m = {-9999, -9999, -9999, -9999, -9999, -9999};
    for (UPA_sig& s : r->sig) s = {-9999, -9999, -9999};
    for (UPA_wnd& w : r->wnd) w = {-9999, -9999, -9999};
}

inline bool fixture_load(const std::string& path, UPA_report* r)
{
    fixture_clear(r);
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    std::snprintf(r->id, sizeof r->id, "REF");
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string kind;
        if (!(f >> kind) || kind[0] == '#') continue;
        if (kind == "man") {
            int i;
            UPA_man m;
            f >> i >> m.p >> m.h >> m.t >> m.td >> m.dir >> m.spd;
            if (i < 0 || i >= UPA_MAN_LEVELS) return false;
            r->man[i] = m;
            if (i < 22 && i + 1 > r->numman) r->numman = i + 1;
        } else if (kind == "sig" && r->numsig < UPA_SIG_LEVELS) {
            UPA_sig& s = r->sig[r->numsig++];
            f >> s.p >> s.t >> s.td;
        } else if (kind == "wnd" && r->numwnd < UPA_WND_LEVELS) {
            UPA_wnd& w = r->wnd[r->numwnd++];
            f >> w.h >> w.dir >> w.spd;
        }
    }
    r->elev = r->man[0].h;
    return true;
}
