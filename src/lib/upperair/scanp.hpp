// Pattern scanner: scanf-like reading of one line of text in several calls, keeping the scan
// offset between calls so that a reader can take a line apart column by column.
#pragma once

// Sets the text to scan (copied; at most 4095 characters kept) and the offset to 0. Returns
// the length kept.
int scanp_set(const char* line);
// offset >= 0 moves the scan offset there (clamped to the text); a negative offset only
// asks. Returns the offset in effect.
int scanp_off(int offset);
// Scans from the offset with a scanf-like pattern and moves the offset past what was
// consumed. Conversions: %s (char*), %f (float*), %lf (double*), %d (int*), %c (char*),
// %n (int*: characters consumed by this call), with "*" (skip, no assignment) and a width.
// Modifiers after "%":
//   "<N"   for %s: keep at most N characters (the destination holds N+1 bytes) but consume
//          the whole word; without it %s keeps at most 255 characters.
//   "!T!"  for %f, %lf, %d: a word equal to T reads as the missing value -9999 and counts as
//          assigned.
// A blank in the pattern matches any run of white space, other characters match themselves.
// Numbers that are not finite do not match. Returns the number of items assigned, or -1
// when the text ends before the first conversion.
int scanp(const char* format, ...);
