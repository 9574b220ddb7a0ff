// A library placed just outside the harnesses' working directory. Loading it runs this
// constructor, which leaves a mark in the environment, so a load the add-in undoes at once
// (the library lacks every driver export) is still seen.
#include <cstdlib>

namespace {

struct Mark {
    Mark() { ::setenv("NELKO_FUZZ_BAIT_LOADED", "1", 1); }
};
const Mark mark;

}  // namespace
