// The form in which an open string (xa_info) may be shown: in trace records,
// in the driver's output, anywhere but on its way to the client. The account
// password never appears in it.
#ifndef ZP_SUPPORT_OPEN_MASK_H
#define ZP_SUPPORT_OPEN_MASK_H

#include <cstddef>

namespace zp {

// Writes text (length bytes) into out (capacity bytes; terminated whenever capacity > 0)
// with the account value of every "Acc" option masked. Returns the length of the whole
// masked text, which may be >= capacity when out was too small (then out holds its start).
//
// An account option is the keyword "Acc" in any letter case wherever it
// stands as a word: at the start of text, directly after the prefix
// "ORACLE_XA" ("ORACLE_XAAcc="), or after any byte below 0x21, DEL or ASCII
// punctuation ('+', ';', ',', ...), with any run of bytes below 0x21 allowed
// between the keyword and its '='. Its value starts after the '=' and any such
// bytes, and runs to the next '+' or the end, as the open-string filter reads
// it. (This finds more than the client reads as an account, on purpose: a
// password written in any of these ways never shows.) In the value:
//   "P/user/password" (marker 'P' or 'p') shows as "P/user/****";
//   "P/user" and "P/" hold no password and stay as they are;
//   "user/password" (no marker) shows as "user/****";
//   a value without '/' shows as "****", and an empty one stays empty.
// A value also ends where another account keyword starts inside it
// ("Acc=P/u;Acc=p"), and that one is masked in turn.
// The password is everything after the first '/' that follows the user, so a
// password holding '/' is masked whole. Embedded NUL bytes are bytes like any
// other. text may be null when length is 0, out when capacity is 0. Works on
// the caller's buffers only: no allocation, no lock, safe on any thread.
size_t mask_open_string(const char* text, size_t length, char* out, size_t capacity);

}  // namespace zp

#endif  // ZP_SUPPORT_OPEN_MASK_H
