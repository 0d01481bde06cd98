// Where the library's data files (name_conv, qaz.reg, sao.cty, units.lup, grib2_var.lup) are
// found when the file_path resource (or its environment variable qazfile) is not set.
#pragma once

// The data directory, first of: the one a program built on the installed package names (set
// below), the source tree's share/ for a program run from the build tree, the installed
// share/qaz beside the running program's bin/, the share/qaz of the installation prefix the
// library was configured with. "" when none exists. Never null.
const char* QAZ_share_dir();
// Makes dir the first choice of QAZ_share_dir (a copy is kept; null or "" clears it). Returns 0.
int QAZ_set_share_dir(const char* dir);

// The installed CMake package defines QAZ_PACKAGE_SHARE_DIR (a string), the pkg-config file
// QAZ_PACKAGE_PREFIX_PATH (a bare path: pkg-config output cannot carry quotes into a shell
// command), as their own prefix, so a program built on them finds the data wherever the
// prefix was moved.
#if defined(QAZ_PACKAGE_SHARE_DIR)
inline const int qaz_package_share_dir_set = QAZ_set_share_dir(QAZ_PACKAGE_SHARE_DIR);
#elif defined(QAZ_PACKAGE_PREFIX_PATH)
#define QAZ_PACKAGE_TEXT_(path) #path
#define QAZ_PACKAGE_TEXT(path) QAZ_PACKAGE_TEXT_(path)
inline const int qaz_package_share_dir_set = QAZ_set_share_dir(QAZ_PACKAGE_TEXT(QAZ_PACKAGE_PREFIX_PATH) "/share/qaz");
#endif
