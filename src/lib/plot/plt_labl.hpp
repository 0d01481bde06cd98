// Plot labels: six label places (0 upper left, 1 upper centre, 2 upper right, 3 lower left,
// 4 lower centre, 5 lower right) per overlay 0..5, the current overlay, and label formats
// expanded with the data date and forecast time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "date.hpp"

inline constexpr int PLT_LABEL_PLACES = 6;
inline constexpr int PLT_LABEL_OVERLAYS = 6;
inline constexpr std::size_t PLT_LABEL_LEN = 70;   // bytes of one stored label, terminator included

// Empties every label; every append position and the overlay count become 0.
void PLT_init_labels();
// Raises the overlay count to ind; a negative ind sets it to -ind.
void PLT_set_num_overlay(int ind);
// Makes ind (above 5 taken as 5, below 0 as 0) the current overlay and raises the count to it.
void PLT_set_overlay(int ind);
// The same clamping and raising for the base overlay; PLT_get_overlay_base returns it.
void PLT_set_overlay_base(int ind);
int PLT_get_overlay_base();
// Moves to the next overlay: a non-zero label type moves one further from zero, every append
// position becomes the length of its overlay-0 label. The new overlay, or -1 when the current
// one is already past 5 (labels are then refused until an overlay 0..5 is set).
int PLT_next_overlay();
int PLT_get_overlay();        // the current overlay
int PLT_get_num_over();       // highest overlay in use
int PLT_get_label_type();
void PLT_set_label_type(int val);   // negative: overlays append to the overlay-0 labels
// Stores str as the label of place lab (0..5) for the current overlay; a text longer than 68
// characters, a bad place or an overlay past 5 leaves the label unchanged.
void PLT_label_strcpy(int lab, const char* str);
// Label text of place lab, overlay over ("" outside the tables; never null).
const char* PLT_get_label(int lab, int over);
// Writes a blank and str into the overlay-0 label of place lab at its append position, when
// that position plus the length of str is below 60.
void PLT_label_strcat(int lab, const char* str);
// Places 0..5: append (negative label type and an overlay above 0) or store.
void PLT_label_up_left(const char* str);
void PLT_label_up_center(const char* str);
void PLT_label_up_right(const char* str);
void PLT_label_low_left(const char* str);
void PLT_label_low_center(const char* str);
void PLT_label_low_right(const char* str);
// Date (copied) and forecast time used by PLT_label_format.
void PLT_label_date(const Date* datim);
void PLT_label_for_time(std::int64_t val);
// Expands form into str (size bytes, always terminated; an expansion that does not fit is
// cut): '_' a blank; %D date label, %V valid-time label, %W valid time with the stored hour
// cleared (it stays cleared), %y %m %b %h %d %n year%100, month, month name, hour, day,
// minute, %f / %F short / long forecast-hour label, %% a '%'; any other field nothing.
void PLT_label_format(const char* form, char* str, std::size_t size = PLT_LABEL_LEN);
