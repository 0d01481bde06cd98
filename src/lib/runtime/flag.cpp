#include "flag.hpp"

#include <array>

namespace {
constexpr int kPlotSwitches = 13;
std::array<std::int64_t, FLAG_NUM> flags{};
std::array<int, kPlotSwitches> plot_it = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

bool in_range(int flag) { return flag >= 0 && flag < FLAG_NUM; }
}  // namespace

int FLAG_get(int flag) { return in_range(flag) ? static_cast<int>(flags[flag]) : 0; }
std::int64_t FLAG_getl(int flag) { return in_range(flag) ? flags[flag] : 0; }

int FLAG_set(int flag, int value) { return FLAG_setl(flag, value); }
int FLAG_setl(int flag, std::int64_t value) {
  if (!in_range(flag)) return -1;
  flags[flag] = value;
  return 0;
}

void FLAG_reset(int value) { flags.fill(value); }
void FLAG_resetl(std::int64_t value) { flags.fill(value); }
int FLAG_batch() { return flags[FLAG_BATCH_INDEX] > 0 ? 1 : 0; }
int FLAG_help() { return flags[FLAG_HELP_INDEX] > 0 ? 1 : 0; }
void FLAG_set_batch(int val) { flags[FLAG_BATCH_INDEX] = val; }

void FLAG_setplot(int type, int val) {
  if (type < 0 || type >= kPlotSwitches) return;
  plot_it[type] = val;
  if (type == 12)
    for (int i = 0; i < 12; ++i) plot_it[i] = val;
  if (type == 0)
    for (int i = 0; i <= 6; ++i) plot_it[i] = val;
  int group = 0;
  for (int i = 1; i <= 6; ++i) group += plot_it[i];
  plot_it[0] = group;
  int all = 0;
  for (int i = 0; i <= 11; ++i) all += plot_it[i];
  plot_it[12] = all;
}

// Callers must pass 0..12; an index outside gives 0 rather than reading past the table.
int FLAG_getplot(int type) { return (type >= 0 && type < kPlotSwitches) ? plot_it[type] : 0; }
void FLAG_resetplot(int val) { plot_it.fill(val); }
