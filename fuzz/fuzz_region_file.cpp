// The region file: the menu built from it, a region searched by abbreviation, the
// listing, and region names decoded through it. The input is the file; its last line's
// first word (when short) is also searched for.
#include "fuzz_common.hpp"
#include "region.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    const std::string path = fuzz::write_file("qaz.reg", data, size);
    RES_put("file_path", (fuzz::work_dir() + "/").c_str());
    DOM_set_prompt_region(0);

    std::string bytes = fuzz::text(data, size);
    const size_t line_start = bytes.rfind('\n', bytes.size() > 1 ? bytes.size() - 2 : 0);
    std::string word = bytes.substr(line_start == std::string::npos ? 0 : line_start + 1, 12);
    word = word.substr(0, word.find_first_of(" \t\r\n"));

    DOM_read_menu(path.c_str());
    char domstr[DOM_LINE_SIZE];
    DOM_search_file(path.c_str(), word.c_str(), domstr);
    DOM_search_file(path.c_str(), nullptr, domstr);
    DOM_print_file(path.c_str());
    Domain domain;
    DOM_init(&domain);
    for (const char* name : {"co", "us", "var"}) DOM_decode(name, &domain);
    if (!word.empty()) DOM_decode(word.c_str(), &domain);
    DOM_get_region(&domain, 4);
    return 0;
}
