// Test hooks of the link layer, for Fernwick's own tests (not installed).
#pragma once

namespace fernwick {

// Releases whatever DorvConduitSync holds, empties the table and clears the
// loaded flag and the initialisation count, as in a freshly loaded library.
void ResetDorvConduitSyncForTesting();

// Releases DorvConduitLog's hslog20, empties the table and clears the loaded
// flag and the initialisation count.
void ResetDorvConduitLogForTesting();

}  // namespace fernwick
