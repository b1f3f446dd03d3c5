// The rule for every function that reads one file and writes another: both sides naming the same
// file is refused before anything is opened for writing, since opening the output would destroy
// the input.
#pragma once

// True when both paths name one existing file: the files themselves are compared (volume and
// file index), not the spellings, so other case, other separators, "." and "..", and hard links
// all count. False when either cannot be opened (a missing output is never the input).
bool same_file(const char* a, const char* b);
