// The command line: RES_init with an arbitrary argument vector (words separated by NUL
// bytes) and every standard definition, then every conversion of the last word. Words are
// kept inside this process: no path leaves the scratch directory ('/' and '~' become '_'),
// no command runs ('|' becomes '!'), no loop window is asked ('#' becomes '+'), and no
// message copy file is opened ("fi" becomes "gi").
#include <cctype>

#include "fuzz_common.hpp"
#include "maptran.hpp"
#include "string.hpp"

namespace {

std::string tame(std::string word)
{
    for (char& c : word) {
        if (c == '/' || c == '~') c = '_';
        else if (c == '|') c = '!';
        else if (c == '#') c = '+';
    }
    for (size_t i = 0; i + 1 < word.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(word[i])) == 'f' && std::tolower(static_cast<unsigned char>(word[i + 1])) == 'i')
            word[i] = 'g';
    return word;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    std::vector<std::string> words = fuzz::split(data, size);
    for (std::string& word : words) word = tame(word);
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    argv.push_back(nullptr);

    static const std::vector<res_type> keys = [] {
        std::vector<res_type> list;
        for (int k = RES_help; k <= RES_values; ++k)
            if (k != RES_command && k != RES_filename && k != RES_filenames && k != RES_values)
                list.push_back(static_cast<res_type>(k));
        list.push_back(RES_sat_path);
        list.push_back(RES_null);
        return list;
    }();
    static const res_type positional[] = {RES_filename, RES_values, RES_null};
    RES_init(static_cast<int>(words.size()), argv.data(), keys.data(), positional);
    RES_list();
    for (const char* name : {"value", "parameter", "filename"}) {
        int count = 0;
        char** values = nullptr;
        count = RES_getvals(name, &count, &values);
        if (values) free_parsed_array(count, values);
    }
    RES_get("window_num");

    // Every conversion of the last word, each into a target of its kind.
    const char* last = words.back().c_str();
    for (int cvt = CV_none; cvt <= CV_help; ++cvt) {
        if (cvt == CV_mess) continue;   // applied above through the message definition
        union {
            int i;
            short s;
            long l;
            float f;
            char* p;
            char text[RES_STRCPY_SIZE];
            Domain domain;
        } target;
        std::memset(&target, 0, sizeof target);
        RES_conv_data(last, &target, static_cast<DEF_convert>(cvt));
        if (cvt == CV_path) std::free(target.p);
    }
    return 0;
}
