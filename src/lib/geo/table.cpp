// Multi-key hash table. Bucket heads live inside the per-key arrays; further entries of
// a bucket are chained in entry order, so a search always meets the oldest match first.
#include "table.hpp"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "mess.hpp"

namespace {

unsigned hash_text(const char* key)
{
    unsigned h = 0;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(key); *c; ++c)
        h = (h * 257u + *c) % static_cast<unsigned>(TAB_HASH_MOD);
    return h;
}

char* copy_text(const char* text)
{
    const std::size_t len = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(len + 1));
    if (copy) std::memcpy(copy, text, len + 1);
    return copy;
}

// Places a key entry for data in its bucket: the head slot when free, else a new
// entry at the end of the chain. Returns the entry, or null when memory runs out.
TAB_entry* place_key(TAB_table* tab, int keynum, const char* key, void* data)
{
    char* owned = copy_text(key);
    if (!owned) return nullptr;
    const int bucket = TAB_key(tab, key);
    TAB_entry* slot = &tab->table[keynum][bucket];
    if (slot->key) {
        TAB_entry* added = static_cast<TAB_entry*>(std::calloc(1, sizeof(TAB_entry)));
        if (!added) {
            std::free(owned);
            return nullptr;
        }
        tab->chain_end[keynum][bucket]->link = added;
        slot = added;
    }
    tab->chain_end[keynum][bucket] = slot;
    slot->key = owned;
    slot->data = data;
    slot->link = nullptr;
    slot->next = nullptr;
    return slot;
}

// Takes back the key entry of data placed last in its bucket (used when a later key
// of the same record cannot be placed).
void remove_last_key(TAB_table* tab, int keynum, const char* key, const void* data)
{
    const int bucket = TAB_key(tab, key);
    TAB_entry* slot = &tab->table[keynum][bucket];
    TAB_entry* before = nullptr;
    while (slot->link) {
        before = slot;
        slot = slot->link;
    }
    if (slot->data != data) return;
    std::free(slot->key);
    if (before) {
        before->link = nullptr;
        std::free(slot);
        tab->chain_end[keynum][bucket] = before;
    } else {
        slot->key = nullptr;
        slot->data = nullptr;
        tab->chain_end[keynum][bucket] = nullptr;
    }
}

bool valid_keynum(const TAB_table* tab, int keynum)
{
    return tab && keynum >= 1 && keynum <= tab->numkey && tab->table[keynum - 1] && tab->tab_size > 0;
}

} // namespace

void TAB_init(TAB_table* tab)
{
    if (!tab) return;
    tab->tab_size = 0;
    tab->data_size = 0;
    tab->data_ptr = nullptr;
    tab->head_ptr = nullptr;
    tab->last_ptr = nullptr;
    tab->num_entry = 0;
    tab->numkey = 0;
    for (TAB_entry*& bucket : tab->table) bucket = nullptr;
    for (TAB_entry**& ends : tab->chain_end) ends = nullptr;
}

int TAB_create(TAB_table* tab, int tsize, int dsize, int nkey)
{
    if (!tab || tsize < 1 || dsize < 0 || nkey < 1 || nkey > TAB_MAX_KEYS) {
        MESS_print(M_error, "TAB_create: Invalid table layout: size %d, data %d, keys %d\n", tsize, dsize, nkey);
        return -1;
    }
    TAB_clear(tab);
    for (int k = 0; k < nkey; ++k) {
        tab->table[k] = static_cast<TAB_entry*>(std::calloc(static_cast<std::size_t>(tsize), sizeof(TAB_entry)));
        tab->chain_end[k] = static_cast<TAB_entry**>(std::calloc(static_cast<std::size_t>(tsize), sizeof(TAB_entry*)));
        if (!tab->table[k] || !tab->chain_end[k]) {
            MESS_print(M_error, "TAB_create: Out of memory for %d buckets\n", tsize);
            TAB_clear(tab);
            return -1;
        }
    }
    tab->tab_size = tsize;
    tab->data_size = dsize;
    tab->numkey = nkey;
    return 0;
}

int TAB_enter(TAB_table* tab, const void* data, ...)
{
    if (!tab || tab->numkey < 1 || !tab->table[0]) {
        MESS_print(M_error, "TAB_enter: Table not created\n");
        return -1;
    }
    const char* keys[TAB_MAX_KEYS] = {};
    va_list args;
    va_start(args, data);
    for (int k = 0; k < tab->numkey; ++k) keys[k] = va_arg(args, const char*);
    va_end(args);
    for (int k = 0; k < tab->numkey; ++k) {
        if (!keys[k]) {
            MESS_print(M_error, "TAB_enter: Missing key %d\n", k + 1);
            return -1;
        }
    }

    void* record = std::malloc(tab->data_size > 0 ? static_cast<std::size_t>(tab->data_size) : 1);
    if (!record) {
        MESS_print(M_error, "TAB_enter: Out of memory\n");
        return -1;
    }
    if (tab->data_size > 0) {
        if (data) std::memcpy(record, data, static_cast<std::size_t>(tab->data_size));
        else std::memset(record, 0, static_cast<std::size_t>(tab->data_size));
    }

    TAB_entry* first = nullptr;
    for (int k = 0; k < tab->numkey; ++k) {
        TAB_entry* entry = place_key(tab, k, keys[k], record);
        if (!entry) {
            for (int undo = k - 1; undo >= 0; --undo) remove_last_key(tab, undo, keys[undo], record);
            std::free(record);
            MESS_print(M_error, "TAB_enter: Out of memory\n");
            return -1;
        }
        if (k == 0) first = entry;
    }
    if (tab->last_ptr) tab->last_ptr->next = first;
    else tab->head_ptr = first;
    tab->last_ptr = first;
    ++tab->num_entry;
    return 0;
}

void* TAB_search(TAB_table* tab, int keynum, const char* key)
{
    if (!valid_keynum(tab, keynum) || !key) return nullptr;
    for (TAB_entry* entry = &tab->table[keynum - 1][TAB_key(tab, key)]; entry && entry->key; entry = entry->link)
        if (std::strcmp(entry->key, key) == 0) return entry->data;
    return nullptr;
}

int TAB_searches(TAB_table* tab, int keynum, const char* key, void** ptrs, int max)
{
    if (!valid_keynum(tab, keynum) || !key || !ptrs) return 0;
    int found = 0;
    for (TAB_entry* entry = &tab->table[keynum - 1][TAB_key(tab, key)]; entry && entry->key && found < max;
         entry = entry->link)
        if (std::strcmp(entry->key, key) == 0) ptrs[found++] = entry->data;
    return found;
}

void* TAB_first(TAB_table* tab)
{
    if (!tab) return nullptr;
    tab->data_ptr = tab->head_ptr;
    return tab->data_ptr ? tab->data_ptr->data : nullptr;
}

void* TAB_next(TAB_table* tab)
{
    if (!tab || !tab->data_ptr) return nullptr;
    tab->data_ptr = tab->data_ptr->next;
    return tab->data_ptr ? tab->data_ptr->data : nullptr;
}

void TAB_clear(TAB_table* tab)
{
    if (!tab) return;
    for (TAB_entry* record = tab->head_ptr; record; record = record->next) std::free(record->data);
    for (TAB_entry*& buckets : tab->table) {
        if (!buckets) continue;
        for (int b = 0; b < tab->tab_size; ++b) {
            std::free(buckets[b].key);
            TAB_entry* chained = buckets[b].link;
            while (chained) {
                TAB_entry* following = chained->link;
                std::free(chained->key);
                std::free(chained);
                chained = following;
            }
        }
        std::free(buckets);
        buckets = nullptr;
    }
    for (TAB_entry**& ends : tab->chain_end) {
        std::free(ends);
        ends = nullptr;
    }
    TAB_init(tab);
}

int TAB_key(TAB_table* tab, const char* key)
{
    if (!tab || !key || tab->tab_size < 1) return -1;
    return static_cast<int>(hash_text(key) % static_cast<unsigned>(tab->tab_size));
}
