// Domain strings: projection keywords with values, centres, grid sizes and spacings,
// stations ("id:FILE:ID") and region names looked up in the region file. The region and
// station files are the shipped ones, copied into the scratch directory; names an input
// gives stay there ('/' and '~' become '_', '|' becomes '!').
#include <fstream>

#include "fuzz_common.hpp"
#include "region.hpp"

namespace {

void copy_into_work_dir(const char* from, const char* name)
{
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(fuzz::work_dir() + "/" + name, std::ios::binary);
    out << in.rdbuf();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::start();
    copy_into_work_dir(QAZ_SHARE_SRC "/qaz.reg", "qaz.reg");
    copy_into_work_dir(QAZ_TEST_DATA "/cty_small.cty", "sao.cty");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    RES_put("file_path", (fuzz::work_dir() + "/").c_str());
    DOM_set_prompt_region(size % 2);
    std::string text = fuzz::text(data, size);
    for (char& c : text) {
        if (c == '/' || c == '~') c = '_';
        else if (c == '|') c = '!';
    }
    Domain domain;
    DOM_init(&domain);
    const int result = DOM_decode(text.c_str(), &domain);
    if (result != DOM_DECODE_INVALID && result != DOM_MISSING) {
        DOM_print(M_debug, &domain);
        DOM_aspect(&domain);
        Domain again;
        DOM_init(&again);
        DOM_comp(&domain, &again);
        DOM_comp_proj(&domain, &again);
    }
    DOM_proj_str(text.c_str());
    return 0;
}
