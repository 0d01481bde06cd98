// Multi-key hash table: every record is entered under one to four key texts and found
// again by any of them; records also keep their insertion order for iteration.
#pragma once

inline constexpr int TAB_MAX_KEYS = 4;
inline constexpr int TAB_HASH_MOD = 35177;

struct TAB_entry {
    char* key;        // owned copy of the key text; null marks an empty bucket head
    void* data;       // record data, shared by the entries of all keys of one record
    TAB_entry* link;  // next entry in the same bucket chain
    TAB_entry* next;  // next record in insertion order (first key's entries only)
};

struct TAB_table {
    int tab_size;                   // buckets per key
    int data_size;                  // bytes copied per record
    TAB_entry* data_ptr;            // iteration cursor of TAB_first / TAB_next
    TAB_entry* head_ptr;            // first record in insertion order
    TAB_entry* last_ptr;            // last record in insertion order
    int num_entry;                  // records entered
    int numkey;                     // keys per record, 1-4
    TAB_entry* table[TAB_MAX_KEYS]; // one bucket array of tab_size heads per key
    TAB_entry** chain_end[TAB_MAX_KEYS]; // last entry of every bucket chain, so that many
                                         // records with one key still enter in constant time
};

// Empties the record without freeing anything (use on a fresh record only).
void TAB_init(TAB_table* tab);
// tab must have been through TAB_init (or be zeroed). Allocates nkey (1-4) bucket arrays of tsize (>= 1) heads; dsize bytes per record.
// Returns 0, or -1 for bad sizes or when memory runs out. Frees a previous layout first.
int TAB_create(TAB_table* tab, int tsize, int dsize, int nkey);
// Copies dsize bytes of data into a new record entered under one const char* key per
// table key (exactly numkey of them, none null). Duplicate keys are kept. 0, or -1.
int TAB_enter(TAB_table* tab, const void* data, ...);
// Data of the first record entered with key under key number keynum (1..numkey); null if none.
void* TAB_search(TAB_table* tab, int keynum, const char* key);
// Stores up to max data pointers of all records with key under keynum into ptrs, in
// entry order; returns how many were stored.
int TAB_searches(TAB_table* tab, int keynum, const char* key, void** ptrs, int max);
// Insertion-order iteration: first record's data / the following one; null at the end.
void* TAB_first(TAB_table* tab);
void* TAB_next(TAB_table* tab);
// Frees keys, record data, chained entries and bucket arrays; the table is empty again.
void TAB_clear(TAB_table* tab);
// Bucket index of key: h = (h * 257 + c) mod 35177 over its bytes, then h mod tab_size.
// -1 without buckets or key.
int TAB_key(TAB_table* tab, const char* key);
