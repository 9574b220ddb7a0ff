// A driver library whose static constructor throws while the loader loads it.
namespace {

struct ThrowsWhenBuilt {
    ThrowsWhenBuilt() { throw 42; }
};

const ThrowsWhenBuilt throwsWhenBuilt;

}  // namespace
