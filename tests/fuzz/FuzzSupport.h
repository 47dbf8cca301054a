// Helpers shared by the fuzz targets: a trap that names the broken property, and a guard for
// the nested steps that a message box or the export runs.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace r4t8::fuzz {

// A property every input must keep; breaking it is a finding, so abort with its text.
#define R4T8_FUZZ_CHECK(cond)                                                                   \
    do {                                                                                        \
        if (!(cond)) {                                                                          \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

// Counts nesting so re-entrant steps stay bounded.
class DepthGuard {
  public:
    DepthGuard(int& depth, int limit) : m_depth(depth), m_ok(depth < limit) { ++m_depth; }
    ~DepthGuard() { --m_depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    bool Allowed() const { return m_ok; }

  private:
    int& m_depth;
    bool m_ok;
};

}  // namespace r4t8::fuzz
