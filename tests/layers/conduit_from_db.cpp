// Compiled with the include path of the db layer by the test
// layer_wall_db_includes_conduit, which passes only when the second include
// is refused: a layer does not see the layers above it.
#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/conduit/ConduitModule.h>
