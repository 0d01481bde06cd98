// Line input, byte order and small numeric helpers.
#include "tools.hpp"

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mess.hpp"
#include "string.hpp"

namespace {

// 1: every swap reverses its value's bytes; 0: swaps do nothing. Data files are written
// in a fixed order, so the default is to assume the foreign order until told otherwise.
int swap = 1;
// First byte of the stored integer 1: 1 on a little-endian machine, 0 on a big-endian one.
int swaptest = 1;

constexpr int line_limit = 160;

// Streams whose last piece ended on a newline still waiting in the stream, with where
// that newline stands: the next read skips it, while any other newline there is an empty
// line. A stream moved since, or closed and its address reused by a new stream, must not
// pass for the same place: offset and file identity tell most apart (a pipe has no offset,
// -1), and with glibc the stream's buffer also tells a freshly opened or rewound stream
// (nothing buffered yet) from the one that left the newline in its buffer, even on the
// same file.
struct PendingNewline {
  std::FILE* file = nullptr;
  long offset = -1;
  dev_t device = 0;
  ino_t inode = 0;
  const void* buffer_position = nullptr;
  const void* buffer_end = nullptr;
};
std::array<PendingNewline, 16> pending_newlines;
std::size_t next_pending_slot = 0;

PendingNewline place_of(std::FILE* file) {
  PendingNewline place;
  place.file = file;
  place.offset = std::ftell(file);
  struct stat st {};
  if (fstat(fileno(file), &st) == 0) {
    place.device = st.st_dev;
    place.inode = st.st_ino;
  }
#ifdef __GLIBC__
  place.buffer_position = file->_IO_read_ptr;
  place.buffer_end = file->_IO_read_end;
#endif
  return place;
}

void remember_pending(std::FILE* file) {
  PendingNewline* slot = nullptr;
  for (PendingNewline& p : pending_newlines)
    if (p.file == file || (slot == nullptr && p.file == nullptr)) slot = &p;
  if (slot == nullptr) {
    slot = &pending_newlines[next_pending_slot];
    next_pending_slot = (next_pending_slot + 1) % pending_newlines.size();
  }
  *slot = place_of(file);
}

// True (and forgotten) when the stream stands on the newline the previous read left.
bool take_pending(std::FILE* file) {
  for (PendingNewline& p : pending_newlines) {
    if (p.file != file) continue;
    p.file = nullptr;
    const PendingNewline now = place_of(file);
    return p.offset == now.offset && p.device == now.device && p.inode == now.inode &&
           p.buffer_position == now.buffer_position && p.buffer_end == now.buffer_end;
  }
  return false;
}

// Reads characters other than newline, at most len, into string and terminates it.
// The newline that stops the read (also one right after a piece that filled len) stays
// in the stream, remembered as pending. Returns the count read, or -1 when the stream
// was already at its end.
int read_piece(std::FILE* ifile, char* string, int len) {
  int count = 0;
  int c = 0;
  while (count < len) {
    c = std::getc(ifile);
    if (c == EOF || c == '\n') break;
    string[count++] = static_cast<char>(c);
  }
  string[count] = '\0';
  if (count == len) c = std::getc(ifile);
  if (c == EOF) return count == 0 ? -1 : count;
  if (c == '\n') {
    std::ungetc(c, ifile);
    remember_pending(ifile);
  } else if (count == len) {
    std::ungetc(c, ifile);
  }
  return count;
}

void reverse_bytes(unsigned char* bytes, int size) {
  for (int i = 0, j = size - 1; i < j; ++i, --j) {
    const unsigned char t = bytes[i];
    bytes[i] = bytes[j];
    bytes[j] = t;
  }
}

int swap_values(void* ptr, int size, int num) {
  if (!swap) return -1;
  if (!ptr || num <= 0) return 0;
  auto* bytes = static_cast<unsigned char*>(ptr);
  for (int i = 0; i < num; ++i) reverse_bytes(bytes + static_cast<long>(i) * size, size);
  return 0;
}

int fread_swap(void* buf, int size, std::FILE* ifile) {
  if (!buf || !ifile) return 0;
  // A file cut inside a value must not leave half of it in the caller's variable.
  unsigned char bytes[8];
  if (std::fread(bytes, static_cast<std::size_t>(size), 1, ifile) != 1) return 0;
  swap_values(bytes, size, 1);
  std::memcpy(buf, bytes, static_cast<std::size_t>(size));
  return 1;
}

int fwrite_swap(void* buf, int size, std::FILE* ofile) {
  if (!buf || !ofile) return 0;
  swap_values(buf, size, 1);
  return static_cast<int>(std::fwrite(buf, static_cast<std::size_t>(size), 1, ofile));
}

}  // namespace

int fgetnline(std::FILE* ifile, char* string, int len) {
  if (!ifile || !string || len < 1) {
    MESS_print(M_error, "fgetnline: invalid stream, buffer or length %d\n", len);
    if (string && len >= 0) string[0] = '\0';
    return -1;
  }
  if (take_pending(ifile)) {
    const int c = std::getc(ifile);
    if (c != '\n' && c != EOF) std::ungetc(c, ifile);
  }
  return read_piece(ifile, string, len);
}

int fgetline(std::FILE* ifile, char* string) { return fgetnline(ifile, string, line_limit); }

int fskipline(std::FILE* ifile) {
  if (!ifile) return -1;
  // A newline left by the previous read ends the current line: skipping it is all.
  take_pending(ifile);
  int c = std::getc(ifile);
  if (c == EOF) return -1;
  while (c != '\n' && c != EOF) c = std::getc(ifile);
  return 0;
}

int fgetstring(std::FILE* ifile, char* string, int len) {
  const int count = fgetnline(ifile, string, len);
  if (count < 0) return -1;
  return count > 0 ? 1 : 0;
}

int fget_rawstring(std::FILE* ifile, char* string, int len) {
  // Clean every character read, not only those before a NUL: raw feeds pad with NULs, and
  // the text after one must not vanish.
  const int count = fgetnline(ifile, string, len);
  if (count <= 0) return count < 0 ? -1 : 0;
  for (int i = count - 1; i >= 0; --i) {
    const auto c = static_cast<unsigned char>(string[i]);
    if (c == '\r')
      string[i] = '\0';
    else if (c < '!' || c > 0x7f)
      string[i] = ' ';
  }
  return 1;
}

int swap_setup(int flag) {
  const std::int32_t one = 1;
  unsigned char first = 0;
  std::memcpy(&first, &one, 1);
  swaptest = first;
  swap = 1;
  if (flag == -1) swap = 0;
  if (flag == 1 && swaptest == 0) swap = 0;
  if (flag == 2 && swaptest == 1) swap = 0;
  return 0;
}

int swap_short(void* ptr) { return swap_values(ptr, 2, 1); }
int swap_long(void* ptr) { return swap_values(ptr, 4, 1); }
int swap_double(void* ptr) { return swap_values(ptr, 8, 1); }
int swap_shorts(void* ptr, int num) { return swap_values(ptr, 2, num); }
int swap_longs(void* ptr, int num) { return swap_values(ptr, 4, num); }

int fread_short_swap(void* buf, std::FILE* ifile) { return fread_swap(buf, 2, ifile); }
int fread_long_swap(void* buf, std::FILE* ifile) { return fread_swap(buf, 4, ifile); }
int fread_double_swap(void* buf, std::FILE* ifile) { return fread_swap(buf, 8, ifile); }
int fwrite_short_swap(void* buf, std::FILE* ofile) { return fwrite_swap(buf, 2, ofile); }
int fwrite_long_swap(void* buf, std::FILE* ofile) { return fwrite_swap(buf, 4, ofile); }

int fswap(float* x, float* y) {
  if (x && y) {
    const float t = *x;
    *x = *y;
    *y = t;
  }
  return 0;
}

float linear_interp(float x, float a, float b, float y1, float y2) {
  // Equal abscissas would give an infinite or undefined value; the only sensible answer
  // for a zero-width interval is its start value.
  if (a == b) return y1;
  return (x - a) * (y2 - y1) / (b - a) + y1;
}

int float2int(float x) {
  if (x == 0.0f) return 0;
  if (!std::isfinite(x)) {
    MESS_print(M_warn, "float2int: value is not finite\n");
    return 0;
  }
  double a = std::fabs(static_cast<double>(x));
  // Below 1e-9 the exponent code would reach 0 and collide with values from 1 to 10.
  if (a < 1e-9) return 0;
  const int e = static_cast<int>(std::floor(std::log10(a)));
  int exponent_code = e;
  if (e > 0) {
    for (int i = 0; i < e - 1; ++i) a /= 10.0;
  } else if (e == 0) {
    a *= 10.0;
  } else {
    for (int i = 0; i < 1 - e; ++i) a *= 10.0;
    exponent_code = e + 10;
  }
  const int digits = static_cast<int>(a) % 100;
  const int code = 100 * exponent_code + digits;
  return x < 0.0f ? -code : code;
}

// WMO number <-> location identifier

namespace {

// WMO number ranges and the ICAO location-indicator nationality prefixes of the
// countries that hold them. A two-letter prefix stands for one thousand-block and a
// one-letter prefix for one ten-thousand-block, so that a prefix with its digits leads
// back to one number: wherever a prefix is used twice, its ranges share no remainder.
struct WmoRange {
    int first;
    int last;
    const char* prefix;
};

constexpr WmoRange wmo_ranges[] = {
    { 1000,  1499, "EN"}, // Norway
    { 2000,  2699, "ES"}, // Sweden
    { 2700,  2999, "EF"}, // Finland
    { 3000,  3949, "EG"}, // United Kingdom
    { 3950,  3999, "EI"}, // Ireland
    { 4000,  4199, "BI"}, // Iceland
    { 4200,  4999, "BG"}, // Greenland
    { 6000,  6199, "EK"}, // Denmark, Faroe Islands
    { 6200,  6399, "EH"}, // Netherlands
    { 6400,  6499, "EB"}, // Belgium
    { 6500,  6599, "EL"}, // Luxembourg
    { 6600,  6999, "LS"}, // Switzerland
    { 7000,  7999, "LF"}, // France
    { 8000,  8494, "LE"}, // Spain
    { 8495,  8495, "LX"}, // Gibraltar
    { 8496,  8499, "LE"}, // Spain
    { 8500,  8579, "LP"}, // Portugal, Azores, Madeira
    { 8580,  8599, "GV"}, // Cape Verde
    { 9000,  9999, "ET"}, // eastern Germany (former series)
    {10000, 10999, "ED"}, // Germany
    {11000, 11399, "LO"}, // Austria
    {11400, 11799, "LK"}, // Czech Republic
    {11800, 11999, "LZ"}, // Slovakia
    {12000, 12999, "EP"}, // Poland
    {13000, 13499, "LY"}, // Serbia, Montenegro
    {13500, 13599, "LW"}, // North Macedonia
    {13600, 13699, "LA"}, // Albania
    {14000, 14099, "LJ"}, // Slovenia
    {14100, 14499, "LD"}, // Croatia
    {14500, 14699, "LQ"}, // Bosnia and Herzegovina
    {15000, 15499, "LR"}, // Romania
    {15500, 15999, "LB"}, // Bulgaria
    {16000, 16589, "LI"}, // Italy
    {16590, 16599, "LM"}, // Malta
    {16600, 16799, "LG"}, // Greece
    {17000, 17599, "LT"}, // Turkey
    {17600, 17699, "LC"}, // Cyprus
    {20000, 29999, "U"},  // Russia, Baltic states, Belarus
    {30000, 39999, "X"},  // Asian Russia, Ukraine, Central Asia, Caucasus
    {40000, 40099, "OS"}, // Syria
    {40100, 40149, "OL"}, // Lebanon
    {40150, 40199, "LL"}, // Israel
    {40200, 40349, "OJ"}, // Jordan
    {40350, 40549, "OE"}, // Saudi Arabia
    {40550, 40599, "OK"}, // Kuwait
    {40600, 40699, "OR"}, // Iraq
    {40700, 40899, "OI"}, // Iran
    {40900, 40999, "OA"}, // Afghanistan
    {41000, 41149, "OE"}, // Saudi Arabia
    {41150, 41169, "OB"}, // Bahrain
    {41170, 41179, "OT"}, // Qatar
    {41180, 41239, "OM"}, // United Arab Emirates
    {41240, 41399, "OO"}, // Oman
    {41400, 41499, "OY"}, // Yemen
    {41500, 41799, "OP"}, // Pakistan
    {41800, 41999, "VG"}, // Bangladesh
    {42000, 42999, "VI"}, // India
    {43000, 43399, "VO"}, // India
    {43400, 43499, "VC"}, // Sri Lanka
    {43500, 43599, "VR"}, // Maldives
    {44200, 44399, "ZM"}, // Mongolia
    {44400, 44499, "VN"}, // Nepal
    {45000, 45009, "VH"}, // Hong Kong
    {45010, 45099, "VM"}, // Macau
    {46000, 46999, "RC"}, // Taiwan
    {47000, 47099, "ZK"}, // North Korea
    {47100, 47299, "RK"}, // South Korea
    {47400, 47899, "RJ"}, // Japan
    {47900, 47999, "RO"}, // Ryukyu Islands
    {48000, 48299, "VY"}, // Myanmar
    {48300, 48599, "VT"}, // Thailand
    {48600, 48689, "WM"}, // Malaysia
    {48690, 48699, "WS"}, // Singapore
    {48800, 48929, "VV"}, // Viet Nam
    {48930, 48949, "VL"}, // Laos
    {48950, 48979, "VV"}, // Viet Nam
    {48980, 48999, "VD"}, // Cambodia
    {50000, 59999, "Z"},  // China
    {60000, 60099, "GC"}, // Canary Islands
    {60100, 60349, "GM"}, // Morocco
    {60350, 60699, "DA"}, // Algeria
    {60700, 60799, "DT"}, // Tunisia
    {61000, 61199, "DR"}, // Niger
    {61200, 61399, "GA"}, // Mali
    {61400, 61599, "GQ"}, // Mauritania
    {61600, 61699, "GO"}, // Senegal
    {61700, 61749, "GB"}, // Gambia
    {61750, 61799, "GG"}, // Guinea-Bissau
    {61800, 61849, "GU"}, // Guinea
    {61850, 61899, "GF"}, // Sierra Leone
    {61900, 61959, "FH"}, // Ascension, Saint Helena
    {61960, 61969, "FJ"}, // Chagos Archipelago
    {61970, 61985, "FM"}, // Reunion, Scattered Islands
    {61986, 61995, "FI"}, // Mauritius, Rodrigues
    {61996, 61999, "FM"}, // Amsterdam, Crozet, Kerguelen
    {62000, 62299, "HL"}, // Libya
    {62300, 62599, "HE"}, // Egypt
    {62600, 62999, "HS"}, // Sudan, South Sudan
    {63000, 63099, "HH"}, // Eritrea
    {63100, 63149, "HD"}, // Djibouti
    {63150, 63299, "HC"}, // Somalia
    {63300, 63599, "HA"}, // Ethiopia
    {63600, 63699, "HU"}, // Uganda
    {63700, 63799, "HK"}, // Kenya
    {63800, 63974, "HT"}, // Tanzania
    {63975, 63999, "FS"}, // Seychelles
    {64000, 64399, "FZ"}, // Democratic Republic of the Congo
    {64400, 64499, "FC"}, // Congo
    {64500, 64599, "FO"}, // Gabon
    {64600, 64699, "FE"}, // Central African Republic
    {64700, 64799, "FT"}, // Chad
    {64800, 64849, "FG"}, // Equatorial Guinea
    {64850, 64999, "FK"}, // Cameroon
    {65000, 65299, "DN"}, // Nigeria
    {65300, 65349, "DB"}, // Benin
    {65350, 65399, "DX"}, // Togo
    {65400, 65499, "DG"}, // Ghana
    {65500, 65535, "DF"}, // Burkina Faso
    {65536, 65599, "DI"}, // Cote d'Ivoire
    {65600, 65699, "GL"}, // Liberia
    {66000, 66999, "FN"}, // Angola
    {67000, 67199, "FM"}, // Madagascar, Comoros
    {67200, 67399, "FQ"}, // Mozambique
    {67400, 67699, "FL"}, // Zambia, Malawi
    {67700, 67999, "FV"}, // Zimbabwe
    {68000, 68199, "FY"}, // Namibia
    {68200, 68249, "FB"}, // Botswana
    {68250, 68999, "FA"}, // South Africa, Lesotho, Eswatini
    {70000, 70999, "PA"}, // Alaska
    {71000, 71999, "CY"}, // Canada
    {72000, 72999, "K"},  // United States
    {74000, 74999, "K"},  // United States
    {76000, 76999, "MM"}, // Mexico
    {78000, 78099, "MY"}, // Bahamas, Bermuda, Turks and Caicos
    {78100, 78383, "MU"}, // Cuba
    {78384, 78385, "MW"}, // Cayman Islands
    {78386, 78399, "MK"}, // Jamaica
    {78400, 78449, "MT"}, // Haiti
    {78450, 78499, "MD"}, // Dominican Republic
    {78500, 78549, "TJ"}, // Puerto Rico, Virgin Islands
    {78550, 78599, "MZ"}, // Belize
    {78600, 78649, "MG"}, // Guatemala
    {78650, 78699, "MS"}, // El Salvador
    {78700, 78729, "MH"}, // Honduras
    {78730, 78749, "MN"}, // Nicaragua
    {78750, 78789, "MR"}, // Costa Rica
    {78790, 78799, "MP"}, // Panama
    {78800, 78999, "TT"}, // Lesser Antilles, Trinidad and Tobago
    {80000, 80399, "SK"}, // Colombia
    {80400, 80499, "SV"}, // Venezuela
    {81000, 81099, "SY"}, // Guyana
    {81200, 81299, "SM"}, // Suriname
    {81400, 81499, "SO"}, // French Guiana
    {82000, 82999, "SB"}, // Brazil
    {83000, 83999, "SN"}, // Brazil
    {84000, 84199, "SE"}, // Ecuador
    {84200, 84999, "SP"}, // Peru
    {85000, 85299, "SL"}, // Bolivia
    {85400, 85999, "SC"}, // Chile
    {86000, 86299, "SG"}, // Paraguay
    {86300, 86599, "SU"}, // Uruguay
    {87000, 87999, "SA"}, // Argentina
    {88800, 88949, "SF"}, // Falkland Islands, South Georgia
    {91000, 91199, "PH"}, // Hawaii
    {91200, 91239, "PG"}, // Guam, Northern Mariana Islands
    {91240, 91249, "PW"}, // Wake Island
    {91250, 91299, "PK"}, // Marshall Islands
    {91300, 91359, "PT"}, // Micronesia
    {91360, 91399, "PK"}, // Marshall Islands (Kwajalein, Majuro)
    {91400, 91499, "PT"}, // Palau, Yap
    {91500, 91549, "AG"}, // Solomon Islands
    {91550, 91579, "NV"}, // Vanuatu
    {91580, 91599, "NW"}, // New Caledonia
    {91600, 91649, "NG"}, // Kiribati, Tuvalu
    {91650, 91699, "NF"}, // Fiji
    {91700, 91749, "NG"}, // Kiribati (Line and Phoenix Islands)
    {91750, 91775, "NS"}, // Samoa
    {91776, 91799, "NF"}, // Tonga
    {91800, 91899, "NC"}, // Cook Islands, Niue
    {91900, 91999, "NT"}, // French Polynesia
    {93000, 93999, "NZ"}, // New Zealand
    {94000, 94099, "AY"}, // Papua New Guinea
    {94100, 95999, "Y"},  // Australia
    {96000, 96299, "WI"}, // Indonesia (Sumatra, Java)
    {96300, 96499, "WB"}, // Brunei, Malaysia (Borneo)
    {96500, 96999, "WI"}, // Indonesia
    {97000, 97999, "WA"}, // Indonesia (eastern islands)
    {98000, 98999, "RP"}, // Philippines
};

int prefix_base(const WmoRange& range)
{
    return std::strlen(range.prefix) == 1 ? range.first / 10000 * 10000 : range.first / 1000 * 1000;
}

}  // namespace

int wmo_to_id(char* id, int wmo)
{
    if (!id) return -1;
    if (wmo < 0 || wmo > 99999) {
        id[0] = '\0';
        MESS_print(M_warn, "wmo_to_id: Invalid WMO number: %d\n", wmo);
        return -1;
    }
    for (const WmoRange& range : wmo_ranges) {
        if (wmo < range.first || wmo > range.last) continue;
        if (std::strlen(range.prefix) == 1) str_format(id, 6, "%s%4.4d", range.prefix, wmo % 10000);
        else str_format(id, 6, "%s%3.3d", range.prefix, wmo % 1000);
        return 0;
    }
    str_format(id, 6, "%5.5d", wmo);
    return 0;
}

int id_to_wmo(const char* id, int* wmo)
{
    if (!wmo) return -1;
    *wmo = -9999;
    if (!id || std::strlen(id) != 5) return -1;
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    const auto is_letter = [&](char c) { return upper(c) >= 'A' && upper(c) <= 'Z'; };
    int prefix_len = 0;
    while (prefix_len < 2 && is_letter(id[prefix_len])) ++prefix_len;
    for (int i = prefix_len; i < 5; ++i)
        if (!is_digit(id[i])) return -1;
    if (prefix_len == 0) {
        *wmo = std::atoi(id);
        return 0;
    }
    const char prefix[3] = {upper(id[0]), prefix_len == 2 ? upper(id[1]) : '\0', '\0'};
    const int digits = std::atoi(id + prefix_len);
    for (const WmoRange& range : wmo_ranges) {
        if (std::strcmp(range.prefix, prefix) != 0) continue;
        const int candidate = prefix_base(range) + digits;
        if (candidate >= range.first && candidate <= range.last) {
            *wmo = candidate;
            return 0;
        }
    }
    return -1;
}
