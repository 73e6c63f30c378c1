// The affine span loop compiled with AVX2, chosen at run time on processors
// that have it (see ChooseAffineSpan).
#include <immintrin.h>

#include "raster_internal.h"

namespace vrt::d3d::raster {

#include "raster_affine.inc"

AffineSpanFn ChooseAffineSpanAvx2(const Pipeline& p) { return PickAffineSpan(p); }

}  // namespace vrt::d3d::raster
