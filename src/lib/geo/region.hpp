// Regions and domains: turns the text a user gives for a plot or grid domain (projection
// keyword with values, centre, grid size and spacing, a station to centre on, or a region
// name from the region file or built in) into a Domain; compares, prints and sizes domains.
#pragma once
#include <cstddef>

#include "maptran.hpp"
#include "menu.hpp"
#include "mess.hpp"

inline constexpr int DOM_DECODE_VALUES = 1;   // DOM_decode: domain given by values
inline constexpr int DOM_DECODE_REGION = 2;   // DOM_decode: domain of a region
inline constexpr int DOM_DECODE_INVALID = 255;
inline constexpr int DOM_MISSING = -9999;
inline constexpr std::size_t DOM_LINE_SIZE = 501;  // region-file line and DOMAIN text
inline constexpr int DOM_MENU_SIZE = 23;
inline constexpr int DOM_REGION_FLAG = 5;          // flag index holding the last decode result

// Field numbers of DOM_set_params.
inline constexpr int DOM_P_PROJ = 1;
inline constexpr int DOM_P_PLON = 3;
inline constexpr int DOM_P_STATION = 4;
inline constexpr int DOM_P_CLAT = 5;
inline constexpr int DOM_P_CLON = 6;
inline constexpr int DOM_P_NX = 7;
inline constexpr int DOM_P_NY = 8;
inline constexpr int DOM_P_DX = 9;
inline constexpr int DOM_P_DY = 10;
inline constexpr int DOM_P_REGION = 11;

// proj, nx, ny -9999; every float -9999.0; ellipse 0.
void DOM_init(Domain* domain);
// Decodes a domain string (comma-separated items, or a region name) into domain.
// -9999 for null, empty or "miss" (domain unset); 1 domain by values; 2 region; 255 when no
// layout fits. Sets flag 5 to the result, file key 'r' to str and the base priority.
int DOM_decode(const char* str, Domain* domain);
// Tries one layout: i1..i8 name the field of each item in order (DOM_P_..., 0 ends).
// 0 when every item was used and read (domain filled), non-zero otherwise. A first item
// "miss" or "none" gives an unset domain and 0.
int DOM_set_params(int paramc, char** paramv, Domain* domain, int i1, int i2 = 0, int i3 = 0, int i4 = 0,
                   int i5 = 0, int i6 = 0, int i7 = 0, int i8 = 0);
// Projection keyword (leading characters, any case) to code; -9999 for "miss", -1 for
// unknown or null.
int DOM_proj_str(const char* proj);
// Built-in region (us ne at se mw sp nw sw var; any case). 1, or 0 for an unknown name.
int DOM_get_def_region(const char* region, Domain* domain);
// Loads region file file (null: "qaz.reg") into menu entries 1..19. 1, or 0 when it cannot
// be opened (the menu keeps its entries).
int DOM_read_menu(const char* file);
// Copies into domstr (size bytes) the DOMAIN of the first region-file line whose
// abbreviation is str (any case; null: the first line). 1 when found, else 0.
int DOM_search_file(const char* file, const char* str, char* domstr, std::size_t size = DOM_LINE_SIZE);
// Lists the regions of file at the print level. 1, or 0 when it cannot be opened.
int DOM_print_file(const char* file);
// Resource "plot_domain" (flag 1, 3, 4) or "region" decoded into domain; flag 4 falls back
// to the first menu region. The DOM_decode result, or 0 when nothing applies.
int DOM_get_region(Domain* domain, int flag);
// First set of "grid_domain", "region", "plot_domain" decoded; 0 when none is set.
int DOM_get_grid_domain(Domain* domain);
// Resources, then (batch) the first menu region, else asks on the region menu up to 5 times.
// The DOM_decode result; 0 when prompting is off or the return entry was chosen.
int DOM_prompt_region(Domain* domain, int flag);
void DOM_set_prompt_region(int flag);
// Menu name of entry region, or "" outside the menu.
const char* DOM_get_region_name(int region);
// Priority from a domain height in plane units (1 above 50 ... 6 at or below 3), adjusted by
// the resource "stat_prior" ("+D", "-D", or a leading digit D replacing it).
void DOM_set_base_prior(float size);
void DOM_set_prior(int p);
int DOM_get_prior();
void DOM_set_loc_prior(int p);
int DOM_get_loc_prior();
// 1 when the domains are the same (exact; an unset plat/plon equals the other's centre).
int DOM_comp(const Domain* dom1, const Domain* dom2);
// 1 when projection, pole, parameters and earth shape agree, else 0.
int DOM_comp_proj(const Domain* dom1, const Domain* dom2);
// Prints the domain at level mess as NAME[:e]:plat:plon:p0:p1:p2,clat,clon,nx,ny,dx,dy.
void DOM_print(M_type mess, const Domain* domain);
// (nx - 1) / (ny - 1) when both are at least 2, else 1.0.
float DOM_aspect(const Domain* domain);
