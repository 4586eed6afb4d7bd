#include "client/engine/RandomSource.h"

#include <cstdlib>

namespace tarnwell {
namespace scene {

namespace {

class CRandomSource : public RandomSource {
public:
    irr::u32 next() override { return static_cast<irr::u32>(std::rand()) & 0x7fffffffu; }
};

CRandomSource crand;
RandomSource* installed = nullptr;

}  // namespace

RandomSource::~RandomSource() = default;

RandomSource& randomSource() {
    return installed != nullptr ? *installed : crand;
}

RandomSource* setRandomSource(RandomSource* source) {
    RandomSource* previous = installed;
    installed = source;
    return previous;
}

}  // namespace scene
}  // namespace tarnwell
