// Process-wide run-time flags (30 signed 64-bit values) and the 13 plot switches.
#pragma once
#include <cstdint>

inline constexpr int FLAG_NUM = 30;
inline constexpr int FLAG_BATCH_INDEX = 19;
inline constexpr int FLAG_HELP_INDEX = 20;

int FLAG_get(int flag);              // 0 for an index outside 0..29
std::int64_t FLAG_getl(int flag);
int FLAG_set(int flag, int value);   // -1 for an index outside 0..29, else 0
int FLAG_setl(int flag, std::int64_t value);
void FLAG_reset(int value);
void FLAG_resetl(std::int64_t value);
int FLAG_batch();                    // 1 when flag 19 is above 0
int FLAG_help();                     // 1 when flag 20 is above 0
void FLAG_set_batch(int val);
// Plot switches 0..12: 0 sums 1..6, 12 sums 0..11. type must be 0..12.
void FLAG_setplot(int type, int val);
int FLAG_getplot(int type);
void FLAG_resetplot(int val);
