// Resource files: comments, quoted values, DEF/UNDEF/IF/ELIF/ELSE/END blocks, key
// matching, and the same file read by the resource database. A first line beginning with
// '+' lists tags (separated by ':') set before the file is read.
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    std::string bytes = fuzz::text(data, size);
    std::string tags;
    if (!bytes.empty() && bytes[0] == '+') {
        const size_t end = bytes.find('\n');
        tags = bytes.substr(0, end);
        bytes.erase(0, end == std::string::npos ? bytes.size() : end + 1);
    }
    const std::string path = fuzz::write_file(".qazdef", reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

    DEF_name("reelctl");
    DEF_title(size % 3 == 0 ? "+sub" : nullptr);
    size_t start = 0;
    while (start < tags.size()) {
        size_t colon = tags.find(':', start);
        if (colon == std::string::npos) colon = tags.size();
        const std::string tag = tags.substr(start, colon - start);
        DEF_tag(tag[0] == '+' ? tag.c_str() + 1 : tag.c_str());
        start = colon + 1;
    }
    if (DEF_open(path.c_str()) == 0) {
        char key[DEF_LINE_SIZE];
        char value[DEF_LINE_SIZE];
        char name[DEF_LINE_SIZE];
        while (DEF_get(key, value) == 1) {
            DEF_cmp("window_num", key);
            DEF_valid(key);
            DEF_parse_name(key, name);
        }
        DEF_close();
    }

    // The database reading the same file along its search path ("." first).
    const std::string search = (tags.empty() ? std::string() : tags + ":") + ".";
    const char* argv[] = {"reelctl", "-df", search.c_str(), nullptr};
    static const res_type keys[] = {RES_window_num, RES_parameter, RES_commands, RES_help, RES_batch, RES_device,
                                    RES_icon, RES_hour, RES_file_param, RES_plot_scale, RES_color_text, RES_null};
    static const res_type positional[] = {RES_command, RES_null};
    RES_init(3, argv, keys, positional);
    RES_list();
    return 0;
}
