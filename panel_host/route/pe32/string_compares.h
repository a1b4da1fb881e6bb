// The comparisons a script makes through the string library it imports, seen
// on the emulated route: a hook at the entry of each comparing export of
// vesk_string.dll reads both operands from emulated memory into the process's
// comparison log. The script's binary and the library's stay as shipped; the
// operands are read by the layout of our own vesk_string (a virtual
// destructor, then the text's pointer), which the loaded library must share.
#ifndef STRING_COMPARES_H
#define STRING_COMPARES_H

class EmulatedProcess;

// Hooks every comparing export of every loaded module named vesk_string.dll;
// false when there is none (nothing to watch).
bool watchStringCompares(EmulatedProcess& process);

#endif
