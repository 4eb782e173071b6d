#include "core/identity.h"

namespace kplx::core {

unsigned identityDeviations(const EepromFields &f)
{
    // Every field is compared; the verdict is the sum of them.
    unsigned d = 0;
    if (f.pnp == 1)
        d |= kPnp;
    if (f.selfPowered == 1)
        d |= kSelfPowered;
    if (f.invertDtr == 0)
        d |= kDtrNotInverted;
    if (f.invertRxd == 1)
        d |= kRxdInverted;
    if (f.invertTxd == 1)
        d |= kTxdInverted;
    if (f.cbus4 != kMeterCbus4)
        d |= kCbus4;
    if (f.description != kMeterDescription)
        d |= kDescription;
    return d;
}

}  // namespace kplx::core
