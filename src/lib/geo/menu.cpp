// Text menus answered on the standard input.
#include "menu.hpp"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "mess.hpp"
#include "string.hpp"
#include "system.hpp"

namespace {

bool is_number(const char* text)
{
    if (!*text) return false;
    for (const char* c = text; *c; ++c)
        if (*c < '0' || *c > '9') return false;
    return true;
}

} // namespace

int MENU_print(const char* title, const MENU_item* items, int num)
{
    if (title) MESS_print(M_print, "%s", title);
    if (!items) return 0;
    int shown = 0;
    for (int i = 0; i < num; ++i) {
        if (i > 0 && items[i].disp[0] == 0) continue;
        MESS_print(M_print, "%3d  %-6s %s\n", items[i].disp[0], items[i].abbr, items[i].name);
        ++shown;
    }
    return shown;
}

int MENU_search(const char* text, const MENU_item* items, int num)
{
    if (!text || !*text || !items) return -1;
    if (is_number(text)) {
        const int wanted = std::atoi(text);
        for (int i = 0; i < num; ++i)
            if (items[i].disp[0] == wanted && (i == 0 || wanted != 0)) return i;
        return -1;
    }
    for (int i = 0; i < num; ++i)
        if (stricmp(items[i].abbr, text) == 0) return i;
    return -1;
}

const char* MENU_get_abbr(const MENU_item* items, int num, int item)
{
    if (!items || item < 0 || item >= num) return "";
    return items[item].abbr;
}

int MENU_check(const char* text)
{
    if (!text) return 0;
    for (const char* word : {"exit", "quit", "q", "x"})
        if (stricmp(text, word) == 0) return 1;
    return 0;
}

int MENU_process(const char* title, const char* prompt, const MENU_item* items, int num, char* answer,
                 std::size_t size)
{
    if (!answer || size < 2) return -1;
    answer[0] = '\0';
    MENU_print(title, items, num);
    if (!QAZ_prompts(prompt ? prompt : "", answer, static_cast<int>(size))) return -1;
    if (MENU_check(answer)) return -1;
    const int item = MENU_search(answer, items, num);
    if (item == 0) return 0;
    if (item > 0) str_copy(answer, size, items[item].abbr);
    return 1;
}
