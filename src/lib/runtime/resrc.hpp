// Resource database: every program is configured by named text values merged from
// resource files, the environment, the command line and, on request, a running loop
// window. Values are read back by name and converted by a conversion code.
#pragma once
#include <cstddef>
#include <optional>
#include <string>

// How a stored value is converted (the numbering is part of the file and wire format).
enum DEF_convert {
    CV_none = 0,
    CV_bool = 1,
    CV_int = 2,
    CV_short = 3,
    CV_long = 4,
    CV_float = 5,
    CV_string = 6,
    CV_strcpy = 7,
    CV_path = 8,
    CV_mess = 9,
    CV_draw = 10,
    CV_current = 11,
    CV_hour = 12,
    CV_region = 13,
    CV_name = 14,
    CV_ingestor = 15,
    CV_file_param = 16,
    CV_device = 17,
    CV_plot_type = 18,
    CV_color = 19,
    CV_domain = 20,
    CV_strings = 21,
    CV_batch = 22,
    CV_help = 23
};

// The library's standard resources. A program lists the keys it accepts, ending the list
// with RES_null. Numbers 91..113 are free for future keys.
enum res_type {
    RES_null = 0,
    // run control and messages
    RES_help = 1,
    RES_batch = 2,
    RES_message = 3,
    RES_ingestor = 4,
    RES_name_conv = 5,
    // input and output selection
    RES_in_files = 6,
    RES_in_file = 7,
    RES_out_file = 8,
    RES_input = 9,
    RES_inputg = 10,
    RES_output = 11,
    // directories (RES_sat_path closes the enumeration at 114)
    RES_file_path = 12,
    RES_data_path = 13,
    RES_con_path = 14,
    RES_raw_path = 15,
    RES_grid_path = 16,
    RES_watch_path = 17,
    RES_image_path = 18,
    RES_text_path = 19,
    RES_model_path = 20,
    // named files
    RES_map_file = 21,
    RES_bull_file = 22,
    RES_log_file = 23,
    RES_city_file = 24,
    RES_file_param = 25,
    // time selection
    RES_current = 26,
    RES_hour = 27,
    RES_num_hour = 28,
    RES_decode_hour = 29,
    // data selection
    RES_model = 30,
    RES_grid_type = 31,
    RES_grid_num = 32,
    RES_identifier = 33,
    RES_product = 34,
    RES_forecast = 35,
    RES_state = 36,
    RES_plot_domain = 37,
    RES_grid_domain = 38,
    RES_region = 39,
    RES_time = 40,
    RES_level = 41,
    RES_variable = 42,
    RES_stat_prior = 43,
    RES_object_param = 44,
    // plotting
    RES_con_interval = 45,
    RES_plot_type = 46,
    RES_draw = 47,
    RES_parameter = 48,
    RES_table = 49,
    RES_plot_scale = 50,
    RES_con_base = 51,
    RES_plot_format = 52,
    RES_plot_param = 53,
    RES_label = 54,
    // colours
    RES_color_table = 55,
    RES_background = 56,
    RES_color_text = 57,
    RES_color_data = 58,
    RES_color_map = 59,
    RES_color_grid = 60,
    RES_color_line = 61,
    RES_color_cmap = 62,
    RES_color_cont = 63,
    RES_color_label = 64,
    RES_color_clabel = 65,
    RES_color_front = 66,
    RES_color_watch = 67,
    RES_color_fill = 68,
    RES_color_wind = 69,
    RES_color_cloud = 70,
    RES_color_wx = 71,
    RES_color_pop = 72,
    RES_color_sound = 73,
    RES_color_therm = 74,
    RES_color_thrmtxt = 75,
    RES_color_hodo = 76,
    RES_color_hodtxt = 77,
    // windows and devices
    RES_font_list = 78,
    RES_window_num = 79,
    RES_device = 80,
    RES_title = 81,
    RES_geometry = 82,
    RES_icon = 83,
    // commands and positional parameters
    RES_command = 84,
    RES_commands = 85,
    RES_filename = 86,
    RES_filenames = 87,
    RES_values = 88,
    RES_sat_path = 114
};

// Value of RES_defobj::pos for a definition that takes every positional parameter.
inline constexpr int RES_POS_ALL = 10;
// Index of a resource stored without a definition.
inline constexpr int RES_NO_INDEX = -9999;
// Size of a CV_strcpy target and of RES_get_progname's default buffer.
inline constexpr std::size_t RES_STRCPY_SIZE = 160;
inline constexpr std::size_t RES_PROGNAME_SIZE = 120;

// One stored value. The list itself is private to the module, in insertion order.
struct resource {
    int index = RES_NO_INDEX;          // position in the definition table, or RES_NO_INDEX
    std::string name;                  // case-sensitive
    std::optional<std::string> data;   // absent for a resource given without a value
    DEF_convert cvt = CV_string;
};

// One resource definition. A program's own table ends with an entry whose def is null.
struct RES_defobj {
    const char* def = nullptr;   // resource name (resource files, full option name)
    const char* env = nullptr;   // environment variable
    const char* cmd = nullptr;   // option abbreviation; null for a positional definition
    int pos = 0;                 // 0 keyed; 1..9 that positional parameter; RES_POS_ALL all of them
    DEF_convert cvt = CV_none;
    void* out = nullptr;         // conversion target (type given by cvt, see RES_conv_data)
    int* num = nullptr;          // item count for CV_strings
};

// Start-up: resets the 30 flags to -9999, builds the definitions of res_key then res_pos
// (each ending with RES_null; either may be null), reads every source, converts, and
// applies the "qaztz" time zone. Returns 1.
int RES_init(int argc, const char* const* argv, const res_type* res_key, const res_type* res_pos);
// Reads resource files, environment and command line against def_table (ended by a null
// def; kept by reference until the next call). File keys name the base name of progname,
// or of argv[0] when progname is null. res_class is accepted for compatibility and
// unused. Returns 0.
int RES_decode(const char* progname, const char* res_class, int argc, const char* const* argv,
               RES_defobj* def_table);
// Stores a copy of data (null: no value) under name; an existing name keeps its place and
// takes the new index and conversion. -1 when memory runs short, else 0.
int RES_new(int index, const char* name, const char* data, DEF_convert cvt);
// As RES_new for a new name; an existing value gets "\n" and data appended. 0 / -1.
int RES_append(int index, const char* name, const char* data, DEF_convert cvt);
// RES_new with RES_NO_INDEX and CV_string.
int RES_put(const char* name, const char* value);
// The stored text ("" for a resource without value), null when absent. Valid until the
// same name is stored again; do not free.
char* RES_get(const char* name);
// Converts the stored value of name into data (target type as for RES_conv_data).
// 0 when absent or data is null, else the conversion result.
int RES_getval(const char* name, void* data, DEF_convert cvt);
// Splits the value at newlines (CV_strings resources) or commas; the item count, 0 when
// absent. *paramv belongs to the caller: free_parsed_array(*paramc, *paramv).
int RES_getvals(const char* name, int* paramc, char*** paramv);
// Prints every resource as "name: value" at message level 8.
void RES_list();
// Remembers the command line (copied).
void RES_setCL(int argc, const char* const* argv);
// The first command-line word, or null.
const char* RES_get_prog();
// Base name of the first command-line word ("Qaz" without one), copied into prog (size
// bytes, always terminated); prog null: a malloc'd copy for the caller to free().
char* RES_get_progname(char* prog, std::size_t size = RES_PROGNAME_SIZE);
// Fills one keyed definition (cmd is the option abbreviation).
void RES_fill_obj(RES_defobj* obj, const char* def, const char* env, const char* cmd,
                  DEF_convert cvt, void* out, int* num);
// Fills one positional definition (position 1..9, or RES_POS_ALL).
void RES_fill_obj(RES_defobj* obj, const char* def, const char* env, int position,
                  DEF_convert cvt, void* out, int* num);
// Fills obj from the standard table; an unknown key gives an empty name and prints it.
void RES_enter(RES_defobj* obj, res_type key);
// Device class by first letter: P 4; H or Q 5; M 3; W 6; anything else 1.
int RES_set_device(const char* str);
// Converts data by cvt into out (null out: side effects only). Targets: CV_bool/CV_int/
// CV_color int*, CV_short short*, CV_long long*, CV_float float*, CV_string/CV_device
// char** (points into data), CV_strcpy char[RES_STRCPY_SIZE], CV_path char** (malloc'd,
// caller frees), CV_region/CV_domain Domain*. CV_strings is split by RES_getvals.
// 1 done (or nothing to do), 0 missing or unreadable value.
int RES_conv_data(const char* data, void* out, DEF_convert cvt);
// Help listing for a program accepting res_key and res_pos (both ended by RES_null). 1.
int RES_help_print(const char* name, const res_type* res_key, const res_type* res_pos);
// Prints the help entry of one key (nothing for a key without one). Returns 1.
int RES_help_item(res_type res);
// Forgets every stored resource, definition and command line, closes a connected loop
// window and clears the resource-file tags: a fresh start for tests and long-lived tools.
void RES_clear();
