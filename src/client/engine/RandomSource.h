// Where the engine additions take their pseudo-random numbers: the particle
// emitters' rates, lives, colours and spreads and the grass growth. Real runs
// draw from the C library's rand(), as the game always has (the game seeds it
// from the engine timer at start-up); a test installs a scripted source to
// pin every draw.
#pragma once

#include <irrTypes.h>

namespace tarnwell {
namespace scene {

// A source of non-negative 31-bit integers (0 to 2^31 - 1).
class RandomSource {
public:
    virtual ~RandomSource();
    virtual irr::u32 next() = 0;
};

// The source in force: the C library's rand() unless one is installed.
RandomSource& randomSource();

// Installs `source` (borrowed; null restores rand()) and returns the source
// that was installed before, null for rand(). Not thread-safe: the game and
// its engine additions run on one thread.
RandomSource* setRandomSource(RandomSource* source);

// One draw from the source in force.
inline irr::u32 random() { return randomSource().next(); }

// Installs a source for one scope and puts the previous one back on every
// path.
class ScopedRandomSource {
public:
    explicit ScopedRandomSource(RandomSource& source) : previous(setRandomSource(&source)) {}
    ~ScopedRandomSource() { setRandomSource(previous); }
    ScopedRandomSource(const ScopedRandomSource&) = delete;
    ScopedRandomSource& operator=(const ScopedRandomSource&) = delete;

private:
    RandomSource* previous;
};

}  // namespace scene
}  // namespace tarnwell
