// Resource database: the value list, the standard definitions, command-line decoding,
// the exchange with a running loop window, value conversion and the help listing.
#include "resrc.hpp"

#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <list>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "date.hpp"
#include "def_read.hpp"
#include "files.hpp"
#include "flag.hpp"
#include "mess.hpp"
#include "mqueue.hpp"
#include "region.hpp"
#include "string.hpp"
#include "system.hpp"

namespace {

constexpr const char* kDefaultProg = "Qaz";
constexpr const char* kDefaultSearchPath = ".:/home/qaz/etc:/usr/local/qaz/etc";
constexpr std::size_t kMaxOptionName = 49;
constexpr M_type kListLevel = 8;
constexpr M_type kTraceLevel = 0x80000000u;
constexpr int kDeviceFlag = 2;
constexpr M_type kBatchMessLevel = 255;

// ---------------------------------------------------------------------------------------
// Standard definitions
// ---------------------------------------------------------------------------------------

struct StandardDef {
    res_type key;
    const char* def;
    const char* env;
    const char* cmd;   // null for a positional definition
    int pos;           // 0 keyed, 1..9 or RES_POS_ALL
    DEF_convert cvt;
};

constexpr StandardDef kStandard[] = {
    {RES_help, "help", "qazhelp", "h", 0, CV_help},
    {RES_batch, "batch", "qazbatch", "ba", 0, CV_batch},
    {RES_message, "message", "qazmess", "me", 0, CV_mess},
    {RES_ingestor, "ingestor", "qazingestor", "di", 0, CV_ingestor},
    {RES_name_conv, "name_conv", "qaznameconv", "nc", 0, CV_name},
    {RES_in_files, "in_file", "qazinfile", "if", 0, CV_string},
    {RES_in_file, "in_file", "qazinfile", "if", 0, CV_string},
    {RES_out_file, "out_file", "qazoutfile", "of", 0, CV_string},
    {RES_input, "input", "qazin", "in", 0, CV_string},
    {RES_inputg, "input", "qazin", "inp", 0, CV_string},
    {RES_output, "output", "qazout", "ou", 0, CV_string},
    {RES_file_path, "file_path", "qazfile", "fp", 0, CV_path},
    {RES_data_path, "data_path", "qazdata", "dp", 0, CV_path},
    {RES_con_path, "con_path", "qazcon", "cp", 0, CV_path},
    {RES_raw_path, "raw_path", "qazraw", "rp", 0, CV_path},
    {RES_grid_path, "grid_path", "qazgrid", "gp", 0, CV_path},
    {RES_watch_path, "watch_path", "qazwatch", "wp", 0, CV_path},
    {RES_image_path, "image_path", "qazimage", "ip", 0, CV_string},
    {RES_text_path, "text_path", "qaztext", "tp", 0, CV_path},
    {RES_model_path, "model_path", "qazmpath", "mp", 0, CV_path},
    {RES_sat_path, "sat_path", "qazsat", "sp", 0, CV_path},
    {RES_map_file, "map_file", "qazmap", "mf", 0, CV_string},
    {RES_bull_file, "bull_file", "qazbullfile", "bf", 0, CV_string},
    {RES_log_file, "log_file", "qazlog", "lf", 0, CV_string},
    {RES_city_file, "city_file", "qazcity", "cf", 0, CV_string},
    {RES_file_param, "file_param", "qazfileparam", "pf", 0, CV_file_param},
    {RES_current, "current", "qazcurrent", "cu", 0, CV_current},
    {RES_hour, "hour", "qazhour", "ho", 0, CV_hour},
    {RES_num_hour, "num_hour", "qaznumhour", "nh", 0, CV_string},
    {RES_decode_hour, "decode_hour", "qazdecode", "dh", 0, CV_string},
    {RES_model, "model", "qazmodel", "mo", 0, CV_string},
    {RES_grid_type, "grid_type", "qazgridtype", "gt", 0, CV_int},
    {RES_grid_num, "grid_num", "qazgridnum", "gn", 0, CV_string},
    {RES_identifier, "identifier", "qazident", "id", 0, CV_string},
    {RES_product, "product", "qazproduct", "ph", 0, CV_string},
    {RES_forecast, "forecast", "qazforecast", "fc", 0, CV_string},
    {RES_state, "state", "qazstate", "st", 0, CV_string},
    {RES_plot_domain, "plot_domain", "qazdomain", "pd", 0, CV_domain},
    {RES_grid_domain, "grid_domain", "qazgrddomain", "gd", 0, CV_domain},
    {RES_region, "region", "qazregion", "re", 0, CV_region},
    {RES_time, "time", "qaztime", "ft", 0, CV_string},
    {RES_level, "level", "qazlevel", "le", 0, CV_string},
    {RES_variable, "variable", "qazvar", "va", 0, CV_string},
    {RES_stat_prior, "stat_prior", "qazprior", "pr", 0, CV_int},
    {RES_object_param, "object_param", "qazobject", "oa", 0, CV_string},
    {RES_con_interval, "con_interval", "qazconint", "in", 0, CV_float},
    {RES_plot_type, "plot_type", "qazplot", "pl", 0, CV_plot_type},
    {RES_draw, "draw", "qazdraw", "dr", 0, CV_draw},
    {RES_parameter, "parameter", "qazparam", "pa", 0, CV_string},
    {RES_table, "table", "qaztable", "ta", 0, CV_bool},
    {RES_plot_scale, "plot_scale", "qazscale", "sc", 0, CV_float},
    {RES_con_base, "con_base", "qazconbase", "cb", 0, CV_float},
    {RES_plot_format, "plot_format", "qazformat", "fm", 0, CV_string},
    {RES_plot_param, "plot_param", "qazpltparam", "pp", 0, CV_string},
    {RES_label, "label", "qazlabel", "la", 0, CV_string},
    {RES_color_table, "color_table", "qazclrtbl", "ct", 0, CV_string},
    {RES_background, "background", "qazback", "bg", 0, CV_string},
    {RES_color_text, "color_text", "qazclrtext", "cot", 0, CV_string},
    {RES_color_data, "color_data", "qazclrdata", "cod", 0, CV_string},
    {RES_color_map, "color_map", "qazclrmap", "com", 0, CV_string},
    {RES_color_grid, "color_grid", "qazclrgrid", "cogr", 0, CV_string},
    {RES_color_line, "color_line", "qazclrln", "coln", 0, CV_string},
    {RES_color_cmap, "color_cmap", "qazclrcmap", "cocm", 0, CV_string},
    {RES_color_cont, "color_cont", "qazclrcont", "coco", 0, CV_string},
    {RES_color_label, "color_label", "qazclrlab", "cola", 0, CV_string},
    {RES_color_clabel, "color_clabel", "qazclrclab", "cocl", 0, CV_string},
    {RES_color_front, "color_front", "qazclrfront", "cofr", 0, CV_string},
    {RES_color_watch, "color_watch", "qazclrwatch", "cowa", 0, CV_string},
    {RES_color_fill, "color_fill", "qazclrfill", "cof", 0, CV_string},
    {RES_color_wind, "color_wind", "qazclrwind", "cowd", 0, CV_string},
    {RES_color_cloud, "color_cloud", "qazclrcld", "cocd", 0, CV_string},
    {RES_color_wx, "color_wx", "qazclrwx", "cowx", 0, CV_string},
    {RES_color_pop, "color_pop", "qazclrpop", "copp", 0, CV_string},
    {RES_color_sound, "color_sound", "qazclrsnd", "cosd", 0, CV_string},
    {RES_color_therm, "color_therm", "qazclrtherm", "coth", 0, CV_string},
    {RES_color_thrmtxt, "color_thrmtxt", "qazclrthtxt", "cott", 0, CV_string},
    {RES_color_hodo, "color_hodo", "qazclrhodo", "coh", 0, CV_string},
    {RES_color_hodtxt, "color_hodtxt", "qazclrhdtxt", "coht", 0, CV_string},
    {RES_font_list, "font_list", "qazfontlist", "fl", 0, CV_string},
    {RES_window_num, "window_num", "qazwindownum", "wn", 0, CV_int},
    {RES_device, "device", "qazdevice", "de", 0, CV_device},
    {RES_title, "title", "qaztitle", "ti", 0, CV_string},
    {RES_geometry, "geometry", "qazgeometry", "ge", 0, CV_string},
    {RES_icon, "icon", "qazicon", "ic", 0, CV_bool},
    {RES_command, "command", "qazcommand", nullptr, RES_POS_ALL, CV_strings},
    {RES_commands, "command", "qazcommand", "cd", 0, CV_string},
    {RES_filename, "filename", "qazfilename", nullptr, 1, CV_strcpy},
    {RES_filenames, "filename", "qazfilename", nullptr, RES_POS_ALL, CV_strings},
    {RES_values, "value", "qazvalue", nullptr, RES_POS_ALL, CV_strings},
};

const StandardDef* find_standard(res_type key) {
    for (const StandardDef& d : kStandard)
        if (d.key == key) return &d;
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Help entries: one option text, one description (empty: the option stands alone on its
// line) and any further lines, printed as they stand.
// ---------------------------------------------------------------------------------------

struct HelpEntry {
    res_type key;
    const char* option;
    const char* text;
    std::vector<const char*> more;
};

const char* const kDomainLines[] = {
    "               region=predefined region:\n",
    "                  us,ne,at,se,mw,sp,nw,sw,etc\n",
    "               proj=projection, clat=central latitude, clon=central longitude,\n",
    "               nx,ny=number of gridpoints and dx,dy=grid spacing\n",
};

const std::vector<HelpEntry>& help_table() {
    static const std::vector<HelpEntry> table = {
        {RES_help, "-h", "Print this help", {}},
        {RES_batch, "-ba", "Run program in batch mode", {}},
        {RES_message, "-me level", "Message level to be displayed:",
         {"               none,print,error,warn,mess,out1,*out2,out3,out4,debug\n"}},
        {RES_ingestor, "-di name", "Ingestor type: qaz,whole,split,ldm,none", {}},
        {RES_name_conv, "-nc type", "Naming convention file name", {}},
        {RES_in_files, "-if type[,...]", "Input data file type", {}},
        {RES_in_file, "-if type", "Input data file type", {}},
        {RES_out_file, "-of type", "Output file type", {}},
        {RES_input, "-in type", "Type of input", {}},
        {RES_inputg, "-in type", "Type of input", {}},
        {RES_output, "-ou type", "Type of output", {}},
        {RES_file_path, "-fp path", "File path", {}},
        {RES_data_path, "-dp path", "Raw data path", {}},
        {RES_con_path, "-cp path", "Converted data path", {}},
        {RES_raw_path, "-rp path", "Raw files path", {}},
        {RES_grid_path, "-gp path", "Gridded data path", {}},
        {RES_watch_path, "-wp path", "Watch file data path", {}},
        {RES_image_path, "-ip path", "Image file path", {}},
        {RES_text_path, "-tp path", "Text file path", {}},
        {RES_model_path, "-mp path", "Model file path", {}},
        {RES_sat_path, "-sp path", "Satellite file path", {}},
        {RES_map_file, "-mf file[,file]", "Map database files", {}},
        {RES_city_file, "-cf file", "City database file name", {}},
        {RES_bull_file, "-bf file", "Bulletin file name", {}},
        {RES_log_file, "-lf file", "Log file name", {}},
        {RES_file_param, "-pf param", "File parameters: use,calc,over,app", {}},
        {RES_current, "-cu [hour]", "Use current data file", {}},
        {RES_hour, "-ho hour", "Actual hour of the file", {}},
        {RES_num_hour, "-nh hour[,step]", "Number of hours to view", {}},
        {RES_decode_hour, "-dh hour", "Actual hour to decode", {}},
        {RES_model, "-mo model", "Specific model to use", {}},
        {RES_grid_type, "-gt number", "Specific grid type (number) to use", {}},
        {RES_grid_num, "-gn number", "Specific grid index in file to use", {}},
        {RES_product, "-ph header", "Specific product header", {}},
        {RES_forecast, "-fc type", "Specific forecast product", {}},
        {RES_state, "-st state", "Specific state to parse", {}},
        {RES_identifier, "-id ident", "Specific station identifier", {}},
        {RES_plot_domain, "-pd region or [proj],clat,clon[,nx,ny][,dx,dy]", "",
         {"             Output plot domain\n", kDomainLines[0], kDomainLines[1], kDomainLines[2],
          kDomainLines[3]}},
        {RES_grid_domain, "-gd region or [proj],clat,clon[,nx,ny][,dx,dy]", "",
         {"             Grid domain\n", kDomainLines[0], kDomainLines[1], kDomainLines[2],
          kDomainLines[3]}},
        {RES_region, "-re region or [proj],clat,clon[,nx,ny][,dx,dy]", "",
         {"             Region to be used for plotting and gridding\n", kDomainLines[0],
          kDomainLines[1], kDomainLines[2], kDomainLines[3],
          "               us,ne,at,se,mw,sp,nw,sw,var\n"}},
        {RES_time, "-ft time", "Forecast time to be plotted or contoured", {}},
        {RES_level, "-le level", "Vertical level to be plotted or contoured", {}},
        {RES_variable, "-va var", "Variable to be plotted or contoured", {}},
        {RES_stat_prior, "-pr prior", "Priority of stations used in the plot", {}},
        {RES_object_param, "-oa smooth[,radinf,pass,conv,min]", "",
         {"             Objective analysis parameters\n"}},
        {RES_con_interval, "-in intrvl", "Contour interval", {}},
        {RES_plot_type, "-pl type", "Plot type: cf,lcf,ln,dln,ndln,value,none", {}},
        {RES_draw, "-dr param[,...]", "Draw components: text,data,sum,map,none", {}},
        {RES_parameter, "-pa param[,...]", "Program parameters", {}},
        {RES_table, "-ta", "Prints a table", {}},
        {RES_plot_scale, "-sc scale", "Text and wind vector scale factor", {}},
        {RES_con_base, "-cb base", "Color fill contour/vector base value", {}},
        {RES_plot_format, "-fm format", "Numeric format", {}},
        {RES_plot_param, "-pp param", "Plot parameters", {}},
        {RES_label, "-la label", "Plot labels", {}},
        {RES_color_table, "-ct file", "Color table file name", {}},
        {RES_background, "-bg clr", "Background color", {}},
        {RES_color_text, "-cot clr", "Text color", {}},
        {RES_color_data, "-cod clr", "Data plotting color", {}},
        {RES_color_map, "-com clr", "line map color", {}},
        {RES_color_grid, "-cogr clr", "grid color", {}},
        {RES_color_line, "-coln clr", "Lat-lon line color", {}},
        {RES_color_cmap, "-cocm clr", "Fill map color", {}},
        {RES_color_cont, "-coco clr", "Line contour color", {}},
        {RES_color_label, "-cola clr", "Line label color", {}},
        {RES_color_clabel, "-cocl clr", "Fill label color", {}},
        {RES_color_fill, "-cof clr[,...]", "Fill contour colors", {}},
        {RES_color_front, "-cofr hclr,lclr,cclr,wclr,oclr,tclr", "Front colors", {}},
        {RES_color_watch, "-cowa sclr,tclr", "Watch box colors", {}},
        {RES_color_cloud, "-cocd clr", "Cloud cover symbol colors", {}},
        {RES_color_wind, "-cowd clr", "Wind barb colors", {}},
        {RES_color_wx, "-cowx clr", "Weather symbol colors", {}},
        {RES_color_pop, "-copp clr", "Probablilty of precipitation color", {}},
        {RES_color_sound, "-cosd tclr,tdclr", "Sounding colors", {}},
        {RES_color_therm, "-coth pclr,tclr,daclr,maclr,mrclr", "Thermodynamic diagram colors", {}},
        {RES_color_thrmtxt, "-cott pclr,tclr,daclr,maclr,mrclr", "Thermodynamic diagram text colors", {}},
        {RES_color_hodo, "-coh dclr,sclr,hclr", "Hodograph colors", {}},
        {RES_color_hodtxt, "-coht dclr,sclr,hclr", "Hodograph text colors", {}},
        {RES_font_list, "-fl list", "List of fonts to use", {}},
        {RES_window_num, "-wn number", "QAZLoop window number", {}},
        {RES_device, "-de dev[,name]", "Output device: d,p,q,w,m", {}},
        {RES_title, "-ti title", "Window title", {}},
        {RES_geometry, "-ge wxh+x+y", "Window geometry", {}},
        {RES_icon, "-ic", "Open window iconified", {}},
        {RES_commands, "-cd cmd[;cmd]", "Commands to be run", {}},
        {RES_command, "command", "Commands to be run", {}},
        {RES_filename, "file", "Input file name", {}},
        {RES_filenames, "file [file...]", "Input file names", {}},
        {RES_values, "val1 val2 ...", "Input values:", {}},
    };
    return table;
}

// ---------------------------------------------------------------------------------------
// Module state
// ---------------------------------------------------------------------------------------

// std::list keeps every node in place, so texts handed out by RES_get stay valid while
// other resources are added.
std::list<resource> res_list;
std::vector<std::string> clargv;
std::vector<RES_defobj> std_defs;   // the table RES_init builds (null-terminated)
char empty_text[1] = "";

// A loop window whose resources are being exchanged during RES_decode.
struct LoopWindow {
    int qid = -1;
    int conn = -1;
    bool connected() const { return conn >= 0; }
    void drop() {
        qid = -1;
        conn = -1;
    }
};
LoopWindow window;

resource* find_resource(const char* name) {
    if (!name) return nullptr;
    for (resource& r : res_list)
        if (r.name == name) return &r;
    return nullptr;
}

std::string base_name(const char* path) {
    if (!path || !*path) return kDefaultProg;
    const char* slash = std::strrchr(path, '/');
    return slash ? std::string(slash + 1) : std::string(path);
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// True when part is a non-empty leading part of whole, ignoring case.
bool is_prefix_nocase(std::string_view part, std::string_view whole) {
    return !part.empty() && part.size() <= whole.size() && iequals(part, whole.substr(0, part.size()));
}

// ---------------------------------------------------------------------------------------
// Command-line words
// ---------------------------------------------------------------------------------------

bool is_option_word(const std::string& w) {
    auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
    if (w.size() >= 2 && w[0] == '-' && letter(w[1])) return true;
    return w.size() >= 3 && w[0] == '-' && w[1] == '-' && letter(w[2]);
}

struct Option {
    std::string name;
    std::optional<std::string> value;
    bool value_from_next = false;
};

// Reads the option at words[i]; the value may come from words[i + 1]. Any following word
// that is not itself an option is a value, "--" included: it is only skipped where it
// stands alone.
Option read_option(const std::vector<std::string>& words, std::size_t i) {
    const std::string& w = words[i];
    const std::size_t start = (w[1] == '-') ? 2 : 1;
    const std::size_t eq = w.find('=', start);
    Option opt;
    opt.name = w.substr(start, (eq == std::string::npos ? w.size() : eq) - start);
    if (opt.name.size() > kMaxOptionName) opt.name.resize(kMaxOptionName);
    if (eq != std::string::npos) {
        opt.value = w.substr(eq + 1);
    } else if (i + 1 < words.size() && !is_option_word(words[i + 1])) {
        opt.value = words[i + 1];
        opt.value_from_next = true;
    }
    return opt;
}

// "-n", "-na", ... "-name": the program title.
bool is_name_option(const std::string& name) {
    return name.size() <= 4 && std::string_view("name").substr(0, name.size()) == name;
}

bool is_default_option(const std::string& name) {
    return name.starts_with("default") || name.starts_with("df");
}

// ---------------------------------------------------------------------------------------
// Loop-window exchange
// ---------------------------------------------------------------------------------------

// Sends one request as it stands; false when it is too long for one message or fails.
bool send_request(const std::string& text) {
    if (text.size() > static_cast<std::size_t>(MQ_TEXT_MAX)) {
        MESS_print(M_warn, "RES_decode: request too long for the loop window, not sent: %.40s...\n",
                   text.c_str());
        return false;
    }
    return MQ_put(window.qid, window.conn, "%s", text.c_str()) >= 0;
}

// Reads replies until a non-zero status; a negative one means the window closed our
// connection, so nothing more is sent to it.
int drain_reply() {
    char item[MQ_ITEM_SIZE];
    int status;
    do {
        status = MQ_get(window.qid, window.conn, item);
    } while (status == 0);
    if (status < 0) window.drop();
    return status;
}

void send_and_drain(const std::string& text) {
    if (window.connected() && send_request(text)) drain_reply();
}

// Queries every defined resource from loop window `number_text`, stores what it knows
// and sends back the values this program has that the window lacks.
void exchange_with_window(const char* number_text, const RES_defobj* defs, int ndefs) {
    char* end = nullptr;
    const long number = std::strtol(number_text, &end, 10);
    if (end == number_text || *end != '\0' || number < INT_MIN || number > INT_MAX) {
        MESS_print(M_warn, "RES_decode: bad loop window number in search path: %s\n", number_text);
        return;
    }
    // Only the last window named stays connected; an earlier one is left properly, or
    // its connection slot would stay taken for as long as that window runs.
    if (window.connected()) send_and_drain("quit");
    window.drop();
    const int qid = MQ_open(static_cast<int>(number));
    if (qid == -1) {
        MESS_print(M_warn, "QAZloop window: %s not running or no message queue exists\n", number_text);
        return;
    }
    const int conn = MQ_connect(qid);
    if (conn < 0) {
        MESS_print(M_warn, "QAZloop window: %s unable to connect\n", number_text);
        return;
    }
    window.qid = qid;
    window.conn = conn;

    // All queries go out before any reply is read: the window answers them in order.
    std::vector<int> asked;
    for (int i = 0; i < ndefs; ++i) {
        if (!defs[i].def || !*defs[i].def) continue;
        if (send_request(std::string("query res ") + defs[i].def)) asked.push_back(i);
    }

    int sets_sent = 0;
    char item[MQ_ITEM_SIZE];
    for (const int i : asked) {
        bool got_value = false;
        int status;
        while ((status = MQ_get(window.qid, window.conn, item)) == 0) {
            const std::size_t len = std::strlen(item);
            if (len > 0 && item[0] != '!' && item[0] != '\n') {
                item[len - 1] = '\0';   // the window ends each value with a newline
                RES_new(i, defs[i].def, item, defs[i].cvt);
                got_value = true;
            }
        }
        if (status == -3) MESS_print(M_warn, "QAZloop not running!\n");
        if (status < 0) {
            // The window has closed this connection: every further read would only time out.
            window.drop();
            return;
        }
        const resource* own = find_resource(defs[i].def);
        if (!got_value && own && own->data) {
            if (send_request(std::string("set res ") + defs[i].def + " " + *own->data)) ++sets_sent;
        }
    }
    for (int k = 0; k < sets_sent && window.connected(); ++k) drain_reply();
}

// ---------------------------------------------------------------------------------------
// Conversions: one handler per code. Codes owned by other subsystems keep their text in
// the list and report success until those subsystems wire their decoding here.
// ---------------------------------------------------------------------------------------

using Converter = int (*)(const char* data, void* out);

bool has_value(const char* data) { return data != nullptr; }

int conv_nothing(const char*, void*) { return 1; }

int conv_bool(const char* data, void* out) {
    if (!out) return 1;
    int* target = static_cast<int*>(out);
    if (!data || !*data || iequals(data, "true") || iequals(data, "on") || iequals(data, "yes")) {
        *target = 1;
        return 1;
    }
    if (iequals(data, "false") || iequals(data, "off") || iequals(data, "no")) {
        *target = 0;
        return 1;
    }
    MESS_print(M_warn, "RES_conv_data: not a yes/no value: %s\n", data);
    return 1;
}

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

const char* skip_blanks(const char* text) {
    while (is_blank(*text)) ++text;
    return text;
}

// True when only blanks follow end. A number with text after it ("2O" typed for "20")
// is refused whole: taking its leading digits would give a silently wrong value.
bool only_blanks_after(const char* end, const char* data) {
    if (*skip_blanks(end) == '\0') return true;
    MESS_print(M_warn, "RES_conv_data: not a number (text after it): %s\n", data);
    return false;
}

// Reads an integer that must start with a digit (or a sign when signs are allowed);
// "0x.." is hexadecimal. Blanks around it are ignored, nothing else may follow. False,
// with a warning, for text that is no number or too large.
bool read_integer(const char* data, bool allow_sign, long long low, long long high, long long& result) {
    const char* text = skip_blanks(data);
    const unsigned char first = static_cast<unsigned char>(text[0]);
    const bool starts_ok = std::isdigit(first) || (allow_sign && (first == '-' || first == '+'));
    if (!starts_ok) {
        MESS_print(M_warn, "RES_conv_data: not a number: %s\n", data);
        return false;
    }
    const int base = (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, base);
    if (end == text || (base == 16 && end == text + 1)) {
        MESS_print(M_warn, "RES_conv_data: not a number: %s\n", data);
        return false;
    }
    if (!only_blanks_after(end, data)) return false;
    if (errno == ERANGE || v < low || v > high) {
        MESS_print(M_warn, "RES_conv_data: number out of range: %s\n", data);
        return false;
    }
    result = v;
    return true;
}

int conv_int(const char* data, void* out) {
    if (!has_value(data)) return 0;
    if (!out) return 1;
    long long v = 0;
    if (!read_integer(data, true, INT_MIN, INT_MAX, v)) return 0;
    *static_cast<int*>(out) = static_cast<int>(v);
    return 1;
}

int conv_short(const char* data, void* out) {
    if (!has_value(data)) return 0;
    if (!out) return 1;
    long long v = 0;
    if (!read_integer(data, false, SHRT_MIN, SHRT_MAX, v)) return 0;
    *static_cast<short*>(out) = static_cast<short>(v);
    return 1;
}

int conv_long(const char* data, void* out) {
    if (!has_value(data)) return 0;
    if (!out) return 1;
    long long v = 0;
    if (!read_integer(data, false, LONG_MIN, LONG_MAX, v)) return 0;
    *static_cast<long*>(out) = static_cast<long>(v);
    return 1;
}

int conv_float(const char* data, void* out) {
    if (!has_value(data)) return 0;
    if (!out) return 1;
    char* end = nullptr;
    errno = 0;
    const char* text = skip_blanks(data);
    const float v = std::strtof(text, &end);
    if (end == text) {
        MESS_print(M_warn, "RES_conv_data: not a number: %s\n", data);
        return 0;
    }
    if (!only_blanks_after(end, data)) return 0;
    if (errno == ERANGE && std::isinf(v)) {
        MESS_print(M_warn, "RES_conv_data: number out of range: %s\n", data);
        return 0;
    }
    // "inf" and "nan" read as numbers but are no usable scale or interval.
    if (!std::isfinite(v)) {
        MESS_print(M_warn, "RES_conv_data: not a finite number: %s\n", data);
        return 0;
    }
    *static_cast<float*>(out) = v;
    return 1;
}

int conv_string(const char* data, void* out) {
    if (!has_value(data)) return 0;
    if (out) *static_cast<char**>(out) = const_cast<char*>(data);
    return 1;
}

int conv_strcpy(const char* data, void* out) {
    if (!has_value(data)) return 0;
    if (!out) return 1;
    if (str_copy(static_cast<char*>(out), RES_STRCPY_SIZE, data) != 0) {
        MESS_print(M_warn, "RES_conv_data: text cut to %zu characters: %.40s...\n", RES_STRCPY_SIZE - 1, data);
        return 0;
    }
    return 1;
}

int conv_path(const char* data, void* out) {
    if (!has_value(data)) return 0;
    if (!out) return 1;
    const bool none = iequals(data, "none");
    const std::size_t size = none ? 1 : std::strlen(data) + 2;
    char* copy = static_cast<char*>(std::malloc(size));
    if (!copy) {
        MESS_print(M_error, "RES_conv_data: out of memory\n");
        return 0;
    }
    copy[0] = '\0';
    if (!none) {
        str_copy(copy, size, data);
        FILE_add_path_delim(copy, size);
    }
    *static_cast<char**>(out) = copy;
    return 1;
}

int conv_mess(const char* data, void*) {
    if (!has_value(data)) return 0;
    MESS_set_str(data);
    return 1;
}

int conv_device(const char* data, void* out) {
    if (!has_value(data)) return 0;
    const char* comma = std::strchr(data, ',');
    const std::string first = comma ? std::string(data, comma) : std::string(data);
    FLAG_set(kDeviceFlag, first.empty() ? 1 : RES_set_device(first.c_str()));
    if (comma && out) *static_cast<char**>(out) = const_cast<char*>(comma + 1);
    return 1;
}

int conv_color(const char* data, void* out) {
    if (!has_value(data)) return 0;
    if (!out) return 1;
    long long v = 0;
    if (!read_integer(data, true, INT_MIN, INT_MAX, v)) return 0;
    *static_cast<int*>(out) = static_cast<int>(v);
    return 1;
}

int conv_batch(const char*, void*) {
    FLAG_set(FLAG_BATCH_INDEX, 1);
    if (MESS_check_set() == 0) MESS_set(0, kBatchMessLevel);
    return 1;
}

int conv_help(const char*, void*) {
    FLAG_set(FLAG_HELP_INDEX, 1);
    return 1;
}

// --- time selection and file handling (wired by the file-naming module) ---
// hour: "H", "H:M", ":M" or a cycle "-XXYY" (period YY, offset XX: -306 = 03, 09, 15,
// 21Z) becomes the requested time of the file search.
int conv_hour(const char* data, void*) {
    if (!has_value(data)) return 0;
    // Blanks around the hour (a quoted value, an environment variable) are no error.
    std::string hour = skip_blanks(data);
    while (!hour.empty() && is_blank(hour.back())) hour.pop_back();
    return FILE_set_hour(hour.c_str()) == 0 ? 1 : 0;
}
// current: a time expression ("la", "la-12", "-1d6:30", "#YYYYMMDDHHNN"; no value = now)
// that the input-file choice reads by name; a target receives a reference to it. The
// option alone is "now" to the file choice, so the target then gets an empty text rather
// than staying as if the option had not been given.
int conv_current(const char* data, void* out) {
    if (out) *static_cast<char**>(out) = data ? const_cast<char*>(data) : empty_text;
    return 1;
}
// name_conv: the name-convention file, read by name when a data type is selected.
int conv_name(const char* data, void* out) { return conv_string(data, out); }
// file_param: answer to the overwrite question: "over" 1, "app" 2, "use" 3 (flag 15).
int conv_file_param(const char* data, void*) {
    if (!has_value(data)) return 0;
    return FILE_set_file_param(data) > 0 ? 1 : 0;
}

// --- regions and domains (wired by the region module) ---
// A target is a Domain; "miss" leaves it unset and counts as done. An option given
// without any value is no domain: the target keeps what it held.
int conv_domain(const char* data, void* out) {
    if (!has_value(data)) return 0;
    if (!out) return 1;
    return DOM_decode(data, static_cast<Domain*>(out)) == DOM_DECODE_INVALID ? 0 : 1;
}
int conv_region(const char* data, void* out) { return conv_domain(data, out); }

// --- plot switches and data ingest (no decoding yet) ---
int conv_draw(const char*, void*) { return 1; }
int conv_ingestor(const char*, void*) { return 1; }
int conv_plot_type(const char*, void*) { return 1; }

// CV_strings is split with its item count by RES_decode and RES_getvals; here there is
// no count to fill, so the text simply stays in the list.
int conv_strings(const char*, void*) { return 1; }

constexpr std::array<Converter, CV_help + 1> kConverters = {
    conv_nothing,     // CV_none
    conv_bool,        // CV_bool
    conv_int,         // CV_int
    conv_short,       // CV_short
    conv_long,        // CV_long
    conv_float,       // CV_float
    conv_string,      // CV_string
    conv_strcpy,      // CV_strcpy
    conv_path,        // CV_path
    conv_mess,        // CV_mess
    conv_draw,        // CV_draw
    conv_current,     // CV_current
    conv_hour,        // CV_hour
    conv_region,      // CV_region
    conv_name,        // CV_name
    conv_ingestor,    // CV_ingestor
    conv_file_param,  // CV_file_param
    conv_device,      // CV_device
    conv_plot_type,   // CV_plot_type
    conv_color,       // CV_color
    conv_domain,      // CV_domain
    conv_strings,     // CV_strings
    conv_batch,       // CV_batch
    conv_help,        // CV_help
};

// ---------------------------------------------------------------------------------------
// RES_decode steps
// ---------------------------------------------------------------------------------------

// Options "-name title" and "-default path" must be known before the files are read.
void scan_name_and_default(const std::vector<std::string>& words) {
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (!is_option_word(words[i])) continue;
        const Option opt = read_option(words, i);
        if (opt.value_from_next) ++i;
        if (!opt.value) continue;
        if (is_name_option(opt.name)) {
            RES_new(RES_NO_INDEX, "name", opt.value->c_str(), CV_string);
            DEF_title(opt.value->c_str());
        } else if (is_default_option(opt.name)) {
            RES_new(RES_NO_INDEX, "default", opt.value->c_str(), CV_string);
        }
    }
}

void read_resource_file(const std::string& file, const RES_defobj* defs, int ndefs) {
    if (DEF_open(file.c_str()) != 0) return;
    char key[DEF_LINE_SIZE];
    char value[DEF_LINE_SIZE];
    while (DEF_get(key, value) == 1) {
        bool matched = false;
        for (int i = 0; i < ndefs; ++i) {
            if (!defs[i].def || !*defs[i].def || !DEF_cmp(defs[i].def, key)) continue;
            RES_new(i, defs[i].def, value, defs[i].cvt);
            MESS_print(kTraceLevel, "RESRC: %s=%s\n", defs[i].def, value);
            matched = true;
        }
        if (!matched && DEF_valid(key)) {
            char name[DEF_LINE_SIZE];
            RES_new(RES_NO_INDEX, DEF_parse_name(key, name), value, CV_string);
        }
    }
    DEF_close();
}

void read_search_path(const RES_defobj* defs, int ndefs) {
    const resource* def_res = find_resource("default");
    const std::string path = (def_res && def_res->data) ? *def_res->data : kDefaultSearchPath;
    DEF_clr_tag();
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = path.find(':', start);
        const std::string element = path.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!element.empty() && element[0] == '+')
            DEF_tag(element.c_str() + 1);
        else if (!element.empty() && element[0] == '#')
            exchange_with_window(element.c_str() + 1, defs, ndefs);
        else
            read_resource_file(element, defs, ndefs);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
}

void read_environment(const RES_defobj* defs, int ndefs) {
    std::string value;
    for (int i = 0; i < ndefs; ++i) {
        if (!defs[i].def || !*defs[i].def) continue;
        if (DEF_env(defs[i].def, defs[i].env, value)) RES_new(i, defs[i].def, value.c_str(), defs[i].cvt);
    }
}

// The keyed definition an option names, or -1: abbreviation, then full name, then a
// leading part of a full name (except for the name/default options handled earlier).
int find_keyed_definition(const std::string& name, const RES_defobj* defs, int ndefs) {
    auto keyed = [&](int i) { return defs[i].pos == 0 && defs[i].def && *defs[i].def; };
    for (int i = 0; i < ndefs; ++i)
        if (keyed(i) && defs[i].cmd && iequals(name, defs[i].cmd)) return i;
    for (int i = 0; i < ndefs; ++i)
        if (keyed(i) && iequals(name, defs[i].def)) return i;
    if (is_name_option(name) || is_default_option(name)) return -1;
    for (int i = 0; i < ndefs; ++i)
        if (keyed(i) && is_prefix_nocase(name, defs[i].def)) return i;
    return -1;
}

void read_command_line(const std::vector<std::string>& words, const RES_defobj* defs, int ndefs) {
    int positional = 0;
    std::vector<bool> all_started(static_cast<std::size_t>(ndefs), false);
    for (std::size_t i = 1; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") continue;
        if (is_option_word(word)) {
            Option opt = read_option(words, i);
            const int d = find_keyed_definition(opt.name, defs, ndefs);
            if (d < 0) {
                if (opt.value_from_next) ++i;
                RES_new(RES_NO_INDEX, opt.name.c_str(), opt.value ? opt.value->c_str() : nullptr, CV_string);
                continue;
            }
            const DEF_convert cvt = defs[d].cvt;
            if (opt.value_from_next && (cvt == CV_bool || cvt == CV_batch || cvt == CV_help)) {
                opt.value.reset();   // a switch never swallows the next word
            } else if (opt.value_from_next) {
                ++i;
            }
            RES_new(d, defs[d].def, opt.value ? opt.value->c_str() : nullptr, cvt);
            send_and_drain(std::string("set res ") + defs[d].def + " " + opt.value.value_or(""));
            continue;
        }
        ++positional;
        int d = -1;
        for (int k = 0; k < ndefs && d < 0; ++k)
            if (defs[k].pos == positional) d = k;
        for (int k = 0; k < ndefs && d < 0; ++k)
            if (defs[k].pos == RES_POS_ALL) d = k;
        if (d < 0) continue;
        if (defs[d].pos == RES_POS_ALL && all_started[static_cast<std::size_t>(d)]) {
            RES_append(d, defs[d].def, word.c_str(), defs[d].cvt);
        } else {
            RES_new(d, defs[d].def, word.c_str(), defs[d].cvt);
            all_started[static_cast<std::size_t>(d)] = true;
        }
    }
}

void convert_all(const RES_defobj* defs, int ndefs) {
    for (resource& r : res_list) {
        if (r.index < 0 || r.index >= ndefs) continue;
        const RES_defobj& d = defs[r.index];
        // A value kept from an earlier decoding carries the index of that table: it must
        // not be converted into the target of whatever this table holds at that place.
        if (!d.def || r.name != d.def || r.cvt != d.cvt) continue;
        char* data = r.data ? r.data->data() : nullptr;
        if (r.cvt == CV_strings) {
            if (!d.out) continue;
            int count = 0;
            char** items = nullptr;
            parse_string(data, '\n', &count, &items);
            *static_cast<char***>(d.out) = items;
            if (d.num) *d.num = count;
            continue;
        }
        RES_conv_data(data, d.out, r.cvt);
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Public interface
// ---------------------------------------------------------------------------------------

int RES_init(int argc, const char* const* argv, const res_type* res_key, const res_type* res_pos) {
    FLAG_resetl(-9999);
    std_defs.clear();
    for (const res_type* list : {res_key, res_pos}) {
        for (const res_type* k = list; k && *k != RES_null; ++k) {
            RES_defobj obj;
            RES_enter(&obj, *k);
            std_defs.push_back(obj);
        }
    }
    std_defs.push_back(RES_defobj{});   // terminator
    const std::string prog = base_name(argc > 0 && argv ? argv[0] : nullptr);
    RES_decode(prog.c_str(), nullptr, argc, argv, std_defs.data());
    if (const char* tz = std::getenv("qaztz")) DATE_set_TZ(tz);
    return 1;
}

int RES_decode(const char* progname, const char*, int argc, const char* const* argv, RES_defobj* def_table) {
    RES_setCL(argc, argv);
    const std::string prog = base_name(progname ? progname : RES_get_prog());
    DEF_name(prog.c_str());
    DEF_title(nullptr);
    int ndefs = 0;
    while (def_table && def_table[ndefs].def) ++ndefs;

    if (const char* def_path = std::getenv("qazdefault")) RES_new(RES_NO_INDEX, "default", def_path, CV_string);
    scan_name_and_default(clargv);
    read_search_path(def_table, ndefs);
    read_environment(def_table, ndefs);
    read_command_line(clargv, def_table, ndefs);
    send_and_drain("quit");
    window.drop();
    convert_all(def_table, ndefs);
    return 0;
}

int RES_new(int index, const char* name, const char* data, DEF_convert cvt) {
    if (!name) return -1;
    try {
        resource* r = find_resource(name);
        if (!r) {
            res_list.push_back(resource{index, name, std::nullopt, cvt});
            r = &res_list.back();
        }
        r->index = index;
        r->cvt = cvt;
        if (data)
            r->data = std::string(data);
        else
            r->data.reset();
    } catch (const std::bad_alloc&) {
        MESS_print(M_error, "RES_new: out of memory storing %s\n", name);
        return -1;
    }
    return 0;
}

int RES_append(int index, const char* name, const char* data, DEF_convert cvt) {
    if (!name) return -1;
    resource* r = find_resource(name);
    if (!r) return RES_new(index, name, data, cvt);
    if (!data) return 0;
    try {
        // data may be this resource's own text (RES_get): copy it before the value grows.
        std::string addition(data);
        if (r->data)
            r->data->append("\n").append(addition);
        else
            r->data = std::move(addition);
    } catch (const std::bad_alloc&) {
        MESS_print(M_error, "RES_append: out of memory storing %s\n", name);
        return -1;
    }
    return 0;
}

int RES_put(const char* name, const char* value) { return RES_new(RES_NO_INDEX, name, value, CV_string); }

char* RES_get(const char* name) {
    resource* r = find_resource(name);
    if (!r) return nullptr;
    return r->data ? r->data->data() : empty_text;
}

int RES_getval(const char* name, void* data, DEF_convert cvt) {
    resource* r = find_resource(name);
    if (!r || !data) return 0;
    return RES_conv_data(r->data ? r->data->data() : nullptr, data, cvt);
}

int RES_getvals(const char* name, int* paramc, char*** paramv) {
    if (paramc) *paramc = 0;
    if (paramv) *paramv = nullptr;
    const resource* r = find_resource(name);
    if (!r || !r->data || !paramc || !paramv) return 0;
    const char delim = r->cvt == CV_strings ? '\n' : ',';
    if (parse_string(r->data->c_str(), delim, paramc, paramv) != 0) return 0;
    return *paramc;
}

void RES_list() {
    for (const resource& r : res_list) {
        if (r.data)
            MESS_print(kListLevel, "%s: %s\n", r.name.c_str(), r.data->c_str());
        else
            MESS_print(kListLevel, "%s:\n", r.name.c_str());
    }
}

void RES_setCL(int argc, const char* const* argv) {
    clargv.clear();
    for (int i = 0; argv && i < argc; ++i) clargv.emplace_back(argv[i] ? argv[i] : "");
}

const char* RES_get_prog() { return clargv.empty() ? nullptr : clargv.front().c_str(); }

char* RES_get_progname(char* prog, std::size_t size) {
    const std::string name = base_name(RES_get_prog());
    if (prog) {
        str_copy(prog, size, name.c_str());
        return prog;
    }
    char* copy = create_string(name.c_str());
    return copy ? copy : const_cast<char*>(kDefaultProg);
}

void RES_fill_obj(RES_defobj* obj, const char* def, const char* env, const char* cmd, DEF_convert cvt,
                  void* out, int* num) {
    if (!obj) return;
    *obj = RES_defobj{def, env, cmd, 0, cvt, out, num};
}

void RES_fill_obj(RES_defobj* obj, const char* def, const char* env, int position, DEF_convert cvt,
                  void* out, int* num) {
    if (!obj) return;
    *obj = RES_defobj{def, env, nullptr, position, cvt, out, num};
}

void RES_enter(RES_defobj* obj, res_type key) {
    if (!obj) return;
    const StandardDef* s = find_standard(key);
    if (!s) {
        MESS_print(M_print, "%d\n", static_cast<int>(key));
        RES_fill_obj(obj, "", "", "", CV_none, nullptr, nullptr);
        return;
    }
    if (s->cmd)
        RES_fill_obj(obj, s->def, s->env, s->cmd, s->cvt, nullptr, nullptr);
    else
        RES_fill_obj(obj, s->def, s->env, s->pos, s->cvt, nullptr, nullptr);
}

int RES_set_device(const char* str) {
    if (!str) return 1;
    switch (str[0]) {
        case 'P': case 'p': return 4;
        case 'H': case 'h': case 'Q': case 'q': return 5;
        case 'M': case 'm': return 3;
        case 'W': case 'w': return 6;
        default: return 1;
    }
}

int RES_conv_data(const char* data, void* out, DEF_convert cvt) {
    if (cvt < CV_none || cvt > CV_help) {
        MESS_print(M_error, "RES_conv_data: unknown conversion code %d\n", static_cast<int>(cvt));
        return 0;
    }
    return kConverters[static_cast<std::size_t>(cvt)](data, out);
}

int RES_help_item(res_type res) {
    for (const HelpEntry& e : help_table()) {
        if (e.key != res) continue;
        if (*e.text)
            MESS_print(M_print, " %-10s  %s\n", e.option, e.text);
        else
            MESS_print(M_print, " %-10s\n", e.option);
        for (const char* line : e.more) MESS_print(M_print, "%s", line);
        break;
    }
    return 1;
}

int RES_help_print(const char* name, const res_type* res_key, const res_type* res_pos) {
    const char* prog = name ? name : kDefaultProg;
    MESS_print(M_print, "%s syntax (version:%s)\n", prog, QAZ_version());
    MESS_print(M_print, "   %s [options...]\n", prog);
    MESS_print(M_print, "Keyed options...\n");
    MESS_print(M_print, " %-10s  Resource/defaults file name\n", "-df file");
    MESS_print(M_print, " %-10s  Program name\n", "-na name");
    for (const res_type* k = res_key; k && *k != RES_null; ++k) RES_help_item(*k);
    MESS_print(M_print, "Positional options...\n");
    for (const res_type* k = res_pos; k && *k != RES_null; ++k) RES_help_item(*k);
    return 1;
}

void RES_clear() {
    if (window.connected()) send_and_drain("quit");
    window.drop();
    res_list.clear();
    clargv.clear();
    std_defs.clear();
    DEF_close();
    DEF_clr_tag();
    DEF_title(nullptr);
    DEF_name(nullptr);
}
