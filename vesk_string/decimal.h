// Number/text conversions shared by the string layer's members.
#ifndef VESK_STRING_DECIMAL_H
#define VESK_STRING_DECIMAL_H

// Longest decimal text of a 32-bit integer, sign and NUL included.
enum { decimalCapacity = 12 };

// Writes the decimal text of n into out (decimalCapacity bytes); returns its length.
unsigned int formatDecimal(int n, char* out);

// Reads like atoi, saturating beyond the 32-bit range.
int readLeadingInt(const char* text);

// The first run of digits as a number, 0 when there is none; saturates.
int readFirstDigits(const char* text);

#endif
