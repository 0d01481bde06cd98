// Text menus: numbered entries with abbreviations, shown on the print level and answered
// on the standard input.
#pragma once
#include <cstddef>

inline constexpr std::size_t MENU_NAME_SIZE = 51;
inline constexpr std::size_t MENU_ABBR_SIZE = 9;
inline constexpr int MENU_DISP_SIZE = 10;

struct MENU_item {
    char name[MENU_NAME_SIZE];   // text shown
    char abbr[MENU_ABBR_SIZE];   // short name the user may type
    int index;                   // caller's value for the entry
    int disp[MENU_DISP_SIZE];    // disp[0]: display number; 0 hides the entry
};

// Prints title and one line per shown entry ("%3d  %-6s %s"). Returns the number shown.
int MENU_print(const char* title, const MENU_item* items, int num);
// Entry answering text: its display number or abbreviation (any case). Entry index, or -1.
int MENU_search(const char* text, const MENU_item* items, int num);
// Abbreviation of entry item, or "" outside 0..num-1.
const char* MENU_get_abbr(const MENU_item* items, int num, int item);
// 1 when text asks to leave the program ("exit", "quit", "q", "x"; any case), else 0.
int MENU_check(const char* text);
// Shows the menu, prompts and reads one word into answer (size bytes). An answer naming an
// entry is replaced by that entry's abbreviation. -1 for an exit choice or end of input,
// 0 for entry 0 (the return entry), 1 for any other answer.
int MENU_process(const char* title, const char* prompt, const MENU_item* items, int num, char* answer,
                 std::size_t size);
